// HKEY_CLASSES_ROOT as Windows shows it: the user's classes
// (HKEY_CURRENT_USER\Software\Classes) laid over the machine's
// (HKEY_LOCAL_MACHINE\SOFTWARE\Classes). Neither the hive nor Wine 8 merges
// (their HKEY_CLASSES_ROOT is the machine's classes alone); this wrapper
// gives the merge to the calls made on HKEY_CLASSES_ROOT itself:
//   open: the user's key when it exists there, else the machine's;
//   create: where the key's first component exists among the user's
//   classes, there (values land with it); a new key goes to the machine's;
//   delete: the user's key when it exists there, else the machine's.
// Every other call, and every call on a handle, passes through.
#pragma once

#include <string>

#include "registry/ForwardingRegistry.h"

namespace zandrel::testing {

// HKEY_CURRENT_USER\Software\Classes\path.
inline std::string UsersClasses(const std::string& path) { return "Software\\Classes\\" + path; }

class MergedClasses : public CallsOnly {
 public:
  explicit MergedClasses(IRegistry& inner) : CallsOnly(inner) {}

  LONG RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD ulOptions, REGSAM samDesired, HKEY* phkResult) override {
    if (Passes(hKey, lpSubKey)) return Target().RegOpenKeyExA(hKey, lpSubKey, ulOptions, samDesired, phkResult);
    const bool users = AmongUsers(lpSubKey);
    return Target().RegOpenKeyExA(Root(users), Path(users, lpSubKey).c_str(), ulOptions, samDesired, phkResult);
  }
  LONG RegCreateKeyExA(HKEY hKey, const char* lpSubKey, DWORD Reserved, const char* lpClass, DWORD dwOptions,
                       REGSAM samDesired, const void* lpSecurityAttributes, HKEY* phkResult,
                       DWORD* lpdwDisposition) override {
    if (Passes(hKey, lpSubKey))
      return Target().RegCreateKeyExA(hKey, lpSubKey, Reserved, lpClass, dwOptions, samDesired, lpSecurityAttributes,
                                      phkResult, lpdwDisposition);
    const std::string path = lpSubKey;
    const bool users = AmongUsers(path.substr(0, path.find('\\')));
    return Target().RegCreateKeyExA(Root(users), Path(users, path).c_str(), Reserved, lpClass, dwOptions, samDesired,
                                    lpSecurityAttributes, phkResult, lpdwDisposition);
  }
  LONG RegDeleteKeyA(HKEY hKey, const char* lpSubKey) override {
    if (Passes(hKey, lpSubKey)) return Target().RegDeleteKeyA(hKey, lpSubKey);
    const bool users = AmongUsers(lpSubKey);
    return Target().RegDeleteKeyA(Root(users), Path(users, lpSubKey).c_str());
  }
  // Through the merged opens.
  LONG ExtensionsNamingTitle(const char* title, std::vector<std::string>* extensions) override {
    return IRegistry::ExtensionsNamingTitle(title, extensions);
  }

 private:
  static bool Passes(HKEY hKey, const char* lpSubKey) {
    return hKey != HKEY_CLASSES_ROOT || lpSubKey == nullptr || *lpSubKey == '\0';
  }
  static HKEY Root(bool users) { return users ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE; }
  static std::string Path(bool users, const std::string& path) {
    return users ? UsersClasses(path) : "SOFTWARE\\Classes\\" + path;
  }
  bool AmongUsers(const std::string& path) {
    HKEY key = 0;
    if (Target().RegOpenKeyExA(HKEY_CURRENT_USER, UsersClasses(path).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
      return false;
    Target().RegCloseKey(key);
    return true;
  }
};

}  // namespace zandrel::testing
