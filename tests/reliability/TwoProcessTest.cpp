// Two processes work on one hive at the same time, each through its own
// manager window (update box unticked): each adds 1,000 associations of its
// own and removes every second one again, interleaved with the other's
// work. No call may fail with a busy hive (the hive waits instead), every
// message box must be a success, and afterwards the classes store holds
// exactly what both meant to leave.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

#include <gtest/gtest.h>

#include "reliability/ReliabilitySupport.h"
#include "store/AssociationChanges.h"
#include "support/DumpTree.h"
#include "support/MemoryRegistry.h"
#include "support/RecordingPrompter.h"
#include "support/Seed.h"

namespace zandrel::testing {
namespace {

constexpr int kPerProcess = 1000;

std::string Ext(int process, int i) { return ".p" + std::to_string(process) + "x" + std::to_string(i); }
std::string Title(int process, int i) { return "Тип" + std::to_string(process) + ".File" + std::to_string(i); }

// One process's share; returns "" or the first message that was not a success.
std::string Work(const std::string& path, const std::string& program, int process, int go) {
  char byte;
  if (::read(go, &byte, 1) != 1) return "no start signal";
  std::string error;
  auto hive = hive::OpenHive(path, &error);
  if (!hive) return "open: " + error;
  HeadlessManager manager(*hive);
  for (int i = 0; i < kPerProcess; ++i) {
    manager.platform.ClearRecord();
    manager.Add(Ext(process, i), Title(process, i), program);
    if (manager.Texts() != std::vector<std::string>{kAddDone})
      return "add " + Ext(process, i) + ": " + (manager.Texts().empty() ? "" : manager.Texts().back());
    if (i % 2 == 1) {
      manager.platform.ClearRecord();
      manager.Remove(Ext(process, i), Title(process, i));
      if (manager.Texts() != std::vector<std::string>{RemoveQuestion(Ext(process, i), true), RemoveDone(Ext(process, i))})
        return "remove " + Ext(process, i) + ": " + (manager.Texts().empty() ? "" : manager.Texts().back());
      if (manager.platform.shellNotifies.size() != 1) return "remove " + Ext(process, i) + ": no shell notification";
    }
  }
  return "";
}

TEST(TwoProcesses, AddAndRemoveAThousandEachAtTheSameTime) {
  ScratchDir dir;
  const std::string program = dir.WriteFile("bin/viewer", "#!/bin/sh\n");
  const std::string path = dir.File("shared.hive");
  {
    auto hive = MustOpenHive(path);
    ASSERT_NE(hive, nullptr);
    SeedAssociation(*hive, ".txt", "txtfile", "/usr/bin/edit %1");
  }
  int go[2], report[2][2];
  ASSERT_EQ(::pipe(go), 0);
  pid_t pids[2];
  for (int process = 0; process < 2; ++process) {
    ASSERT_EQ(::pipe(report[process]), 0);
    pids[process] = ::fork();
    ASSERT_GE(pids[process], 0);
    if (pids[process] == 0) {
      ::close(go[1]);
      const std::string result = Work(path, program, process, go[0]);
      if (!result.empty() && ::write(report[process][1], result.data(), result.size()) < 0) ::_exit(2);
      ::_exit(result.empty() ? 0 : 1);
    }
    ::close(report[process][1]);
  }
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(::write(go[1], "gg", 2), 2);  // both start at once
  for (int process = 0; process < 2; ++process) {
    std::string result;
    char buffer[1024];
    ssize_t n;
    while ((n = ::read(report[process][0], buffer, sizeof buffer)) > 0) result.append(buffer, static_cast<std::size_t>(n));
    int status = 0;
    ::waitpid(pids[process], &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "process " << process << ": " << DescribeStatus(status) << ": " << result;
  }
  const auto took = std::chrono::steady_clock::now() - start;

  // What both meant to leave: the seed and every even-numbered association.
  MemoryRegistry expected;
  SeedAssociation(expected, ".txt", "txtfile", "/usr/bin/edit %1");
  RecordingPrompter prompter;
  for (int process = 0; process < 2; ++process)
    for (int i = 0; i < kPerProcess; i += 2)
      store::CreateAssociation(expected, prompter, store::AssociationFields{Ext(process, i), Title(process, i), program});
  EXPECT_EQ(IntegrityCheck(path), "ok");
  auto hive = MustOpenHive(path);
  ASSERT_NE(hive, nullptr);
  EXPECT_EQ(DumpClasses(*hive), DumpClasses(expected));
  std::printf("two processes: %d adds and %d removals each in %lld ms\n", kPerProcess, kPerProcess / 2,
              static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
}

}  // namespace
}  // namespace zandrel::testing
