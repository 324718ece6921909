// Reading a .reg text the way regedit reads it: which lines it takes, which
// values it leaves out, and which lines it refuses as errors. Nothing here
// touches a registry: the result is the list of changes, in file order.
#pragma once

#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "text/CodePage.h"
#include "text/LargePages.h"
#include "registry/Change.h"
#include "registry/Registry.h"

namespace zandrel::regfile {

// The first line of the files export writes (and of the newest kind import reads).
inline constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";

// A line whose value regedit would not import either.
struct RegNote {
  int line = 0;
  std::string what;
};

struct RegParse {
  bool ok = false;
  int line = 0;                          // when not ok: the line at fault (1 for the header)
  std::string what;                      // when not ok: what is wrong with it
  std::deque<registry::Change> changes;  // a deque: a large file's changes are never moved
  std::vector<RegNote> notes;
  text::Arena text;               // the decoded file, unescaped names, data
  bool points_into_bytes = true;  // false for a UTF-16 file: the changes point into `text` alone
};

// Parses a whole file's bytes: UTF-16LE with a BOM, or 8-bit text (UTF-8
// with a BOM or throughout, else in the ANSI code page, whose byte that is
// no character there fails the file at its line), with the header "Windows Registry Editor Version
// 5.00", "REGEDIT4" or "REGEDIT" (Windows 3.1 lines). The changes point
// into `bytes`, which must outlive them unless points_into_bytes is false.
RegParse ParseRegText(std::string_view bytes, unsigned ansi_code_page = text::SystemAnsiCodePage());

}  // namespace zandrel::regfile
