#include "capture/UndoJournal.h"

#include <algorithm>
#include <map>
#include <sstream>
#include <string_view>

#include "capture/ChangedSince.h"
#include "capture/PutBack.h"
#include "registry/Codes.h"
#include "registry/Key.h"
#include "registry/Names.h"

namespace zandrel::capture {
namespace {

constexpr REGSAM kReadWrite = KEY_READ | KEY_WRITE;

}  // namespace

JournalledRegistry::JournalledRegistry(std::unique_ptr<IRegistry> inner, std::unique_ptr<UndoStore> store,
                                       JournalScope scope)
    : ForwardingRegistry(*inner),
      inner_(std::move(inner)),
      store_(std::move(store)),
      scope_(std::move(scope)),
      notes_(*inner_) {}

bool JournalledRegistry::InScope(HKEY root, const std::string& path, bool strictly) const {
  if (scope_.empty()) return !strictly || !path.empty();
  const std::string upper = registry::UpperName(path);
  for (const JournalKey& key : scope_) {
    if (key.root != root) continue;
    const std::string prefix = registry::UpperName(key.path);
    if (upper == prefix ? !strictly : (prefix.empty() || upper.rfind(prefix + "\\", 0) == 0)) return true;
  }
  return false;
}

bool JournalledRegistry::Allows(RecordEntry::Kind kind, HKEY root, const std::string& path) const {
  switch (kind) {
    case RecordEntry::Kind::kValues: return InScope(root, path);
    case RecordEntry::Kind::kCreated: return !path.empty() && InScope(root, path);  // a root is never made
    case RecordEntry::Kind::kDeleted: return InScope(root, path, true);
    case RecordEntry::Kind::kDeletedTree:
    case RecordEntry::Kind::kKept: break;  // a history's kinds, never a journal's
  }
  return false;
}

LONG JournalledRegistry::FlushTouched(const std::vector<RecordEntry>& entries) {
  // A key flushes its whole hive: one key per root and first component does.
  std::map<std::pair<HKEY, std::string>, std::string> tops;
  for (const RecordEntry& entry : entries) {
    const std::string top = entry.path.substr(0, entry.path.find('\\'));
    tops.emplace(std::make_pair(entry.root, registry::UpperName(top)), top);
  }
  for (const auto& [where, top] : tops) {
    registry::Key key(*inner_);
    LONG code = key.Open(where.first, top);
    if (code == ERROR_FILE_NOT_FOUND) code = key.Open(where.first, "");
    if (code == ERROR_SUCCESS) code = inner_->RegFlushKey(key.Handle());
    if (code != ERROR_SUCCESS) return code;
  }
  return ERROR_SUCCESS;
}

JournalledRegistry::~JournalledRegistry() {
  if (in_transaction_) RollbackTransaction();
}

namespace {

// What tells two entries for one write apart: its kind, key and change, and
// the key's values in any order, names as the registry compares them.
std::string ComparisonKey(RecordEntry entry) {
  entry.path = registry::UpperName(entry.path);
  for (RecordedValues* values : {&entry.before, &entry.after}) {
    for (registry::Value& value : *values) value.name = registry::UpperName(value.name);
    std::sort(values->begin(), values->end(),
              [](const registry::Value& a, const registry::Value& b) { return a.name < b.name; });
  }
  return EncodeUndoEntry(entry);
}

// A key as the announced writes will leave it, step by step.
struct PlannedKey {
  bool exists = false;
  RecordedValues values;
};

}  // namespace

LONG JournalledRegistry::Record(RecordEntry entry) {
  if (!ahead_.empty()) {
    if (const auto found = ahead_.find(ComparisonKey(entry)); found != ahead_.end()) {
      ahead_.erase(found);  // recorded, durably, before the run began
      return ERROR_SUCCESS;
    }
  }
  const std::string line = EncodeUndoEntry(entry);
  const LONG code = store_->Append(entries_.empty() ? kUndoRecordHeader + line : line);
  if (code == ERROR_SUCCESS) entries_.push_back(std::move(entry));
  return code;
}

void JournalledRegistry::WillWrite(const std::vector<PlannedWrite>& writes) {
  if (!in_transaction_) return;
  // The entries each write would record, worked out from the keys as they
  // are now and as the writes before it leave them.
  std::map<std::pair<HKEY, std::string>, PlannedKey> keys;
  const auto key = [&](HKEY root, const std::string& path) -> PlannedKey* {
    // By the name as spelt: a registry may fold fewer letters than
    // UpperName, and an entry made ahead holds what its own spelling reads.
    auto [at, added] = keys.try_emplace({root, path});
    if (added) {
      if (ReadKeyValues(*inner_, root, path, &at->second.exists, &at->second.values) != ERROR_SUCCESS) return nullptr;
    }
    return &at->second;
  };
  std::vector<RecordEntry> planned;
  for (const PlannedWrite& write : writes) {
    std::string path;
    AppendPath(&path, write.path);
    // A write the scope refuses is refused when it comes: no plan past it.
    if (write.kind == PlannedWrite::Kind::kCreateKey) {
      std::string prefix;
      for (std::size_t start = 0; start < path.size();) {
        const std::size_t end = std::min(path.find('\\', start), path.size());
        prefix = path.substr(0, end);
        start = end + 1;
        PlannedKey* now = key(write.root, prefix);
        if (!now) return;
        if (now->exists) continue;
        if (!Allows(RecordEntry::Kind::kCreated, write.root, prefix)) return;
        planned.push_back(RecordEntry{RecordEntry::Kind::kCreated, write.root, prefix, {}, {}, {}});
        *now = PlannedKey{true, {}};
      }
      continue;
    }
    if (!Allows(write.kind == PlannedWrite::Kind::kDeleteKey ? RecordEntry::Kind::kDeleted : RecordEntry::Kind::kValues,
                write.root, path))
      return;
    PlannedKey* now = key(write.root, path);
    if (!now) return;
    if (!now->exists) continue;  // the write fails, and records nothing
    if (write.kind == PlannedWrite::Kind::kDeleteKey) {
      planned.push_back(RecordEntry{RecordEntry::Kind::kDeleted, write.root, path, {}, now->values, {}});
      *now = PlannedKey{};
      continue;
    }
    const bool deleting = write.kind == PlannedWrite::Kind::kDeleteValue;
    const registry::Value change{write.name, deleting ? REG_NONE : write.type, deleting ? "" : write.data};
    planned.push_back(WriteEntry(write.root, path, now->values, change, deleting));
    now->values = planned.back().after;
  }
  if (planned.empty()) return;
  std::string lines = entries_.empty() ? kUndoRecordHeader : "";
  for (const RecordEntry& entry : planned) lines += EncodeUndoEntry(entry);
  // Not recorded ahead, each write records its own as it comes.
  if (store_->Append(lines) != ERROR_SUCCESS) return;
  for (RecordEntry& entry : planned) {
    ahead_.insert(ComparisonKey(entry));
    entries_.push_back(std::move(entry));
  }
}

// Records the values of a key about to change. A key that cannot be read
// cannot change either (deleted, missing): nothing to record then.
LONG JournalledRegistry::RecordValues(RecordEntry::Kind kind, const Place& place, const registry::Value& change,
                                      bool deleting) {
  RecordEntry entry{kind, place.root, place.path, {}, {}, {}};
  // The key's first entry holds its note; each later one what it holds now.
  const Note* first = nullptr;
  bool exists = false;
  LONG code = notes_.Written(place, Identity(place.root, place.path), &first);
  if (code == ERROR_SUCCESS && first != nullptr) {
    exists = first->exists;
    entry.before = first->values;
  } else if (code == ERROR_SUCCESS) {
    code = ReadKeyValues(*inner_, place.root, place.path, &exists, &entry.before);
  }
  if (code == ERROR_KEY_DELETED || (code == ERROR_SUCCESS && !exists)) return ERROR_SUCCESS;
  if (code != ERROR_SUCCESS) return code;
  if (kind == RecordEntry::Kind::kValues)
    entry = WriteEntry(place.root, place.path, std::move(entry.before), change, deleting);
  return Record(std::move(entry));
}

void JournalledRegistry::Replay(const std::vector<RecordEntry>& entries) {
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    switch (it->kind) {
      case RecordEntry::Kind::kCreated:
        // Nothing below a key the change made was there before it: the key
        // goes whole, also when an entry for a key below it comes earlier in
        // the record (written ahead of the run that made it). But a scope
        // key, found missing by a change, goes only once what the change put
        // below it is gone: a record naming one never deletes what it holds.
        if (InScope(it->root, it->path, true)) DeleteTree(*inner_, it->root, it->path);
        else DeleteIfEmpty(*inner_, it->root, it->path);
        break;
      case RecordEntry::Kind::kDeleted:
        registry::Key(*inner_).Create(it->root, it->path, kReadWrite);  // made again; its values next
        RestoreValues(*inner_, it->root, it->path, it->before);
        break;
      case RecordEntry::Kind::kValues: RestoreValues(*inner_, it->root, it->path, it->before); break;
      case RecordEntry::Kind::kDeletedTree:
      case RecordEntry::Kind::kKept: break;  // refused by Allows
    }
  }
}

