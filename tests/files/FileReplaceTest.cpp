// Files read whole: what each failure is; written whole: what a success
// leaves, and that a failure at the last step (the rename, or MoveFileExA on
// Windows) keeps the old file and leaves no temporary file behind.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <set>

#include "files/FileRead.h"
#include "files/FileReplace.h"
#include "support/Support.h"

namespace zandrel::testing {
namespace {

namespace fs = std::filesystem;

std::set<std::string> Names(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
  return names;
}

TEST(FileRead, ReadsWholeUpToTheLimit) {
  TempDir dir;
  const std::string file = dir.Write("a.reg", "0123456789");
  std::string bytes;
  EXPECT_TRUE(files::ReadFileWhole(file, &bytes, 10).Ok());
  EXPECT_EQ(bytes, "0123456789");
  EXPECT_EQ(files::ReadFileWhole(file, &bytes, 9).code, status::Status::kTooLarge);
  EXPECT_EQ(files::ReadFileWhole(dir.File("none.reg"), &bytes).code, status::Status::kNotFound);
}

TEST(FileReplace, WritesWholeOrKeepsTheOldFile) {
  TempDir dir;
  const std::string file = dir.Write("out/a.reg", "old");
  EXPECT_TRUE(files::ReplaceFileWhole(file, "new").Ok());
  EXPECT_EQ(ReadFile(file), "new");
  EXPECT_TRUE(files::ReplaceFileWhole(dir.File("out/b.reg"), std::string(1 << 20, 'b')).Ok());
  EXPECT_EQ(ReadFile(dir.File("out/b.reg")), std::string(1 << 20, 'b'));
  EXPECT_EQ(files::ReplaceFileWhole(dir.File("out"), "x").message, "is a folder, not a file");
  EXPECT_FALSE(files::ReplaceFileWhole(dir.File("missing/c.reg"), "x").Ok());

  const auto refused = [](const std::string&, const std::string&) { return EACCES; };
  EXPECT_FALSE(files::ReplaceFileWhole(file, "newer", refused).Ok());
  EXPECT_EQ(ReadFile(file), "new");
#ifdef _WIN32
  {
    // Windows itself refuses to replace a file another program holds open
    // without sharing its deletion (as the C library opens files): MoveFileExA fails.
    std::ifstream held(file, std::ios::binary);
    ASSERT_TRUE(held.good());
    EXPECT_FALSE(files::ReplaceFileWhole(file, "newer").Ok());
  }
  EXPECT_EQ(ReadFile(file), "new");
#else
  // A link is followed and stays a link; the file keeps its mode.
  fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  fs::create_symlink(file, dir.File("link.reg"));
  EXPECT_TRUE(files::ReplaceFileWhole(dir.File("link.reg"), "linked").Ok());
  EXPECT_TRUE(fs::is_symlink(dir.File("link.reg")));
  EXPECT_EQ(ReadFile(file), "linked");
  EXPECT_EQ(fs::status(file).permissions(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
#endif
  EXPECT_EQ(Names(dir.File("out")), (std::set<std::string>{"a.reg", "b.reg"}));
}

}  // namespace
}  // namespace zandrel::testing
