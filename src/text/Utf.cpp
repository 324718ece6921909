#include "text/Utf.h"

#include <cstdint>
#include <cstring>

namespace zandrel::text {

std::size_t DecodeUtf8(std::string_view text, std::size_t pos, long* cp) {
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

void AppendUtf8(long cp, std::string* out) {
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

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t pos = 0; pos < text.size();) {
    long cp;
    pos += DecodeUtf8(text, pos, &cp);
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
    if (used > sizeof piece - 16) {
      out->append(piece, used);
      used = 0;
    }
    // Eight ASCII bytes at a time while there are.
    std::uint64_t word;
    if (pos + 8 <= text.size() && (std::memcpy(&word, text.data() + pos, 8), (word & 0x8080808080808080u) == 0)) {
      for (std::size_t k = 0; k < 8; ++k) {
        piece[used++] = text[pos + k];
        piece[used++] = 0;
      }
      pos += 8;
      units += 8;
      continue;
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
    pos += DecodeUtf8(text, pos, &cp);
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

bool IsWellFormedUtf8(std::string_view text) {
  for (std::size_t pos = 0; pos < text.size();) {
    if (static_cast<unsigned char>(text[pos]) < 0x80) {
      ++pos;
      continue;
    }
    long cp;
    pos += DecodeUtf8(text, pos, &cp);
    if (cp < 0) return false;
  }
  return true;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    long cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    AppendUtf8(cp, &out);
  }
  return out;
}

}  // namespace zandrel::text
