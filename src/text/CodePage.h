// 8-bit text in the system's ANSI code page, as Windows programs wrote it
// before Unicode (regedit's REGEDIT4 files among them).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zandrel::text {

// The system's ANSI code page: on Windows the system locale's (1251 on a
// Russian system, whatever the program's own manifest says); elsewhere the
// one Windows gives the language of the locale in LC_ALL, LC_CTYPE or LANG
// (1252 when it names none).
unsigned SystemAnsiCodePage();

// Appends `bytes` in code page `code_page` to *out as UTF-8. False, with
// *bad at the first byte that is not a character there, when one is not.
bool AppendCodePageAsUtf8(std::string_view bytes, unsigned code_page, std::string* out, std::size_t* bad);

}  // namespace zandrel::text
