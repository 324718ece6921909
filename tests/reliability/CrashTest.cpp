// A crash at any moment of an add, a removal or an import leaves a hive that
// opens cleanly and holds either everything from before or everything from
// after, never a mix. Each kill point runs in a child process that dies with
// SIGKILL there; the parent then opens the hive and compares the whole
// classes store.
//
// Kill points: before and after every registry call that changes the store
// (KillingRegistry), and before every write, truncate, sync and delete that
// SQLite makes to the hive's files (FaultVfs), which reaches inside the
// commit. ZANDREL_RELIABILITY_FULL=1 makes the import sweeps take every
// point instead of a spread.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "regfile/RegFile.h"
#include "reliability/FaultVfs.h"
#include "reliability/ReliabilitySupport.h"
#include "support/DumpTree.h"
#include "support/Seed.h"

namespace zandrel::testing {
namespace {

bool FullSweeps() {
  const char* full = std::getenv("ZANDREL_RELIABILITY_FULL");
  return full != nullptr && *full != '\0' && *full != '0';
}

// Kill points 1..count, or, when there are more than `limit`, a spread of
// them that always keeps the last `tail` (where the commit happens).
std::vector<std::uint64_t> Points(std::uint64_t count, std::uint64_t limit, std::uint64_t tail) {
  std::vector<std::uint64_t> points;
  if (FullSweeps() || count <= limit) {
    for (std::uint64_t n = 1; n <= count; ++n) points.push_back(n);
    return points;
  }
  std::set<std::uint64_t> chosen;
  const std::uint64_t spread = limit - tail;
  for (std::uint64_t i = 0; i < spread; ++i) chosen.insert(1 + i * (count - tail) / spread);
  for (std::uint64_t n = count - tail + 1; n <= count; ++n) chosen.insert(n);
  return std::vector<std::uint64_t>(chosen.begin(), chosen.end());
}

enum class Operation { kAdd, kRemove };

class CrashTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    FaultVfs::Install();
    dir_ = new ScratchDir;
    program_ = dir_->WriteFile("bin/zq viewer", "#!/bin/sh\n");
    const std::string path = dir_->File("template.hive");
    auto hive = MustOpenHive(path);
    ASSERT_NE(hive, nullptr);
    SeedAssociation(*hive, ".txt", "txtfile", "/usr/bin/edit %1");
    SeedValue(*hive, HKEY_CLASSES_ROOT, "txtfile\\DefaultIcon", "", REG_SZ, "/usr/bin/edit,1");
    SeedAssociation(*hive, ".zq", "Zq.Document", program_ + " %1");
    SeedValue(*hive, HKEY_CLASSES_ROOT, "Zq.Document\\DefaultIcon", "", REG_SZ, program_ + ",1");
    SeedValue(*hive, HKEY_CLASSES_ROOT, "Zq.Document\\shell\\print\\command", "", REG_SZ, program_ + " -p %1");
    before_ = new std::string(DumpClasses(*hive));
  }
  static void TearDownTestSuite() {
    delete before_;
    delete dir_;
  }

  static void Run(Operation op, IRegistry& registry) {
    HeadlessManager manager(registry);
    if (op == Operation::kAdd)
      manager.Add(".new", "Новый файл", program_);
    else
      manager.Remove(".zq", "Zq.Document");
    const std::string done = op == Operation::kAdd ? kAddDone : RemoveDone(".zq");
    if (manager.Texts().empty() || manager.Texts().back() != done) std::_Exit(4);
  }

  // The state after the operation ran to its end, and the number of changing
  // registry calls and file changes it made.
  struct CleanRun {
    std::string after;
    std::uint64_t writes = 0;
    std::uint64_t changes = 0;
    std::uint64_t bytes = 0;  // written to the hive's files
  };
  CleanRun Clean(Operation op) {
    const std::string path = dir_->File("clean.hive");
    CopyHive(dir_->File("template.hive"), path);
    CleanRun run;
    FaultVfs::Disarm();
    {
      auto hive = MustOpenHive(path);
      KillingRegistry counting(*hive, 0);
      Run(op, counting);
      run.writes = counting.Writes();
    }
    run.changes = FaultVfs::Changes();
    auto hive = MustOpenHive(path);
    run.after = DumpClasses(*hive);
    return run;
  }

  // After a kill: the files pass SQLite's check, the hive opens, and the
  // store is whole. Returns which state it holds.
  enum class Found { kBefore, kAfter, kMix };
  Found Inspect(const std::string& path, const CleanRun& clean, const std::string& where) {
    EXPECT_EQ(IntegrityCheck(path), "ok") << where;
    std::string error;
    auto hive = hive::OpenHive(path, &error);
    EXPECT_NE(hive, nullptr) << where << ": " << error;
    if (!hive) return Found::kMix;
    const std::string now = DumpClasses(*hive);
    if (now == *before_) return Found::kBefore;
    if (now == clean.after) return Found::kAfter;
    ADD_FAILURE() << where << ": the classes store is neither as before nor as after:\n" << now;
    return Found::kMix;
  }

