// The file lines a change keeps: each row's file written as the change
// left it, undone from its record (read back from its bytes) to the bytes
// it had, and redone from the undo's inverse record.

#include <gtest/gtest.h>

#include "capture/FileRecord.h"
#include "support/Support.h"

namespace zandrel::testing {
namespace {

using capture::FileContent;

TEST(FileRecord, UndoAndRedoGiveEachFileItsBytes) {
  const struct {
    FileContent before, after;
  } rows[] = {
      {"[A]\r\na=1;\r\n\r\n[B]\r\nb=2;\r\n", "[A]\r\na=3;\r\nc=1;\r\n\r\n[B]\r\nb=2;\r\n"},  // CR LF kept
      {"[A]\na=1;", "[A]\na=1;\n[B]\nb=2;"},                                                 // no last line end
      {std::nullopt, "[A]\na=1;\n"},                                                         // made
      {"x\ny\nz\n", std::nullopt},                                                           // removed
      {"same\n", "same\n"},
  };
  TempDir dir;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.before.value_or("(none)") + " -> " + row.after.value_or("(none)"));
    const std::string path = dir.File("mimeapps.list");
    capture::FileRecord record{{capture::DiffFile(path, row.before, row.after)}}, read;
    ASSERT_TRUE(capture::DecodeFileRecord(capture::EncodeFileRecord(record), &read));
    EXPECT_EQ(read.files, record.files);
    capture::FileContents saved, undone, redone;
    ASSERT_TRUE(capture::WriteFiles({{path, row.after}}, &saved).Ok());
    std::string changed;
    ASSERT_TRUE(capture::UndoneContents(read, &undone, &changed)) << changed;
    EXPECT_EQ(undone, (capture::FileContents{{path, row.before}}));
    ASSERT_TRUE(capture::WriteFiles(undone, &saved).Ok());
    ASSERT_TRUE(capture::UndoneContents(capture::InverseFileRecord(read), &redone, &changed)) << changed;
    EXPECT_EQ(redone, (capture::FileContents{{path, row.after}}));
    const std::string bytes = capture::EncodeFileRecord(record);
    EXPECT_FALSE(capture::DecodeFileRecord(bytes.substr(0, bytes.size() - 1), &read)) << "cut short";
    capture::PutFilesBack({{path, std::nullopt}});
  }
}

}  // namespace
}  // namespace zandrel::testing
