// A registry decorator for failure tests: passes every call to the registry
// it wraps, except the chosen one, which returns a chosen code without
// reaching it. Records every call (operation, path or name, code) so tests
// can assert what was called, in which order, and whether a transaction was
// open at a given moment.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "registry/Registry.h"

namespace zandrel::testing {

enum class RegOp : std::uint32_t {
  Open = 1u << 0,
  EnumKey = 1u << 1,
  EnumValue = 1u << 2,
  Create = 1u << 3,
  SetValue = 1u << 4,
  DeleteKey = 1u << 5,
  Close = 1u << 6,
  DeleteValue = 1u << 7,
  Begin = 1u << 8,
  Commit = 1u << 9,
  Rollback = 1u << 10,
};
inline constexpr std::uint32_t kAllOps = 0x7FF;
inline constexpr std::uint32_t Ops(RegOp op) { return static_cast<std::uint32_t>(op); }
inline constexpr std::uint32_t operator|(RegOp a, RegOp b) { return Ops(a) | Ops(b); }
inline constexpr std::uint32_t operator|(std::uint32_t a, RegOp b) { return a | Ops(b); }

const char* OpName(RegOp op);

class FailingRegistry : public IRegistry {
 public:
  struct Call {
    RegOp op;
    std::string text;  // the path (open, create, delete), value name (set, delete value), or index (enum)
    LONG code;
    bool injected;     // this call was the one made to fail
  };

  explicit FailingRegistry(IRegistry& inner) : inner_(inner) {}

  // Fails the nth (1-based) call among the operations in `ops` with `code`;
  // with `sticky`, that call and every later one of them. n = 0 fails nothing.
  void FailNth(std::uint64_t n, LONG code, std::uint32_t ops = kAllOps, bool sticky = false);
  void ClearFailure() { fail_at_ = 0; }
  // An open asking for any of `rights` answers 5, as for a user whose rights
  // on the keys are fewer (0: none refused).
  void RefuseOpenRights(REGSAM rights) { refused_rights_ = rights; }
  // Calls so far among `ops` (counting injected ones).
  std::uint64_t CallCount(std::uint32_t ops = kAllOps) const;
  bool Injected() const { return injected_count_ > 0; }

  std::vector<Call> log;
  // True between a successful Begin and the Commit or Rollback that ends it.
  bool InTransaction() const { return in_transaction_; }
  // The log as lines "Op text -> code", for readable assertions.
  std::vector<std::string> LogLines(std::uint32_t ops = kAllOps) const;

  LONG RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD ulOptions, REGSAM samDesired,
                     HKEY* phkResult) override;
  LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, char* lpName, DWORD* lpcchName, DWORD* lpReserved,
                     char* lpClass, DWORD* lpcchClass, FILETIME* lpftLastWriteTime) override;
  LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, char* lpValueName, DWORD* lpcchValueName,
                     DWORD* lpReserved, DWORD* lpType, BYTE* lpData, DWORD* lpcbData) override;
  LONG RegCreateKeyExA(HKEY hKey, const char* lpSubKey, DWORD Reserved, const char* lpClass,
                       DWORD dwOptions, REGSAM samDesired, const void* lpSecurityAttributes,
                       HKEY* phkResult, DWORD* lpdwDisposition) override;
  LONG RegSetValueExA(HKEY hKey, const char* lpValueName, DWORD Reserved, DWORD dwType,
                      const BYTE* lpData, DWORD cbData) override;
  LONG RegDeleteKeyA(HKEY hKey, const char* lpSubKey) override;
  LONG RegCloseKey(HKEY hKey) override;
  LONG RegDeleteValueA(HKEY hKey, const char* lpValueName) override;
  LONG BeginTransaction() override;
  LONG CommitTransaction() override;
  void RollbackTransaction() override;

 private:
  // Counts the call; true when it is to fail (its code in *code).
  bool ShouldFail(RegOp op, LONG* code);
  LONG Record(RegOp op, std::string text, LONG code, bool injected);

  IRegistry& inner_;
  std::uint64_t fail_at_ = 0;
  LONG fail_code_ = ERROR_SUCCESS;
  std::uint32_t fail_ops_ = kAllOps;
  bool sticky_ = false;
  std::uint64_t counted_ = 0;
  std::uint64_t injected_count_ = 0;
  bool in_transaction_ = false;
  REGSAM refused_rights_ = 0;
};

}  // namespace zandrel::testing
