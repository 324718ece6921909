// The hive's promises about the disk and other processes: a change that
// returns 0 has been synced to disk, a refused commit leaves nothing, and a
// writer waits up to 10 s for another process's write before answering 170.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/hive/FaultVfs.h"
#include "platform/hive/Hive.h"
#include "support/Support.h"

namespace zandrel::testing {
namespace {

std::unique_ptr<hive::HiveRegistry> Open(const std::string& path) {
  std::string error;
  auto hive = hive::OpenHive(path, &error);
  EXPECT_NE(hive, nullptr) << error;
  return hive;
}

TEST(HiveDurability, AChangeIsSyncedBeforeItReturns) {
  FaultVfs::Install();
  TempDir dir;
  auto hive = Open(dir.File("registry.db"));
  ASSERT_NE(hive, nullptr);
  // A single call, and the commit of a transaction: the write-ahead log is
  // synced after its last write, before the call returns.
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
}

TEST(HiveDurability, ACommitRefusedByAFullDiskLeavesNothing) {
  FaultVfs::Install();
  TempDir dir;
  auto hive = Open(dir.File("registry.db"));
  ASSERT_NE(hive, nullptr);
  ASSERT_EQ(hive->BeginTransaction(), ERROR_SUCCESS);
  HKEY stale = 0;
  ASSERT_EQ(hive->RegCreateKeyExA(HKEY_CLASSES_ROOT, "NeverCommitted", 0, "", 0, KEY_ALL_ACCESS, nullptr, &stale,
                                  nullptr),
            ERROR_SUCCESS);
  FaultVfs::FullAfterBytes(0);
  EXPECT_EQ(hive->CommitTransaction(), ERROR_DISK_FULL);
  FaultVfs::Disarm();
  hive->RollbackTransaction();
  ASSERT_EQ(SeedKey(*hive, ".after"), ERROR_SUCCESS);
  EXPECT_EQ(hive->RegSetValueExA(stale, "", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 1), ERROR_KEY_DELETED);
  EXPECT_EQ(DumpClasses(*hive), "[]\n[.after]\n");
  EXPECT_EQ(DumpClasses(*Open(dir.File("registry.db"))), "[]\n[.after]\n");
}

// Another process holds the hive's write lock until told; this process's
// sleeps are virtual, so ten seconds of waiting take no time.
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
      auto other = hive::OpenHive(path, nullptr);
      char byte = 0;
      if (!other || other->BeginTransaction() != ERROR_SUCCESS || SeedKey(*other, ".held") != ERROR_SUCCESS ||
          ::write(locked[1], "l", 1) != 1 || ::read(release[0], &byte, 1) != 1)
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
    EXPECT_EQ(SeedKey(*hive, ".mine" + std::to_string(n++)), row.code);
    const std::uint64_t slept = FaultVfs::Slept();
    FaultVfs::Disarm();
    letGo();
    EXPECT_GE(slept, row.sleptMin);
    EXPECT_LE(slept, row.sleptMax);
    EXPECT_EQ(before, "[]\n");
    for (int fd : {locked[0], locked[1], release[0], release[1]}) ::close(fd);
  }
  EXPECT_EQ(DumpClasses(*hive), "[]\n[.mine1]\n");
}

}  // namespace
}  // namespace zandrel::testing
