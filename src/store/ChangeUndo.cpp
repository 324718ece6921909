#include "store/ChangeUndo.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <set>
#include <tuple>
#include <utility>

#include "capture/ChangedSince.h"
#include "capture/PutBack.h"
#include "registry/ForwardingRegistry.h"
#include "registry/Key.h"
#include "registry/Names.h"
#include "store/ChangeRefusal.h"
#include "store/KeyRoutines.h"

namespace zandrel::store {

using capture::ChangeRecord;
using capture::ChangeTitle;
using capture::HistoryEntry;
using capture::HistoryRegistry;
using capture::KeyName;
using capture::ReadChangeRecord;
using capture::ReadHistory;
using capture::ReadKeyValues;
using capture::RecordedKey;
using capture::RecordedValues;
using capture::RecordEntry;
using capture::SetValues;
using capture::SubPath;

namespace {

std::size_t Depth(const std::string& path) {
  return static_cast<std::size_t>(std::count(path.begin(), path.end(), '\\'));
}

// The keys an undo has put back, told to its progress.
class Pace {
 public:
  Pace(const UndoProgress& progress, std::size_t total) : progress_(progress), total_(total) {}
  void Tell() const {
    if (progress_) progress_(done_, total_);
  }
  void Done(std::size_t keys) {
    done_ += keys;
    Tell();
  }

 private:
  const UndoProgress& progress_;
  std::size_t total_;
  std::size_t done_ = 0;
};

// Passes every call on, telling the pace after each key opened: the undo's
// check reads each key it compares.
class PacedReads : public ForwardingRegistry {
 public:
  PacedReads(IRegistry& target, const Pace& pace) : ForwardingRegistry(target), pace_(pace) {}
  LONG RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD ulOptions, REGSAM samDesired, HKEY* phkResult) override {
    const LONG code = Target().RegOpenKeyExA(hKey, lpSubKey, ulOptions, samDesired, phkResult);
    pace_.Tell();
    return code;
  }

 private:
  const Pace& pace_;
};

// The change an undo undid; 0 for a change that is not an undo.
unsigned UndoneBy(const HistoryEntry& undo) {
  unsigned number = 0;
  const char* end = undo.subject.data() + undo.subject.size();
  if (undo.kind != "undo" || std::from_chars(undo.subject.data(), end, number).ptr != end) return 0;
  return number;
}

// The newest change of `which` among `entries` (newest first), or end.
std::vector<HistoryEntry>::const_iterator Pick(const std::vector<HistoryEntry>& entries, Newest which) {
  return std::find_if(entries.begin(), entries.end(), [&entries, which](const HistoryEntry& entry) {
    if (entry.undoneBy != 0 || (entry.kind == "undo") != (which == Newest::kUndo)) return false;
    if (which == Newest::kChange) return true;
    // An undo of an undo brought a change back: undoing it would undo that change again.
    const unsigned undid = UndoneBy(entry);
    return std::none_of(entries.begin(), entries.end(),
                        [undid](const HistoryEntry& other) { return other.number == undid && other.kind == "undo"; });
  });
}

// The keys an undo of a record deletes or puts back: its created and
// deleted subtrees whole, its other keys alone, each by root and upper-case
// path (names are case-blind) with its name for a message.
class Reach {
 public:
  explicit Reach(const ChangeRecord& record) {
    for (const RecordEntry& entry : record.entries)
      if (entry.kind != RecordEntry::Kind::kKept)
        (Whole(entry) ? trees_ : keys_).emplace(Id(entry.root, entry.path), KeyName(entry.root, entry.path));
  }

  // Whether the undo deletes or puts back root\path: a key of the record,
  // or one inside a subtree it created or deleted.
  bool Holds(HKEY root, const std::string& path) const { return Holds(Id(root, path)); }

  // The key where `entry` (a later change's) meets the reach: its own key
  // inside it, or a key of the reach inside the subtree `entry` created or
  // deleted; "" when they do not meet.
  std::string Meets(const RecordEntry& entry) const {
    const std::string id = Id(entry.root, entry.path);
    if (Holds(id)) return KeyName(entry.root, entry.path);
    if (!Whole(entry)) return "";
    const std::string below = id + '\\';
    for (const auto* keys : {&trees_, &keys_})
      if (const auto at = keys->lower_bound(below); at != keys->end() && at->first.starts_with(below))
        return at->second;
    return "";
  }

