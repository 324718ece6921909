// One change a .reg file makes (registry/ApplyChanges): a section creating a
// key, a "[-KEY]" deleting one with its subtree, a value set or deleted in
// the section last named.
#pragma once

#include <string_view>

#include "registry/Registry.h"

namespace zandrel::registry {

// Its texts point into bytes its maker keeps (the file's, or its parse's).
struct Change {
  enum Kind { kKey, kDeleteKey, kSetValue, kDeleteValue };
  Kind kind = kKey;
  int line = 0;           // in the file, for messages
  HKEY root = 0;          // kKey, kDeleteKey
  std::string_view path;  // kKey, kDeleteKey: the path below the root, as written
  std::string_view name;  // kSetValue, kDeleteValue ("" for the default value)
  DWORD type = REG_NONE;
  std::string_view data;  // kSetValue: the bytes to store (strings in the ANSI code page, UTF-8)
};

}  // namespace zandrel::registry
