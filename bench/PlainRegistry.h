// The limit the portable registry is measured against: the same keys and
// values in a plain in-memory tree (children in sorted vectors, found by
// binary search; handles in a vector), behind the same interface. It answers
// the reading calls as the hive does; it is filled once from a generated
// store and refuses every change (5), so it needs none of the bookkeeping of
// a real store.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "bench/StoreShape.h"
#include "registry/Registry.h"

namespace zandrel::bench {

class PlainRegistry : public IRegistry {
 public:
  explicit PlainRegistry(const GeneratedStore& store);
  ~PlainRegistry() override;

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
  LONG BeginTransaction() override { return ERROR_SUCCESS; }
  LONG CommitTransaction() override { return ERROR_SUCCESS; }
  void RollbackTransaction() override {}

  struct Node;

 private:
  Node* Resolve(HKEY h) const;

  std::vector<std::unique_ptr<Node>> nodes_;  // every key; [0] HKLM, [1] SOFTWARE, [2] Classes
  std::vector<Node*> handles_;                // slot i is handle kFirstHandle + i; null when free
  std::vector<std::size_t> free_;
};

}  // namespace zandrel::bench
