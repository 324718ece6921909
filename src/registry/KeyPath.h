// A key named from a root: HKEY_CLASSES_ROOT and "sub\\path" below it.
#pragma once

#include <string>
#include <string_view>

#include "registry/Registry.h"

namespace zandrel::registry {

struct KeyPath {
  HKEY root = 0;
  std::string path;  // below the root; "" for the root itself
};

// Splits "HKEY_CLASSES_ROOT\sub\path" (or HKCR, HKLM, HKCU, HKU; any case)
// into its root and the rest (empty components dropped). False for an
// unknown root.
bool ParseKeyPath(std::string_view path, HKEY* root, std::string* sub_path);

}  // namespace zandrel::registry
