#include "registry/journal/UndoJournal.h"

#include <algorithm>
#include <sstream>

#include "registry/Codes.h"
#include "registry/Names.h"

namespace zandrel::journal {
namespace {

constexpr REGSAM kReadWrite = KEY_READ | KEY_WRITE;

bool IsRoot(HKEY key) { return key >= HKEY_CLASSES_ROOT && key <= HKEY_USERS; }

// Appends the components of `sub` to `path`, skipping empty ones as the
// registry does ("a\\b\" is a\b).
void AppendPath(std::string* path, const char* sub) {
  if (sub == nullptr) return;
  std::string component;
  for (const char* p = sub;; ++p) {
    if (*p == '\\' || *p == '\0') {
      if (!component.empty()) *path += (path->empty() ? "" : "\\") + component;
      component.clear();
      if (*p == '\0') break;
    } else {
      component += *p;
    }
  }
}

// Every value of root\path, in enumeration order.
LONG ReadValues(IRegistry& registry, HKEY root, const std::string& path,
                std::vector<UndoValue>* values) {
  HKEY key = 0;
  LONG code = registry.RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key);
  if (code != ERROR_SUCCESS) return code;
  values->clear();
  std::vector<char> name(16384);
  std::string data(4096, '\0');
  for (DWORD index = 0;;) {
    DWORD name_length = static_cast<DWORD>(name.size());
    DWORD size = static_cast<DWORD>(data.size());
    DWORD type = 0;
    code = registry.RegEnumValueA(key, index, name.data(), &name_length, nullptr, &type,
                                  reinterpret_cast<BYTE*>(data.data()), &size);
    if (code == ERROR_MORE_DATA && size > data.size()) {
      data.resize(size);
      continue;
    }
    if (code != ERROR_SUCCESS) break;
    values->push_back(UndoValue{std::string(name.data(), name_length), type, data.substr(0, size)});
    ++index;
  }
  if (key != root) registry.RegCloseKey(key);
  return code == ERROR_NO_MORE_ITEMS ? ERROR_SUCCESS : code;
}

// Makes the values of the open `key` exactly `values`, in their order.
void RestoreValues(IRegistry& registry, HKEY root, const std::string& path,
                   const std::vector<UndoValue>& values) {
  std::vector<UndoValue> now;
  if (ReadValues(registry, root, path, &now) != ERROR_SUCCESS) return;
  HKEY key = 0;
  if (registry.RegOpenKeyExA(root, path.c_str(), 0, kReadWrite, &key) != ERROR_SUCCESS) return;
  for (const UndoValue& value : now) registry.RegDeleteValueA(key, value.name.c_str());
  for (const UndoValue& value : values)
    registry.RegSetValueExA(key, value.name.c_str(), 0, value.type,
                            reinterpret_cast<const BYTE*>(value.data.data()),
                            static_cast<DWORD>(value.data.size()));
  if (key != root) registry.RegCloseKey(key);
}

using registry::RootName;

// A name as the registry compares names (ASCII letters folded, all the
// store's value names need).
std::string Upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

// Whether two lists hold the same values, in whatever order.
bool SameValues(std::vector<UndoValue> a, std::vector<UndoValue> b) {
  auto by_name = [](const UndoValue& x, const UndoValue& y) { return Upper(x.name) < Upper(y.name); };
  std::sort(a.begin(), a.end(), by_name);
  std::sort(b.begin(), b.end(), by_name);
  // A string set without its NUL may read back with one.
  auto data = [](const UndoValue& v) {
    const bool text = v.type == REG_SZ || v.type == REG_EXPAND_SZ;
    return text && !v.data.empty() && v.data.back() == '\0' ? v.data.substr(0, v.data.size() - 1) : v.data;
  };
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [&](const UndoValue& x, const UndoValue& y) {
    return Upper(x.name) == Upper(y.name) && x.type == y.type && data(x) == data(y);
  });
}

// The values of a values entry once its change is made.
std::vector<UndoValue> AfterChange(const UndoEntry& entry) {
  std::vector<UndoValue> after;
  for (const UndoValue& value : entry.values)
    if (Upper(value.name) != Upper(entry.change.name)) after.push_back(value);
  if (!entry.deleting) after.push_back(entry.change);
  return after;
}

}  // namespace

JournalledRegistry::JournalledRegistry(std::unique_ptr<IRegistry> inner, std::unique_ptr<UndoStore> store,
                                       JournalScope scope)
    : ForwardingRegistry(*inner), inner_(std::move(inner)), store_(std::move(store)), scope_(std::move(scope)) {}

bool JournalledRegistry::InScope(HKEY root, const std::string& path) const {
  if (scope_.empty()) return true;
  const std::string upper = registry::UpperName(path);
  for (const JournalKey& key : scope_) {
    if (key.root != root) continue;
    const std::string prefix = registry::UpperName(key.path);
    if (prefix.empty() || upper == prefix || upper.rfind(prefix + "\\", 0) == 0) return true;
  }
  return false;
}

