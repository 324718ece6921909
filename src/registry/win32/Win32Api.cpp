// The one file of the registry realisation that includes <windows.h>.
#include "registry/win32/Win32Api.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <iterator>

namespace zandrel::win32::api {
namespace {

// SYSTEM and administrators: all rights; no one else, not even to read.
constexpr char kAdministratorsFileDescriptor[] = "D:P(A;;FA;;;SY)(A;;FA;;;BA)";

// SYSTEM and administrators: all rights, for the folder and what it holds;
// users: read; nothing inherited from the parent (ProgramData lets users
// create files).
constexpr char kAdministratorsFolderDescriptor[] = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FRFX;;;BU)";

HKEY Key(Handle handle) { return reinterpret_cast<HKEY>(handle); }
HANDLE Object(Handle handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

Handle PredefinedKey(std::uint32_t root) {
  switch (root) {
    case 0x80000000u: return reinterpret_cast<Handle>(HKEY_CLASSES_ROOT);
    case 0x80000001u: return reinterpret_cast<Handle>(HKEY_CURRENT_USER);
    case 0x80000002u: return reinterpret_cast<Handle>(HKEY_LOCAL_MACHINE);
    case 0x80000003u: return reinterpret_cast<Handle>(HKEY_USERS);
    default: return 0;
  }
}

std::int32_t OpenKey(Handle parent, const char* path, std::uint32_t sam, Handle* out) {
  HKEY key = nullptr;
  const LONG code = RegOpenKeyExA(Key(parent), path, 0, sam, &key);
  *out = reinterpret_cast<Handle>(key);
  return code;
}

std::int32_t CreateKey(Handle parent, const char* path, std::uint32_t sam, Handle* out, std::uint32_t* disposition) {
  HKEY key = nullptr;
  DWORD how = 0;
  char no_class[] = "";
  const LONG code = RegCreateKeyExA(Key(parent), path, 0, no_class, REG_OPTION_NON_VOLATILE, sam, nullptr, &key, &how);
  *out = reinterpret_cast<Handle>(key);
  if (disposition) *disposition = how;
  return code;
}

std::int32_t EnumKey(Handle key, std::uint32_t index, char* name, std::uint32_t* name_length) {
  DWORD length = name_length ? *name_length : 0;
  const LONG code =
      RegEnumKeyExA(Key(key), index, name, name_length ? &length : nullptr, nullptr, nullptr, nullptr, nullptr);
  if (name_length) *name_length = length;
  return code;
}

std::int32_t EnumValue(Handle key, std::uint32_t index, char* name, std::uint32_t* name_length, std::uint32_t* type,
                       std::uint8_t* data, std::uint32_t* data_size) {
  DWORD length = name_length ? *name_length : 0;
  DWORD value_type = type ? *type : 0;
  DWORD size = data_size ? *data_size : 0;
  const LONG code = RegEnumValueA(Key(key), index, name, name_length ? &length : nullptr, nullptr,
                                  type ? &value_type : nullptr, data, data_size ? &size : nullptr);
  if (name_length) *name_length = length;
  if (type) *type = value_type;
  if (data_size) *data_size = size;
  return code;
}

std::int32_t SetValue(Handle key, const char* name, std::uint32_t type, const std::uint8_t* data, std::uint32_t size) {
  return RegSetValueExA(Key(key), name, 0, type, data, size);
}

std::int32_t DeleteKey(Handle parent, const char* path) { return RegDeleteKeyA(Key(parent), path); }

std::int32_t DeleteValue(Handle key, const char* name) { return RegDeleteValueA(Key(key), name); }

std::int32_t CloseKey(Handle key) { return RegCloseKey(Key(key)); }

std::int32_t QueryValue(Handle key, const char* name, std::uint32_t* type, std::string* data) {
  for (;;) {
    DWORD value_type = 0;
    DWORD size = 0;
    LONG code = RegQueryValueExA(Key(key), name, nullptr, &value_type, nullptr, &size);
    if (code != ERROR_SUCCESS) return code;
    data->assign(size, '\0');
    code = RegQueryValueExA(Key(key), name, nullptr, &value_type, reinterpret_cast<BYTE*>(data->data()), &size);
    if (code == ERROR_MORE_DATA) continue;  // it grew in between
    if (code != ERROR_SUCCESS) return code;
    data->resize(size);
    *type = value_type;
    return ERROR_SUCCESS;
  }
}

std::int32_t TakeAdministratorsLock(const std::string& path, Handle* out) {
  *out = 0;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(kAdministratorsFileDescriptor, SDDL_REVISION_1, &descriptor,
                                                            nullptr))
    return static_cast<std::int32_t>(GetLastError());
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  // Shared with no one: the open handle is the lock, and the system closes
  // it when its holder dies.
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, &attributes, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD error = file == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
  LocalFree(descriptor);
  if (error == ERROR_SHARING_VIOLATION) return ERROR_BUSY;
  // Without an administrator's rights the folder, or the file, is closed to
  // this copy: it may not change the machine's classes.
  if (error != ERROR_SUCCESS && !Elevated()) error = ERROR_ACCESS_DENIED;
  if (error == ERROR_SUCCESS) *out = reinterpret_cast<Handle>(file);
  return static_cast<std::int32_t>(error);
}

bool Elevated() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  const bool elevated =
      GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) && elevation.TokenIsElevated;
  CloseHandle(token);
  return elevated;
}

