#include "regfile/RegLexer.h"

#include <cstring>

#include "registry/Names.h"
#include "text/LargePages.h"

namespace zandrel::regfile {

bool Blank(char c) { return c == ' ' || c == '\t'; }

std::string_view SkipBlanks(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size() && Blank(s[i])) ++i;
  return s.substr(i);
}

std::string_view TrimTrailingBlanks(std::string_view s) {
  while (!s.empty() && Blank(s.back())) s.remove_suffix(1);
  return s;
}

bool EndsHere(std::string_view s) {
  s = SkipBlanks(s);
  return s.empty() || s.front() == ';';
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::size_t ReadNumber(std::string_view s, std::uint64_t* value) {
  // Two digits and no third, as nearly every byte of hex data is written.
  if (s.size() >= 2 && HexDigit(s[0]) >= 0 && HexDigit(s[1]) >= 0 && (s.size() == 2 || HexDigit(s[2]) < 0)) {
    *value = static_cast<std::uint64_t>(HexDigit(s[0]) * 16 + HexDigit(s[1]));
    return 2;
  }
  std::size_t i = 0;
  while (i < s.size() && (Blank(s[i]) || s[i] == '\v' || s[i] == '\f')) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  if (i + 2 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X') && HexDigit(s[i + 2]) >= 0) i += 2;
  const std::size_t first = i;
  std::uint64_t v = 0;
  for (; i < s.size() && HexDigit(s[i]) >= 0; ++i) {
    v = v * 16 + static_cast<std::uint64_t>(HexDigit(s[i]));
    if (v > kTooLarge) v = kTooLarge;
  }
  if (i == first) return 0;
  *value = negative && v != 0 ? kTooLarge : v;
  return i;
}

bool ParseRoot(std::string_view name, HKEY* root, std::string_view* path) {
  const std::size_t slash = name.find('\\');
  if (!registry::RootFromName(name.substr(0, slash), false, root)) return false;
  *path = slash == std::string_view::npos ? std::string_view() : name.substr(slash + 1);
  return true;
}

std::size_t LineEnd(std::string_view text, std::size_t pos) {
  const char* begin = text.data() + pos;
  const std::size_t left = text.size() - pos;
  const void* lf = std::memchr(begin, '\n', left);
  const std::size_t until = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - begin) : left;
  const void* cr = std::memchr(begin, '\r', until);
  if (cr) return pos + static_cast<std::size_t>(static_cast<const char*>(cr) - begin);
  return lf ? pos + until : std::string_view::npos;
}

Quote Unquote(std::string_view s, std::string* out, std::string_view* rest, char* odd_escape) {
  for (std::size_t i = 0;;) {
    std::size_t j = i;
    while (j < s.size() && s[j] != '"' && s[j] != '\\') ++j;
    if (j == s.size()) return Quote::kUnclosed;
    out->append(s.substr(i, j - i));
    if (s[j] == '"') {
      *rest = s.substr(j + 1);
      return Quote::kClosed;
    }
    if (j + 1 == s.size() || s[j + 1] == '0') return Quote::kUnclosed;
    const char e = s[j + 1];
    if (e == 'n') {
      out->push_back('\n');
    } else if (e == 'r') {
      out->push_back('\r');
    } else {
      if (e != '\\' && e != '"' && *odd_escape == 0) *odd_escape = e;
      out->push_back(e);
    }
    i = j + 2;
  }
}

// Written straight into one buffer: a whole exported store goes through here.
std::string_view Utf16BytesToUtf8(std::string_view bytes, text::Arena* arena) {
  const std::size_t n = bytes.size() / 2;
  const auto unit = [&](std::size_t i) {
    return static_cast<char32_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                 (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  };
  // Four units at a time while they are ASCII, by far the most common.
  const auto four_ascii = [&](std::size_t i) {
    std::uint64_t word;
    std::memcpy(&word, bytes.data() + 2 * i, 8);
    return (word & 0xFF80FF80FF80FF80u) == 0;
  };
  // Sized exactly first: three bytes per unit at most, but mostly one.
  std::size_t size = 0;
  for (std::size_t i = 0; i < n;) {
    if (i + 4 <= n && four_ascii(i)) {
      size += 4;
      i += 4;
      continue;
    }
    const char32_t c = unit(i++);
    size += c < 0x80 ? 1 : c < 0x800 ? 2 : 3;  // a surrogate pair: 3 + 3 >= 4
  }
  char* const out = arena->Take(size);
  char* o = out;
  for (std::size_t i = 0; i < n; ++i) {
    if (i + 4 <= n && four_ascii(i)) {
      for (std::size_t k = 0; k < 4; ++k) *o++ = bytes[2 * (i + k)];
      i += 3;
      continue;
    }
    char32_t c = unit(i);
    if (c < 0x80) {
      *o++ = static_cast<char>(c);
      continue;
    }
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && unit(i + 1) >= 0xDC00 && unit(i + 1) <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (unit(++i) - 0xDC00);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x800) {
      *o++ = static_cast<char>(0xC0 | (c >> 6));
    } else {
      if (c < 0x10000) {
        *o++ = static_cast<char>(0xE0 | (c >> 12));
      } else {
        *o++ = static_cast<char>(0xF0 | (c >> 18));
        *o++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      }
      *o++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    }
    *o++ = static_cast<char>(0x80 | (c & 0x3F));
  }
  return std::string_view(out, static_cast<std::size_t>(o - out));
}

}  // namespace zandrel::regfile