  void SweepRegistryCalls(Operation op) {
    const CleanRun clean = Clean(op);
    ASSERT_NE(clean.after, *before_);
    ASSERT_GE(clean.writes, 3u);  // begin, at least one change, commit
    const std::string path = dir_->File("killed.hive");
    for (std::uint64_t point = 1; point <= 2 * clean.writes; ++point) {
      CopyHive(dir_->File("template.hive"), path);
      const int status = RunInChild([&] {
        auto hive = hive::OpenHive(path, nullptr);
        if (!hive) std::_Exit(5);
        KillingRegistry killing(*hive, point);
        Run(op, killing);
      });
      const std::string where = "kill point " + std::to_string(point) + " of " + std::to_string(2 * clean.writes);
      ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << where << ": " << DescribeStatus(status);
      const Found found = Inspect(path, clean, where);
      // Only a kill after the commit returned (the last point) may find the change.
      EXPECT_EQ(found, point == 2 * clean.writes ? Found::kAfter : Found::kBefore) << where;
    }
    RecordProperty("kill_points", static_cast<int>(2 * clean.writes));
    std::printf("%s: %llu registry writes, %llu kill points (before and after each)\n",
                op == Operation::kAdd ? "add" : "remove", static_cast<unsigned long long>(clean.writes),
                static_cast<unsigned long long>(2 * clean.writes));
  }

  void SweepFileChanges(Operation op) {
    const CleanRun clean = Clean(op);
    ASSERT_GT(clean.changes, 0u);
    const std::string path = dir_->File("killed.hive");
    int befores = 0, afters = 0;
    for (std::uint64_t n = 1; n <= clean.changes; ++n) {
      CopyHive(dir_->File("template.hive"), path);
      const int status = RunInChild([&] {
        FaultVfs::KillAtChange(n);
        auto hive = hive::OpenHive(path, nullptr);
        if (!hive) std::_Exit(5);
        Run(op, *hive);
      });
      const std::string where = "file change " + std::to_string(n) + " of " + std::to_string(clean.changes);
      ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << where << ": " << DescribeStatus(status);
      const Found found = Inspect(path, clean, where);
      befores += found == Found::kBefore;
      afters += found == Found::kAfter;
    }
    // The first kills come before anything is committed.
    EXPECT_GT(befores, 0);
    RecordProperty("file_change_points", static_cast<int>(clean.changes));
    std::printf("%s: %llu file-change kill points: %d found the state before, %d the state after\n",
                op == Operation::kAdd ? "add" : "remove", static_cast<unsigned long long>(clean.changes), befores,
                afters);
  }

  static ScratchDir* dir_;
  static std::string program_;
  static std::string* before_;
};

ScratchDir* CrashTest::dir_ = nullptr;
std::string CrashTest::program_;
std::string* CrashTest::before_ = nullptr;

TEST_F(CrashTest, AddKilledAtEveryRegistryWrite) { SweepRegistryCalls(Operation::kAdd); }
TEST_F(CrashTest, RemoveKilledAtEveryRegistryWrite) { SweepRegistryCalls(Operation::kRemove); }
TEST_F(CrashTest, AddKilledAtEveryFileChange) { SweepFileChanges(Operation::kAdd); }
TEST_F(CrashTest, RemoveKilledAtEveryFileChange) { SweepFileChanges(Operation::kRemove); }

// A .reg file big enough that SQLite spills pages before the commit.
std::string LargeRegFile(int associations) {
  std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
  for (int i = 0; i < associations; ++i) {
    const std::string n = std::to_string(i);
    text += "[HKEY_CLASSES_ROOT\\.ext" + n + "]\r\n@=\"Type" + n + ".Файл\"\r\n\"Content Type\"=\"application/x-" + n +
            "\"\r\n\r\n";
    text += "[HKEY_CLASSES_ROOT\\Type" + n + ".Файл\\shell\\open\\command]\r\n@=\"/opt/app" + n +
            "/bin/viewer %1\"\r\n\r\n";
    text += "[HKEY_CLASSES_ROOT\\Type" + n + ".Файл\\DefaultIcon]\r\n@=\"/opt/app" + n + "/bin/viewer,1\"\r\n\r\n";
  }
  return text;
}