 private:
  static bool Whole(const RecordEntry& entry) {
    return entry.kind == RecordEntry::Kind::kCreated || entry.kind == RecordEntry::Kind::kDeletedTree;
  }
  static std::string Id(HKEY root, const std::string& path) {
    return std::to_string(root) + "\\" + registry::UpperName(path);
  }
  bool Holds(const std::string& id) const {
    bool inside = keys_.contains(id);
    for (std::size_t at = id.size(); !inside && at != std::string::npos && at > 0; at = id.rfind('\\', at - 1))
      inside = trees_.contains(id.substr(0, at));
    return inside;
  }

  std::map<std::string, std::string> trees_, keys_;
};

// Whether `later` is a change after `target` still standing: not undone,
// not an undo (an undo stands for nothing of its own, it cancels a change or
// brings one back).
bool Standing(const HistoryEntry& later, const HistoryEntry& target) {
  return later.number > target.number && later.undoneBy == 0 && later.kind != "undo";
}

// The newest change after `target` still standing that touched a key the
// undo would delete or put back (`reach`): *by its number and *key the key,
// or *by 0.
LONG LaterReliance(IRegistry& registry, const std::vector<HistoryEntry>& entries, const HistoryEntry& target,
                   const Reach& reach, unsigned* by, std::string* key) {
  *by = 0;
  for (const HistoryEntry& later : entries) {
    if (!Standing(later, target)) continue;
    ChangeRecord touched;
    if (LONG code = ReadChangeRecord(registry, later.number, &touched); code != ERROR_SUCCESS) return code;
    for (const RecordEntry& entry : touched.entries)
      if (*key = reach.Meets(entry); !key->empty()) {
        *by = later.number;
        return ERROR_SUCCESS;
      }
  }
  return ERROR_SUCCESS;
}

constexpr const char* kClasses = "SOFTWARE\\Classes";  // the machine's, under HKEY_LOCAL_MACHINE

// The titles an undo of `record` leaves without an open command: those whose
// key, or a key on the way to its open command, it created (and so deletes)
// under the machine's classes, extensions left out, by name.
std::vector<std::string> DeletedTitles(const ChangeRecord& record) {
  std::vector<std::string> titles;
  std::set<std::string> seen;  // upper-cased
  for (const RecordEntry& entry : record.entries) {
    if (entry.kind != RecordEntry::Kind::kCreated || entry.root != HKEY_LOCAL_MACHINE) continue;
    // Paths are kept without empty parts: the title is the third.
    const std::size_t second = entry.path.find('\\', entry.path.find('\\') + 1);
    if (second == std::string::npos || entry.path[second + 1] == '.' ||
        registry::UpperName(entry.path.substr(0, second)) != "SOFTWARE\\CLASSES")
      continue;
    const std::size_t end = entry.path.find('\\', second + 1);
    const std::string below = end == std::string::npos ? "" : registry::UpperName(entry.path.substr(end));
    if (!below.empty() && below != "\\SHELL" && below != "\\SHELL\\OPEN" && below != "\\SHELL\\OPEN\\COMMAND") continue;
    const std::string title = entry.path.substr(second + 1, end == std::string::npos ? end : end - second - 1);
    if (seen.insert(registry::UpperName(title)).second) titles.push_back(title);
  }
  return titles;
}

// The extensions of the machine's classes outside `reach` (which the undo
// neither deletes nor puts back) whose default value names one of `titles`,
// read in one pass over the extensions: each with the title it names.
LONG PassNaming(IRegistry& registry, const std::vector<std::string>& titles, const Reach& reach,
                std::vector<std::pair<std::string, std::string>>* naming) {
  std::map<std::string, const std::string*> upper;
  for (const std::string& title : titles) upper.emplace(registry::UpperName(title), &title);
  registry::Key classes(registry);
  LONG code = classes.Open(HKEY_LOCAL_MACHINE, kClasses);
  if (code != ERROR_SUCCESS) return code == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : code;
  std::vector<std::string> extensions;
  if (code = classes.SubKeys(&extensions); code != ERROR_SUCCESS) return code;
  for (const std::string& extension : extensions) {
    if (extension.empty() || extension[0] != '.') continue;
    const std::string path = std::string(kClasses) + "\\" + extension;
    if (reach.Holds(HKEY_LOCAL_MACHINE, path)) continue;
    bool exists = false;
    RecordedValues values;
    if ((code = ReadKeyValues(registry, HKEY_LOCAL_MACHINE, path, &exists, &values)) != ERROR_SUCCESS) return code;
    for (const registry::Value& value : values) {
      if (!value.name.empty() || value.type != REG_SZ || value.data.empty()) continue;
      const std::string_view text(value.data.data(), value.data.size() - (value.data.back() == '\0' ? 1 : 0));
      if (const auto named = upper.find(registry::UpperName(text)); named != upper.end())
        naming->emplace_back(extension, *named->second);
    }
  }
  return ERROR_SUCCESS;
}

// The first extension the undo of a record leaves (outside `reach`) that
// names a title the undo deletes (`titles`): its files would then open with
// nothing. *extension and *title, or both "". A few titles are each asked of
// the registry (fast on the hive); an import's many in one pass.
LONG NamingExtension(IRegistry& registry, const std::vector<std::string>& titles, const Reach& reach,
                     std::string* extension, std::string* title) {
  constexpr std::size_t kAskedEach = 4;
  std::vector<std::pair<std::string, std::string>> naming;  // extension, title
  if (titles.size() > kAskedEach) {
    if (LONG code = PassNaming(registry, titles, reach, &naming); code != ERROR_SUCCESS) return code;
  }
  for (std::size_t i = 0; titles.size() <= kAskedEach && i < titles.size() && naming.empty(); ++i) {
    std::vector<std::string> all;
    if (LONG code = registry.ExtensionsNamingTitle(titles[i].c_str(), &all); code != ERROR_SUCCESS) return code;
    for (std::string& named : all)
      if (!reach.Holds(HKEY_LOCAL_MACHINE, std::string(kClasses) + "\\" + named))
        naming.emplace_back(std::move(named), titles[i]);
  }
  if (!naming.empty()) std::tie(*extension, *title) = naming.front();
  return ERROR_SUCCESS;
}

// The newest change after `target` still standing that made `extension`
// what it is (created it, or changed its values): *by, or 0.
LONG ExtensionWriter(IRegistry& registry, const std::vector<HistoryEntry>& entries, const HistoryEntry& target,
                     const std::string& extension, unsigned* by) {
  *by = 0;
  const std::string upper = registry::UpperName(std::string(kClasses) + "\\" + extension);
  for (const HistoryEntry& later : entries) {
    if (!Standing(later, target)) continue;
    ChangeRecord touched;
    if (LONG code = ReadChangeRecord(registry, later.number, &touched); code != ERROR_SUCCESS) return code;
    for (const RecordEntry& entry : touched.entries) {
      if (entry.root != HKEY_LOCAL_MACHINE) continue;
      const std::string at = registry::UpperName(entry.path);
      if ((entry.kind == RecordEntry::Kind::kValues && at == upper) ||
          (entry.kind == RecordEntry::Kind::kCreated && (at == upper || upper.starts_with(at + '\\')))) {
        *by = later.number;
        return ERROR_SUCCESS;
      }
    }
  }
  return ERROR_SUCCESS;
}

// The first key of the record that is not as the change left it, or "".
LONG FirstChanged(HistoryRegistry& history, const ChangeRecord& record, const Pace& pace, std::string* key) {
  PacedReads registry(history.Inner(), pace);
  return capture::FirstChanged(registry, record.entries, capture::Since::kFinished, key);
}

LONG CreateWithValues(HistoryRegistry& history, HKEY root, const std::string& path, const RecordedValues& values,
                      Pace& pace) {
  registry::Key key(history);
  LONG code = key.Create(root, path);
  if (code == ERROR_SUCCESS) code = SetValues(history, key.Handle(), values);
  if (code == ERROR_SUCCESS) pace.Done(1);
  return code;
}

// Puts back what the record's change found: its created subtrees deleted,
// its deleted keys made again (parents first), its keys' values as before,
// in their order. Takes the created subtrees.
LONG PutBack(HistoryRegistry& history, ChangeRecord& record, Pace& pace) {
  std::vector<const RecordEntry*> deleted;
  std::vector<RecordEntry*> created;
  for (RecordEntry& entry : record.entries) {
    if (entry.kind == RecordEntry::Kind::kDeleted || entry.kind == RecordEntry::Kind::kDeletedTree)
      deleted.push_back(&entry);
    if (entry.kind == RecordEntry::Kind::kCreated) created.push_back(&entry);
  }
  if (LONG code = history.DeleteCreated(created, [&pace](std::size_t keys) { pace.Done(keys); }); code != ERROR_SUCCESS)
    return code;
  std::stable_sort(deleted.begin(), deleted.end(),
                   [](const RecordEntry* a, const RecordEntry* b) { return Depth(a->path) < Depth(b->path); });
  for (const RecordEntry* entry : deleted) {
    if (entry->kind == RecordEntry::Kind::kDeleted) {
      if (LONG code = CreateWithValues(history, entry->root, entry->path, entry->before, pace); code != ERROR_SUCCESS)
        return code;
      continue;
    }
    for (const RecordedKey& key : entry->subtree.Decode())
      if (LONG code = CreateWithValues(history, entry->root, SubPath(entry->path, key.path), key.values, pace);
          code != ERROR_SUCCESS)
        return code;
  }
  for (const RecordEntry& entry : record.entries) {
    if (entry.kind != RecordEntry::Kind::kValues) continue;
    registry::Key key(history);
    LONG code = key.Open(entry.root, entry.path, KEY_ALL_ACCESS);
    for (std::size_t i = 0; code == ERROR_SUCCESS && i < entry.after.size(); ++i)
      code = history.RegDeleteValueA(key.Handle(), entry.after[i].name.c_str());
    if (code == ERROR_SUCCESS) code = SetValues(history, key.Handle(), entry.before);
    if (code != ERROR_SUCCESS) return code;
    pace.Done(1);
  }
  return ERROR_SUCCESS;
}

}  // namespace

