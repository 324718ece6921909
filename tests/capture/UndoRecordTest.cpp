// The undo record's text: what a record read back holds, and which records
// are damaged. Only a last line (or the header) without its newline is a
// write its process died inside; any other line that is not an entry, or a
// path or value name the registry would read otherwise, damages the whole
// record.
#include <gtest/gtest.h>

#include <string>

#include "capture/UndoRecord.h"

namespace zandrel::testing {
namespace {

using capture::UndoEntry;

std::string Created(const std::string& path) {
  return capture::EncodeUndoEntry({UndoEntry::Kind::kCreated, HKEY_CLASSES_ROOT, path, {}, false, {}});
}

TEST(UndoRecordText, OnlyACutLastLineIsPassedOver) {
  using namespace std::string_literals;
  const std::string header = capture::kUndoRecordHeader;
  const std::string made = Created(".left");
  const std::string set = capture::EncodeUndoEntry({UndoEntry::Kind::kValues, HKEY_LOCAL_MACHINE,
                                                    "SOFTWARE\\Classes\\.left",
                                                    {{"", REG_SZ, "old"}, {"Data", REG_BINARY, "a\0b"s}},
                                                    false, {"Имя", REG_SZ, "new"}});
  const std::string deleted = capture::EncodeUndoEntry(
      {UndoEntry::Kind::kDeleted, HKEY_CLASSES_ROOT, ".gone", {{"a\\b", REG_SZ, "x"}}, false, {}});
  const struct {
    const char* name;
    std::string bytes;
    std::size_t damaged_line;  // 0: sound
    std::string entries;       // those read, encoded again
  } kRecords[] = {
      {"nothing: the header cut short", "", 0, ""},
      {"the header cut short", "zandrel-un", 0, ""},
      {"the header without its newline", "zandrel-undo 1", 0, ""},
      {"the header alone", header, 0, ""},
      {"entries of each kind", header + made + set + deleted, 0, made + set + deleted},
      {"the last line cut short", header + made + set.substr(0, 20), 0, made},
      {"the last line without only its newline", header + made + deleted.substr(0, deleted.size() - 1), 0, made},
      {"another header", "zandrel-undo 2\n" + made, 1, ""},
      {"another header without its newline", "zandrel-undo 2", 1, ""},
      {"no header", made, 1, ""},
      {"a bad line before good ones", header + made + "created 80000000 zz\n" + set, 3, ""},
      {"a bad last line", header + made + set + "created 80000000 zz\n", 4, ""},
      {"an empty line", header + "\n" + made, 2, ""},
      {"an unknown kind", header + "renamed 80000000 2e6c656674\n", 2, ""},
      {"an unknown root", header + "created 12345678 2e6c656674\n", 2, ""},
      {"a field too many", header + made.substr(0, made.size() - 1) + " 0\n", 2, ""},
      {"a value fewer than counted", header + "deleted 80000000 2e6c656674 2 - 1 -\n", 2, ""},
      {"a value change neither set nor deleted", header + "values 80000000 2e6c656674 0 put -\n", 2, ""},
      {"a NUL in a path", header + made + Created(".left\0x"s), 3, ""},
      {"a NUL in a value name",
       header + capture::EncodeUndoEntry({UndoEntry::Kind::kValues, HKEY_CLASSES_ROOT, ".left",
                                          {{"a\0b"s, REG_SZ, "x"}}, true, {"c", REG_NONE, ""}}),
       2, ""},
      {"a NUL in the changed value's name",
       header + capture::EncodeUndoEntry(
                    {UndoEntry::Kind::kValues, HKEY_CLASSES_ROOT, ".left", {}, false, {"c\0d"s, REG_SZ, "x"}}),
       2, ""},
      {"a NUL in a deleted key's value name",
       header + capture::EncodeUndoEntry(
                    {UndoEntry::Kind::kDeleted, HKEY_CLASSES_ROOT, ".left", {{"\0"s, REG_SZ, "x"}}, false, {}}),
       2, ""},
      {"an empty component", header + Created("a\\\\b"), 2, ""},
      {"a leading backslash", header + Created("\\a"), 2, ""},
      {"a trailing backslash", header + Created("a\\"), 2, ""},
      {"a backslash alone", header + Created("\\"), 2, ""},
  };
  for (const auto& record : kRecords) {
    SCOPED_TRACE(record.name);
    const capture::DecodedRecord decoded = capture::DecodeUndoRecord(record.bytes);
    EXPECT_EQ(decoded.damaged_line, record.damaged_line);
    std::string entries;
    for (const UndoEntry& entry : decoded.entries) entries += capture::EncodeUndoEntry(entry);
    EXPECT_EQ(entries, record.entries);
  }
}

}  // namespace
}  // namespace zandrel::testing
