// Name rules of the registry: case-blind comparison by simple per-character
// upper-casing, and name lengths counted in characters. Texts are UTF-8; a
// byte that does not start a well-formed UTF-8 sequence counts as one
// character of its own and is kept as it is.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "registry/Registry.h"

namespace zandrel::registry {

// The comparison key of a name: every character replaced by its simple
// (one-to-one) upper-case mapping, so "ёлка" and "ЁЛКА" give the same key and
// "straße" keeps its "ß". Malformed bytes pass through unchanged.
std::string UpperName(std::string_view name);

// Appends UpperName(name) to *out: for callers that keep one buffer and so
// make no allocation per name.
void AppendUpperName(std::string_view name, std::string* out);

// Whether two names are the same name to the registry.
bool SameKeyName(std::string_view a, std::string_view b);

// Number of characters in a name as Windows counts them, in UTF-16 units: one
// per code point of well-formed UTF-8 (two past U+FFFF), one per malformed
// byte.
std::size_t NameChars(std::string_view name);

// The long name of a predefined root ("HKEY_CLASSES_ROOT"), "" for any other
// key.
const char* RootName(HKEY root);

// The predefined root `name` names, in any case of ASCII letters: by its long
// name, and with `short_too` also by the short one reg.exe takes on its
// command line (HKCR, HKCU, HKLM, HKU). False for any other name.
bool RootFromName(std::string_view name, bool short_too, HKEY* root);

}  // namespace zandrel::registry