void CloseHandleValue(Handle handle) { CloseHandle(Object(handle)); }

std::string CommonAppDataFolder() {
  char path[MAX_PATH] = {};
  if (SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, path) != S_OK) return "";
  return path;
}

std::int32_t LoadIndirectString(const std::string& source, std::string* text) {
  // The W function: the indirect forms are defined over UTF-16.
  const int length = MultiByteToWideChar(CP_UTF8, 0, source.c_str(), -1, nullptr, 0);
  if (length <= 0) return static_cast<std::int32_t>(HRESULT_FROM_WIN32(GetLastError()));
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, source.c_str(), -1, wide.data(), length);
  wchar_t out[1024] = {};
  const HRESULT result = SHLoadIndirectString(wide.c_str(), out, static_cast<UINT>(std::size(out)), nullptr);
  if (FAILED(result)) return static_cast<std::int32_t>(result);
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, out, -1, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(bytes > 0 ? bytes : 1), '\0');
  WideCharToMultiByte(CP_UTF8, 0, out, -1, utf8.data(), bytes, nullptr, nullptr);
  utf8.resize(utf8.find('\0'));
  *text = utf8;
  return 0;
}

std::int32_t MakeAdministratorsFolder(const std::string& path) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(kAdministratorsFolderDescriptor, SDDL_REVISION_1,
                                                            &descriptor, nullptr))
    return static_cast<std::int32_t>(GetLastError());
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  const BOOL made = CreateDirectoryA(path.c_str(), &attributes);
  const DWORD error = made ? ERROR_SUCCESS : GetLastError();
  LocalFree(descriptor);
  return static_cast<std::int32_t>(error);
}

namespace {

// Whether `sid` is this process's own user.
bool IsThisUser(PSID sid) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  alignas(TOKEN_USER) char buffer[256];
  DWORD size = 0;
  const bool same = GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size) &&
                    EqualSid(sid, reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid);
  CloseHandle(token);
  return same;
}

bool IsTrustedInstaller(PSID sid) {
  PSID installer = nullptr;
  if (!ConvertStringSidToSidA("S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", &installer))
    return false;
  const bool same = EqualSid(sid, installer);
  LocalFree(installer);
  return same;
}

// Rights that let a holder change what the file or folder holds, or who may.
constexpr ACCESS_MASK kChangeRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_DELETE_CHILD |
                                      FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                                      GENERIC_ALL | MAXIMUM_ALLOWED;

}  // namespace

