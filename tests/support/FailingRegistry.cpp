#include "support/FailingRegistry.h"

namespace zandrel::testing {

const char* OpName(RegOp op) {
  switch (op) {
    case RegOp::Open: return "Open";
    case RegOp::EnumKey: return "EnumKey";
    case RegOp::EnumValue: return "EnumValue";
    case RegOp::Create: return "Create";
    case RegOp::SetValue: return "SetValue";
    case RegOp::DeleteKey: return "DeleteKey";
    case RegOp::Close: return "Close";
    case RegOp::DeleteValue: return "DeleteValue";
    case RegOp::Begin: return "Begin";
    case RegOp::Commit: return "Commit";
    case RegOp::Rollback: return "Rollback";
  }
  return "?";
}

void FailingRegistry::FailNth(std::uint64_t n, LONG code, std::uint32_t ops, bool sticky) {
  fail_at_ = n;
  fail_code_ = code;
  fail_ops_ = ops;
  sticky_ = sticky;
  counted_ = 0;
}

std::uint64_t FailingRegistry::CallCount(std::uint32_t ops) const {
  std::uint64_t n = 0;
  for (const Call& c : log)
    if ((Ops(c.op) & ops) != 0) ++n;
  return n;
}

std::vector<std::string> FailingRegistry::LogLines(std::uint32_t ops) const {
  std::vector<std::string> lines;
  for (const Call& c : log)
    if ((Ops(c.op) & ops) != 0)
      lines.push_back(std::string(OpName(c.op)) + " " + c.text + " -> " + std::to_string(c.code));
  return lines;
}

bool FailingRegistry::ShouldFail(RegOp op, LONG* code) {
  if (fail_at_ == 0 || (Ops(op) & fail_ops_) == 0) return false;
  ++counted_;
  if (counted_ == fail_at_ || (sticky_ && counted_ > fail_at_)) {
    *code = fail_code_;
    ++injected_count_;
    return true;
  }
  return false;
}

LONG FailingRegistry::Record(RegOp op, std::string text, LONG code, bool injected) {
  log.push_back(Call{op, std::move(text), code, injected});
  return code;
}

namespace {
std::string Text(const char* s) { return s != nullptr ? s : ""; }
}  // namespace

LONG FailingRegistry::RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD ulOptions, REGSAM samDesired,
                                    HKEY* phkResult) {
  LONG code = ERROR_ACCESS_DENIED;
  if ((samDesired & refused_rights_) != 0 || ShouldFail(RegOp::Open, &code)) {
    if (phkResult != nullptr) *phkResult = 0;
    return Record(RegOp::Open, Text(lpSubKey), code, true);
  }
  return Record(RegOp::Open, Text(lpSubKey), inner_.RegOpenKeyExA(hKey, lpSubKey, ulOptions, samDesired, phkResult),
                false);
}

LONG FailingRegistry::RegEnumKeyExA(HKEY hKey, DWORD dwIndex, char* lpName, DWORD* lpcchName, DWORD* lpReserved,
                                    char* lpClass, DWORD* lpcchClass, FILETIME* lpftLastWriteTime) {
  LONG code;
  if (ShouldFail(RegOp::EnumKey, &code)) return Record(RegOp::EnumKey, std::to_string(dwIndex), code, true);
  return Record(RegOp::EnumKey, std::to_string(dwIndex),
                inner_.RegEnumKeyExA(hKey, dwIndex, lpName, lpcchName, lpReserved, lpClass, lpcchClass,
                                     lpftLastWriteTime),
                false);
}

LONG FailingRegistry::RegEnumValueA(HKEY hKey, DWORD dwIndex, char* lpValueName, DWORD* lpcchValueName,
                                    DWORD* lpReserved, DWORD* lpType, BYTE* lpData, DWORD* lpcbData) {
  LONG code;
  if (ShouldFail(RegOp::EnumValue, &code)) return Record(RegOp::EnumValue, std::to_string(dwIndex), code, true);
  return Record(RegOp::EnumValue, std::to_string(dwIndex),
                inner_.RegEnumValueA(hKey, dwIndex, lpValueName, lpcchValueName, lpReserved, lpType, lpData,
                                     lpcbData),
                false);
}

