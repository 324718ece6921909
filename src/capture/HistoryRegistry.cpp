#include "capture/HistoryRegistry.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "registry/Codes.h"
#include "registry/Names.h"

namespace zandrel::capture {
namespace {

// The history's own key, as the notes know it.
const std::string& HistoryIdentity() {
  static const std::string id = Identity(HKEY_LOCAL_MACHINE, kHistoryPath);
  return id;
}

// Whether a change of the key known as `id` reaches the history: the key is
// the history's or below it, or, for a deletion of its subtree (`above_too`),
// above it. The history's own writes at commit go to the inner registry,
// past this.
bool ReachesHistory(std::string_view id, bool above_too) {
  const std::string& history = HistoryIdentity();
  return id == history || IdentityBelow(id, history) || (above_too && IdentityBelow(history, id));
}

}  // namespace

HistoryRegistry::HistoryRegistry(IRegistry& inner, HistoryBound bound)
    : ForwardingRegistry(inner), inner_(inner), places_(true), notes_(inner), bound_(bound) {}

void HistoryRegistry::Describe(std::string kind, std::string subject) {
  kind_ = std::move(kind);
  subject_ = std::move(subject);
}

void HistoryRegistry::MarkUndone(unsigned number) { undone_ = number; }

void HistoryRegistry::AttachFiles(FileRecord files, FileContents contents, std::string* failure) {
  for (FileEdit& file : files.files) files_.files.push_back(std::move(file));
  for (auto& file : contents) contents_.push_back(std::move(file));
  file_failure_ = failure;
}

void HistoryRegistry::RepairFiles() {
  std::error_code error;
  if (journal_.empty() || !std::filesystem::exists(journal_, error)) return;
  if (BeginTransaction() == ERROR_SUCCESS) RollbackTransaction();
}

LONG HistoryRegistry::Touch(HKEY root, std::string_view path, bool subtree) {
  // Below the key last noted missing, as the caller wrote its path: most
  // keys of an import, known without making their identity.
  const std::size_t n = missing_path_.size();
  if (!subtree && root == missing_root_ && path.size() > n + 1 && path[n] == '\\' && path[n + 1] != '\\' &&
      path.starts_with(missing_path_))
    return ERROR_SUCCESS;
  Place place;
  places_.Resolve(root, nullptr, &place);
  if (!subtree) {
    IdentityInto(place.root, place.path, &identity_);
    AppendIdentity(path, &identity_);
    if (ReachesHistory(identity_, false)) return registry::kProgramsOwnKey;
    if (notes_.BelowLastMissing(identity_)) return ERROR_SUCCESS;
    AppendPath(&place.path, path);
    const LONG code = notes_.Creating(std::move(place), identity_);
    // A missing key above the history is no shortcut: a key below it may be the history.
    missing_root_ = notes_.LastMissing() == identity_ && !IdentityBelow(HistoryIdentity(), identity_) ? root : 0;
    missing_path_.assign(missing_root_ != 0 ? path : std::string_view());
    return code;
  }
  AppendPath(&place.path, path);
  if (ReachesHistory(Identity(place.root, place.path), true)) return registry::kProgramsOwnKey;
  return notes_.Subtree(place);
}

LONG HistoryRegistry::DeleteCreated(const std::vector<RecordEntry*>& created,
                                    const std::function<void(std::size_t keys)>& deleted) {
  for (const RecordEntry* entry : created)
    if (ReachesHistory(Identity(entry->root, entry->path), true)) return registry::kProgramsOwnKey;
  // Into notes that know nothing yet, each subtree goes whole, noted key by
  // key only if the change touches it again.
  const bool whole = notes_.Empty();
  std::vector<registry::KeyPath> keys;
  std::size_t count = 0;
  for (RecordEntry* entry : created) {
    count += entry->subtree.Keys();
    keys.push_back({entry->root, entry->path});
    if (whole && !entry->subtree.Empty()) notes_.DeletingWhole(entry->root, entry->path, std::move(entry->subtree));
    else notes_.DeletingKeys(entry->root, entry->path, entry->subtree.Decode());
  }
  // A registry that deletes in bulk tells nothing as it goes: the rest is
  // told at the end.
  std::size_t told = 0;
  const LONG code = inner_.DeleteTrees(keys, [&told, &deleted](std::size_t keys) {
    told += keys;
    if (deleted) deleted(keys);
  });
  if (code == ERROR_SUCCESS && deleted && told < count) deleted(count - told);
  return code;
}

LONG HistoryRegistry::DeleteTrees(const std::vector<registry::KeyPath>& keys,
                                  const std::function<void(std::size_t keys)>& deleted) {
  for (const registry::KeyPath& key : keys) {
    Place place;
    places_.Resolve(key.root, nullptr, &place);
    AppendPath(&place.path, key.path);
    if (ReachesHistory(Identity(place.root, place.path), true)) return registry::kProgramsOwnKey;
  }
  if (in_transaction_)
    for (const registry::KeyPath& key : keys)
      if (const LONG code = Touch(key.root, key.path, true); code != ERROR_SUCCESS) return code;
  return inner_.DeleteTrees(keys, deleted);
}

// The name of an add or a removal: the extension key directly under the
// machine's classes that it created or deleted.
static void NameByExtension(const ChangeRecord& record, std::string* kind, std::string* subject) {
  for (const RecordEntry& entry : record.entries) {
    if (entry.root != HKEY_LOCAL_MACHINE || entry.kind == RecordEntry::Kind::kValues) continue;
    const std::string classes = "SOFTWARE\\CLASSES\\";
    const std::string upper = registry::UpperName(entry.path);
    if (upper.rfind(classes, 0) != 0 || upper.find('\\', classes.size()) != std::string::npos) continue;
    const std::string name = entry.path.substr(classes.size());
    if (name.empty() || name[0] != '.') continue;
    *kind = entry.kind == RecordEntry::Kind::kCreated ? "add" : "remove";
    *subject = name;
    return;
  }
  *kind = "change";
  subject->clear();
}

void HistoryRegistry::Reset() {
  in_transaction_ = false;
  ClearNotes();
  kind_.clear();
  subject_.clear();
  undone_ = 0;
  files_ = {};
  contents_.clear();
  file_failure_ = nullptr;
  held_.reset();
}

void HistoryRegistry::ClearNotes() {
  notes_.Clear();
  missing_root_ = 0;
  missing_path_.clear();
}

LONG HistoryRegistry::RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD ulOptions, REGSAM samDesired,
                                    HKEY* phkResult) {
  return places_.Open(inner_, hKey, lpSubKey, ulOptions, samDesired, phkResult);
}

