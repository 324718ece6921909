// Name identity and length: simple per-character upper-casing, characters
// counted as code points, malformed bytes one each and never a crash.
#include "regfile/RegText.h"

#include <gtest/gtest.h>

#include <string>

namespace zandrel::hive {
namespace {

TEST(HiveText, UpperNameTable) {
  const struct {
    std::string in;
    std::string out;
  } rows[] = {
      {"", ""},
      {"shell\\Open", "SHELL\\OPEN"},
      {".zip._sln", ".ZIP._SLN"},
      {"ёлка", "ЁЛКА"},
      {"Ёлка", "ЁЛКА"},
      {"straße", "STRAßE"},              // no multi-character folding
      {"ǆ", "Ǆ"},                        // one character to one character
      {"ı", "ı"},                        // never folds onto ASCII
      {"ſ", "ſ"},
      {"σς", "ΣΣ"},
      {"\xFF\xFEz", "\xFF\xFEZ"},        // malformed bytes pass through
      {"\xC3", "\xC3"},                  // truncated sequence
      {"\xE0\x80\xAF", "\xE0\x80\xAF"},  // overlong '/'
      {"\xED\xA0\x80", "\xED\xA0\x80"},  // a surrogate
      {"😀a", "😀A"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.in);
    EXPECT_EQ(UpperName(row.in), row.out);
  }
}

TEST(HiveText, NameCharsTable) {
  const struct {
    std::string in;
    std::size_t chars;
  } rows[] = {
      {"", 0},           {"abc", 3},         {"ёлка", 4},         {"😀", 1},
      {"\xFF", 1},       {"\xC3(", 2},       {"\xE2\x82", 2},     {"\xF0\x9F\x98", 3},
      {"a\xC3\xA9", 2},  {"\xED\xA0\x80", 3}, {"\xF4\x90\x80\x80", 4},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.in);
    EXPECT_EQ(NameChars(row.in), row.chars);
  }
}

TEST(HiveText, Utf16RoundTrip) {
  for (const std::string text : {"", "abc", "Документ", "😀 x", "C:\\Program Files\\a.exe %1"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(text)), text);
  }
  EXPECT_EQ(Utf8ToUtf16("😀"), std::u16string(u"\xD83D\xDE00"));
  EXPECT_EQ(Utf8ToUtf16("\xFF"), std::u16string(u"\xFFFD"));
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, u'\xD800')), "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace zandrel::hive
