#include "support/FailingRegistry.h"

#include "support/Support.h"

namespace zandrel::testing {

namespace {
const char* Name(RegOp op) {
  const char* names[] = {"Open",  "EnumKey",     "EnumValue", "Create", "SetValue", "DeleteKey",
                         "Close", "DeleteValue", "Begin",     "Commit", "Rollback", "Naming"};
  int bit = 0;
  while ((1u << bit) != op) ++bit;
  return names[bit];
}
std::string Text(const char* s) { return s != nullptr ? s : ""; }
}  // namespace

void FailingRegistry::Arm(std::uint64_t n, LONG code, std::uint32_t ops, int kill) {
  fail_at_ = n;
  code_ = code;
  ops_ = ops;
  kill_ = kill;
  counted_ = 0;
}

std::uint64_t FailingRegistry::Count(std::uint32_t ops) const {
  std::uint64_t n = 0;
  for (const Call& c : log) n += (c.op & ops) != 0;
  return n;
}

std::vector<std::string> FailingRegistry::Lines(std::uint32_t ops) const {
  std::vector<std::string> lines;
  for (const Call& c : log)
    if ((c.op & ops) != 0) lines.push_back(std::string(Name(c.op)) + " " + c.text + " -> " + std::to_string(c.code));
  return lines;
}

// A close and a rollback always reach the registry (nothing leaks, and a
// rollback cannot fail); an injected failure only changes the code seen.
template <typename Real>
LONG FailingRegistry::Pass(RegOp op, std::string text, Real&& real, HKEY* out) {
  if (before) before(op);
  const bool chosen = fail_at_ != 0 && (op & ops_) != 0 && ++counted_ == fail_at_;
  if (chosen && kill_ == 1) KillThisProcess();
  LONG code;
  if (chosen && kill_ == 0 && op != Close && op != Rollback) {
    if (out != nullptr) *out = 0;
    code = code_;
  } else {
    code = real();
    if (chosen && kill_ == 0) code = code_;
  }
  if (chosen && kill_ == 2) KillThisProcess();
  injected_ = injected_ || (chosen && kill_ == 0);
  if (op == Begin && code == ERROR_SUCCESS) in_transaction_ = true;
  if ((op == Commit && code == ERROR_SUCCESS) || op == Rollback) in_transaction_ = false;
  log.push_back(Call{op, std::move(text), code});
  return code;
}

LONG FailingRegistry::RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD ulOptions, REGSAM samDesired,
                                    HKEY* phkResult) {
  return Pass(
      Open, Text(lpSubKey),
      [&] {
        if ((samDesired & refused_) == 0)
          return Target().RegOpenKeyExA(hKey, lpSubKey, ulOptions, samDesired, phkResult);
        *phkResult = 0;
        return ERROR_ACCESS_DENIED;
      },
      phkResult);
}
LONG FailingRegistry::RegEnumKeyExA(HKEY hKey, DWORD dwIndex, char* lpName, DWORD* lpcchName, DWORD* lpReserved,
                                    char* lpClass, DWORD* lpcchClass, FILETIME* lpftLastWriteTime) {
  return Pass(EnumKey, std::to_string(dwIndex), [&] {
    return Target().RegEnumKeyExA(hKey, dwIndex, lpName, lpcchName, lpReserved, lpClass, lpcchClass, lpftLastWriteTime);
  });
}
LONG FailingRegistry::RegEnumValueA(HKEY hKey, DWORD dwIndex, char* lpValueName, DWORD* lpcchValueName,
                                    DWORD* lpReserved, DWORD* lpType, BYTE* lpData, DWORD* lpcbData) {
  return Pass(EnumValue, std::to_string(dwIndex), [&] {
    return Target().RegEnumValueA(hKey, dwIndex, lpValueName, lpcchValueName, lpReserved, lpType, lpData, lpcbData);
  });
}
LONG FailingRegistry::RegCreateKeyExA(HKEY hKey, const char* lpSubKey, DWORD Reserved, const char* lpClass,
                                      DWORD dwOptions, REGSAM samDesired, const void* lpSecurityAttributes,
                                      HKEY* phkResult, DWORD* lpdwDisposition) {
  return Pass(
      Create, Text(lpSubKey),
      [&] {
        return Target().RegCreateKeyExA(hKey, lpSubKey, Reserved, lpClass, dwOptions, samDesired, lpSecurityAttributes,
                                        phkResult, lpdwDisposition);
      },
      phkResult);
}
LONG FailingRegistry::RegSetValueExA(HKEY hKey, const char* lpValueName, DWORD Reserved, DWORD dwType,
                                     const BYTE* lpData, DWORD cbData) {
  return Pass(SetValue, Text(lpValueName),
              [&] { return Target().RegSetValueExA(hKey, lpValueName, Reserved, dwType, lpData, cbData); });
}
LONG FailingRegistry::RegDeleteKeyA(HKEY hKey, const char* lpSubKey) {
  return Pass(DeleteKey, Text(lpSubKey), [&] { return Target().RegDeleteKeyA(hKey, lpSubKey); });
}
LONG FailingRegistry::RegCloseKey(HKEY hKey) {
  return Pass(Close, "", [&] { return Target().RegCloseKey(hKey); });
}
LONG FailingRegistry::RegDeleteValueA(HKEY hKey, const char* lpValueName) {
  return Pass(DeleteValue, Text(lpValueName), [&] { return Target().RegDeleteValueA(hKey, lpValueName); });
}
LONG FailingRegistry::BeginTransaction() {
  return Pass(Begin, "", [&] { return Target().BeginTransaction(); });
}
LONG FailingRegistry::CommitTransaction() {
  return Pass(Commit, "", [&] { return Target().CommitTransaction(); });
}
void FailingRegistry::RollbackTransaction() {
  Pass(Rollback, "", [&] {
    Target().RollbackTransaction();
    return ERROR_SUCCESS;
  });
}

LONG FailingRegistry::ExtensionsNamingTitle(const char* title, std::vector<std::string>* extensions) {
  extensions->clear();
  return Pass(Naming, Text(title), [&] { return Target().ExtensionsNamingTitle(title, extensions); });
}

}  // namespace zandrel::testing