LONG HistoryRegistry::RegCreateKeyExA(HKEY hKey, const char* lpSubKey, DWORD Reserved, const char* lpClass,
                                      DWORD dwOptions, REGSAM samDesired, const void* lpSecurityAttributes,
                                      HKEY* phkResult, DWORD* lpdwDisposition) {
  Place place;
  const bool known = places_.Resolve(hKey, lpSubKey, &place);
  if (known) {
    const std::string id = Identity(place.root, place.path);
    LONG code = ReachesHistory(id, false) ? registry::kProgramsOwnKey : ERROR_SUCCESS;
    if (code == ERROR_SUCCESS && in_transaction_) code = notes_.Creating(place, id);
    if (code != ERROR_SUCCESS) {
      if (phkResult != nullptr) *phkResult = 0;  // as every refused create answers
      return code;
    }
  }
  return places_.Opened(inner_.RegCreateKeyExA(hKey, lpSubKey, Reserved, lpClass, dwOptions, samDesired,
                                               lpSecurityAttributes, phkResult, lpdwDisposition),
                        known, phkResult, std::move(place));
}

LONG HistoryRegistry::RegSetValueExA(HKEY hKey, const char* lpValueName, DWORD Reserved, DWORD dwType,
                                     const BYTE* lpData, DWORD cbData) {
  if (LONG code = Guard(hKey, nullptr, false); code != ERROR_SUCCESS) return code;
  return inner_.RegSetValueExA(hKey, lpValueName, Reserved, dwType, lpData, cbData);
}

LONG HistoryRegistry::RegDeleteKeyA(HKEY hKey, const char* lpSubKey) {
  if (LONG code = Guard(hKey, lpSubKey, true); code != ERROR_SUCCESS) return code;
  return inner_.RegDeleteKeyA(hKey, lpSubKey);
}

LONG HistoryRegistry::Guard(HKEY key, const char* sub, bool deletion) {
  Place place;
  if (!places_.Resolve(key, sub, &place)) return ERROR_SUCCESS;
  std::string id = Identity(place.root, place.path);
  if (ReachesHistory(id, deletion)) return registry::kProgramsOwnKey;
  return in_transaction_ ? notes_.Written(place, std::move(id)) : ERROR_SUCCESS;
}

bool HistoryRegistry::ReachesOwnKeys(const registry::Change& change) const {
  if (change.kind != registry::Change::kKey && change.kind != registry::Change::kDeleteKey) return false;
  Place place;
  places_.Resolve(change.root, nullptr, &place);
  std::string id;
  IdentityInto(place.root, place.path, &id);
  AppendIdentity(change.path, &id);
  return ReachesHistory(id, change.kind == registry::Change::kDeleteKey);
}

void HistoryRegistry::NoteLeftOut(std::vector<std::string>* notes, std::string file) {
  left_out_notes_ = notes;
  left_out_file_ = std::move(file);
}

