// Name rules of the registry: case-blind comparison by simple per-character
// upper-casing, and name lengths counted in characters. Texts are UTF-8; a
// byte that does not start a well-formed UTF-8 sequence counts as one
// character of its own and is kept as it is.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zandrel::hive {

// The comparison key of a name: every character replaced by its simple
// (one-to-one) upper-case mapping, so "ёлка" and "ЁЛКА" give the same key and
// "straße" keeps its "ß". Malformed bytes pass through unchanged.
std::string UpperName(std::string_view name);

// Appends UpperName(name) to *out: for callers that keep one buffer and so
// make no allocation per name.
void AppendUpperName(std::string_view name, std::string* out);

// Number of characters in a name: code points of well-formed UTF-8, one per
// malformed byte.
std::size_t NameChars(std::string_view name);

// UTF-8 <-> UTF-16LE for .reg files. Malformed UTF-8 becomes U+FFFD; an
// unpaired surrogate becomes U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

// Appends Utf8ToUtf16(text) to *out as UTF-16LE bytes; returns the number
// of UTF-16 units appended.
std::size_t AppendUtf16Le(std::string_view text, std::string* out);

// Asks for large memory pages under a buffer of `size` bytes about to be
// filled, where the system offers them on request (Linux): first touching
// tens of megabytes page by page costs more than filling them.
void AdviseLargePages(const void* data, std::size_t size);

// Whether text is well-formed UTF-8, so that it comes back byte for byte
// from its UTF-16 form.
bool IsWellFormedUtf8(std::string_view text);

}  // namespace zandrel::hive
