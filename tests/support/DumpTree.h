// The whole subtree of a key as text, for "the registry is exactly as it
// was" comparisons: one line per key (its path below the starting key) and
// one per value (name, type, size, bytes), in enumeration order. A call that
// fails shows up as an "error" line, so a broken registry never dumps equal
// to a sound one.
#pragma once

#include <string>

#include "registry/Registry.h"

namespace zandrel::testing {

// Bytes as DumpTree shows them: two lower-case hex digits each, spaced.
std::string Hex(const std::string& bytes);

std::string DumpTree(IRegistry& registry, HKEY root, const std::string& path);

// The classes store as the store sees it (HKEY_CLASSES_ROOT).
inline std::string DumpClasses(IRegistry& registry) { return DumpTree(registry, HKEY_CLASSES_ROOT, ""); }

}  // namespace zandrel::testing
