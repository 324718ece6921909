// The two encodings of a change's record: the undo record's text (what a
// record read back holds, and which records are damaged: only a last line,
// or the header, without its newline is a write its process died inside;
// any other line that is not an entry, or a path or value name the registry
// would read otherwise, damages the whole record) and the history's bytes.
// The records are spelt out as the builds before this one wrote them: what
// such a build left on a disk or in a history reads the same.
#include <gtest/gtest.h>

#include <string>

#include "capture/UndoRecord.h"

namespace zandrel::testing {
namespace {

using namespace std::string_literals;
using capture::RecordEntry;
using Kind = RecordEntry::Kind;

TEST(UndoRecordText, OnlyACutLastLineIsPassedOver) {
  const std::string header = capture::kUndoRecordHeader;
  const std::string made = "created 80000000 2e6c656674\n";  // HKEY_CLASSES_ROOT\.left
  // The machine's .left, with a default value and "Data", gets "Имя".
  const std::string set =
      "values 80000002 534f4654574152455c436c61737365735c2e6c656674 2 - 1 6f6c64 44617461 3 610062 "
      "set d098d0bcd18f 1 6e6577\n";
  const std::string deleted = "deleted 80000000 2e676f6e65 1 615c62 1 78\n";  // .gone, with a\b = x
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
      {"a NUL in a path", header + made + "created 80000000 2e6c6566740078\n", 3, ""},
      {"a NUL in a value name", header + "values 80000000 2e6c656674 1 610062 1 78 delete 63\n", 2, ""},
      {"a NUL in the changed value's name", header + "values 80000000 2e6c656674 0 set 630064 1 78\n", 2, ""},
      {"a NUL in a deleted key's value name", header + "deleted 80000000 2e6c656674 1 00 1 78\n", 2, ""},
      {"an empty component", header + "created 80000000 615c5c62\n", 2, ""},
      {"a leading backslash", header + "created 80000000 5c61\n", 2, ""},
      {"a trailing backslash", header + "created 80000000 615c\n", 2, ""},
      {"a backslash alone", header + "created 80000000 5c\n", 2, ""},
  };
  for (const auto& record : kRecords) {
    SCOPED_TRACE(record.name);
    const capture::DecodedRecord decoded = capture::DecodeUndoRecord(record.bytes);
    EXPECT_EQ(decoded.damaged_line, record.damaged_line);
    std::string entries;
    for (const RecordEntry& entry : decoded.entries) entries += capture::EncodeUndoEntry(entry);
    EXPECT_EQ(entries, record.entries);
  }
  // What the entries hold: a value change as the key's values before and
  // after it, a deleted key's values.
  const capture::DecodedRecord decoded = capture::DecodeUndoRecord(header + made + set + deleted);
  ASSERT_EQ(decoded.entries.size(), 3u);
  const capture::RecordedValues before = {{"", REG_SZ, "old"}, {"Data", REG_BINARY, "a\0b"s}};
  capture::RecordedValues after = before;
  after.push_back({"Имя", REG_SZ, "new"});
  EXPECT_TRUE(decoded.entries[0].kind == Kind::kCreated && decoded.entries[0].root == HKEY_CLASSES_ROOT &&
              decoded.entries[0].path == ".left");
  EXPECT_TRUE(decoded.entries[1].kind == Kind::kValues && decoded.entries[1].path == "SOFTWARE\\Classes\\.left");
  EXPECT_EQ(decoded.entries[1].before, before);
  EXPECT_EQ(decoded.entries[1].after, after);
  EXPECT_TRUE(decoded.entries[2].kind == Kind::kDeleted);
  EXPECT_EQ(decoded.entries[2].before, (capture::RecordedValues{{"a\\b", REG_SZ, "x"}}));
  // A value deleted (named as the key spells it), and a write that changed
  // nothing, as the journal writes them.
  const auto write = [&before](const registry::Value& change, bool deleting) {
    return capture::EncodeUndoEntry(capture::WriteEntry(HKEY_CLASSES_ROOT, ".left", before, change, deleting));
  };
  EXPECT_EQ(write({"DATA", REG_NONE, ""}, true),
            "values 80000000 2e6c656674 2 - 1 6f6c64 44617461 3 610062 delete 44617461\n");
  EXPECT_EQ(write({"", REG_SZ, "old"}, false),
            "values 80000000 2e6c656674 2 - 1 6f6c64 44617461 3 610062 set - 1 6f6c64\n");
}

// A history's record as stored: an entry of each kind.
TEST(ChangeRecordBytes, ARecordStoredReadsAsItWasWritten) {
  const std::string bytes =
      "ZHR1\x05\x00\x00\x00"s
      // created SOFTWARE\Classes\.a: itself, with the default value "t", and its subkey shell
      "\x01\x02\x00\x00\x80\x13\x00\x00\x00SOFTWARE\\Classes\\.a\x02\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00"
      "\x00\x00\x00\x00\x01\x00\x00\x00\x02\x00\x00\x00t\x00\x05\x00\x00\x00shell\x00\x00\x00\x00"s
      // deleted .b, which held the DWORD x = 1
      "\x02\x02\x00\x00\x80\x13\x00\x00\x00SOFTWARE\\Classes\\.b\x01\x00\x00\x00\x01\x00\x00\x00x\x04\x00\x00\x00"
      "\x04\x00\x00\x00\x01\x00\x00\x00"s
      // .c's default value from "o" to "n"
      "\x03\x02\x00\x00\x80\x13\x00\x00\x00SOFTWARE\\Classes\\.c\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00"
      "\x01\x00\x00\x00o\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x01\x00\x00\x00n"s
      // .d deleted with its subtree: itself alone, without values
      "\x04\x02\x00\x00\x80\x13\x00\x00\x00SOFTWARE\\Classes\\.d\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"s
      // .e kept
      "\x05\x02\x00\x00\x80\x13\x00\x00\x00SOFTWARE\\Classes\\.e"s;
  capture::ChangeRecord record;
  ASSERT_TRUE(capture::DecodeChangeRecord(bytes, &record));
  ASSERT_EQ(record.entries.size(), 5u);
  const Kind kinds[] = {Kind::kCreated, Kind::kDeleted, Kind::kValues, Kind::kDeletedTree, Kind::kKept};
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_TRUE(record.entries[i].kind == kinds[i]) << i;
    EXPECT_EQ(record.entries[i].root, HKEY_LOCAL_MACHINE);
    EXPECT_EQ(record.entries[i].path, "SOFTWARE\\Classes\\."s + static_cast<char>('a' + i));
  }
  EXPECT_EQ(record.entries[0].subtree.Decode(),
            (std::vector<capture::RecordedKey>{{"", {{"", REG_SZ, "t\0"s}}}, {"shell", {}}}));
  EXPECT_EQ(record.entries[1].before, (capture::RecordedValues{{"x", REG_DWORD, "\x01\x00\x00\x00"s}}));
  EXPECT_EQ(record.entries[2].before, (capture::RecordedValues{{"", REG_SZ, "o"}}));
  EXPECT_EQ(record.entries[2].after, (capture::RecordedValues{{"", REG_SZ, "n"}}));
  EXPECT_EQ(record.entries[3].subtree.Decode(), (std::vector<capture::RecordedKey>{{"", {}}}));
  EXPECT_EQ(record.KeyCount(), 5u);
  EXPECT_EQ(capture::EncodeChangeRecord(record), bytes);
  EXPECT_FALSE(capture::DecodeChangeRecord(bytes.substr(0, bytes.size() - 1), &record));
}

}  // namespace
}  // namespace zandrel::testing
