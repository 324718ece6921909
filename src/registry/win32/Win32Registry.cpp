#include "registry/win32/Win32Registry.h"

#include "capture/UndoJournal.h"
#include "registry/Codes.h"
#include "registry/Wait.h"
#include "registry/win32/Win32Api.h"

namespace zandrel::win32 {

using capture::UndoStore;

namespace {

constexpr LONG ERROR_CALL_NOT_IMPLEMENTED_CODE = 120;
constexpr DWORD kLockTimeoutMs = 10000;
constexpr LONG kUntrustedRecord = 1307;  // ERROR_INVALID_OWNER
constexpr LONG kOthersMayWrite = 1336;   // ERROR_INVALID_ACL

bool IsRoot(HKEY key) { return key >= HKEY_CLASSES_ROOT && key <= HKEY_USERS; }

std::string FolderOf(const std::string& path) { return path.substr(0, path.find_last_of('\\')); }

class FileUndoStore : public UndoStore {
 public:
  explicit FileUndoStore(UndoPlace place) : place_(std::move(place)) {}
  ~FileUndoStore() override {
    CloseRecord();
    Unlock();
  }
  // The lock file is made at the first change, not at start: a copy that
  // only lists never needs it.
  LONG Lock(bool wait) override {
    for (DWORD waited = 0;; waited += registry::kWaitStepMs) {
      const LONG code = api::TakeAdministratorsLock(place_.lock_path, &lock_);
      if (code != ERROR_BUSY || !wait || waited + registry::kWaitStepMs >= kLockTimeoutMs) return code;
      // In steps, so that the program's windows stay drawn while it waits.
      registry::Waiting();
      api::Sleep(registry::kWaitStepMs);
    }
  }
  void Unlock() override {
    CloseRecord();
    if (lock_) api::CloseHandleValue(lock_);
    lock_ = 0;
  }
  // The record stays open from a change's first entry to its end.
  LONG Append(const std::string& bytes) override {
    if (!file_)
      if (const LONG code = api::OpenForAppend(place_.record_path, &file_); code != ERROR_SUCCESS) return code;
    return api::AppendDurably(file_, bytes);
  }
  LONG Read(std::string* bytes) override {
    const LONG code = api::ReadWholeFile(place_.record_path, bytes);
    if (code != ERROR_SUCCESS) return code;
    const LONG trusted = api::CheckAdministratorsOnly(place_.record_path);
    return trusted == ERROR_SUCCESS || trusted == ERROR_FILE_NOT_FOUND ? trusted : kUntrustedRecord;
  }
  LONG Remove() override {
    CloseRecord();
    return api::RemoveFile(place_.record_path);
  }

 private:
  void CloseRecord() {
    if (file_) api::CloseHandleValue(file_);
    file_ = 0;
  }

