#include "regfile/RegText.h"

#include <locale.h>
#ifdef __linux__
#include <sys/mman.h>
#endif

#include <clocale>
#include <cstdint>
#include <cwctype>

namespace zandrel::hive {
namespace {

// Decodes one character at text[pos]. Returns the number of bytes it takes
// and sets *cp; a malformed sequence takes one byte and gives cp = -1.
std::size_t Decode(std::string_view text, std::size_t pos, long* cp) {
  const auto b0 = static_cast<unsigned char>(text[pos]);
  if (b0 < 0x80) {
    *cp = b0;
    return 1;
  }
  std::size_t len;
  long value;
  long min;
  if ((b0 & 0xE0) == 0xC0) {
    len = 2, value = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3, value = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4, value = b0 & 0x07, min = 0x10000;
  } else {
    *cp = -1;
    return 1;
  }
  if (pos + len > text.size()) {
    *cp = -1;
    return 1;
  }
  for (std::size_t i = 1; i < len; ++i) {
    const auto b = static_cast<unsigned char>(text[pos + i]);
    if ((b & 0xC0) != 0x80) {
      *cp = -1;
      return 1;
    }
    value = (value << 6) | (b & 0x3F);
  }
  if (value < min || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
    *cp = -1;
    return 1;
  }
  *cp = value;
  return len;
}

void Encode(long cp, std::string* out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

#ifdef _WIN32
// The C runtime maps case in the user's locale (its "C" locale maps ASCII
// only); every Windows locale has Unicode's simple upper case for the BMP.
long UpperChar(long cp) {
  static const _locale_t locale = _create_locale(LC_CTYPE, "");
  if (!locale || cp > 0xFFFF) return cp;
  return static_cast<long>(_towupper_l(static_cast<wint_t>(cp), locale));
}
#else
// Case mappings come from glibc's built-in C.UTF-8 locale, whatever locale
// the process runs in, so that two processes always agree on name identity.
long UpperChar(long cp) {
  static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  return locale ? static_cast<long>(towupper_l(static_cast<wint_t>(cp), locale)) : cp;
}
#endif

}  // namespace

std::string UpperName(std::string_view name) {
  std::string out;
  AppendUpperName(name, &out);
  return out;
}

void AppendUpperName(std::string_view name, std::string* out) {
  const std::size_t start = out->size();
  out->resize(start + name.size());
  char* to = out->data() + start;
  std::size_t pos = 0;
  // ASCII names, by far the most common, need no decoding.
  for (; pos < name.size(); ++pos) {
    const char c = name[pos];
    if (static_cast<unsigned char>(c) >= 0x80) break;
    to[pos] = c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
  }
  if (pos == name.size()) return;
  out->resize(start + pos);
  while (pos < name.size()) {
    long cp;
    const std::size_t len = Decode(name, pos, &cp);
    if (cp < 0) {
      out->push_back(name[pos]);
    } else if (cp < 0x80) {
      out->push_back(static_cast<char>(cp >= 'a' && cp <= 'z' ? cp - 32 : cp));
    } else {
      long upper = UpperChar(cp);
      // Never let a mapping leave the scalar range or turn non-ASCII into ASCII
      // (Windows keeps e.g. U+0131 and U+017F apart from I and S).
      if (upper < 0x80 || upper > 0x10FFFF || (upper >= 0xD800 && upper <= 0xDFFF)) upper = cp;
      Encode(upper, out);
    }
    pos += len;
  }
}

std::size_t NameChars(std::string_view name) {
  std::size_t count = 0;
  for (std::size_t pos = 0; pos < name.size(); ++count) {
    long cp;
    pos += Decode(name, pos, &cp);
  }
  return count;
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t pos = 0; pos < text.size();) {
    long cp;
    pos += Decode(text, pos, &cp);
    if (cp < 0) cp = 0xFFFD;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

std::size_t AppendUtf16Le(std::string_view text, std::string* out) {
  // Converted a piece at a time on the stack, then appended: growing *out
  // first would fill it with zeros only to overwrite them.
  char piece[1024];
  std::size_t used = 0, units = 0;
  for (std::size_t pos = 0; pos < text.size();) {
    if (used > sizeof piece - 4) {
      out->append(piece, used);
      used = 0;
    }
    const auto b = static_cast<unsigned char>(text[pos]);
    if (b < 0x80) {  // ASCII, by far the most common, needs no decoding
      piece[used++] = static_cast<char>(b);
      piece[used++] = 0;
      ++pos;
      ++units;
      continue;
    }
    long cp;
    pos += Decode(text, pos, &cp);
    if (cp < 0) cp = 0xFFFD;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      const long high = 0xD800 + (cp >> 10), low = 0xDC00 + (cp & 0x3FF);
      piece[used++] = static_cast<char>(high & 0xFF);
      piece[used++] = static_cast<char>(high >> 8);
      piece[used++] = static_cast<char>(low & 0xFF);
      piece[used++] = static_cast<char>(low >> 8);
      units += 2;
    } else {
      piece[used++] = static_cast<char>(cp & 0xFF);
      piece[used++] = static_cast<char>(cp >> 8);
      ++units;
    }
  }
  out->append(piece, used);
  return units;
}

void AdviseLargePages([[maybe_unused]] const void* data, [[maybe_unused]] std::size_t size) {
#ifdef __linux__
  constexpr std::uintptr_t kLarge = std::uintptr_t{2} << 20;
  const auto from = (reinterpret_cast<std::uintptr_t>(data) + kLarge - 1) & ~(kLarge - 1);
  const auto to = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(kLarge - 1);
  if (to > from) ::madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
#endif
}

bool IsWellFormedUtf8(std::string_view text) {
  for (std::size_t pos = 0; pos < text.size();) {
    if (static_cast<unsigned char>(text[pos]) < 0x80) {
      ++pos;
      continue;
    }
    long cp;
    pos += Decode(text, pos, &cp);
    if (cp < 0) return false;
  }
  return true;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    long cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    Encode(cp, &out);
  }
  return out;
}

}  // namespace zandrel::hive
