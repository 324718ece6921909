// zandrel-reg's query: keys in reg.exe's layout.
#pragma once

#include <string>

#include "regfile/RegFile.h"

namespace zandrel::shell {

// Prints one key in reg.exe's layout, then the paths of its subkeys; with
// recurse, its subtree instead, read with `walk` when given. What *out holds
// at the end goes to stdout; *written is false when writing it out already
// failed.
LONG QueryKey(IRegistry& registry, HKEY key, const std::string& title, bool recurse,
              const regfile::SubtreeWalk& walk, std::string* out, bool* written);

}  // namespace zandrel::shell
