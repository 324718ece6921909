#include "capture/ChangeHistory.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <tuple>

#include "registry/Key.h"

namespace zandrel::capture {
namespace {

std::string NumberName(unsigned number) {
  char name[16];
  std::snprintf(name, sizeof name, "%010u", number);
  return name;
}

std::string Little(std::uint64_t v, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  return out;
}

std::uint64_t FromLittle(const std::string& data) {
  std::uint64_t v = 0;
  for (std::size_t i = data.size(); i-- > 0;) v = (v << 8) | static_cast<unsigned char>(data[i]);
  return v;
}

LONG Set(IRegistry& registry, HKEY key, const char* name, DWORD type, const std::string& data) {
  return registry.RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                                 static_cast<DWORD>(data.size()));
}

// The value `name` of the open `key`, or "" when there is none.
std::string ValueOf(const registry::Key& key, const char* name) {
  registry::Value value;
  return key.Find(name, 0, &value) == ERROR_SUCCESS ? std::move(value.data) : std::string();
}

// One kept change, its record left out (its size read only).
LONG ReadEntry(IRegistry& registry, HKEY history, const std::string& name, HistoryEntry* entry) {
  registry::Key key(registry);
  if (LONG code = key.Open(history, name); code != ERROR_SUCCESS) return code;
  // Enumerated by hand: the record's size is asked, its data never read.
  char buffer[MAX_KEY_NAME_CHARS * 4 + 1];
  LONG code = ERROR_SUCCESS;
  for (DWORD index = 0;; ++index) {
    DWORD length = sizeof buffer, size = 0, type = 0;
    code = registry.RegEnumValueA(key.Handle(), index, buffer, &length, nullptr, &type, nullptr, &size);
    if (code != ERROR_SUCCESS) break;
    const std::string_view value(buffer, length);
    if (value == "Record") {
      entry->bytes = size;
      continue;
    }
    std::string data(size, '\0');
    length = sizeof buffer;
    code = registry.RegEnumValueA(key.Handle(), index, buffer, &length, nullptr, &type,
                                  reinterpret_cast<BYTE*>(data.data()), &size);
    if (code != ERROR_SUCCESS) break;
    data.resize(size);
    if (value == "Time") entry->time = static_cast<std::int64_t>(FromLittle(data));
    else if (value == "Kind") entry->kind = data.substr(0, data.find('\0'));
    else if (value == "Subject") entry->subject = data.substr(0, data.find('\0'));
    else if (value == "Keys") entry->keys = static_cast<unsigned>(FromLittle(data));
    else if (value == "UndoneBy") entry->undoneBy = static_cast<unsigned>(FromLittle(data));
  }
  return code == ERROR_NO_MORE_ITEMS ? ERROR_SUCCESS : code;
}

bool ParseNumber(const std::string& name, unsigned* number) {
  if (name.size() != 10 || name.find_first_not_of("0123456789") != std::string::npos) return false;
  *number = static_cast<unsigned>(std::stoul(name));
  return true;
}

}  // namespace

LONG AddToHistory(IRegistry& registry, const HistoryEntry& entry, const ChangeRecord& record, unsigned undone,
                  const HistoryBound& bound, unsigned* number, const FileRecord& files) {
  registry::Key history(registry);
  LONG code = history.Create(HKEY_LOCAL_MACHINE, kHistoryPath);
  if (code != ERROR_SUCCESS) return code;
  const std::string next = ValueOf(history, "Next");
  *number = next.size() == 4 ? static_cast<unsigned>(FromLittle(next)) : 1;
  // The changes kept before this one: this one's record is not read back.
  std::vector<HistoryEntry> kept;
  code = ReadHistory(registry, &kept);
  std::erase_if(kept, [number](const HistoryEntry& older) { return older.number == *number; });
  if (code == ERROR_SUCCESS) {
    registry::Key key(registry);
    code = key.Create(history.Handle(), NumberName(*number));
    for (const auto& [name, type, data] :
         {std::tuple<const char*, DWORD, std::string>{"Time", REG_QWORD,
                                                      Little(static_cast<std::uint64_t>(entry.time), 8)},
          {"Kind", REG_SZ, entry.kind + '\0'},
          {"Subject", REG_SZ, entry.subject + '\0'},
          {"Keys", REG_DWORD, Little(record.KeyCount(), 4)}})
      if (code == ERROR_SUCCESS) code = Set(registry, key.Handle(), name, type, data);
    // Last, and not copied: an import's record is megabytes.
    const std::string encoded = code == ERROR_SUCCESS ? EncodeChangeRecord(record) : std::string();
    if (code == ERROR_SUCCESS) code = Set(registry, key.Handle(), "Record", REG_BINARY, encoded);
    if (code == ERROR_SUCCESS && !files.Empty())
      code = Set(registry, key.Handle(), "Files", REG_BINARY, EncodeFileRecord(files));
    kept.insert(kept.begin(), HistoryEntry{});
    kept.front().bytes = encoded.size();
  }
  if (code == ERROR_SUCCESS) code = Set(registry, history.Handle(), "Next", REG_DWORD, Little(*number + 1, 4));
  // The change undone, then down the chain of undos below it: an undo undone
  // lets the change it undid stand again, and an undo standing again undoes
  // its change again. `by`: what undoes the change at `at` (0: nothing now).
  unsigned by = *number;
  for (unsigned at = undone; at != 0 && code == ERROR_SUCCESS;) {
    registry::Key key(registry);
    if (key.Open(history.Handle(), NumberName(at), KEY_ALL_ACCESS) != ERROR_SUCCESS) break;
    code = by != 0 ? Set(registry, key.Handle(), "UndoneBy", REG_DWORD, Little(by, 4))
                   : registry.RegDeleteValueA(key.Handle(), "UndoneBy");
    if (code == ERROR_FILE_NOT_FOUND) code = ERROR_SUCCESS;
    const auto kept_at = std::find_if(kept.begin(), kept.end(), [at](const HistoryEntry& e) { return e.number == at; });
    unsigned below = 0;  // the change `at` undid, when it is an undo
    if (kept_at != kept.end() && kept_at->kind == "undo")
      std::from_chars(kept_at->subject.data(), kept_at->subject.data() + kept_at->subject.size(), below);
    by = by != 0 ? 0 : at;
    at = below < at ? below : 0;  // numbers only fall along the chain
  }
  // The oldest past the bound go; the newest stays, however large.
  std::size_t bytes = 0;
  for (std::size_t i = 0; i < kept.size() && code == ERROR_SUCCESS; ++i) {
    bytes += kept[i].bytes;
    if (i > 0 && (i >= bound.changes || bytes > bound.bytes))
      code = registry.RegDeleteKeyA(history.Handle(), NumberName(kept[i].number).c_str());
  }
  return code;
}