class ImportCrashTest : public CrashTest {
 protected:
  void SetUp() override {
    reg_ = dir_->WriteFile("large.reg", LargeRegFile(1000));
    const std::string path = dir_->File("imported.hive");
    CopyHive(dir_->File("template.hive"), path);
    FaultVfs::Disarm();
    {
      auto hive = MustOpenHive(path);
      ASSERT_NE(hive, nullptr);
      const hive::RegImportResult result = hive::ImportRegFile(*hive, reg_);
      ASSERT_TRUE(result.ok) << result.message;
    }
    clean_.changes = FaultVfs::Changes();
    clean_.bytes = FaultVfs::BytesWritten();
    auto hive = MustOpenHive(path);
    clean_.after = DumpClasses(*hive);
  }
  std::string reg_;
  CleanRun clean_;
};

TEST_F(ImportCrashTest, ImportKilledAtFileChanges) {
  const std::string path = dir_->File("killed.hive");
  const std::vector<std::uint64_t> points = Points(clean_.changes, 40, 12);
  int befores = 0, afters = 0;
  for (std::uint64_t n : points) {
    CopyHive(dir_->File("template.hive"), path);
    const int status = RunInChild([&] {
      FaultVfs::KillAtChange(n);
      auto hive = hive::OpenHive(path, nullptr);
      if (!hive) std::_Exit(5);
      hive::ImportRegFile(*hive, reg_);
    });
    const std::string where = "import, file change " + std::to_string(n) + " of " + std::to_string(clean_.changes);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << where << ": " << DescribeStatus(status);
    const Found found = Inspect(path, clean_, where);
    befores += found == Found::kBefore;
    afters += found == Found::kAfter;
  }
  EXPECT_GT(befores, 0);
  std::printf("import: %zu of %llu file-change kill points: %d before, %d after\n", points.size(),
              static_cast<unsigned long long>(clean_.changes), befores, afters);
}

#ifdef ZANDREL_REG_BIN
// The real tool, killed from outside: after its write-ahead log has grown to
// k bytes, for a spread of k up to its final size, and after t milliseconds
// for a spread of t up to the import's own duration.
class ZandrelRegKilled : public ImportCrashTest {
 protected:
  pid_t Start(const std::string& hive_path) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::setenv("ZANDREL_HIVE", hive_path.c_str(), 1);
      const int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, 1);
      ::dup2(null, 2);
      ::execl(ZANDREL_REG_BIN, ZANDREL_REG_BIN, "import", reg_.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    return pid;
  }
  static off_t Size(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_size : 0;
  }
  static int Wait(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return status;
  }
};

TEST_F(ZandrelRegKilled, KilledAsItsLogGrowsAndAtTimes) {
  const std::string path = dir_->File("tool.hive");
  // A clean run gives the final log size and the duration.
  CopyHive(dir_->File("template.hive"), path);
  const auto start = std::chrono::steady_clock::now();
  int status = Wait(Start(path));
  const auto took = std::chrono::steady_clock::now() - start;
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << DescribeStatus(status);
  {
    auto hive = MustOpenHive(path);
    ASSERT_EQ(DumpClasses(*hive), clean_.after);
  }
  // The tool's last connection checkpoints and removes its log, so the log's
  // final size is taken from the same import run in this process.
  const off_t final_log = static_cast<off_t>(std::max<std::uint64_t>(clean_.bytes, 1));
  int befores = 0, afters = 0, finished = 0;
  const int steps = FullSweeps() ? 60 : 16;
  for (int i = 0; i < 2 * steps; ++i) {
    CopyHive(dir_->File("template.hive"), path);
    const pid_t pid = Start(path);
    std::string where;
    bool reaped = false;  // a reaped child's id may already belong to another process
    if (i < steps) {
      const off_t k = final_log * i / steps;
      where = "zandrel-reg killed once its log reached " + std::to_string(k) + " bytes";
      while (Size(path + "-wal") <= k) {
        if (::waitpid(pid, &status, WNOHANG) == pid) {
          reaped = true;
          break;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(50));
      }
    } else {
      const auto t = took * (i - steps) / steps;
      where = "zandrel-reg killed after " +
              std::to_string(std::chrono::duration_cast<std::chrono::microseconds>(t).count()) + " us";
      std::this_thread::sleep_for(t);
    }
    if (!reaped) {
      ::kill(pid, SIGKILL);
      status = Wait(pid);
    }
    finished += WIFEXITED(status);
    const Found found = Inspect(path, clean_, where);
    befores += found == Found::kBefore;
    afters += found == Found::kAfter;
  }
  EXPECT_GT(befores, 0);
  std::printf("zandrel-reg import (%lld ms): %d kills, %d before, %d after, %d had finished\n",
              static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()), 2 * steps,
              befores, afters, finished);
}
#endif

}  // namespace
}  // namespace zandrel::testing
