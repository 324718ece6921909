// An in-memory registry with the behaviour the store relies on (case-blind
// names that keep their case, subkeys ordered by upper-cased name, values in
// creation order, REG_SZ given its NUL, the Win32 codes). It is the plain model
// that tests run the store against and that the hive is compared with.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "registry/Registry.h"

namespace zandrel::testing {

class MemoryRegistry : public IRegistry {
 public:
  MemoryRegistry();
  ~MemoryRegistry() override;

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
  // Begin takes a snapshot of the whole store, Rollback puts it back. Another
  // Begin inside a scope, or Commit outside one, gives 87.
  LONG BeginTransaction() override;
  LONG CommitTransaction() override;
  void RollbackTransaction() override;

  bool InTransaction() const { return snapshot_ != nullptr; }
  // Handles handed out and not yet closed (roots are not counted).
  std::size_t OpenHandleCount() const { return handles_.size(); }

  // Upper-cases one character at a time (no multi-character folding), the
  // way key and value names are compared.
  static std::string Upper(const std::string& name);

 private:
  struct Value {
    std::string name;
    DWORD type = REG_NONE;
    std::string data;
  };
  struct Key {
    std::uint64_t id = 0;  // unique over the store's life: tells a deleted key from a new one
    std::string name;
    std::string upper;
    std::vector<std::unique_ptr<Key>> children;  // ordered by `upper`
    std::vector<Value> values;                   // in creation order
  };
  struct Tree {
    std::unique_ptr<Key> hklm, hkcu, hku;
  };
  struct Handle {
    HKEY root = 0;                   // the predefined root the path starts from
    std::vector<std::string> path;   // upper-cased names below that root
    std::uint64_t id = 0;
    REGSAM access = 0;
  };
  struct Resolved {
    LONG code = ERROR_SUCCESS;
    Key* key = nullptr;
    REGSAM access = 0;
    HKEY root = 0;
    const std::vector<std::string>* path = nullptr;  // upper-cased names below `root`
  };

  static std::unique_ptr<Key> Clone(const Key& key);
  Key* RootKey(HKEY root, const std::vector<std::string>** prefix);
  Resolved Resolve(HKEY hKey);
  static Key* Child(Key& parent, const std::string& upper);
  static LONG SplitPath(const char* subKey, std::vector<std::string>* names);
  HKEY NewHandle(const Resolved& base, const std::vector<std::string>& names, Key* key, REGSAM access);

  Tree tree_;
  std::unique_ptr<Tree> snapshot_;
  std::map<HKEY, Handle> handles_;
  HKEY next_handle_ = 0x100;
  std::uint64_t next_id_ = 1;
};

}  // namespace zandrel::testing
