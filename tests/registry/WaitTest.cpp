// The process-wide wait hook: it runs on the thread that set it and no
// other, never inside itself, and not at all once cleared.
#include <gtest/gtest.h>

#include <thread>

#include "registry/Wait.h"

namespace zandrel::testing {
namespace {

TEST(WaitHook, RunsOnlyOnItsOwnThreadAndNeverInsideItself) {
  int runs = 0;
  registry::SetWaitHook([&runs] {
    ++runs;
    registry::Waiting();  // a wait inside the hook (a repaint that reads the registry)
  });
  registry::Waiting();
  registry::Waiting();
  EXPECT_EQ(runs, 2);
  std::thread other([] { registry::Waiting(); });
  other.join();
  EXPECT_EQ(runs, 2) << "another thread's wait leaves the window system alone";
  const std::function<void()> replaced = registry::SetWaitHook(nullptr);
  registry::Waiting();
  EXPECT_EQ(runs, 2);
  ASSERT_TRUE(replaced) << "handed back, for its setter to put back";
  replaced();
  EXPECT_EQ(runs, 3);
}

}  // namespace
}  // namespace zandrel::testing
