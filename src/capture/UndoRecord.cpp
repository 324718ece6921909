// The undo record's text: an entry a line, texts in hex.
#include "capture/UndoRecord.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "registry/Names.h"

namespace zandrel::capture {
namespace {

std::string HexText(const std::string& bytes) {
  if (bytes.empty()) return "-";
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

bool FromHex(const std::string& text, std::string* bytes) {
  bytes->clear();
  if (text == "-") return true;
  if (text.empty() || text.size() % 2 != 0) return false;
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int high = digit(text[i]);
    const int low = digit(text[i + 1]);
    if (high < 0 || low < 0) return false;
    *bytes += static_cast<char>(high * 16 + low);
  }
  return true;
}

// The value a values entry's write set (`set`), or else the one it deleted:
// the first its values after hold otherwise than before, or lack. A write
// that changed nothing is the first value set again, or one never there
// deleted.
void WriteOf(const RecordEntry& entry, const registry::Value** set, std::string* deleted) {
  *set = nullptr;
  deleted->clear();
  for (const registry::Value& value : entry.after) {
    const registry::Value* was = FindValue(entry.before, registry::UpperName(value.name));
    if (!was || was->type != value.type || was->data != value.data) {
      *set = &value;
      return;
    }
  }
  for (const registry::Value& value : entry.before)
    if (!FindValue(entry.after, registry::UpperName(value.name))) {
      *deleted = value.name;
      return;
    }
  if (!entry.after.empty()) *set = &entry.after.front();
}

}  // namespace

std::string EncodeUndoEntry(const RecordEntry& entry) {
  const char* kind = entry.kind == RecordEntry::Kind::kCreated  ? "created"
                     : entry.kind == RecordEntry::Kind::kValues ? "values"
                                                                : "deleted";
  char root[16];
  std::snprintf(root, sizeof root, "%08x", static_cast<unsigned>(entry.root));
  std::string line = std::string(kind) + " " + root + " " + HexText(entry.path);
  if (entry.kind != RecordEntry::Kind::kCreated) {
    line.append(" ").append(std::to_string(entry.before.size()));
    for (const registry::Value& value : entry.before)
      line.append(" ")
          .append(HexText(value.name))
          .append(" ")
          .append(std::to_string(value.type))
          .append(" ")
          .append(HexText(value.data));
  }
  if (entry.kind == RecordEntry::Kind::kValues) {
    const registry::Value* set = nullptr;
    std::string deleted;
    WriteOf(entry, &set, &deleted);
    line += set ? " set " + HexText(set->name) + " " + std::to_string(set->type) + " " + HexText(set->data)
                : " delete " + HexText(deleted);
  }
  return line + "\n";
}

namespace {

// Whether the registry reads `path` as written: no NUL ending it early, and
// no empty component, which it would skip (a\\b is a\b), nor one at either end.
bool SoundPath(const std::string& path) {
  return path.find('\0') == std::string::npos && path.find("\\\\") == std::string::npos &&
         (path.empty() || (path.front() != '\\' && path.back() != '\\'));
}

bool SoundName(const std::string& name) { return name.find('\0') == std::string::npos; }

// One complete line, without its newline, into *entry.
bool DecodeLine(const std::string& text, RecordEntry* entry) {
  std::istringstream line(text);
  std::string kind, root, path;
  if (!(line >> kind >> root >> path) || !FromHex(path, &entry->path) || !SoundPath(entry->path)) return false;
  char* root_end = nullptr;
  entry->root = static_cast<HKEY>(std::strtoul(root.c_str(), &root_end, 16));
  if (*root_end != '\0' || *registry::RootName(entry->root) == '\0') return false;
  if (kind == "created") {
    entry->kind = RecordEntry::Kind::kCreated;
  } else if (kind == "values" || kind == "deleted") {
    entry->kind = kind == "values" ? RecordEntry::Kind::kValues : RecordEntry::Kind::kDeleted;
    std::size_t count = 0;
    if (!(line >> count)) return false;
    for (std::size_t i = 0; i < count; ++i) {
      std::string name, data;
      registry::Value value;
      if (!(line >> name >> value.type >> data) || !FromHex(name, &value.name) || !SoundName(value.name) ||
          !FromHex(data, &value.data))
        return false;
      entry->before.push_back(std::move(value));
    }
    if (entry->kind == RecordEntry::Kind::kValues) {
      std::string how, name, data;
      registry::Value change;
      if (!(line >> how >> name) || !FromHex(name, &change.name) || !SoundName(change.name)) return false;
      if (how == "set" && !(line >> change.type >> data && FromHex(data, &change.data))) return false;
      if (how != "set" && how != "delete") return false;
      entry->after = entry->before;
      ApplyWrite(&entry->after, change, how == "delete");
    }
  } else {
    return false;
  }
  std::string extra;
  return !(line >> extra);
}

}  // namespace

DecodedRecord DecodeUndoRecord(const std::string& bytes) {
  DecodedRecord record;
  const std::string header = kUndoRecordHeader;
  // The header cut short: its writer died appending it, before any change.
  if (bytes.size() < header.size() && header.compare(0, bytes.size(), bytes) == 0) return record;
  if (bytes.compare(0, header.size(), header) != 0) {
    record.damaged_line = 1;
    return record;
  }
  std::size_t at = header.size();
  for (std::size_t number = 2;; ++number) {
    const std::size_t end = bytes.find('\n', at);
    if (end == std::string::npos) break;  // cut short: its change never started
    RecordEntry entry;
    if (!DecodeLine(bytes.substr(at, end - at), &entry)) {
      record.damaged_line = number;
      record.entries.clear();
      return record;
    }
    record.entries.push_back(std::move(entry));
    at = end + 1;
  }
  return record;
}

}  // namespace zandrel::capture
