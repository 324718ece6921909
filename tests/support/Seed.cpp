#include "support/Seed.h"

namespace zandrel::testing {

LONG SeedKey(IRegistry& registry, HKEY root, const std::string& path) {
  HKEY key = 0;
  LONG code = registry.RegCreateKeyExA(root, path.c_str(), 0, "", 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (code == ERROR_SUCCESS) registry.RegCloseKey(key);
  return code;
}

LONG SeedValue(IRegistry& registry, HKEY root, const std::string& path, const std::string& name, DWORD type,
               const std::string& data) {
  HKEY key = 0;
  LONG code = registry.RegCreateKeyExA(root, path.c_str(), 0, "", 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (code != ERROR_SUCCESS) return code;
  code = registry.RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                                 static_cast<DWORD>(data.size()));
  registry.RegCloseKey(key);
  return code;
}

void SeedAssociation(IRegistry& registry, const std::string& e, const std::string& d, const std::string& command) {
  SeedValue(registry, HKEY_CLASSES_ROOT, e, "", REG_SZ, d);
  SeedValue(registry, HKEY_CLASSES_ROOT, d + "\\shell\\open\\command", "", REG_SZ, command);
}

}  // namespace zandrel::testing
