#include "support/Win32Support.h"

#include <cstdlib>
#include <thread>

#include "support/Support.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

// Outside namespace zandrel, whose HKEY is the registry interface's own.
namespace {

const char kParent[] = "Software\\ZandrelTests";
std::string current;

void Forget(const std::string& path) { RegDeleteTreeA(HKEY_CURRENT_USER, path.c_str()); }

void Drop() {
  RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
  RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
  RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
  if (!current.empty()) Forget(std::string(kParent) + "\\" + current);
  current.clear();
}

void Redirect(const std::string& path, const std::string& user_key = "User") {
  HKEY machine = nullptr;
  HKEY classes = nullptr;
  HKEY user = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &machine, nullptr) !=
          ERROR_SUCCESS ||
      RegCreateKeyExA(machine, "SOFTWARE\\Classes", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &classes, nullptr) !=
          ERROR_SUCCESS ||
      RegCreateKeyExA(machine, user_key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &user, nullptr) !=
          ERROR_SUCCESS ||
      RegOverridePredefKey(HKEY_LOCAL_MACHINE, machine) != ERROR_SUCCESS ||
      RegOverridePredefKey(HKEY_CLASSES_ROOT, classes) != ERROR_SUCCESS ||
      RegOverridePredefKey(HKEY_CURRENT_USER, user) != ERROR_SUCCESS)
    std::abort();  // a test let loose on the machine's own classes would be worse
  RegCloseKey(user);
  RegCloseKey(classes);
  RegCloseKey(machine);
}

}  // namespace

namespace zandrel::testing {

void EnterRegistrySandbox(const std::string& name) {
  static const bool registered = std::atexit(Drop) == 0;
  (void)registered;
  Drop();
  const std::string path = std::string(kParent) + "\\" + name;
  Forget(path);
  Redirect(path);
  current = name;
}

void JoinRegistrySandbox(const std::string& name, const std::string& user) {
  Redirect(std::string(kParent) + "\\" + name, user);
}

void KillThisProcess() {
  TerminateProcess(GetCurrentProcess(), 99);
  std::abort();
}

std::string ThisProgram() {
  char path[MAX_PATH * 2] = {};
  GetModuleFileNameA(nullptr, path, sizeof path);
  return path;
}

std::string ThisUserSid() {
  HANDLE token = nullptr;
  std::string text;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return text;
  alignas(TOKEN_USER) char buffer[256];
  ::DWORD size = 0;
  char* sid = nullptr;
  if (GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size) &&
      ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &sid)) {
    text = sid;
    LocalFree(sid);
  }
  CloseHandle(token);
  return text;
}

bool SetFileDescriptor(const std::string& path, const std::string& sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
    return false;
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
  const bool set = SetNamedSecurityInfoA(const_cast<char*>(path.c_str()), SE_FILE_OBJECT,
                                         DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                                         nullptr, present ? dacl : nullptr, nullptr) == ERROR_SUCCESS;
  LocalFree(descriptor);
  return set;
}

std::string FileDescriptor(const std::string& path) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, nullptr,
                            &descriptor) != ERROR_SUCCESS)
    return "unreadable";
  char* sddl = nullptr;
  std::string text = "unreadable";
  if (ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                           &sddl, nullptr)) {
    text = sddl;
    LocalFree(sddl);
  }
  LocalFree(descriptor);
  return text;
}

std::string ManifestOf(const std::string& program) {
  HMODULE module = LoadLibraryExA(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (module == nullptr) return "";
  std::string text;
  if (HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24))) {
    const void* bytes = LockResource(LoadResource(module, found));
    if (bytes != nullptr) text.assign(static_cast<const char*>(bytes), SizeofResource(module, found));
  }
  FreeLibrary(module);
  return text;
}

bool RunningUnderWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace zandrel::testing