LONG JournalledRegistry::FlushTouched(const std::vector<UndoEntry>& entries) {
  // A key flushes its whole hive: one key per root and first component does.
  std::map<std::pair<HKEY, std::string>, std::string> tops;
  for (const UndoEntry& entry : entries) {
    const std::string top = entry.path.substr(0, entry.path.find('\\'));
    tops.emplace(std::make_pair(entry.root, registry::UpperName(top)), top);
  }
  for (const auto& [where, top] : tops) {
    HKEY key = 0;
    LONG code = inner_->RegOpenKeyExA(where.first, top.c_str(), 0, KEY_READ, &key);
    if (code == ERROR_FILE_NOT_FOUND) code = inner_->RegOpenKeyExA(where.first, "", 0, KEY_READ, &key);
    if (code == ERROR_SUCCESS) {
      code = inner_->RegFlushKey(key);
      if (key != where.first) inner_->RegCloseKey(key);
    }
    if (code != ERROR_SUCCESS) return code;
  }
  return ERROR_SUCCESS;
}

JournalledRegistry::~JournalledRegistry() {
  if (in_transaction_) RollbackTransaction();
}

bool JournalledRegistry::Resolve(HKEY key, const char* sub, Place* place) const {
  if (IsRoot(key)) {
    *place = Place{key, ""};
  } else {
    const auto found = places_.find(key);
    if (found == places_.end()) return false;
    *place = found->second;
  }
  AppendPath(&place->path, sub);
  return true;
}

LONG JournalledRegistry::Record(UndoEntry entry) {
  const std::string line = EncodeUndoEntry(entry);
  const LONG code = store_->Append(entries_.empty() ? kUndoRecordHeader + line : line);
  if (code == ERROR_SUCCESS) entries_.push_back(std::move(entry));
  return code;
}

// Records the values of a key about to change. A key that cannot be read
// cannot change either (deleted, missing): nothing to record then.
LONG JournalledRegistry::RecordValues(UndoEntry::Kind kind, const Place& place, const UndoValue& change,
                                      bool deleting) {
  UndoEntry entry{kind, place.root, place.path, {}, deleting, change};
  const LONG code = ReadValues(*inner_, place.root, place.path, &entry.values);
  if (code == ERROR_FILE_NOT_FOUND || code == ERROR_KEY_DELETED) return ERROR_SUCCESS;
  if (code != ERROR_SUCCESS) return code;
  return Record(std::move(entry));
}

void JournalledRegistry::Replay(const std::vector<UndoEntry>& entries) {
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    switch (it->kind) {
      case UndoEntry::Kind::kCreated:
        inner_->RegDeleteKeyA(it->root, it->path.c_str());
        break;
      case UndoEntry::Kind::kDeleted: {
        HKEY key = 0;
        if (inner_->RegCreateKeyExA(it->root, it->path.c_str(), 0, "", REG_OPTION_NON_VOLATILE,
                                    kReadWrite, nullptr, &key, nullptr) == ERROR_SUCCESS &&
            key != it->root)
          inner_->RegCloseKey(key);
        RestoreValues(*inner_, it->root, it->path, it->values);
        break;
      }
      case UndoEntry::Kind::kValues:
        RestoreValues(*inner_, it->root, it->path, it->values);
        break;
    }
  }
}

std::string JournalledRegistry::ChangedSince(const std::vector<UndoEntry>& entries) {
  // The last entry for each key tells what its writer may have left there.
  std::map<std::pair<HKEY, std::string>, const UndoEntry*> last;
  std::vector<const UndoEntry*> order;
  for (const UndoEntry& entry : entries) {
    auto [at, inserted] = last.insert_or_assign({entry.root, Upper(entry.path)}, &entry);
    if (inserted) order.push_back(&entry);
  }
  for (const UndoEntry* first : order) {
    const UndoEntry& entry = *last[{first->root, Upper(first->path)}];
    std::vector<UndoValue> now;
    const LONG code = ReadValues(*inner_, entry.root, entry.path, &now);
    const bool exists = code == ERROR_SUCCESS;
    if (code != ERROR_SUCCESS && code != ERROR_FILE_NOT_FOUND) continue;  // unreadable: the replay cannot write it either
    bool explained = false;
    switch (entry.kind) {
      case UndoEntry::Kind::kCreated:
        explained = !exists || now.empty();
        break;
      case UndoEntry::Kind::kValues:
        explained = exists && (SameValues(now, entry.values) || SameValues(now, AfterChange(entry)));
        break;
      case UndoEntry::Kind::kDeleted:
        explained = !exists || SameValues(now, entry.values);
        break;
    }
    if (!explained) return std::string(RootName(entry.root)) + (entry.path.empty() ? "" : "\\" + entry.path);
  }
  return "";
}

