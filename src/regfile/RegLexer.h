// The small readers the lines of a .reg text are made of: blanks, line
// ends, numbers, hex digits, quoted texts, root names, UTF-16 data. Internal
// to the parser (RegParser.cpp), which holds the states they serve.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "registry/Registry.h"
#include "text/LargePages.h"

namespace zandrel::regfile {

bool Blank(char c);  // a blank: space or tab
std::string_view SkipBlanks(std::string_view s);
std::string_view TrimTrailingBlanks(std::string_view s);
// Blanks, then the end of the line or a comment.
bool EndsHere(std::string_view s);
// The value of a hex digit, -1 for any other character.
int HexDigit(char c);

inline constexpr std::uint64_t kTooLarge = std::uint64_t{1} << 32;

// A number in base 16 read as the C library's strtoul reads it: white space,
// a sign, "0x", digits. Returns the characters taken (0: no number) and sets
// *value, kTooLarge for anything past 32 bits or negative.
std::size_t ReadNumber(std::string_view s, std::uint64_t* value);

// The root a key line names: a long root name in any case, then the end or
// "\". *path is what follows the "\" (empty for the root itself).
bool ParseRoot(std::string_view name, HKEY* root, std::string_view* path);

// Where the line starting at `pos` ends: its first CR or LF, or npos.
std::size_t LineEnd(std::string_view text, std::size_t pos);

enum class Quote { kClosed, kUnclosed };

// Reads a quoted text from just after its opening quote up to the closing
// one, undoing the escapes \\ \" \n \r; any other escaped character stands
// for itself (its first such character goes to *odd_escape). \0 and a line
// that ends inside the quotes give kUnclosed. *rest is what follows.
Quote Unquote(std::string_view s, std::string* out, std::string_view* rest, char* odd_escape);

// UTF-16LE bytes (an even count) as UTF-8 in `arena`, an unpaired surrogate
// as U+FFFD: a whole exported store goes through here.
std::string_view Utf16BytesToUtf8(std::string_view bytes, text::Arena* arena);

}  // namespace zandrel::regfile
