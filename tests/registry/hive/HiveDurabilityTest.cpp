// The hive's promises about the disk and other processes: a change that
// returns 0 has been synced to disk, a refused commit leaves nothing, and a
// writer waits up to 10 s for another process's write before answering 170.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "registry/hive/FaultVfs.h"
#include "registry/hive/Hive.h"
#include "registry/RegistryScript.h"
#include "registry/Wait.h"
#include "support/StatusCheck.h"
#include "support/Support.h"

namespace zandrel::testing {
namespace {

using hive::OpenHive;

std::unique_ptr<hive::HiveRegistry> Open(const std::string& path) {
  std::unique_ptr<hive::HiveRegistry> hive;
  EXPECT_TRUE(IsOk(OpenHive(path, &hive)));
  return hive;
}

// A single call, and the commit of a transaction: the write-ahead log is
// synced after its last write, before the call returns. A commit the disk
// refuses leaves nothing, and a handle to what it created reads as deleted.
TEST(HiveDurability, AChangeIsSyncedBeforeItReturnsAndARefusedCommitLeavesNothing) {
  FaultVfs::Install();
  TempDir dir;
  auto hive = Open(dir.File("registry.db"));
  ASSERT_NE(hive, nullptr);
  FaultVfs::Disarm();
  ASSERT_EQ(SeedKey(*hive, ".single"), ERROR_SUCCESS);
  std::string trace = FaultVfs::Trace();
  ASSERT_EQ(hive->BeginTransaction(), ERROR_SUCCESS);
  ASSERT_EQ(SeedValue(*hive, ".zq", "", REG_SZ, "Zq"), ERROR_SUCCESS);
  FaultVfs::Disarm();
  ASSERT_EQ(hive->CommitTransaction(), ERROR_SUCCESS);
  for (const std::string& t : {trace, FaultVfs::Trace()}) {
    SCOPED_TRACE(t);
    ASSERT_NE(t.rfind("w wal"), std::string::npos);
    EXPECT_GT(t.rfind("s wal"), t.rfind("w wal")) << "returned before the log reached the disk";
  }
  ScriptRunner run(*hive, nullptr);
  run.Run("begin -> 0; create HKCR NeverCommitted -> 0 as h1");
  FaultVfs::FullAfterBytes(0);
  run.Run("commit -> 112");  // the disk is full
  FaultVfs::Disarm();
  run.Run("rollback; create HKCR .after -> 0; set h1 \"\" sz x -> 1018");
  EXPECT_EQ(DumpClasses(*hive), "[]\n[.after]\n[.single]\n[.zq]\n  \"\" type 1: 5a 71 00\n");
  EXPECT_EQ(DumpClasses(*Open(dir.File("registry.db"))), DumpClasses(*hive));
}

// Another process holds the hive's write lock until told; this process's
// sleeps are virtual, so ten seconds of waiting take no time. The wait hook
// runs at least every 100 ms of the wait, and never when there is no wait.
TEST(HiveBusy, AWriterWaitsUpToTenSecondsForAnotherProcess) {
  FaultVfs::Install();
  TempDir dir;
  const std::string path = dir.File("registry.db");
  auto hive = Open(path);
  ASSERT_NE(hive, nullptr);
  const struct {
    std::uint64_t releaseAt;  // virtual microseconds; 0: held throughout
    LONG code;
    std::uint64_t sleptMin, sleptMax;
  } rows[] = {{0, ERROR_BUSY, 9'900'000, 10'100'000}, {3'000'000, ERROR_SUCCESS, 3'000'000, 3'200'000}};
  int n = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.releaseAt);
    int locked[2], release[2];
    ASSERT_EQ(::pipe(locked), 0);
    ASSERT_EQ(::pipe(release), 0);
    const pid_t child = ::fork();
    if (child == 0) {
      std::unique_ptr<hive::HiveRegistry> other;
      char byte = 0;
      if (!OpenHive(path, &other).Ok() || other->BeginTransaction() != ERROR_SUCCESS ||
          SeedKey(*other, ".held") != ERROR_SUCCESS || ::write(locked[1], "l", 1) != 1 ||
          ::read(release[0], &byte, 1) != 1)
        ::_exit(1);
      other->RollbackTransaction();
      ::_exit(0);
    }
    char byte = 0;
    ASSERT_EQ(::read(locked[0], &byte, 1), 1);
    const std::string before = DumpClasses(*hive);  // readers are not held up
    bool released = false;
    auto letGo = [&] {
      if (released) return;
      released = true;
      ASSERT_EQ(::write(release[1], "r", 1), 1);
      int status = 0;
      ASSERT_EQ(::waitpid(child, &status, 0), child);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    };
    FaultVfs::VirtualSleep([&](std::uint64_t slept) {
      if (row.releaseAt != 0 && slept >= row.releaseAt) letGo();
    });
    std::vector<std::uint64_t> hooked;  // the virtual time of each call of the hook
    registry::SetWaitHook([&hooked] { hooked.push_back(FaultVfs::Slept()); });
    EXPECT_EQ(SeedKey(*hive, ".mine" + std::to_string(n++)), row.code);
    const std::uint64_t slept = FaultVfs::Slept();
    FaultVfs::Disarm();
    letGo();
    EXPECT_GE(slept, row.sleptMin);
    EXPECT_LE(slept, row.sleptMax);
    ASSERT_FALSE(hooked.empty());
    EXPECT_EQ(hooked.front(), 0u);
    hooked.push_back(slept);
    for (std::size_t i = 1; i < hooked.size(); ++i) EXPECT_LE(hooked[i] - hooked[i - 1], 100'000u) << i;
    registry::SetWaitHook(nullptr);
    EXPECT_EQ(before, "[]\n");
    for (int fd : {locked[0], locked[1], release[0], release[1]}) ::close(fd);
  }
  int hooked = 0;
  registry::SetWaitHook([&hooked] { ++hooked; });
  EXPECT_EQ(SeedKey(*hive, ".free"), ERROR_SUCCESS);
  registry::SetWaitHook(nullptr);
  EXPECT_EQ(hooked, 0) << "no other writer, no wait";
  EXPECT_EQ(DumpClasses(*hive), "[]\n[.free]\n[.mine1]\n");
}

}  // namespace
}  // namespace zandrel::testing
