#include "support/MergedClasses.h"

#include <string>

namespace zandrel::testing {

std::string UsersClasses(const std::string& path) { return "Software\\Classes\\" + path; }
std::string MachinesClasses(const std::string& path) { return "SOFTWARE\\Classes\\" + path; }

bool MergedClasses::AmongUsers(const std::string& path) {
  HKEY key = 0;
  if (Target().RegOpenKeyExA(HKEY_CURRENT_USER, UsersClasses(path).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  Target().RegCloseKey(key);
  return true;
}

LONG MergedClasses::RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD ulOptions, REGSAM samDesired,
                                  HKEY* phkResult) {
  if (hKey != HKEY_CLASSES_ROOT || lpSubKey == nullptr || *lpSubKey == '\0')
    return Target().RegOpenKeyExA(hKey, lpSubKey, ulOptions, samDesired, phkResult);
  if (AmongUsers(lpSubKey))
    return Target().RegOpenKeyExA(HKEY_CURRENT_USER, UsersClasses(lpSubKey).c_str(), ulOptions, samDesired, phkResult);
  return Target().RegOpenKeyExA(HKEY_LOCAL_MACHINE, MachinesClasses(lpSubKey).c_str(), ulOptions, samDesired,
                                phkResult);
}

LONG MergedClasses::RegCreateKeyExA(HKEY hKey, const char* lpSubKey, DWORD Reserved, const char* lpClass,
                                    DWORD dwOptions, REGSAM samDesired, const void* lpSecurityAttributes,
                                    HKEY* phkResult, DWORD* lpdwDisposition) {
  if (hKey != HKEY_CLASSES_ROOT || lpSubKey == nullptr || *lpSubKey == '\0')
    return Target().RegCreateKeyExA(hKey, lpSubKey, Reserved, lpClass, dwOptions, samDesired, lpSecurityAttributes,
                                    phkResult, lpdwDisposition);
  const std::string path = lpSubKey;
  const bool users = AmongUsers(path.substr(0, path.find('\\')));
  return Target().RegCreateKeyExA(users ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE,
                                  (users ? UsersClasses(path) : MachinesClasses(path)).c_str(), Reserved, lpClass,
                                  dwOptions, samDesired, lpSecurityAttributes, phkResult, lpdwDisposition);
}

LONG MergedClasses::RegDeleteKeyA(HKEY hKey, const char* lpSubKey) {
  if (hKey != HKEY_CLASSES_ROOT || lpSubKey == nullptr || *lpSubKey == '\0')
    return Target().RegDeleteKeyA(hKey, lpSubKey);
  if (AmongUsers(lpSubKey)) return Target().RegDeleteKeyA(HKEY_CURRENT_USER, UsersClasses(lpSubKey).c_str());
  return Target().RegDeleteKeyA(HKEY_LOCAL_MACHINE, MachinesClasses(lpSubKey).c_str());
}

}  // namespace zandrel::testing
