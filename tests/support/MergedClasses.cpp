#include "support/MergedClasses.h"

#include <string>

namespace zandrel::testing {

std::string UsersClasses(const std::string& path) { return "Software\\Classes\\" + path; }
std::string MachinesClasses(const std::string& path) { return "SOFTWARE\\Classes\\" + path; }

bool MergedClasses::AmongUsers(const std::string& path) {
  HKEY key = 0;
  if (inner_.RegOpenKeyExA(HKEY_CURRENT_USER, UsersClasses(path).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  inner_.RegCloseKey(key);
  return true;
}

LONG MergedClasses::RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD ulOptions, REGSAM samDesired,
                                  HKEY* phkResult) {
  if (hKey != HKEY_CLASSES_ROOT || lpSubKey == nullptr || *lpSubKey == '\0')
    return inner_.RegOpenKeyExA(hKey, lpSubKey, ulOptions, samDesired, phkResult);
  if (AmongUsers(lpSubKey))
    return inner_.RegOpenKeyExA(HKEY_CURRENT_USER, UsersClasses(lpSubKey).c_str(), ulOptions, samDesired, phkResult);
  return inner_.RegOpenKeyExA(HKEY_LOCAL_MACHINE, MachinesClasses(lpSubKey).c_str(), ulOptions, samDesired, phkResult);
}

LONG MergedClasses::RegCreateKeyExA(HKEY hKey, const char* lpSubKey, DWORD Reserved, const char* lpClass,
                                    DWORD dwOptions, REGSAM samDesired, const void* lpSecurityAttributes,
                                    HKEY* phkResult, DWORD* lpdwDisposition) {
  if (hKey != HKEY_CLASSES_ROOT || lpSubKey == nullptr || *lpSubKey == '\0')
    return inner_.RegCreateKeyExA(hKey, lpSubKey, Reserved, lpClass, dwOptions, samDesired, lpSecurityAttributes,
                                  phkResult, lpdwDisposition);
  const std::string path = lpSubKey;
  const bool users = AmongUsers(path.substr(0, path.find('\\')));
  return inner_.RegCreateKeyExA(users ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE,
                                (users ? UsersClasses(path) : MachinesClasses(path)).c_str(), Reserved, lpClass,
                                dwOptions, samDesired, lpSecurityAttributes, phkResult, lpdwDisposition);
}

LONG MergedClasses::RegDeleteKeyA(HKEY hKey, const char* lpSubKey) {
  if (hKey != HKEY_CLASSES_ROOT || lpSubKey == nullptr || *lpSubKey == '\0') return inner_.RegDeleteKeyA(hKey, lpSubKey);
  if (AmongUsers(lpSubKey)) return inner_.RegDeleteKeyA(HKEY_CURRENT_USER, UsersClasses(lpSubKey).c_str());
  return inner_.RegDeleteKeyA(HKEY_LOCAL_MACHINE, MachinesClasses(lpSubKey).c_str());
}

}  // namespace zandrel::testing