LONG JournalledRegistry::ReplayRecord() {
  std::string bytes;
  const LONG code = store_->Read(&bytes);
  if (code == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (code != ERROR_SUCCESS) return code;
  const DecodedRecord record = DecodeUndoRecord(bytes);
  damaged_line_ = record.damaged_line;
  if (damaged_line_ != 0) return kDamagedRecord;  // kept: what it holds is unknown
  const std::vector<RecordEntry>& entries = record.entries;
  for (const RecordEntry& entry : entries)
    if (!Allows(entry.kind, entry.root, entry.path)) {
      changed_key_ = KeyName(entry.root, entry.path);
      return kOutsideJournalScope;
    }
  FirstChanged(*inner_, entries, Since::kUnfinished, &changed_key_);
  if (!changed_key_.empty()) return kChangedSinceRecord;
  Replay(entries);
  if (const LONG flushed = FlushTouched(entries); flushed != ERROR_SUCCESS) return flushed;
  return store_->Remove();
}

LONG JournalledRegistry::Recover() {
  std::string bytes;
  const LONG found = store_->Read(&bytes);
  if (found == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;  // the lock is not even asked for
  // A record there, or one that cannot be read now, may be a running
  // change's: only the lock tells, and only its holder replays.
  if (store_->Lock(false) != ERROR_SUCCESS) return ERROR_SUCCESS;
  const LONG code = ReplayRecord();
  store_->Unlock();
  return code;
}

LONG JournalledRegistry::RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD ulOptions, REGSAM samDesired,
                                       HKEY* phkResult) {
  return places_.Open(*inner_, hKey, lpSubKey, ulOptions, samDesired, phkResult);
}

LONG JournalledRegistry::RegCreateKeyExA(HKEY hKey, const char* lpSubKey, DWORD Reserved, const char* lpClass,
                                         DWORD dwOptions, REGSAM samDesired, const void* lpSecurityAttributes,
                                         HKEY* phkResult, DWORD* lpdwDisposition) {
  // A refusal below leaves no handle out, as the registry's own failures do.
  if (phkResult != nullptr) *phkResult = 0;
  Place place;
  const bool known = places_.Resolve(hKey, lpSubKey, &place);
  if (in_transaction_ && known) {
    // Noted before it is made; a key that cannot be read now is not, and its
    // making answers as the registry does.
    notes_.Creating(place, Identity(place.root, place.path));
    // Every key from the first missing one down is about to be created, and
    // must lie in the scope; those found there are opened, and write nothing.
    // Asked of the registry by their paths as spelt: a registry may fold
    // fewer letters than the notes' identities.
    std::string prefix;
    bool missing = false;
    std::string component;
    std::istringstream parts(place.path);
    while (std::getline(parts, component, '\\')) {
      prefix += (prefix.empty() ? "" : "\\") + component;
      if (!missing) {
        if (existing_.count({place.root, prefix}) != 0) continue;
        const LONG code = registry::Key(*inner_).Open(place.root, prefix);  // closed again at once
        if (code == ERROR_SUCCESS) {
          existing_.insert({place.root, prefix});
          continue;
        }
        if (code != ERROR_FILE_NOT_FOUND) return code;
        if (!Allows(RecordEntry::Kind::kCreated, place.root, prefix)) return kOutsideJournalScope;  // and all below
        missing = true;
      }
      if (const LONG code = Record(RecordEntry{RecordEntry::Kind::kCreated, place.root, prefix, {}, {}, {}});
          code != ERROR_SUCCESS)
        return code;
    }
  }
  const LONG code = inner_->RegCreateKeyExA(hKey, lpSubKey, Reserved, lpClass, dwOptions, samDesired,
                                            lpSecurityAttributes, phkResult, lpdwDisposition);
  if (code == ERROR_SUCCESS && in_transaction_ && known) existing_.insert({place.root, place.path});
  return places_.Opened(code, known, phkResult, std::move(place));
}

LONG JournalledRegistry::RegSetValueExA(HKEY hKey, const char* lpValueName, DWORD Reserved, DWORD dwType,
                                        const BYTE* lpData, DWORD cbData) {
  Place place;
  if (in_transaction_ && places_.Resolve(hKey, nullptr, &place)) {
    if (!InScope(place.root, place.path)) return kOutsideJournalScope;
    const registry::Value change{lpValueName ? lpValueName : "", dwType,
                                 std::string(reinterpret_cast<const char*>(lpData), lpData ? cbData : 0)};
    if (const LONG code = RecordValues(RecordEntry::Kind::kValues, place, change, false); code != ERROR_SUCCESS)
      return code;
  }
  return inner_->RegSetValueExA(hKey, lpValueName, Reserved, dwType, lpData, cbData);
}

LONG JournalledRegistry::RegDeleteValueA(HKEY hKey, const char* lpValueName) {
  Place place;
  if (in_transaction_ && places_.Resolve(hKey, nullptr, &place)) {
    if (!InScope(place.root, place.path)) return kOutsideJournalScope;
    const registry::Value change{lpValueName ? lpValueName : "", REG_NONE, ""};
    if (const LONG code = RecordValues(RecordEntry::Kind::kValues, place, change, true); code != ERROR_SUCCESS)
      return code;
  }
  return inner_->RegDeleteValueA(hKey, lpValueName);
}

LONG JournalledRegistry::RegDeleteKeyA(HKEY hKey, const char* lpSubKey) {
  Place place;
  if (in_transaction_ && places_.Resolve(hKey, lpSubKey, &place)) {
    if (!Allows(RecordEntry::Kind::kDeleted, place.root, place.path)) return kOutsideJournalScope;
    if (const LONG code = RecordValues(RecordEntry::Kind::kDeleted, place, {}, false); code != ERROR_SUCCESS)
      return code;
  }
  existing_.clear();  // what it held below it is gone too
  return inner_->RegDeleteKeyA(hKey, lpSubKey);
}

LONG JournalledRegistry::RegCloseKey(HKEY hKey) {
  places_.Closed(hKey);
  return inner_->RegCloseKey(hKey);
}

LONG JournalledRegistry::BeginTransaction() {
  if (in_transaction_) return ERROR_INVALID_PARAMETER;  // scopes do not nest
  LONG code = store_->Lock(true);
  if (code != ERROR_SUCCESS) return code;
  code = ReplayRecord();  // its writer died holding the lock
  if (code != ERROR_SUCCESS) {
    store_->Unlock();
    return code;
  }
  in_transaction_ = true;
  entries_.clear();
  return ERROR_SUCCESS;
}

LONG JournalledRegistry::CommitTransaction() {
  if (!in_transaction_) return ERROR_INVALID_PARAMETER;
  if (!entries_.empty()) {
    // The registry writes lazily: the change must be on disk before the
    // record that could undo it goes.
    if (const LONG code = FlushTouched(entries_); code != ERROR_SUCCESS) return code;
    if (const LONG code = store_->Remove(); code != ERROR_SUCCESS) return code;
  }
  EndTransaction();
  return ERROR_SUCCESS;
}

void JournalledRegistry::RollbackTransaction() {
  if (!in_transaction_) return;
  Replay(entries_);
  // Kept when the roll-back cannot be made durable: the next start replays it.
  if (FlushTouched(entries_) == ERROR_SUCCESS) store_->Remove();
  EndTransaction();
}

void JournalledRegistry::EndTransaction() {
  in_transaction_ = false;
  entries_.clear();
  ahead_.clear();
  existing_.clear();
  notes_.Clear();
  store_->Unlock();
}

status::Status StartJournalled(std::unique_ptr<IRegistry> inner, std::unique_ptr<UndoStore> store,
                               const std::string& record, std::unique_ptr<IRegistry>* started, JournalScope scope) {
  started->reset();
  auto journalled = std::make_unique<JournalledRegistry>(std::move(inner), std::move(store), std::move(scope));
  const LONG code = journalled->Recover();
  // A copy without the right to write the machine's classes (a standard
  // user's) leaves the record to an administrator's copy, and still lists.
  if (code == ERROR_SUCCESS || code == ERROR_ACCESS_DENIED) {
    *started = std::move(journalled);
    return {};
  }
  if (code == kOutsideJournalScope)
    return {status::Status::kFailed, "the unfinished change recorded in " + record +
                                         " was not rolled back: it names the key " + journalled->ChangedKey() +
                                         ", which this program never changes. The record is not its own: delete it"};
  if (code == kDamagedRecord)
    return {status::Status::kFailed, "the undo record " + record + " is damaged at line " +
                                         std::to_string(journalled->DamagedLine()) +
                                         ": it is not replayed. Check the classes, then delete it"};
  if (code == kChangedSinceRecord)
    return {status::Status::kFailed, "the unfinished change recorded in " + record + " was not rolled back: the key " +
                                         journalled->ChangedKey() +
                                         " has changed since it was recorded. Check that key, then delete the record"};
  return {status::Status::kFailed,
          "cannot roll back the unfinished change recorded in " + record + ": " + registry::DescribeCode(code)};
}

}  // namespace zandrel::capture
