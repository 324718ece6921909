// The whole program headless: the real manager window over an in-memory
// registry, started as the executable starts it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "manager/frmZandrel.h"
#include "shell/ShellFixture.h"
#include "shell/frmAbout.h"
#include "shell/frmExit.h"
#include "shell/frmSplash.h"
#include "support/MemoryRegistry.h"

namespace zandrel::shell::testing {
namespace {

class Program : public ShellTest {
 protected:
  Program() : program(platform, memory, manager::frmZandrel::Create) {}

  manager::frmZandrel* Zandrel() const {
    return static_cast<manager::frmZandrel*>(program.Manager());
  }
  void Start() { platform.Dispatch([this] { program.ShowSplash(); }); }

  zandrel::testing::MemoryRegistry memory;
  Forms program;
};

TEST_F(Program, HandOverLoadsManagerWhileSplashIsOnScreen) {
  Start();
  platform.AdvanceTime(5990);
  platform.ClearRecord();
  platform.AdvanceTime(10);
  ASSERT_NE(Zandrel(), nullptr);
  EXPECT_EQ(platform.windowEvents,
            (std::vector<std::string>{"show frmZandrel", "close frmSplash"}));
  // The last animation ticks come first (same due time, earlier timers), then
  // the manager's button pictures, normal, disabled, pressed for each button.
  std::vector<std::string> expected;
  expected.push_back(Pic("J-1.j"));
  expected.push_back(Pic("J-2.j"));
  for (int k = 0; k < 10; ++k) expected.push_back(Pic("Quirk0000" + std::to_string(k) + ".j"));
  for (const char* pair : {"k01", "k03", "k02", "k04"}) {
    expected.push_back(Pic(std::string(pair) + "-1.g"));
    expected.push_back(Pic(std::string(pair) + "-1.g"));
    expected.push_back(Pic(std::string(pair) + "-2.g"));
  }
  expected.push_back(Pic("Abt1.g"));
  expected.push_back(Pic("Abt1.g"));
  expected.push_back(Pic("Abt2.g"));
  EXPECT_EQ(platform.picturesLoaded, expected);
  EXPECT_EQ(program.Splash(), nullptr);
  EXPECT_TRUE(Zandrel()->Shown());
  EXPECT_EQ(Zandrel()->Caption(), "Orvanta");
  EXPECT_FALSE(platform.quit);
}

TEST_F(Program, MissingManagerPictureEndsProgramAtHandOver) {
  RemovePicture("k02-2.g");
  Start();
  platform.AdvanceTime(5990);
  EXPECT_FALSE(platform.quit);
  platform.AdvanceTime(10);
  ASSERT_TRUE(platform.fatalError.has_value());
  EXPECT_NE(platform.fatalError->description.find(Pic("k02-2.g")), std::string::npos)
      << platform.fatalError->description;
  EXPECT_TRUE(platform.quit);
  EXPECT_EQ(platform.picturesLoaded.back(), Pic("k02-2.g"));
}

TEST_F(Program, ManagerButtonsOpenCompanionsAndYesEndsTheProgram) {
  Start();
  platform.AdvanceTime(6000);
  ASSERT_NE(Zandrel(), nullptr);
  platform.ClearRecord();

  Zandrel()->cmdA01.FireClick();
  Zandrel()->cmdA01.FireClick();
  Zandrel()->cmdExit.FireClick();
  ASSERT_NE(program.About(), nullptr);
  ASSERT_NE(program.Exit(), nullptr);
  EXPECT_EQ(platform.windowEvents,
            (std::vector<std::string>{"show frmAbout", "front frmAbout", "show frmExit"}));
  EXPECT_EQ(platform.sounds.size(), 3u);
  for (const auto& s : platform.sounds) EXPECT_EQ(s.path, ClickCue());

  platform.ClearRecord();
  program.Exit()->FireKey(ui::Key::Enter);  // Yes has the focus
  EXPECT_EQ(platform.windowEvents,
            (std::vector<std::string>{"close frmZandrel", "close frmExit"}));
  EXPECT_FALSE(platform.quit);
  program.About()->cmdForwrd.FireClick();
  EXPECT_TRUE(platform.quit);
  EXPECT_FALSE(platform.fatalError.has_value());
  EXPECT_TRUE(platform.messages.empty());
}

}  // namespace
}  // namespace zandrel::shell::testing
