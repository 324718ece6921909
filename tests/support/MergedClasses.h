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

#include "registry/Registry.h"

namespace zandrel::testing {

class MergedClasses : public IRegistry {
 public:
  explicit MergedClasses(IRegistry& inner) : inner_(inner) {}

  LONG RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD ulOptions, REGSAM samDesired, HKEY* phkResult) override;
  LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, char* lpName, DWORD* lpcchName, DWORD* lpReserved, char* lpClass,
                     DWORD* lpcchClass, FILETIME* lpftLastWriteTime) override {
    return inner_.RegEnumKeyExA(hKey, dwIndex, lpName, lpcchName, lpReserved, lpClass, lpcchClass, lpftLastWriteTime);
  }
  LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, char* lpValueName, DWORD* lpcchValueName, DWORD* lpReserved,
                     DWORD* lpType, BYTE* lpData, DWORD* lpcbData) override {
    return inner_.RegEnumValueA(hKey, dwIndex, lpValueName, lpcchValueName, lpReserved, lpType, lpData, lpcbData);
  }
  LONG RegCreateKeyExA(HKEY hKey, const char* lpSubKey, DWORD Reserved, const char* lpClass, DWORD dwOptions,
                       REGSAM samDesired, const void* lpSecurityAttributes, HKEY* phkResult,
                       DWORD* lpdwDisposition) override;
  LONG RegSetValueExA(HKEY hKey, const char* lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                      DWORD cbData) override {
    return inner_.RegSetValueExA(hKey, lpValueName, Reserved, dwType, lpData, cbData);
  }
  LONG RegDeleteKeyA(HKEY hKey, const char* lpSubKey) override;
  LONG RegCloseKey(HKEY hKey) override { return inner_.RegCloseKey(hKey); }
  LONG RegDeleteValueA(HKEY hKey, const char* lpValueName) override {
    return inner_.RegDeleteValueA(hKey, lpValueName);
  }
  LONG BeginTransaction() override { return inner_.BeginTransaction(); }
  LONG CommitTransaction() override { return inner_.CommitTransaction(); }
  void RollbackTransaction() override { inner_.RollbackTransaction(); }

 private:
  bool AmongUsers(const std::string& path);
  IRegistry& inner_;
};

// HKEY_CURRENT_USER\Software\Classes\path, or with machine the machine's.
std::string UsersClasses(const std::string& path);
std::string MachinesClasses(const std::string& path);

}  // namespace zandrel::testing
