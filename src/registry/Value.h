// One value of a key: what the registry calls enumerate, what a record keeps
// of a key's state, what a journal writes back.
#pragma once

#include <string>

#include "registry/Registry.h"

namespace zandrel::registry {

struct Value {
  std::string name;  // "" for the default value
  DWORD type = REG_NONE;
  std::string data;  // the bytes as stored (strings in the ANSI code page, UTF-8)
  bool operator==(const Value&) const = default;
};

}  // namespace zandrel::registry
