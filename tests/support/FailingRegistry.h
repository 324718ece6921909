// A registry wrapper for failure tests: passes every call on and records it
// (operation, path or value name, code); the chosen nth call among chosen
// operations instead returns a chosen code without reaching the registry, or
// the process dies (SIGKILL) just before or just after it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "registry/ForwardingRegistry.h"

namespace zandrel::testing {

// clang-format off
enum RegOp : std::uint32_t {
  Open = 1, EnumKey = 2, EnumValue = 4, Create = 8, SetValue = 16, DeleteKey = 32, Close = 64, DeleteValue = 128,
  Begin = 256, Commit = 512, Rollback = 1024, Naming = 2048, kAllOps = 4095,
  kChangeOps = Create | SetValue | DeleteKey | DeleteValue | Begin | Commit | Rollback,
};
// clang-format on

class FailingRegistry : public CallsOnly {
 public:
  struct Call {
    RegOp op;
    std::string text;  // path (open, create, delete key), value name, or index
    LONG code;
  };
  using CallsOnly::CallsOnly;

  // The nth (1-based) call among `ops` answers `code`; n = 0 fails nothing.
  void FailNth(std::uint64_t n, LONG code, std::uint32_t ops = kAllOps) { Arm(n, code, ops, 0); }
  // The process dies just before (or after) the nth call among `ops`.
  void KillAt(std::uint64_t n, bool after, std::uint32_t ops = kChangeOps) { Arm(n, 0, ops, after ? 2 : 1); }
  // An open asking for any of `rights` answers 5, as for a user with fewer rights.
  void RefuseOpenRights(REGSAM rights) { refused_ = rights; }
  std::uint64_t Count(std::uint32_t ops = kAllOps) const;
  bool Injected() const { return injected_; }
  bool InTransaction() const { return in_transaction_; }
  std::vector<std::string> Lines(std::uint32_t ops = kAllOps) const;  // "Open .zq -> 2"
  std::vector<Call> log;
  std::function<void(RegOp)> before;  // runs before each call, injected or not

  ZANDREL_REGISTRY_OVERRIDES;
  // One call (Naming, the title as its text), answered by the target.
  LONG ExtensionsNamingTitle(const char* title, std::vector<std::string>* extensions) override;

 private:
  void Arm(std::uint64_t n, LONG code, std::uint32_t ops, int kill);
  template <typename Real>
  LONG Pass(RegOp op, std::string text, Real&& real, HKEY* out = nullptr);

  std::uint64_t fail_at_ = 0, counted_ = 0;
  LONG code_ = 0;
  std::uint32_t ops_ = kAllOps;
  int kill_ = 0;  // 0 fail, 1 kill before, 2 kill after
  bool injected_ = false, in_transaction_ = false;
  REGSAM refused_ = 0;
};

}  // namespace zandrel::testing
