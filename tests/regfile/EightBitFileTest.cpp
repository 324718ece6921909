// 8-bit .reg files as regedit reads them: in the system's ANSI code page
// unless they are UTF-8 throughout; a byte that is no character there fails
// the file at its line. Runs on both systems (iconv here, the code page
// tables of Windows under Wine).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "regfile/RegParser.h"
#include "text/CodePage.h"

namespace zandrel::regfile {
namespace {

TEST(EightBitFiles, ReadInTheAnsiCodePageUnlessUtf8) {
  const struct {
    const char* rule;
    std::string file;
    std::string path, data;  // of the last change, or the failure's line and text
    unsigned code_page = 1251;
  } rows[] = {
      {"a REGEDIT4 file in code page 1251",
       "REGEDIT4\r\n[HKEY_CLASSES_ROOT\\\xC4\xEE\xEA]\r\n@=\"\xD2\xE5\xEA\xF1\xF2\"\r\n", "Док",
       std::string("Текст", 10) + '\0'},
      {"string data in hex, in the code page too", "REGEDIT4\n[HKEY_CLASSES_ROOT\\t]\n\"e\"=hex(2):c4,ee,ea,00\n", "",
       std::string("Док", 6) + '\0'},
      {"a Version 5.00 file without a BOM, also 8-bit",
       "Windows Registry Editor Version 5.00\n[HKEY_CLASSES_ROOT\\t]\n@=\"\xC4\xEE\xEA\"\n", "", "Док"},
      {"UTF-8 throughout is UTF-8", "REGEDIT4\n[HKEY_CLASSES_ROOT\\Док]\n@=\"ё\"\n", "Док", "ё"},
      // Windows gives every byte of its single-byte code pages a character;
      // a double-byte one has sequences that are none.
      {"a lead byte of 932 with no trail", "REGEDIT4\r\n[HKEY_CLASSES_ROOT\\t]\r\n@=\"\x82\xA0\x82\"\r\n", "3",
       "the text is neither UTF-8 nor in code page 932 (byte 0x82): nothing is imported", 932},
      {"the same in hex string data", "REGEDIT4\n[HKEY_CLASSES_ROOT\\t]\n\n\"e\"=hex(1):82,a0,82,22\n", "4",
       "the text is neither UTF-8 nor in code page 932 (byte 0x82): nothing is imported", 932},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.rule);
    const RegParse parse = ParseRegText(row.file, row.code_page);
    if (!parse.ok) {
      EXPECT_EQ(std::to_string(parse.line), row.path);
      EXPECT_EQ(parse.what, row.data);
      continue;
    }
    ASSERT_FALSE(parse.changes.empty());
    if (!row.path.empty()) {
      EXPECT_EQ(parse.changes.front().path, row.path);
    }
    const registry::Change& last = parse.changes.back();
    EXPECT_EQ(std::string(last.data), row.data.back() == '\0' ? row.data : row.data + '\0');
  }
}

#ifndef _WIN32
TEST(EightBitFiles, TheCodePageIsTheOneWindowsGivesTheLocalesLanguage) {
  const char* saved = std::getenv("LC_ALL");
  const std::string keep = saved ? saved : "";
  for (const auto& [locale, code_page] : {std::pair{"ru_RU.UTF-8", 1251u},
                                          {"uk_UA", 1251u},
                                          {"pl_PL.UTF-8", 1250u},
                                          {"de_DE.UTF-8", 1252u},
                                          {"C.UTF-8", 1252u},
                                          {"zh_TW.UTF-8", 950u}}) {
    setenv("LC_ALL", locale, 1);
    EXPECT_EQ(text::SystemAnsiCodePage(), code_page) << locale;
  }
  if (saved) setenv("LC_ALL", keep.c_str(), 1);
  else unsetenv("LC_ALL");
}
#endif

}  // namespace
}  // namespace zandrel::regfile
