// The one UTF-8 <-> UTF-16 codec. Texts are UTF-8; a byte that does not
// start a well-formed UTF-8 sequence decodes as malformed and converts to
// U+FFFD; an unpaired surrogate also becomes U+FFFD.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zandrel::text {

// Decodes one character at text[pos]. Returns the number of bytes it takes
// and sets *cp; a malformed sequence takes one byte and gives cp = -1.
std::size_t DecodeUtf8(std::string_view text, std::size_t pos, long* cp);

// Appends code point cp (a Unicode scalar value) as UTF-8.
void AppendUtf8(long cp, std::string* out);

std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

// Appends Utf8ToUtf16(text) to *out as UTF-16LE bytes; returns the number
// of UTF-16 units appended.
std::size_t AppendUtf16Le(std::string_view text, std::string* out);

// Whether text is well-formed UTF-8, so that it comes back byte for byte
// from UTF-16.
bool IsWellFormedUtf8(std::string_view text);

}  // namespace zandrel::text