  UndoPlace place_;
  api::Handle lock_ = 0;
  api::Handle file_ = 0;
};

}  // namespace

Win32Registry::Win32Registry() = default;

Win32Registry::~Win32Registry() {
  for (const auto& [handle, real] : keys_) api::CloseKey(real);
  for (const Watch& watch : watches_) {
    api::CloseKey(watch.key);  // ends its notice
    if (watch.event) api::CloseHandleValue(watch.event);
  }
}

LONG Win32Registry::QueryChangeCounter(std::uint64_t* counter) {
  constexpr std::uint32_t kNotify = 0x0010;  // KEY_NOTIFY
  if (!watching_) {
    watching_ = true;
    for (const auto& [root, path] :
         {std::pair{HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes"}, std::pair{HKEY_CURRENT_USER, "Software\\Classes"}}) {
      Watch watch;
      // A user without classes of their own has nothing to watch.
      if (api::OpenKey(api::PredefinedKey(root), path, kNotify, &watch.key) != ERROR_SUCCESS) continue;
      if (api::WatchKey(watch.key, &watch.event) != ERROR_SUCCESS) {
        api::CloseKey(watch.key);
        if (watch.event) api::CloseHandleValue(watch.event);
        continue;
      }
      watches_.push_back(watch);
    }
  }
  if (watches_.empty()) return ERROR_CALL_NOT_IMPLEMENTED_CODE;
  for (Watch& watch : watches_)
    if (api::WatchFired(watch.event)) {
      ++changes_;
      api::WatchKey(watch.key, &watch.event);  // a notice fires once: armed again
    }
  *counter = changes_;
  return ERROR_SUCCESS;
}

LONG Win32Registry::OwnWrite(LONG code) {
  for (Watch& watch : watches_)
    if (api::WatchFired(watch.event)) api::WatchKey(watch.key, &watch.event);
  return code;
}

std::uintptr_t Win32Registry::Real(HKEY key) const {
  if (IsRoot(key)) return api::PredefinedKey(key);
  const auto found = keys_.find(key);
  return found == keys_.end() ? 0 : found->second;
}

HKEY Win32Registry::Adopt(std::uintptr_t real) {
  for (HKEY root = HKEY_CLASSES_ROOT; root <= HKEY_USERS; ++root)
    if (api::PredefinedKey(root) == real) return root;
  while (next_ == 0 || IsRoot(next_) || keys_.count(next_) != 0) next_ = next_ >= HKEY_CLASSES_ROOT ? 1 : next_ + 1;
  keys_[next_] = real;
  return next_++;
}

LONG Win32Registry::RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD, REGSAM samDesired, HKEY* phkResult) {
  const std::uintptr_t parent = Real(hKey);
  if (phkResult == nullptr) return ERROR_INVALID_HANDLE;
  if (parent == 0) {
    if (hKey != 0) *phkResult = 0;  // as Windows: only a null key leaves it untouched
    return ERROR_INVALID_HANDLE;
  }
  if (IsRoot(hKey) && (lpSubKey == nullptr || *lpSubKey == '\0')) {
    *phkResult = hKey;  // a root opens as itself, also when redirected
    return ERROR_SUCCESS;
  }
  api::Handle real = 0;
  const LONG code = api::OpenKey(parent, lpSubKey, samDesired, &real);
  *phkResult = code == ERROR_SUCCESS ? Adopt(real) : 0;
  return code;
}

LONG Win32Registry::RegEnumKeyExA(HKEY hKey, DWORD dwIndex, char* lpName, DWORD* lpcchName, DWORD*, char*,
                                  DWORD* lpcchClass, FILETIME* lpftLastWriteTime) {
  const std::uintptr_t key = Real(hKey);
  if (key == 0) return ERROR_INVALID_HANDLE;
  if (lpcchClass) *lpcchClass = 0;
  if (lpftLastWriteTime) *lpftLastWriteTime = FILETIME{};
  return api::EnumKey(key, dwIndex, lpName, lpcchName);
}

LONG Win32Registry::RegEnumValueA(HKEY hKey, DWORD dwIndex, char* lpValueName, DWORD* lpcchValueName, DWORD*,
                                  DWORD* lpType, BYTE* lpData, DWORD* lpcbData) {
  const std::uintptr_t key = Real(hKey);
  if (key == 0) return ERROR_INVALID_HANDLE;
  return api::EnumValue(key, dwIndex, lpValueName, lpcchValueName, lpType, lpData, lpcbData);
}

LONG Win32Registry::RegCreateKeyExA(HKEY hKey, const char* lpSubKey, DWORD, const char*, DWORD, REGSAM samDesired,
                                    const void*, HKEY* phkResult, DWORD* lpdwDisposition) {
  const std::uintptr_t parent = Real(hKey);
  if (phkResult == nullptr) return ERROR_INVALID_HANDLE;
  if (parent == 0) {
    *phkResult = 0;
    return ERROR_INVALID_HANDLE;
  }
  api::Handle real = 0;
  const LONG code = api::CreateKey(parent, lpSubKey, samDesired, &real, lpdwDisposition);
  *phkResult = code == ERROR_SUCCESS ? Adopt(real) : 0;
  return OwnWrite(code);
}

LONG Win32Registry::RegSetValueExA(HKEY hKey, const char* lpValueName, DWORD, DWORD dwType, const BYTE* lpData,
                                   DWORD cbData) {
  const std::uintptr_t key = Real(hKey);
  if (key == 0) return ERROR_INVALID_HANDLE;
  return OwnWrite(api::SetValue(key, lpValueName, dwType, lpData, cbData));
}

LONG Win32Registry::RegDeleteKeyA(HKEY hKey, const char* lpSubKey) {
  const std::uintptr_t key = Real(hKey);
  if (key == 0) return ERROR_INVALID_HANDLE;
  return OwnWrite(api::DeleteKey(key, lpSubKey));
}

LONG Win32Registry::RegCloseKey(HKEY hKey) {
  if (IsRoot(hKey)) return ERROR_SUCCESS;
  const auto found = keys_.find(hKey);
  if (found == keys_.end()) return ERROR_INVALID_HANDLE;
  const LONG code = api::CloseKey(found->second);
  keys_.erase(found);
  return code;
}

LONG Win32Registry::RegDeleteValueA(HKEY hKey, const char* lpValueName) {
  const std::uintptr_t key = Real(hKey);
  if (key == 0) return ERROR_INVALID_HANDLE;
  return OwnWrite(api::DeleteValue(key, lpValueName));
}

LONG Win32Registry::RegFlushKey(HKEY hKey) {
  const std::uintptr_t key = Real(hKey);
  if (key == 0) return ERROR_INVALID_HANDLE;
  return api::FlushKey(key);
}

bool Win32Registry::LoadIndirectString(const std::string& source, std::string* text) {
  return api::LoadIndirectString(source, text) == 0;
}

LONG Win32Registry::BeginTransaction() { return ERROR_CALL_NOT_IMPLEMENTED_CODE; }
LONG Win32Registry::CommitTransaction() { return ERROR_CALL_NOT_IMPLEMENTED_CODE; }
void Win32Registry::RollbackTransaction() {}

UndoPlace DefaultUndoPlace() {
  std::string folder = api::CommonAppDataFolder();
  // The program's key: the history of changes (capture/ChangeHistory.h) is below it.
  if (folder.empty()) return UndoPlace{"", "", "SOFTWARE\\Zandrel"};
  return UndoPlace{folder + "\\Zandrel\\undo-record", folder + "\\Zandrel\\undo-lock", "SOFTWARE\\Zandrel"};
}

status::Status OpenUndoStore(const UndoPlace& place, std::unique_ptr<UndoStore>* store) {
  store->reset();
  if (place.record_path.empty())
    return {status::Status::kNotFound, "cannot find the machine's application data folder for the undo record"};
  // The record tells a later administrator's copy what to write into the
  // machine's registry: its folder must be theirs alone. Only an elevated
  // copy makes it; a copy without the rights has no change to record.
  const std::string folder = FolderOf(place.record_path);
  LONG trusted = api::CheckAdministratorsOnly(folder);
  if (trusted == ERROR_FILE_NOT_FOUND && api::Elevated()) {
    api::MakeAdministratorsFolder(folder);
    trusted = api::CheckAdministratorsOnly(folder);  // also when someone made it meanwhile
  }
  if (trusted != ERROR_SUCCESS && trusted != ERROR_FILE_NOT_FOUND)
    return {status::Status::kFailed,
            "the folder " + folder + " of the undo record " +
                (trusted == kUntrustedRecord ? std::string("belongs to neither the administrators nor SYSTEM")
                 : trusted == kOthersMayWrite
                     ? std::string("may be changed by others than the administrators and SYSTEM")
                     : "cannot be checked: " + registry::DescribeCode(trusted)) +
                ": it is not used. Delete it"};
  *store = std::make_unique<FileUndoStore>(place);
  return {};
}

status::Status OpenWindowsRegistry(const UndoPlace& place, std::unique_ptr<IRegistry>* registry) {
  registry->reset();
  std::unique_ptr<UndoStore> store;
  if (status::Status opened = OpenUndoStore(place, &store); !opened.Ok()) return opened;
  if (!place.private_key.empty())
    if (const LONG code = api::RestrictMachineKey(place.private_key);
        code != ERROR_SUCCESS && code != ERROR_ACCESS_DENIED)
      return {status::Status::kFailed, "cannot make HKEY_LOCAL_MACHINE\\" + place.private_key +
                                           " the administrators' alone: " + registry::DescribeCode(code)};
  std::string bytes;
  if (store->Read(&bytes) == kUntrustedRecord)
    return {status::Status::kFailed, "the undo record " + place.record_path +
                                         " may be changed by others than the administrators and SYSTEM: it is not "
                                         "replayed. Delete it"};
  return capture::StartJournalled(std::make_unique<Win32Registry>(), std::move(store), place.record_path, registry,
                                  place.keys);
}

}  // namespace zandrel::win32
