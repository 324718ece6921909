// Files read whole: what each failure is; written whole: what a success
// leaves, that the new file is flushed before it takes the old one's place,
// and that a failure at any step keeps the old file and leaves no temporary
// file behind.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <utility>
#include <vector>

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

#ifndef _WIN32
// A file of another user's (a desktop setting written by an administrator
// for that user) stays that user's: its owner could no longer write it. One
// made in that user's folder becomes theirs.
TEST(FileReplace, KeepsTheOwnerOfAnotherUsersFile) {
  if (::geteuid() != 0) GTEST_SKIP() << "only the administrator writes another user's file";
  TempDir dir;
  const std::string file = dir.Write("theirs.list", "old"), made = dir.File("made.list");
  ASSERT_EQ(::chown(file.c_str(), 4321, 4322), 0);
  ASSERT_EQ(::chown(dir.Path().c_str(), 4321, 4322), 0);
  for (const std::string& path : {file, made}) {
    EXPECT_TRUE(files::ReplaceFileWhole(path, "new").Ok());
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 4321u) << path;
    EXPECT_EQ(st.st_gid, 4322u) << path;
    EXPECT_EQ(ReadFile(path), "new");
  }
}
#endif

// An error number the system has a text for on Linux, and none on Windows.
#ifdef _WIN32
constexpr int kRefused = 0x20000001;  // the customer bit: no system text
const char* const kRefusedMessage = "cannot write the file: error 536870913";
#else
constexpr int kRefused = EIO;
const char* const kRefusedMessage = "cannot write the file: Input/output error";
#endif

// The system's steps, each written down as it is made: which file it is made
// on, and, for the move, what the moved file holds and where it stands. The
// step named `failing` fails with kRefused instead of being made.
class StepLog {
 public:
  explicit StepLog(std::string failing = "") : failing_(std::move(failing)) {}

  files::ReplaceSteps Steps() {
    const files::ReplaceSteps& system = files::SystemReplaceSteps();
    files::ReplaceSteps steps;
    steps.write = [this, &system](files::ReplaceSteps::File file, const std::string& bytes) {
      written_ = file;
      lines.push_back("write \"" + bytes + "\"");
      return failing_ == "write" ? kRefused : system.write(file, bytes);
    };
    steps.flush = [this, &system](files::ReplaceSteps::File file) {
      lines.push_back(file == written_ ? "flush the written file" : "flush another file");
      return failing_ == "flush" ? kRefused : system.flush(file);
    };
    steps.put = [this, &system](const std::string& temporary, const std::string& path) {
      const bool beside = fs::path(temporary).parent_path() == fs::path(path).parent_path();
      lines.push_back("put \"" + ReadFile(temporary) + "\" in place of " + fs::path(path).filename().string() +
                      (beside ? " from beside it" : " from elsewhere"));
      return failing_ == "put" ? kRefused : system.put(temporary, path);
    };
    steps.syncFolder = [this](const std::string& folder) {
      lines.push_back("sync the folder " + fs::path(folder).filename().string());
    };
    return steps;
  }
  std::vector<std::string> lines;

 private:
  std::string failing_;
  files::ReplaceSteps::File written_ = 0;
};

// The new bytes are on disk before the file holding them takes the old one's
// place: a crash between the two leaves the old file or the whole new one.
// A failure at any step keeps the old file.
TEST(FileReplace, FlushesTheNewFileBeforeItTakesThePlaceAndAFailedStepKeepsTheOld) {
  std::vector<std::string> all{"write \"new\"", "flush the written file",
                               "put \"new\" in place of a.reg from beside it"};
#ifndef _WIN32
  // A rename is on disk once its folder is; Windows' move writes through.
  all.push_back("sync the folder out");
#endif
  const struct {
    const char* failing;
    std::size_t made;  // the steps made, the failed one last
  } cases[] = {{"", all.size()}, {"write", 1}, {"flush", 2}, {"put", 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.failing);
    TempDir dir;
    const std::string file = dir.Write("out/a.reg", "old");
    StepLog log(c.failing);
    const status::Status written = files::ReplaceFileWhole(file, "new", log.Steps());
    EXPECT_EQ(written.message, *c.failing ? kRefusedMessage : "");
    EXPECT_EQ(written.code, *c.failing ? status::Status::kFailed : status::Status::kOk);
    EXPECT_EQ(log.lines, std::vector<std::string>(all.begin(), all.begin() + c.made));
    EXPECT_EQ(ReadFile(file), *c.failing ? "old" : "new");
    EXPECT_EQ(Names(dir.File("out")), (std::set<std::string>{"a.reg"}));
  }
}

}  // namespace
}  // namespace zandrel::testing