bool NewestUndoable(IRegistry& registry, HistoryEntry* entry, LONG* code, Newest which) {
  std::vector<HistoryEntry> entries;
  const LONG read = ReadHistory(registry, &entries);
  if (code != nullptr) *code = read;
  if (read != ERROR_SUCCESS) return false;
  const auto newest = Pick(entries, which);
  if (newest == entries.end()) return false;
  *entry = *newest;
  return true;
}

UndoOutcome UndoChange(HistoryRegistry& history, unsigned change, const UndoProgress& progress, Newest which) {
  UndoOutcome outcome;
  outcome.change = change;
  RegistryTransaction transaction(history);
  if (transaction.BeginCode() != ERROR_SUCCESS) {
    outcome.result = UndoOutcome::Result::kFailed;
    outcome.code = transaction.BeginCode();
    return outcome;
  }
  std::vector<HistoryEntry> entries;
  outcome.code = ReadHistory(history.Inner(), &entries);
  const auto target = change == 0 ? Pick(entries, which)
                                  : std::find_if(entries.begin(), entries.end(), [change](const HistoryEntry& entry) {
                                      return entry.number == change;
                                    });
  if (outcome.code != ERROR_SUCCESS) {
    outcome.result = UndoOutcome::Result::kFailed;
    return outcome;
  }
  if (target == entries.end()) {
    outcome.result = change != 0                ? UndoOutcome::Result::kUnknown
                     : which == Newest::kChange ? UndoOutcome::Result::kNothing
                                                : UndoOutcome::Result::kNothingToRedo;
    return outcome;
  }
  outcome.change = target->number;
  outcome.title = ChangeTitle(target->kind, target->subject);
  if (target->undoneBy != 0) {
    outcome.result = UndoOutcome::Result::kAlreadyUndone;
    outcome.number = target->undoneBy;
    return outcome;
  }
  ChangeRecord record;
  outcome.result = UndoOutcome::Result::kFailed;
  outcome.code = ReadChangeRecord(history.Inner(), target->number, &record);
  Pace pace(progress, record.KeyCount());
  const Reach reach(record);
  unsigned relying = 0;
  if (outcome.code == ERROR_SUCCESS)
    outcome.code = LaterReliance(history.Inner(), entries, *target, reach, &relying, &outcome.key);
  // A title it deletes is relied on also by an extension it leaves naming
  // it, and by the change that wrote that extension, when one still stands.
  if (outcome.code == ERROR_SUCCESS && relying == 0)
    outcome.code = NamingExtension(history.Inner(), DeletedTitles(record), reach, &outcome.extension, &outcome.key);
  if (outcome.code == ERROR_SUCCESS && !outcome.extension.empty()) {
    outcome.code = ExtensionWriter(history.Inner(), entries, *target, outcome.extension, &relying);
    if (relying != 0) outcome.key = KeyName(HKEY_LOCAL_MACHINE, std::string(kClasses) + "\\" + outcome.key);
  }
  if (outcome.code == ERROR_SUCCESS && outcome.key.empty())
    outcome.code = FirstChanged(history, record, pace, &outcome.key);
  capture::FileRecord files;
  capture::FileContents contents;
  if (outcome.code == ERROR_SUCCESS) outcome.code = capture::ReadChangeFiles(history.Inner(), target->number, &files);
  if (outcome.code != ERROR_SUCCESS) return outcome;
  if (outcome.key.empty() && !capture::UndoneContents(files, &contents, &outcome.file)) {
    outcome.result = UndoOutcome::Result::kChangedSince;
    return outcome;
  }
  if (!outcome.key.empty()) {
    outcome.result = relying != 0                 ? UndoOutcome::Result::kReliedOn
                     : !outcome.extension.empty() ? UndoOutcome::Result::kNamed
                                                  : UndoOutcome::Result::kChangedSince;
    outcome.number = relying;
    return outcome;
  }
  // Undoing an undo makes the change it undid stand again (AddToHistory).
  history.Describe("undo", std::to_string(target->number));
  history.MarkUndone(target->number);
  outcome.keys = record.KeyCount();
  outcome.code = PutBack(history, record, pace);
  // The files are written with the commit, which a failure of theirs keeps from happening.
  if (outcome.code == ERROR_SUCCESS && !contents.empty())
    history.AttachFiles(capture::InverseFileRecord(files), std::move(contents), &outcome.file);
  if (outcome.code == ERROR_SUCCESS) outcome.code = transaction.Commit();
  if (outcome.code != ERROR_SUCCESS) return outcome;
  outcome.result = UndoOutcome::Result::kUndone;
  outcome.number = history.LastNumber();
  return outcome;
}