std::int32_t CheckAdministratorsOnly(const std::string& path) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD read =
      GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                            &owner, nullptr, &dacl, nullptr, &descriptor);
  if (read != ERROR_SUCCESS)
    return static_cast<std::int32_t>(read == ERROR_PATH_NOT_FOUND ? ERROR_FILE_NOT_FOUND : read);
  // An elevated copy's own files are its user's where the token's default
  // owner is the user (Wine); no other user's are trusted.
  const auto trusted = [](PSID sid) {
    return IsWellKnownSid(sid, WinBuiltinAdministratorsSid) || IsWellKnownSid(sid, WinLocalSystemSid) ||
           IsTrustedInstaller(sid) || (IsThisUser(sid) && Elevated());
  };
  std::int32_t verdict = ERROR_SUCCESS;
  if (!owner || !trusted(owner)) {
    verdict = ERROR_INVALID_OWNER;
  } else if (!dacl) {
    verdict = ERROR_INVALID_ACL;  // no DACL: everyone may do anything
  } else {
    for (DWORD i = 0; i < dacl->AceCount && verdict == ERROR_SUCCESS; ++i) {
      ACE_HEADER* header = nullptr;
      if (!GetAce(dacl, i, reinterpret_cast<void**>(&header))) {
        verdict = ERROR_INVALID_ACL;
        break;
      }
      if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) {
        // A deny takes nothing from the trusted; any other kind of grant is
        // not read here, so it is not trusted either.
        if (header->AceType != ACCESS_DENIED_ACE_TYPE) verdict = ERROR_INVALID_ACL;
        continue;
      }
      auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
      PSID sid = &ace->SidStart;
      // CREATOR OWNER, inherited only: what a trusted creator makes is its own.
      if ((header->AceFlags & INHERIT_ONLY_ACE) && IsWellKnownSid(sid, WinCreatorOwnerSid)) continue;
      if ((ace->Mask & kChangeRights) != 0 && !trusted(sid)) verdict = ERROR_INVALID_ACL;
    }
  }
  LocalFree(descriptor);
  return verdict;
}

std::int32_t FlushKey(Handle key) { return RegFlushKey(Key(key)); }

std::int32_t WatchKey(Handle key, Handle* event) {
  if (*event == 0) {
    // Reset by the wait that sees it set.
    HANDLE made = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (made == nullptr) return static_cast<std::int32_t>(GetLastError());
    *event = reinterpret_cast<Handle>(made);
  }
  return RegNotifyChangeKeyValue(Key(key), TRUE, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET, Object(*event),
                                 TRUE);
}

bool WatchFired(Handle event) { return WaitForSingleObject(Object(event), 0) == WAIT_OBJECT_0; }

std::int32_t OpenForAppend(const std::string& path, Handle* file) {
  const HANDLE opened =
      CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  *file = opened == INVALID_HANDLE_VALUE ? 0 : reinterpret_cast<Handle>(opened);
  return opened == INVALID_HANDLE_VALUE ? static_cast<std::int32_t>(GetLastError()) : ERROR_SUCCESS;
}

std::int32_t AppendDurably(Handle file, const std::string& bytes) {
  DWORD written = 0;
  if (WriteFile(Object(file), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
      written == bytes.size() && FlushFileBuffers(Object(file)))
    return ERROR_SUCCESS;
  const DWORD error = GetLastError();
  return static_cast<std::int32_t>(error == ERROR_SUCCESS ? ERROR_WRITE_FAULT : error);
}

std::int32_t ReadWholeFile(const std::string& path, std::string* bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_PATH_NOT_FOUND ? ERROR_FILE_NOT_FOUND : static_cast<std::int32_t>(error);
  }
  bytes->clear();
  char buffer[4096];
  DWORD got = 0;
  LONG code = ERROR_SUCCESS;
  for (;;) {
    if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
      code = static_cast<LONG>(GetLastError());
      break;
    }
    if (got == 0) break;
    bytes->append(buffer, got);
  }
  CloseHandle(file);
  return code;
}