LONG ReadHistory(IRegistry& registry, std::vector<HistoryEntry>* entries) {
  entries->clear();
  registry::Key history(registry);
  LONG code = history.Open(HKEY_LOCAL_MACHINE, kHistoryPath);
  if (code == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (code != ERROR_SUCCESS) return code;
  std::vector<std::string> names;
  code = history.SubKeys(&names);
  for (auto name = names.rbegin(); name != names.rend() && code == ERROR_SUCCESS; ++name) {
    HistoryEntry entry;
    if (!ParseNumber(*name, &entry.number)) continue;
    code = ReadEntry(registry, history.Handle(), *name, &entry);
    entries->push_back(std::move(entry));
  }
  return code;
}

LONG ReadChangeRecord(IRegistry& registry, unsigned number, ChangeRecord* record) {
  registry::Key key(registry);
  LONG code = key.Open(HKEY_LOCAL_MACHINE, std::string(kHistoryPath) + "\\" + NumberName(number));
  if (code != ERROR_SUCCESS) return code;
  const std::string bytes = ValueOf(key, "Record");
  return DecodeChangeRecord(bytes, record) ? ERROR_SUCCESS : ERROR_BADDB;
}

LONG ReadChangeFiles(IRegistry& registry, unsigned number, FileRecord* files) {
  *files = {};
  registry::Key key(registry);
  LONG code = key.Open(HKEY_LOCAL_MACHINE, std::string(kHistoryPath) + "\\" + NumberName(number));
  if (code != ERROR_SUCCESS) return code;
  registry::Value value;
  code = key.Find("Files", 0, &value);
  if (code == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (code != ERROR_SUCCESS) return code;
  return DecodeFileRecord(value.data, files) ? ERROR_SUCCESS : ERROR_BADDB;
}

// Whether a change of `kind` has an extension as its subject.
static bool ChangesAnExtension(const std::string& kind) { return kind == "add" || kind == "remove" || kind == "set"; }

std::string ChangedExtension(IRegistry& registry, const HistoryEntry& entry) {
  if (ChangesAnExtension(entry.kind)) return entry.subject;
  if (entry.kind != "undo") return "";
  std::vector<HistoryEntry> entries;
  if (ReadHistory(registry, &entries) != ERROR_SUCCESS) return "";
  for (HistoryEntry at = entry; at.kind == "undo";) {
    const auto undone = std::find_if(entries.begin(), entries.end(),
                                     [&at](const HistoryEntry& e) { return std::to_string(e.number) == at.subject; });
    // Numbers only fall along the chain, so it ends.
    if (undone == entries.end() || undone->number >= at.number) return "";
    at = *undone;
    if (ChangesAnExtension(at.kind)) return at.subject;
  }
  return "";
}

std::string ChangeTitle(const std::string& kind, const std::string& subject) {
  if (kind == "add") return "добавление " + subject;
  if (kind == "remove") return "удаление " + subject;
  if (kind == "import") return "импорт " + subject;
  if (kind == "set") return "смена программы " + subject;
  if (kind == "prefer") return "приложение по умолчанию " + subject;
  if (kind == "undo") return "отмена изменения " + subject;
  if (kind == "remove-broken") return "удаление неработающих" + (subject.empty() ? "" : " " + subject);
  return "изменение";
}

std::string LocalTime(std::int64_t time) {
  const std::time_t at = static_cast<std::time_t>(time);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &at);
#else
  localtime_r(&at, &local);
#endif
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

std::string HistoryLine(const HistoryEntry& entry) {
  std::string line = std::to_string(entry.number) + "  " + LocalTime(entry.time) + "  " +
                     ChangeTitle(entry.kind, entry.subject) + ", ключей: " + std::to_string(entry.keys);
  if (entry.undoneBy != 0) line += " (отменено изменением " + std::to_string(entry.undoneBy) + ")";
  return line;
}

}  // namespace zandrel::capture
