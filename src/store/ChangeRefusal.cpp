#include "store/ChangeRefusal.h"

namespace zandrel::store {

namespace {

// Rights beyond reading: setting values, creating subkeys or links,
// deleting, changing the key's security.
constexpr REGSAM kChangingRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | 0x000D0000;

}  // namespace

std::string RefusalText(LONG code) {
  switch (code) {
    case ERROR_BUSY: return "Ассоциации сейчас изменяет другая копия Zandrel. Повторите попытку позже.";
#ifdef _WIN32
    case ERROR_ACCESS_DENIED:
      return "Для изменения ассоциаций нужны права администратора. Запустите Zandrel от имени администратора.";
#endif
    default: return "";
  }
}

LONG RefusalWatch::Note(LONG code, bool changing) {
  if (code_ == 0 && (code == ERROR_BUSY || (code == ERROR_ACCESS_DENIED && changing))) code_ = code;
  return code;
}

LONG RefusalWatch::RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD ulOptions, REGSAM samDesired, HKEY* phkResult) {
  return Note(Target().RegOpenKeyExA(hKey, lpSubKey, ulOptions, samDesired, phkResult),
              (samDesired & kChangingRights) != 0);
}

LONG RefusalWatch::RegEnumKeyExA(HKEY hKey, DWORD dwIndex, char* lpName, DWORD* lpcchName, DWORD* lpReserved,
                                 char* lpClass, DWORD* lpcchClass, FILETIME* lpftLastWriteTime) {
  return Note(Target().RegEnumKeyExA(hKey, dwIndex, lpName, lpcchName, lpReserved, lpClass, lpcchClass,
                                     lpftLastWriteTime),
              false);
}

LONG RefusalWatch::ExtensionsNamingTitle(const char* title, std::vector<std::string>* extensions) {
  return Note(Target().ExtensionsNamingTitle(title, extensions), false);
}

LONG RefusalWatch::RegEnumValueA(HKEY hKey, DWORD dwIndex, char* lpValueName, DWORD* lpcchValueName, DWORD* lpReserved,
                                 DWORD* lpType, BYTE* lpData, DWORD* lpcbData) {
  return Note(Target().RegEnumValueA(hKey, dwIndex, lpValueName, lpcchValueName, lpReserved, lpType, lpData, lpcbData),
              false);
}

LONG RefusalWatch::RegCreateKeyExA(HKEY hKey, const char* lpSubKey, DWORD Reserved, const char* lpClass,
                                   DWORD dwOptions, REGSAM samDesired, const void* lpSecurityAttributes,
                                   HKEY* phkResult, DWORD* lpdwDisposition) {
  return Note(Target().RegCreateKeyExA(hKey, lpSubKey, Reserved, lpClass, dwOptions, samDesired, lpSecurityAttributes,
                                       phkResult, lpdwDisposition),
              true);
}

LONG RefusalWatch::RegSetValueExA(HKEY hKey, const char* lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                                  DWORD cbData) {
  return Note(Target().RegSetValueExA(hKey, lpValueName, Reserved, dwType, lpData, cbData), true);
}

LONG RefusalWatch::RegDeleteKeyA(HKEY hKey, const char* lpSubKey) {
  return Note(Target().RegDeleteKeyA(hKey, lpSubKey), true);
}

LONG RefusalWatch::RegDeleteValueA(HKEY hKey, const char* lpValueName) {
  return Note(Target().RegDeleteValueA(hKey, lpValueName), true);
}

LONG RefusalWatch::ApplyChanges(const std::deque<registry::Change>& changes, const registry::Change** failed) {
  return Note(Target().ApplyChanges(changes, failed), true);
}

LONG RefusalWatch::DeleteTrees(const std::vector<registry::KeyPath>& keys,
                               const std::function<void(std::size_t keys)>& deleted) {
  return Note(Target().DeleteTrees(keys, deleted), true);
}

LONG RefusalWatch::BeginTransaction() { return Note(Target().BeginTransaction(), true); }

LONG RefusalWatch::CommitTransaction() { return Note(Target().CommitTransaction(), true); }

}  // namespace zandrel::store
