#include "text/CodePage.h"

#include <iconv.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace zandrel::text {
namespace {

// Windows' ANSI code page for a locale's language (the part before "_").
unsigned CodePageOfLanguage(std::string_view language) {
  struct Entry {
    const char* languages;
    unsigned code_page;
  };
  // clang-format off
  static constexpr Entry kTable[] = {
      {" ru uk be bg sr mk ", 1251}, {" pl cs sk hu ro hr sl bs sq ", 1250}, {" el ", 1253},
      {" tr az ", 1254},             {" he ", 1255},                         {" ar fa ur ", 1256},
      {" et lv lt ", 1257},          {" vi ", 1258},                         {" th ", 874},
      {" ja ", 932},                 {" ko ", 949},
  };
  // clang-format on
  if (language.size() < 2 || language.size() > 3) return 1252;
  std::string word(1, ' ');
  word.append(language).push_back(' ');
  for (const Entry& entry : kTable)
    if (std::strstr(entry.languages, word.c_str()) != nullptr) return entry.code_page;
  return 1252;
}

}  // namespace

unsigned SystemAnsiCodePage() {
  const char* locale = nullptr;
  for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    locale = std::getenv(name);
    if (locale != nullptr && *locale != '\0') break;
  }
  if (locale == nullptr) return 1252;
  const std::string_view l(locale);
  if (l.substr(0, 2) == "zh")
    return l.find("TW") != std::string_view::npos || l.find("HK") != std::string_view::npos ? 950 : 936;
  return CodePageOfLanguage(l.substr(0, l.find_first_of("_.@")));
}

bool AppendCodePageAsUtf8(std::string_view bytes, unsigned code_page, std::string* out, std::size_t* bad) {
  const std::string from = "CP" + std::to_string(code_page);
  iconv_t cd = iconv_open("UTF-8", from.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    *bad = 0;
    return false;
  }
  const std::size_t start = out->size();
  // Four UTF-8 bytes are the most one input byte can give.
  out->resize(start + bytes.size() * 4);
  char* in = const_cast<char*>(bytes.data());
  std::size_t in_left = bytes.size();
  char* to = out->data() + start;
  std::size_t to_left = bytes.size() * 4;
  const bool ok = iconv(cd, &in, &in_left, &to, &to_left) != static_cast<std::size_t>(-1);
  iconv_close(cd);
  out->resize(static_cast<std::size_t>(to - out->data()));
  if (!ok) *bad = bytes.size() - in_left;
  return ok;
}

}  // namespace zandrel::text
