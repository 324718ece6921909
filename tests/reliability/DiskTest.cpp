// A full disk and a read-only hive during an add: the step's message, no
// crash, and afterwards the hive opens with its old content (the window
// carries on and the add succeeds once there is room again).
//
// The full disk is made two ways: a SQLite VFS that refuses writes past a
// byte budget (every budget from nothing to enough, so the refusal lands at
// every write the add makes), and a real small tmpfs filled up, mounted by
// the test when it may (root, or skipped). Read-only is made by a read-only
// remount of such a tmpfs, and by permission bits for a user other than
// root: as root the test drops to "nobody" in a child process, since root
// ignores the bits.
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>

#include <gtest/gtest.h>

#include "reliability/FaultVfs.h"
#include "reliability/ReliabilitySupport.h"
#include "support/DumpTree.h"
#include "support/Seed.h"

namespace zandrel::testing {
namespace {

const std::string kExt = ".new";
const std::string kTitle = "Новый файл";

// The messages an add may end with when the hive refuses to be written.
bool IsStepFailure(const std::vector<std::string>& texts) {
  static const std::vector<std::string> steps = {
      "Unable to create " + kExt,
      "Unable to set value of " + kTitle + " to " + kExt,
      "Unable to create " + kTitle,
      "Unable to create " + kTitle + "\\shell\\open\\command",
      "Unable to set value to " + kTitle + "\\shell\\open\\command",
      "Unable create " + kTitle + "\\DefaultIcon",
      "Unable to set value to " + kTitle + "\\DefaultIcon",
  };
  return !texts.empty() && std::find(steps.begin(), steps.end(), texts.back()) != steps.end();
}

void SeedStore(IRegistry& registry, const std::string& program) {
  SeedAssociation(registry, ".txt", "txtfile", "/usr/bin/edit %1");
  SeedAssociation(registry, ".zq", "Zq.Document", program + " %1");
}

// Creates the hive at `path` holding the seeded store, closes it, and returns
// the dump of its classes store ("" when the hive does not open).
std::string SeedHive(const std::string& path, const std::string& program) {
  auto hive = MustOpenHive(path);
  if (hive == nullptr) return "";
  SeedStore(*hive, program);
  return DumpClasses(*hive);
}

class DiskFull : public ::testing::Test {
 protected:
  ScratchDir dir;
};

TEST_F(DiskFull, EveryWriteOfAnAddRefusedByAFullDisk) {
  FaultVfs::Install();
  const std::string program = dir.WriteFile("viewer", "#!/bin/sh\n");
  const std::string templ = dir.File("template.hive");
  const std::string before = SeedHive(templ, program);
  ASSERT_FALSE(before.empty());
  // How much a whole add writes.
  const std::string path = dir.File("full.hive");
  CopyHive(templ, path);
  std::string after;
  std::uint64_t needed = 0;
  {
    auto hive = MustOpenHive(path);
    FaultVfs::Disarm();
    HeadlessManager manager(*hive);
    manager.Add(kExt, kTitle, program);
    needed = FaultVfs::BytesWritten();
    ASSERT_EQ(manager.Texts(), std::vector<std::string>{kAddDone});
    after = DumpClasses(*hive);
  }
  ASSERT_GT(needed, 0u);
  int refused = 0, runs = 0;
  for (std::uint64_t budget = 0; budget <= needed + 512; budget += 256) {
    SCOPED_TRACE("disk full after " + std::to_string(budget) + " of " + std::to_string(needed) + " bytes");
    CopyHive(templ, path);
    {
      auto hive = MustOpenHive(path);
      ASSERT_NE(hive, nullptr);
      HeadlessManager manager(*hive);
      FaultVfs::FullAfterBytes(budget);
      manager.Add(kExt, kTitle, program);
      const bool full = FaultVfs::FullRefusals() > 0;
      FaultVfs::Disarm();
      ++runs;
      if (full) {
        ++refused;
        EXPECT_TRUE(IsStepFailure(manager.Texts())) << manager.Texts().back();
        EXPECT_EQ(manager.platform.messages.back().flags, 0);
        EXPECT_EQ(DumpClasses(*hive), before);
        // Room again: the same add, still in add mode, goes through.
        manager.platform.ClearRecord();
        manager.ProceedAgain();
        EXPECT_EQ(manager.Texts(), std::vector<std::string>{kAddDone});
      } else {
        EXPECT_EQ(manager.Texts(), std::vector<std::string>{kAddDone});
      }
    }
    EXPECT_EQ(IntegrityCheck(path), "ok");
    auto reopened = MustOpenHive(path);
    ASSERT_NE(reopened, nullptr);
    EXPECT_EQ(DumpClasses(*reopened), after);
  }
  EXPECT_GT(refused, 0);
  std::printf("disk full: %d byte budgets from 0 to %llu, %d refused the add\n", runs,
              static_cast<unsigned long long>(needed + 512), refused);
}

// A small tmpfs mounted for the test; the test is skipped where mounting is
// not allowed.
class Tmpfs {
 public:
  Tmpfs(const std::string& path, const std::string& size) : path_(path) {
    ::mkdir(path.c_str(), 0700);
    mounted_ = ::mount("tmpfs", path.c_str(), "tmpfs", 0, ("size=" + size + ",mode=0700").c_str()) == 0;
    error_ = mounted_ ? "" : std::strerror(errno);
  }
  ~Tmpfs() {
    if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
  }
  bool Mounted() const { return mounted_; }
  const std::string& Error() const { return error_; }
  bool RemountReadOnly() { return ::mount(nullptr, path_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0; }
  bool RemountReadWrite() { return ::mount(nullptr, path_.c_str(), nullptr, MS_REMOUNT, nullptr) == 0; }

 private:
  std::string path_;
  bool mounted_ = false;
  std::string error_;
};

// Fills the file system holding `folder` until it refuses; returns the bytes written.
std::uint64_t Fill(const std::string& folder) {
  const int fd = ::open((folder + "/filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) return 0;
  const std::string block(4096, 'f');
  std::uint64_t total = 0;
  for (;;) {
    const ssize_t n = ::write(fd, block.data(), block.size());
    if (n <= 0) break;
    total += static_cast<std::uint64_t>(n);
  }
  ::close(fd);
  return total;
}

TEST_F(DiskFull, RealSmallFileSystemFillsUp) {
  const std::string mount_point = dir.File("small");
  Tmpfs tmpfs(mount_point, "512k");
  if (!tmpfs.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here: " << tmpfs.Error();
  const std::string program = dir.WriteFile("viewer", "#!/bin/sh\n");
  const std::string path = mount_point + "/registry.db";
  const std::string before = SeedHive(path, program);
  ASSERT_FALSE(before.empty());
  {
    auto hive = MustOpenHive(path);
    ASSERT_NE(hive, nullptr);
    HeadlessManager manager(*hive);
    manager.form->cmdList_Click();  // reads: the shared-memory file exists before the disk fills
    ASSERT_GT(Fill(mount_point), 0u);
    manager.platform.ClearRecord();
    manager.Add(kExt, kTitle, program);
    EXPECT_TRUE(IsStepFailure(manager.Texts())) << (manager.Texts().empty() ? "" : manager.Texts().back());
    EXPECT_EQ(DumpClasses(*hive), before);
    // Room again: the window is still in add mode and the add goes through.
    ::unlink((mount_point + "/filler").c_str());
    manager.platform.ClearRecord();
    manager.ProceedAgain();
    EXPECT_EQ(manager.Texts(), std::vector<std::string>{kAddDone});
  }
  EXPECT_EQ(IntegrityCheck(path), "ok");
  auto reopened = MustOpenHive(path);
  ASSERT_NE(reopened, nullptr);
  EXPECT_NE(DumpClasses(*reopened), before);
}

class ReadOnlyHive : public ::testing::Test {
 protected:
  ScratchDir dir;
};

TEST_F(ReadOnlyHive, OnAReadOnlyMount) {
  const std::string mount_point = dir.File("ro");
  Tmpfs tmpfs(mount_point, "1m");
  if (!tmpfs.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here: " << tmpfs.Error();
  const std::string program = dir.WriteFile("viewer", "#!/bin/sh\n");
  const std::string path = mount_point + "/registry.db";
  const std::string before = SeedHive(path, program);
  ASSERT_FALSE(before.empty());
  const std::string bytes = ReadFile(path);
  ASSERT_TRUE(tmpfs.RemountReadOnly()) << std::strerror(errno);
  std::string error;
  auto hive = hive::OpenHive(path, &error);
  // Opened for reading: the store lists, and the add stops at its first step.
  ASSERT_NE(hive, nullptr) << error;
  EXPECT_EQ(DumpClasses(*hive), before);
  HeadlessManager manager(*hive);
  manager.Add(kExt, kTitle, program);
  EXPECT_EQ(manager.Texts(), std::vector<std::string>{"Unable to create " + kExt});
  EXPECT_EQ(DumpClasses(*hive), before);
  hive.reset();
  EXPECT_EQ(ReadFile(path), bytes);
  ASSERT_TRUE(tmpfs.RemountReadWrite()) << std::strerror(errno);
  EXPECT_EQ(IntegrityCheck(path), "ok");
  auto reopened = MustOpenHive(path);
  ASSERT_NE(reopened, nullptr);
  EXPECT_EQ(DumpClasses(*reopened), before);
}

// Runs `work` as the user nobody when this process is root (root passes over
// permission bits), else as ourselves. The child writes its result to a pipe.
std::string AsOrdinaryUser(const std::function<std::string()>& work, int* status) {
  int fds[2];
  if (::pipe(fds) != 0) return "pipe failed";
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(6);
    const std::string result = work();
    if (::write(fds[1], result.data(), result.size()) < 0) ::_exit(7);
    ::_exit(0);
  }
  ::close(fds[1]);
  std::string result;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0) result.append(buffer, static_cast<std::size_t>(n));
  ::close(fds[0]);
  ::waitpid(pid, status, 0);
  return result;
}

// The add as an ordinary user on a hive it may not write: the classes store
// as listed first, then the messages; or "open failed: ..." when the hive
// does not open.
std::string AddAsOrdinaryUser(const std::string& path, const std::string& program, int* status) {
  return AsOrdinaryUser(
      [&]() -> std::string {
        std::string error;
        auto hive = hive::OpenHive(path, &error);
        if (!hive) return "open failed: " + error;
        const std::string listing = DumpClasses(*hive);
        HeadlessManager manager(*hive);
        manager.Add(kExt, kTitle, program);
        std::string texts;
        for (const std::string& t : manager.Texts()) texts += t + "\n";
        return listing + texts;
      },
      status);
}

TEST_F(ReadOnlyHive, FileOrFolderWithoutWritePermission) {
  const std::string program = dir.WriteFile("viewer", "#!/bin/sh\n");
  ::chmod(program.c_str(), 0755);
  ::chmod(dir.Path().c_str(), 0755);
  struct Case {
    const char* label;
    mode_t folder_mode;  // 0: left writable
    mode_t file_mode;    // 0: left writable
  };
  for (const Case& c : {Case{"file 0400", 0, 0400}, Case{"folder 0500", 0500, 0},
                        Case{"folder 0555, file 0444", 0555, 0444}}) {
    SCOPED_TRACE(c.label);
    const std::string sub = dir.File(std::string("ro-") + std::to_string(c.folder_mode) + "-" +
                                     std::to_string(c.file_mode));
    ::mkdir(sub.c_str(), 0700);
    const std::string path = sub + "/registry.db";
    const std::string before = SeedHive(path, program);
    ASSERT_FALSE(before.empty());
    if (::geteuid() == 0) {
      ASSERT_EQ(::chown(sub.c_str(), 65534, 65534), 0);
      ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
    }
    const std::string bytes = ReadFile(path);
    if (c.file_mode != 0) ::chmod(path.c_str(), c.file_mode);
    if (c.folder_mode != 0) ::chmod(sub.c_str(), c.folder_mode);
    int status = 0;
    const std::string result = AddAsOrdinaryUser(path, program, &status);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << DescribeStatus(status);
    // Opened for reading: the store lists, and the add stops at its first step.
    EXPECT_EQ(result, before + "Unable to create " + kExt + "\n");
    EXPECT_EQ(ReadFile(path), bytes);
    ::chmod(sub.c_str(), 0700);
    ::chmod(path.c_str(), 0600);
    EXPECT_EQ(IntegrityCheck(path), "ok");
    auto reopened = MustOpenHive(path);
    ASSERT_NE(reopened, nullptr);
    EXPECT_EQ(DumpClasses(*reopened), before);
  }
}

}  // namespace
}  // namespace zandrel::testing