LONG FailingRegistry::RegCreateKeyExA(HKEY hKey, const char* lpSubKey, DWORD Reserved, const char* lpClass,
                                      DWORD dwOptions, REGSAM samDesired, const void* lpSecurityAttributes,
                                      HKEY* phkResult, DWORD* lpdwDisposition) {
  LONG code;
  if (ShouldFail(RegOp::Create, &code)) {
    if (phkResult != nullptr) *phkResult = 0;
    return Record(RegOp::Create, Text(lpSubKey), code, true);
  }
  return Record(RegOp::Create, Text(lpSubKey),
                inner_.RegCreateKeyExA(hKey, lpSubKey, Reserved, lpClass, dwOptions, samDesired,
                                       lpSecurityAttributes, phkResult, lpdwDisposition),
                false);
}

LONG FailingRegistry::RegSetValueExA(HKEY hKey, const char* lpValueName, DWORD Reserved, DWORD dwType,
                                     const BYTE* lpData, DWORD cbData) {
  LONG code;
  if (ShouldFail(RegOp::SetValue, &code)) return Record(RegOp::SetValue, Text(lpValueName), code, true);
  return Record(RegOp::SetValue, Text(lpValueName),
                inner_.RegSetValueExA(hKey, lpValueName, Reserved, dwType, lpData, cbData), false);
}

LONG FailingRegistry::RegDeleteKeyA(HKEY hKey, const char* lpSubKey) {
  LONG code;
  if (ShouldFail(RegOp::DeleteKey, &code)) return Record(RegOp::DeleteKey, Text(lpSubKey), code, true);
  return Record(RegOp::DeleteKey, Text(lpSubKey), inner_.RegDeleteKeyA(hKey, lpSubKey), false);
}

LONG FailingRegistry::RegCloseKey(HKEY hKey) {
  // A close always reaches the registry, so no handle leaks; an injected
  // failure only changes the code the caller sees.
  LONG code;
  bool fail = ShouldFail(RegOp::Close, &code);
  LONG real = inner_.RegCloseKey(hKey);
  return Record(RegOp::Close, "", fail ? code : real, fail);
}

LONG FailingRegistry::RegDeleteValueA(HKEY hKey, const char* lpValueName) {
  LONG code;
  if (ShouldFail(RegOp::DeleteValue, &code)) return Record(RegOp::DeleteValue, Text(lpValueName), code, true);
  return Record(RegOp::DeleteValue, Text(lpValueName), inner_.RegDeleteValueA(hKey, lpValueName), false);
}

LONG FailingRegistry::BeginTransaction() {
  LONG code;
  if (ShouldFail(RegOp::Begin, &code)) return Record(RegOp::Begin, "", code, true);
  LONG real = inner_.BeginTransaction();
  if (real == ERROR_SUCCESS) in_transaction_ = true;
  return Record(RegOp::Begin, "", real, false);
}

LONG FailingRegistry::CommitTransaction() {
  LONG code;
  if (ShouldFail(RegOp::Commit, &code)) {
    // A commit that fails leaves nothing committed: the caller's rollback
    // must still reach the registry.
    return Record(RegOp::Commit, "", code, true);
  }
  LONG real = inner_.CommitTransaction();
  if (real == ERROR_SUCCESS) in_transaction_ = false;
  return Record(RegOp::Commit, "", real, false);
}

void FailingRegistry::RollbackTransaction() {
  LONG code;
  ShouldFail(RegOp::Rollback, &code);  // a rollback cannot fail; it is only counted
  inner_.RollbackTransaction();
  in_transaction_ = false;
  Record(RegOp::Rollback, "", ERROR_SUCCESS, false);
}

}  // namespace zandrel::testing