std::string HistoryUnreadable(LONG code) {
  const std::string why = RefusalText(code);
  return "История изменений не читается (ошибка реестра " + std::to_string(code) + ")." +
         (why.empty() ? "" : " " + why);
}

std::string UndoMessage(const UndoOutcome& outcome) {
  const std::string n = std::to_string(outcome.change);
  switch (outcome.result) {
    case UndoOutcome::Result::kUndone:
      return "Изменение " + n + " (" + outcome.title + ") отменено, ключей: " + std::to_string(outcome.keys) +
             ". Отмена сохранена в истории как изменение " + std::to_string(outcome.number) + ".";
    case UndoOutcome::Result::kNothing: return "Нет изменений, которые можно отменить.";
    case UndoOutcome::Result::kNothingToRedo: return "Нет отменённых изменений, которые можно вернуть.";
    case UndoOutcome::Result::kUnknown: return "Изменения " + n + " нет в истории.";
    case UndoOutcome::Result::kAlreadyUndone:
      return "Изменение " + n + " уже отменено изменением " + std::to_string(outcome.number) + ".";
    case UndoOutcome::Result::kReliedOn: {
      const std::string by = std::to_string(outcome.number);
      return "Изменение " + n + " не отменено: ключ " + outcome.key + " используется изменением " + by +
             ". Ничего не изменено. Сначала отмените изменение " + by + ".";
    }
    case UndoOutcome::Result::kNamed:
      return "Изменение " + n + " не отменено: описание " + outcome.key + " используется расширением " +
             outcome.extension + ". Ничего не изменено.";
    case UndoOutcome::Result::kChangedSince:
      if (outcome.key.empty())
        return "Изменение " + n + " не отменено: файл " + outcome.file + " изменён после него. Ничего не изменено.";
      return "Изменение " + n + " не отменено: ключ " + outcome.key + " изменён после него. Ничего не изменено.";
    case UndoOutcome::Result::kFailed: break;
  }
  if (!outcome.file.empty())
    return "Изменение " + n + " не отменено: не удалось записать файл (" + outcome.file + "). Ничего не изменено.";
  // Refused before the history was read, the newest change has no number yet.
  const std::string why = RefusalText(outcome.code);
  return "Изменение " + (outcome.change == 0 ? "" : n + " ") + "не отменено (ошибка реестра " +
         std::to_string(outcome.code) + "). Ничего не изменено." + (why.empty() ? "" : " " + why);
}

}  // namespace zandrel::store