LONG JournalledRegistry::ReplayRecord() {
  std::string bytes;
  const LONG code = store_->Read(&bytes);
  if (code == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (code != ERROR_SUCCESS) return code;
  const std::vector<UndoEntry> entries = DecodeUndoRecord(bytes);
  for (const UndoEntry& entry : entries)
    if (!InScope(entry.root, entry.path)) {
      changed_key_ = std::string(RootName(entry.root)) + (entry.path.empty() ? "" : "\\" + entry.path);
      return kOutsideJournalScope;
    }
  changed_key_ = ChangedSince(entries);
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

LONG JournalledRegistry::RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD ulOptions,
                                       REGSAM samDesired, HKEY* phkResult) {
  Place place;
  const bool known = Resolve(hKey, lpSubKey, &place);
  const LONG code = inner_->RegOpenKeyExA(hKey, lpSubKey, ulOptions, samDesired, phkResult);
  if (code == ERROR_SUCCESS && known && phkResult && !IsRoot(*phkResult))
    places_[*phkResult] = place;
  return code;
}

LONG JournalledRegistry::RegCreateKeyExA(HKEY hKey, const char* lpSubKey, DWORD Reserved,
                                         const char* lpClass, DWORD dwOptions, REGSAM samDesired,
                                         const void* lpSecurityAttributes, HKEY* phkResult,
                                         DWORD* lpdwDisposition) {
  Place place;
  const bool known = Resolve(hKey, lpSubKey, &place);
  if (in_transaction_ && known) {
    if (!InScope(place.root, place.path)) return kOutsideJournalScope;
    // Every key from the first missing one down is about to be created.
    std::string prefix;
    bool missing = false;
    std::string component;
    std::istringstream parts(place.path);
    while (std::getline(parts, component, '\\')) {
      prefix += (prefix.empty() ? "" : "\\") + component;
      if (!missing) {
        HKEY probe = 0;
        const LONG code = inner_->RegOpenKeyExA(place.root, prefix.c_str(), 0, KEY_READ, &probe);
        if (code == ERROR_SUCCESS) {
          inner_->RegCloseKey(probe);
          continue;
        }
        if (code != ERROR_FILE_NOT_FOUND) return code;
        missing = true;
      }
      if (const LONG code = Record(UndoEntry{UndoEntry::Kind::kCreated, place.root, prefix, {}, false, {}});
          code != ERROR_SUCCESS)
        return code;
    }
  }
  const LONG code = inner_->RegCreateKeyExA(hKey, lpSubKey, Reserved, lpClass, dwOptions,
                                            samDesired, lpSecurityAttributes, phkResult,
                                            lpdwDisposition);
  if (code == ERROR_SUCCESS && known && phkResult && !IsRoot(*phkResult))
    places_[*phkResult] = place;
  return code;
}

LONG JournalledRegistry::RegSetValueExA(HKEY hKey, const char* lpValueName, DWORD Reserved,
                                        DWORD dwType, const BYTE* lpData, DWORD cbData) {
  Place place;
  if (in_transaction_ && Resolve(hKey, nullptr, &place)) {
    if (!InScope(place.root, place.path)) return kOutsideJournalScope;
    const UndoValue change{lpValueName ? lpValueName : "", dwType,
                           std::string(reinterpret_cast<const char*>(lpData), lpData ? cbData : 0)};
    if (const LONG code = RecordValues(UndoEntry::Kind::kValues, place, change, false); code != ERROR_SUCCESS)
      return code;
  }
  return inner_->RegSetValueExA(hKey, lpValueName, Reserved, dwType, lpData, cbData);
}

LONG JournalledRegistry::RegDeleteValueA(HKEY hKey, const char* lpValueName) {
  Place place;
  if (in_transaction_ && Resolve(hKey, nullptr, &place)) {
    if (!InScope(place.root, place.path)) return kOutsideJournalScope;
    const UndoValue change{lpValueName ? lpValueName : "", REG_NONE, ""};
    if (const LONG code = RecordValues(UndoEntry::Kind::kValues, place, change, true); code != ERROR_SUCCESS)
      return code;
  }
  return inner_->RegDeleteValueA(hKey, lpValueName);
}

LONG JournalledRegistry::RegDeleteKeyA(HKEY hKey, const char* lpSubKey) {
  Place place;
  if (in_transaction_ && Resolve(hKey, lpSubKey, &place) && !place.path.empty()) {
    if (!InScope(place.root, place.path)) return kOutsideJournalScope;
    if (const LONG code = RecordValues(UndoEntry::Kind::kDeleted, place, {}, false); code != ERROR_SUCCESS)
      return code;
  }
  return inner_->RegDeleteKeyA(hKey, lpSubKey);
}

LONG JournalledRegistry::RegCloseKey(HKEY hKey) {
  places_.erase(hKey);
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
    return {status::Status::kFailed, "the unfinished change recorded in " + record + " was not rolled back: it names the key " +
                                         journalled->ChangedKey() +
                                         ", which this program never changes. The record is not its own: delete it"};
  if (code == kChangedSinceRecord)
    return {status::Status::kFailed, "the unfinished change recorded in " + record +
                                         " was not rolled back: the key " + journalled->ChangedKey() +
                                         " has changed since it was recorded. Check that key, then delete the record"};
  return {status::Status::kFailed,
          "cannot roll back the unfinished change recorded in " + record + ": " + registry::DescribeCode(code)};
}

}  // namespace zandrel::journal