LONG HistoryRegistry::ApplyChanges(const std::deque<registry::Change>& changes, const registry::Change** failed) {
  // Copied only when a line is left out; `from` maps each kept change back
  // to the file's, for the line a failure names.
  std::deque<registry::Change> kept;
  std::vector<std::size_t> from;
  bool leaving = false, left = false;
  for (std::size_t i = 0; i < changes.size(); ++i) {
    const registry::Change& change = changes[i];
    if (change.kind == registry::Change::kKey || change.kind == registry::Change::kDeleteKey) {
      leaving = ReachesOwnKeys(change);
      if (leaving && left_out_notes_ != nullptr)
        left_out_notes_->push_back(left_out_file_ + ", line " + std::to_string(change.line) +
                                   ": the program's own history, which no change may touch: not imported");
      if (leaving && !left) {
        kept.assign(changes.begin(), changes.begin() + static_cast<std::ptrdiff_t>(i));
        for (std::size_t k = 0; k < i; ++k) from.push_back(k);
      }
      left = left || leaving;
    }
    if (left && !leaving) {
      kept.push_back(change);
      from.push_back(i);
    }
  }
  const std::deque<registry::Change>& made = left ? kept : changes;
  // The inner registry's own application is not seen by the calls here:
  // every key it reaches is noted first.
  const registry::Change* at = nullptr;
  LONG code = ERROR_SUCCESS;
  for (const registry::Change& change : made) {
    if (!in_transaction_) break;
    if (change.kind != registry::Change::kKey && change.kind != registry::Change::kDeleteKey) continue;
    code = Touch(change.root, change.path, change.kind == registry::Change::kDeleteKey);
    if (code != ERROR_SUCCESS) {
      at = &change;
      break;
    }
  }
  if (code == ERROR_SUCCESS) code = inner_.ApplyChanges(made, &at);
  *failed = at;
  if (left && at != nullptr)
    for (std::size_t k = 0; k < kept.size(); ++k)
      if (&kept[k] == at) *failed = &changes[from[k]];
  return code;
}

LONG HistoryRegistry::RegCloseKey(HKEY hKey) {
  places_.Closed(hKey);
  return inner_.RegCloseKey(hKey);
}

LONG HistoryRegistry::RegDeleteValueA(HKEY hKey, const char* lpValueName) {
  if (LONG code = Guard(hKey, nullptr, false); code != ERROR_SUCCESS) return code;
  return inner_.RegDeleteValueA(hKey, lpValueName);
}

LONG HistoryRegistry::BeginTransaction() {
  if (in_transaction_) return inner_.BeginTransaction();  // refused: scopes do not nest
  std::shared_ptr<void> held = hold_ ? hold_() : nullptr;
  const LONG code = inner_.BeginTransaction();
  if (code == ERROR_SUCCESS) {
    held_ = std::move(held);
    // Under the store's lock, so never while the change that left it is still alive. A journal that stays
    // refuses the next change of files (WriteChangeFiles).
    if (!journal_.empty()) RepairChangeFiles(inner_, journal_);
    ClearNotes();
    in_transaction_ = true;
    last_number_ = 0;
  }
  return code;
}

LONG HistoryRegistry::CommitTransaction() {
  if (!in_transaction_) return inner_.CommitTransaction();
  ChangeRecord record;
  LONG code = notes_.Entries(&record.entries);
  unsigned number = 0;
  const bool changed = std::any_of(record.entries.begin(), record.entries.end(),
                                   [](const RecordEntry& entry) { return entry.kind != RecordEntry::Kind::kKept; });
  if (code == ERROR_SUCCESS && (changed || !files_.Empty())) {
    HistoryEntry entry;
    entry.time = static_cast<std::int64_t>(std::time(nullptr));
    entry.kind = kind_;
    entry.subject = subject_;
    if (entry.kind.empty()) NameByExtension(record, &entry.kind, &entry.subject);
    code = AddToHistory(inner_, entry, record, undone_, bound_, &number, files_);
  }
  FileContents saved;
  if (code == ERROR_SUCCESS && !contents_.empty()) {
    const status::Status written = WriteChangeFiles(journal_, number, files_, contents_, &saved);
    if (!written.Ok()) {
      if (file_failure_ != nullptr) *file_failure_ = written.message;
      code = ERROR_WRITE_FAULT;
    }
  }
  if (code == ERROR_SUCCESS) code = inner_.CommitTransaction();
  // A file that cannot be put back keeps the journal: the next change puts it back.
  const bool back = code == ERROR_SUCCESS || PutFilesBack(saved);
  if (!saved.empty() && back) EndChangeFiles(journal_);
  if (code != ERROR_SUCCESS) return code;  // the caller rolls back
  last_number_ = number;
  Reset();
  return ERROR_SUCCESS;
}

void HistoryRegistry::RollbackTransaction() {
  inner_.RollbackTransaction();
  Reset();
}

}  // namespace zandrel::capture
