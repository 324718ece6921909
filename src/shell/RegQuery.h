// zandrel-reg's query: a key, or a subtree, in reg.exe's layout.
#pragma once

#include <string>

#include "registry/Registry.h"

namespace zandrel::shell {

// Prints one key in reg.exe's layout, then the paths of its subkeys; with
// recurse, its subtree instead, read with the registry's WalkSubtree. What *out holds
// at the end goes to stdout; *written is false when writing it out already
// failed.
LONG QueryKey(IRegistry& registry, HKEY key, const std::string& title, bool recurse,
              std::string* out, bool* written);

}  // namespace zandrel::shell