std::int32_t RemoveFile(const std::string& path) {
  // A file deleted while a reader holds it keeps its name until the reader
  // lets go, and the next change could not make its record there: the name
  // is freed first.
  static unsigned removed = 0;
  const std::string aside =
      path + "." + std::to_string(GetCurrentProcessId()) + "." + std::to_string(++removed) + ".removed";
  const std::string& doomed = MoveFileExA(path.c_str(), aside.c_str(), 0) ? aside : path;
  if (DeleteFileA(doomed.c_str())) return ERROR_SUCCESS;
  const DWORD error = GetLastError();
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return ERROR_SUCCESS;
  return static_cast<std::int32_t>(error);
}

std::uint32_t ProcessId() { return GetCurrentProcessId(); }

void Sleep(std::uint32_t ms) { ::Sleep(ms); }

// Windows 8 and later (and Wine) accept this flag, so the result is not looked at.
void LoadDllsFromSystem32Only() { SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32); }

bool WriteStandard(int stream, const std::string& text) {
  HANDLE out = GetStdHandle(stream == 2 ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) return false;
  if (text.empty()) return true;
  DWORD mode = 0;
  if (GetConsoleMode(out, &mode)) {
    const int size = static_cast<int>(text.size());
    std::wstring wide(static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0)), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), static_cast<int>(wide.size()));
    for (std::size_t done = 0; done < wide.size();) {
      DWORD written = 0;
      if (!WriteConsoleW(out, wide.data() + done, static_cast<DWORD>(wide.size() - done), &written, nullptr) ||
          written == 0)
        return false;
      done += written;
    }
    return true;
  }
  for (std::size_t done = 0; done < text.size();) {
    DWORD written = 0;
    if (!WriteFile(out, text.data() + done, static_cast<DWORD>(text.size() - done), &written, nullptr) || written == 0)
      return false;
    done += written;
  }
  return true;
}

// --- A machine key only administrators and SYSTEM may open ---------------------

namespace {

// SYSTEM and administrators: all rights, on the key and every subkey; nothing
// inherited from SOFTWARE, which every user may read.
constexpr char kAdministratorsKeyDescriptor[] = "D:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)";

}  // namespace

std::int32_t MachineKeyDacl(const std::string& machine_path, std::string* sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const std::string name = "MACHINE\\" + machine_path;
  const DWORD code = GetNamedSecurityInfoA(name.c_str(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                           nullptr, nullptr, &descriptor);
  if (code != ERROR_SUCCESS) return static_cast<std::int32_t>(code);
  char* text = nullptr;
  const BOOL converted =
      ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                           &text, nullptr);
  const DWORD error = converted ? ERROR_SUCCESS : GetLastError();
  if (converted) *sddl = text;
  LocalFree(text);
  LocalFree(descriptor);
  return static_cast<std::int32_t>(error);
}

std::int32_t RestrictMachineKey(const std::string& machine_path) {
  PSECURITY_DESCRIPTOR wanted = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(kAdministratorsKeyDescriptor, SDDL_REVISION_1, &wanted,
                                                            nullptr))
    return static_cast<std::int32_t>(GetLastError());
  SECURITY_ATTRIBUTES attributes{sizeof attributes, wanted, FALSE};
  HKEY key = nullptr;
  // A user who is not an administrator may neither create the key nor open it
  // to change its descriptor: 5.
  LONG code = RegCreateKeyExA(HKEY_LOCAL_MACHINE, machine_path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                              READ_CONTROL | WRITE_DAC, &attributes, &key, nullptr);
  std::string now;
  if (code == ERROR_SUCCESS &&
      (MachineKeyDacl(machine_path, &now) != ERROR_SUCCESS || now != kAdministratorsKeyDescriptor)) {
    // Made before, or by another program, or made by a registry that does
    // not take a descriptor at creation (Wine): set here, and on every
    // subkey it has (Windows propagates the inherited entries).
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    GetSecurityDescriptorDacl(wanted, &present, &dacl, &defaulted);
    std::string name = "MACHINE\\" + machine_path;
    code = static_cast<LONG>(SetNamedSecurityInfoA(name.data(), SE_REGISTRY_KEY,
                                                   DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                                   nullptr, nullptr, dacl, nullptr));
  }
  if (key != nullptr) RegCloseKey(key);
  LocalFree(wanted);
  return code;
}

}  // namespace zandrel::win32::api
