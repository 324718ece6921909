// What the program leaves on disk: the hive file is private (0600 in a 0700
// folder); an add, a listing and a removal write no file but the hive and its
// journal; nothing typed is run or used as a file path, except the program
// path, which FileExists only opens for reading.
#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>

#include <gtest/gtest.h>

#include "reliability/ReliabilitySupport.h"
#include "store/basZandrel.h"

namespace zandrel::testing {
namespace {

mode_t Mode(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

// Every entry below `root`, relative, with what stat says of it.
std::map<std::string, std::string> Snapshot(const std::string& root) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    struct stat st {};
    ::lstat(entry.path().c_str(), &st);
    entries[std::filesystem::relative(entry.path(), root).string()] =
        std::to_string(st.st_mode) + " " + std::to_string(st.st_size) + " " + std::to_string(st.st_mtim.tv_sec) + "." +
        std::to_string(st.st_mtim.tv_nsec) + " " + std::to_string(st.st_ctim.tv_nsec);
  }
  return entries;
}

TEST(Security, HiveIsCreatedPrivateWhateverTheUmask) {
  ScratchDir dir;
  const mode_t old = ::umask(0);
  const std::string path = dir.File("data/zandrel/registry.db");
  {
    auto hive = MustOpenHive(path);
    ASSERT_NE(hive, nullptr);
    HeadlessManager manager(*hive);
    manager.Add(".zq", "Zq", dir.WriteFile("viewer", "x"));  // makes the journal files
    EXPECT_EQ(Mode(path), 0600u);
    EXPECT_EQ(Mode(path + "-wal"), 0600u);
    EXPECT_EQ(Mode(path + "-shm"), 0600u);
  }
  ::umask(old);
  EXPECT_EQ(Mode(dir.File("data")), 0700u);
  EXPECT_EQ(Mode(dir.File("data/zandrel")), 0700u);
  EXPECT_EQ(Mode(path), 0600u);
}

// An add, a listing and a removal in a process whose home, data, working and
// temporary folders are fresh, with typed texts that would run commands if
// anything gave them to a shell: afterwards those folders hold the hive (and
// at most its journal) and nothing else.
TEST(Security, WritesNoFileButTheHive) {
  ScratchDir dir;
  const std::string program = dir.WriteFile("program/viewer", "#!/bin/sh\n");
  const std::string world = dir.File("world");
  for (const char* sub : {"home", "cwd", "tmp", "xdg"}) std::filesystem::create_directories(world + "/" + sub);
  for (const bool xdg : {false, true}) {
    SCOPED_TRACE(xdg ? "XDG_DATA_HOME set" : "HOME only");
    const int status = RunInChild([&] {
      ::setenv("HOME", (world + "/home").c_str(), 1);
      ::setenv("TMPDIR", (world + "/tmp").c_str(), 1);
      ::unsetenv("ZANDREL_HIVE");
      if (xdg)
        ::setenv("XDG_DATA_HOME", (world + "/xdg").c_str(), 1);
      else
        ::unsetenv("XDG_DATA_HOME");
      if (::chdir((world + "/cwd").c_str()) != 0) std::_Exit(8);
      std::string error;
      auto hive = hive::OpenDefaultHive(&error);
      if (!hive) std::_Exit(9);
      HeadlessManager manager(*hive);
      const std::string ext = ";touch ext-ran";
      const std::string title = "$(touch title-ran)`touch title-ran2`; touch title-ran3";
      manager.Add(ext, title, "/bin/sh -c 'touch program-ran'");  // not a file: refused
      manager.Add(ext, title, program);
      manager.form->cmdList_Click();
      manager.Remove(ext, title);
      if (manager.Texts().back() != RemoveDone("." + ext)) std::_Exit(10);
    });
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << DescribeStatus(status);
    std::set<std::string> files;
    for (const auto& [name, unused] : Snapshot(world)) files.insert(name);
    const std::string data = xdg ? "xdg/zandrel" : "home/.local/share/zandrel";
    std::set<std::string> expected = {"cwd", "home", "tmp", "xdg", data, data + "/registry.db"};
    if (!xdg) expected.insert({"home/.local", "home/.local/share"});
    // The journal may outlive the process only when it was not closed cleanly.
    files.erase(data + "/registry.db-wal");
    files.erase(data + "/registry.db-shm");
    EXPECT_EQ(files, expected);
    EXPECT_EQ(Mode(world + "/" + data), 0700u);
    EXPECT_EQ(Mode(world + "/" + data + "/registry.db"), 0600u);
    std::filesystem::remove_all(world + "/" + (xdg ? "xdg/zandrel" : "home/.local"));
  }
}

// FileExists opens the program path for reading and nothing else: a FIFO
// (which nobody writes to) does not block it, and neither a FIFO, a file nor
// a missing path in a fresh folder is created, changed or touched.
TEST(Security, FileExistsOnlyOpensForReading) {
  ScratchDir dir;
  const std::string fresh = dir.File("fresh");
  std::filesystem::create_directories(fresh);
  ASSERT_EQ(::mkfifo((fresh + "/fifo").c_str(), 0600), 0);
  dir.WriteFile("fresh/file", "contents");
  const auto before = Snapshot(fresh);
  struct stat folder_before {};
  ::stat(fresh.c_str(), &folder_before);

  EXPECT_TRUE(store::FileExists(fresh + "/fifo"));
  EXPECT_TRUE(store::FileExists(fresh + "/file"));
  EXPECT_FALSE(store::FileExists(fresh + "/missing"));
  EXPECT_FALSE(store::FileExists(fresh + "/missing/deeper"));
  EXPECT_FALSE(store::FileExists(fresh + "/file/"));
  EXPECT_FALSE(store::FileExists(fresh));

  EXPECT_EQ(Snapshot(fresh), before);
  struct stat folder_after {};
  ::stat(fresh.c_str(), &folder_after);
  EXPECT_EQ(folder_after.st_mtim.tv_nsec, folder_before.st_mtim.tv_nsec);
  EXPECT_EQ(folder_after.st_nlink, folder_before.st_nlink);
  EXPECT_EQ(ReadFile(fresh + "/file"), "contents");
}

}  // namespace
}  // namespace zandrel::testing
