// A registry that passes every call on to another one. Wrappers derive from
// it and override only the calls they change; the rest,
// LoadIndirectString, the transaction scope and the bulk operations included,
// reach the target unchanged. A handle is the target's own, so a walk of it
// is the target's too. A wrapper that watches or changes the writes also
// overrides ApplyChanges and DeleteTrees (IRegistry::ApplyChanges and
// IRegistry::DeleteTrees go through its own calls): the target's own bulk
// writes would not pass through it.
#pragma once

#include <memory>
#include <utility>

#include "registry/Registry.h"

namespace zandrel {

class ForwardingRegistry : public IRegistry {
 public:
  // `target` must outlive this object.
  explicit ForwardingRegistry(IRegistry& target) : target_(target) {}
  // Owns `target`.
  explicit ForwardingRegistry(std::unique_ptr<IRegistry> target) : owned_(std::move(target)), target_(*owned_) {}

  LONG RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD ulOptions, REGSAM samDesired, HKEY* phkResult) override {
    return target_.RegOpenKeyExA(hKey, lpSubKey, ulOptions, samDesired, phkResult);
  }
  LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, char* lpName, DWORD* lpcchName, DWORD* lpReserved, char* lpClass,
                     DWORD* lpcchClass, FILETIME* lpftLastWriteTime) override {
    return target_.RegEnumKeyExA(hKey, dwIndex, lpName, lpcchName, lpReserved, lpClass, lpcchClass, lpftLastWriteTime);
  }
  LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, char* lpValueName, DWORD* lpcchValueName, DWORD* lpReserved,
                     DWORD* lpType, BYTE* lpData, DWORD* lpcbData) override {
    return target_.RegEnumValueA(hKey, dwIndex, lpValueName, lpcchValueName, lpReserved, lpType, lpData, lpcbData);
  }
  LONG RegCreateKeyExA(HKEY hKey, const char* lpSubKey, DWORD Reserved, const char* lpClass, DWORD dwOptions,
                       REGSAM samDesired, const void* lpSecurityAttributes, HKEY* phkResult,
                       DWORD* lpdwDisposition) override {
    return target_.RegCreateKeyExA(hKey, lpSubKey, Reserved, lpClass, dwOptions, samDesired, lpSecurityAttributes,
                                   phkResult, lpdwDisposition);
  }
  LONG RegSetValueExA(HKEY hKey, const char* lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                      DWORD cbData) override {
    return target_.RegSetValueExA(hKey, lpValueName, Reserved, dwType, lpData, cbData);
  }
  LONG RegDeleteKeyA(HKEY hKey, const char* lpSubKey) override { return target_.RegDeleteKeyA(hKey, lpSubKey); }
  LONG RegCloseKey(HKEY hKey) override { return target_.RegCloseKey(hKey); }
  LONG RegDeleteValueA(HKEY hKey, const char* lpValueName) override {
    return target_.RegDeleteValueA(hKey, lpValueName);
  }
  // A wrapper that changes what HKEY_CLASSES_ROOT shows answers this with
  // IRegistry::ExtensionsNamingTitle, through its own calls.
  LONG ExtensionsNamingTitle(const char* title, std::vector<std::string>* extensions) override {
    return target_.ExtensionsNamingTitle(title, extensions);
  }
  bool LoadIndirectString(const std::string& source, std::string* text) override {
    return target_.LoadIndirectString(source, text);
  }
  LONG RegFlushKey(HKEY hKey) override { return target_.RegFlushKey(hKey); }
  LONG QueryChangeCounter(std::uint64_t* counter) override { return target_.QueryChangeCounter(counter); }
  void WillWrite(const std::vector<PlannedWrite>& writes) override { target_.WillWrite(writes); }
  LONG WalkSubtree(HKEY hKey, registry::SubtreeVisitor& visitor) override { return target_.WalkSubtree(hKey, visitor); }
  bool WalkReadsWholeFirst() override { return target_.WalkReadsWholeFirst(); }
  LONG ApplyChanges(const std::deque<registry::Change>& changes, const registry::Change** failed) override {
    return target_.ApplyChanges(changes, failed);
  }
  LONG DeleteTrees(const std::vector<registry::KeyPath>& keys,
                   const std::function<void(std::size_t keys)>& deleted) override {
    return target_.DeleteTrees(keys, deleted);
  }
  LONG BeginTransaction() override { return target_.BeginTransaction(); }
  LONG CommitTransaction() override { return target_.CommitTransaction(); }
  void RollbackTransaction() override { target_.RollbackTransaction(); }

 protected:
  IRegistry& Target() const { return target_; }

 private:
  std::unique_ptr<IRegistry> owned_;
  IRegistry& target_;
};

// The target with its bulk operations made through the calls (IRegistry's
// defaults), never the target's own: what the calls alone make, to compare
// a registry's own with, or to time.
class CallsOnly : public ForwardingRegistry {
 public:
  using ForwardingRegistry::ForwardingRegistry;
  LONG WalkSubtree(HKEY hKey, registry::SubtreeVisitor& visitor) override {
    return IRegistry::WalkSubtree(hKey, visitor);
  }
  bool WalkReadsWholeFirst() override { return false; }
  LONG ApplyChanges(const std::deque<registry::Change>& changes, const registry::Change** failed) override {
    return IRegistry::ApplyChanges(changes, failed);
  }
  LONG DeleteTrees(const std::vector<registry::KeyPath>& keys,
                   const std::function<void(std::size_t keys)>& deleted) override {
    return IRegistry::DeleteTrees(keys, deleted);
  }
};

}  // namespace zandrel
