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

class MergedClasses : public CallsOnly {
 public:
  explicit MergedClasses(IRegistry& inner) : CallsOnly(inner) {}

  LONG RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD ulOptions, REGSAM samDesired, HKEY* phkResult) override;
  LONG RegCreateKeyExA(HKEY hKey, const char* lpSubKey, DWORD Reserved, const char* lpClass, DWORD dwOptions,
                       REGSAM samDesired, const void* lpSecurityAttributes, HKEY* phkResult,
                       DWORD* lpdwDisposition) override;
  LONG RegDeleteKeyA(HKEY hKey, const char* lpSubKey) override;
  // Through the merged opens.
  LONG ExtensionsNamingTitle(const char* title, std::vector<std::string>* extensions) override {
    return IRegistry::ExtensionsNamingTitle(title, extensions);
  }

 private:
  bool AmongUsers(const std::string& path);
};

// HKEY_CURRENT_USER\Software\Classes\path, or with machine the machine's.
std::string UsersClasses(const std::string& path);
std::string MachinesClasses(const std::string& path);

}  // namespace zandrel::testing
