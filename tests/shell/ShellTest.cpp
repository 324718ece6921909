// The whole program on the headless controls, started as the executable
// starts it: the splash's timing, the hand-over to the manager window, the
// exit confirmation and the About box, a missing picture at each place one
// is read, and the windows drawn while a change waits for another writer.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "manager/frmZandrel.h"
#include "registry/Wait.h"
#include "ui/headless/HeadlessPlatform.h"
#include "shell/Forms.h"
#include "shell/frmAbout.h"
#include "shell/frmExit.h"
#include "shell/frmSplash.h"
#include "support/Backends.h"
#include "support/Support.h"

namespace zandrel::testing {
namespace {

using shell::Forms;

const char* const kAllPictures[] = {"Me00000.g",    "J-1.j",        "J-2.j",        "Quirk00000.j", "Quirk00001.j",
                                    "Quirk00002.j", "Quirk00003.j", "Quirk00004.j", "Quirk00005.j", "Quirk00006.j",
                                    "Quirk00007.j", "Quirk00008.j", "Quirk00009.j", "k01-1.g",      "k01-2.g",
                                    "k02-1.g",      "k02-2.g",      "k03-1.g",      "k03-2.g",      "k04-1.g",
                                    "k04-2.g",      "Abt1.g",       "Abt2.g",       "Exit-y1.g",    "Exit-y2.g",
                                    "Exit-n1.g",    "Exit-n2.g",    "Exit.g",       "Forw1.g",      "Forw2.g"};

std::unique_ptr<ui::Window> NewManager(ui::Platform& p, IRegistry& r, std::function<void()> a,
                                       std::function<void()> e) {
  return std::make_unique<manager::frmZandrel>(p, r, std::move(a), std::move(e));
}

class Program : public ::testing::Test {
 protected:
  Program() {
    for (const char* name : kAllPictures) dir.Write(std::string("Pic/") + name, TinyPng(16, 8));
    platform.SetExecutableFolder(dir.Path());
  }
  // Starts the program and waits out the splash.
  void Start() {
    platform.Dispatch([this] { forms.ShowSplash(); });
    platform.AdvanceTime(6000);
    platform.ClearRecord();
  }
  manager::frmZandrel& Manager() { return *static_cast<manager::frmZandrel*>(forms.Manager()); }
  std::string Pic(const std::string& name) const { return dir.File("Pic/" + name); }
  std::string Shown(const ui::PictureBox& box) const {
    return box.Picture() ? box.Picture()->source.substr(box.Picture()->source.find_last_of("/\\") + 1) : "";
  }
  std::vector<std::string> Sounds() const {
    std::vector<std::string> paths;
    // Below the folder, written with "/" (the separator itself: ManagerTest).
    for (const auto& s : platform.sounds) {
      std::string path = s.path.substr(dir.Path().size());
      std::replace(path.begin(), path.end(), '\\', '/');
      paths.push_back(path + (s.flags == ui::SND_ASYNC ? "" : " sync"));
    }
    return paths;
  }

  TempDir dir;
  ui::headless::HeadlessPlatform platform;
  std::unique_ptr<IRegistry> registry = MakeRegistry(dir.Path());
  Forms forms{platform, *registry, NewManager};
};

TEST_F(Program, TheSplashAnimatesThenHandsOverAfterSixSeconds) {
  platform.Dispatch([this] { forms.ShowSplash(); });
  shell::frmSplash& s = *forms.Splash();
  EXPECT_EQ(platform.picturesLoaded, std::vector<std::string>{Pic("Me00000.g")});
  EXPECT_EQ(Sounds(), std::vector<std::string>{"/Sound/Splash.wxv"});
  EXPECT_EQ(platform.windowEvents, std::vector<std::string>{"show frmSplash"});
  EXPECT_FALSE(s.HasTitleBar());
  EXPECT_EQ(s.imgPr.Geometry(), (ui::Rect{5400, 7200, 16 * 15, 8 * 15})) << "the still picture takes its size";
  for (ui::Key key : {ui::Key::Enter, ui::Key::Space, ui::Key::Escape}) s.FireKey(key);
  for (const ui::Control* c : s.Controls()) EXPECT_NE(c->Kind(), ui::ControlKind::Button) << "no way to close early";
  // Both animations tick every 10 ms, the shortest period there is; each tick
  // shows the frame stored by the tick before (none at first), then reads
  // every frame file again.
  platform.ClearRecord();
  platform.AdvanceTime(9);
  EXPECT_TRUE(platform.picturesLoaded.empty());
  for (int tick = 1; tick <= 22; ++tick) {
    SCOPED_TRACE(tick);
    platform.AdvanceTime(tick == 1 ? 1 : 10);
    EXPECT_EQ(Shown(s.picMama01), tick == 1 ? "" : tick % 2 == 0 ? "J-2.j" : "J-1.j");
    EXPECT_EQ(Shown(s.picMama02), tick == 1 ? "" : "Quirk0000" + std::to_string((tick - 1) % 10) + ".j");
  }
  EXPECT_EQ(platform.picturesLoaded.size(), 22u * 12u);
  EXPECT_NE(s.pic01[0].Picture(), nullptr);
  const ui::PicturePtr before = s.pic01[0].Picture();
  platform.AdvanceTime(10);
  EXPECT_NE(s.pic01[0].Picture(), before) << "nothing is cached";
  platform.AdvanceTime(5999 - platform.Now());
  EXPECT_EQ(forms.Manager(), nullptr);
  platform.ClearRecord();
  platform.AdvanceTime(1);
  ASSERT_NE(forms.Manager(), nullptr);
  EXPECT_EQ(platform.windowEvents, (std::vector<std::string>{"show frmZandrel", "close frmSplash"}));
  EXPECT_EQ(forms.Splash(), nullptr);
  EXPECT_EQ(platform.OpenWindowCount(), 1);
  platform.ClearRecord();
  platform.AdvanceTime(12000);
  EXPECT_TRUE(platform.picturesLoaded.empty() && platform.windowEvents.empty()) << "the splash's timers went with it";
  EXPECT_FALSE(platform.quit);
}

TEST_F(Program, ExitConfirmation) {
  Start();
  const std::vector<std::string> exitPictures = {Pic("Exit-y1.g"), Pic("Exit-y1.g"), Pic("Exit-y2.g"), Pic("Exit-n1.g"),
                                                 Pic("Exit-n1.g"), Pic("Exit-n2.g"), Pic("Exit.g")};
  Manager().cmdExit.FireClick();
  shell::frmExit* e = forms.Exit();
  EXPECT_EQ(platform.picturesLoaded, exitPictures);
  EXPECT_FALSE(e->HasTitleBar() || e->ShowInTaskbar());
  EXPECT_EQ(e->Focused(), &e->cmdYes01);
  platform.ClearRecord();
  Manager().cmdExit.FireClick();  // open already: to the front, nothing read
  EXPECT_EQ(platform.windowEvents, std::vector<std::string>{"front frmExit"});
  EXPECT_TRUE(platform.picturesLoaded.empty());
  e->cmdNo01.FireClick();
  EXPECT_EQ(platform.windowEvents.back(), "close frmExit");
  EXPECT_TRUE(Manager().Shown());
  e->cmdYes01.SetCaption("stale");
  platform.ClearRecord();
  Manager().cmdExit.FireClick();  // a fresh window again
  EXPECT_EQ(platform.picturesLoaded, exitPictures);
  EXPECT_EQ(forms.Exit()->cmdYes01.Caption(), "");
  // Keys: Enter or Space press the focused button, Escape nothing.
  const struct {
    std::vector<ui::Key> keys;
    const char* first;  // the window closed first
    bool quits;
  } rows[] = {{{ui::Key::Escape}, nullptr, false},
              {{ui::Key::Tab, ui::Key::Enter}, "close frmExit", false},
              {{ui::Key::Tab, ui::Key::Tab, ui::Key::Space}, "close frmZandrel", true}};
  for (const auto& row : rows) {
    platform.ClearRecord();
    Manager().cmdExit.FireClick();
    platform.ClearRecord();
    for (ui::Key key : row.keys) forms.Exit()->FireKey(key);
    EXPECT_EQ(platform.windowEvents.empty() ? "" : platform.windowEvents.front(), row.first ? row.first : "");
    EXPECT_EQ(platform.quit, row.quits);
  }
  EXPECT_EQ(platform.windowEvents, (std::vector<std::string>{"close frmZandrel", "close frmExit"}));
  EXPECT_EQ(Sounds(), std::vector<std::string>{"/Sound/Click.wxv"});
  EXPECT_EQ(platform.OpenWindowCount(), 0);
}

TEST_F(Program, AboutBoxAndYesWhileItIsOpen) {
  Start();
  Manager().cmdA01.FireClick();
  shell::frmAbout& a = *forms.About();
  EXPECT_EQ(a.Caption(), "О программе...");
  EXPECT_EQ(
      a.lblInfo.Caption(),
      " Перед вами программа для облегчен- ной ассоциации файлов. Теперь и вы, можете оценить простоту и удобство "
      "программного обеспечения компании \"Quirk Soft Inc.\". Наша компания тесно сотрудничает с пользователями. "
      "Все программы вышедшие из под наших мозолистых рук могут быть переделан- ны и доработанны - для вас и под "
      "вас! Но ... в обмен на информацию. Вы можете подумать какую информацию парень? Любую: интересную, позна- "
      "вательную,весёлую,визуальную,слуховую и т.д. Стоп ! Только не надо сейчас же посылать мне мега-тонны  нулей "
      "и едениц , сначала обговорим все детали партнёр :-) Все ваши замечания и предложенния посылайте по адрессу:  "
      "info@quirksoft.example.");
  EXPECT_EQ(platform.picturesLoaded, (std::vector<std::string>{Pic("Forw1.g"), Pic("Forw1.g"), Pic("Forw2.g")}));
  EXPECT_EQ(a.Focused(), &a.cmdForwrd);
  platform.ClearRecord();
  Manager().cmdA01.FireClick();
  EXPECT_EQ(platform.windowEvents, std::vector<std::string>{"front frmAbout"});
  a.cmdForwrd.FireClick();
  EXPECT_FALSE(platform.quit);
  a.lblInfo.SetCaption("stale");
  Manager().cmdA01.FireClick();
  EXPECT_EQ(forms.About()->lblInfo.Caption(), shell::frmAbout::InfoText()) << "reopened afresh";
  Manager().cmdExit.FireClick();
  platform.ClearRecord();
  forms.Exit()->cmdYes01.FireClick();
  EXPECT_EQ(platform.windowEvents, (std::vector<std::string>{"close frmZandrel", "close frmExit"}));
  EXPECT_FALSE(platform.quit) << "the About box keeps the program running";
  forms.About()->cmdForwrd.FireClick();
  EXPECT_EQ(Sounds(), (std::vector<std::string>{"/Sound/Click.wxv", "/Sound/Click.wxv"}));
  EXPECT_TRUE(platform.quit);
  EXPECT_FALSE(platform.fatalError.has_value());
}

// A picture file that is missing ends the program where it is read, with its
// path in the one message, before the window that needed it shows.
TEST_F(Program, AMissingPictureEndsTheProgramWhereItIsRead) {
  const struct {
    const char* file;
    const char* when;   // "start", "tick", "hand-over", "exit", "about"
    std::size_t loads;  // files read up to and with the missing one
  } rows[] = {{"Me00000.g", "start", 1},    {"J-2.j", "tick", 2},     {"Quirk00009.j", "tick", 12},
              {"k02-2.g", "hand-over", 21}, {"Exit-n2.g", "exit", 6}, {"Exit.g", "exit", 7},
              {"Forw2.g", "about", 3}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.file);
    ui::headless::HeadlessPlatform p;
    p.SetExecutableFolder(dir.Path());
    Forms f(p, *registry, NewManager);
    const std::string when = row.when;
    if (when != "start") {
      p.Dispatch([&] { f.ShowSplash(); });
      p.AdvanceTime(when == "tick" ? 0 : when == "hand-over" ? 5990 : 6000);
      p.ClearRecord();
    }
    std::filesystem::remove(Pic(row.file));
    if (when == "start") p.Dispatch([&] { f.ShowSplash(); });
    if (when == "tick" || when == "hand-over") p.AdvanceTime(10);
    if (when == "exit" || when == "about") {
      auto& m = *static_cast<manager::frmZandrel*>(f.Manager());
      (when == "exit" ? m.cmdExit : m.cmdA01).FireClick();
    }
    ASSERT_TRUE(p.fatalError.has_value());
    EXPECT_NE(p.fatalError->description.find(Pic(row.file)), std::string::npos) << p.fatalError->description;
    ASSERT_EQ(p.messages.size(), 1u);
    EXPECT_EQ(p.messages[0].text, p.fatalError->description);
    EXPECT_EQ(p.messages[0].title, "Zandrel");
    EXPECT_TRUE(p.quit);
    EXPECT_EQ(p.picturesLoaded.size(), row.loads);
    EXPECT_EQ(p.picturesLoaded.back(), Pic(row.file));
    for (const std::string& event : p.windowEvents) EXPECT_EQ(event.rfind("show", 0), std::string::npos) << event;
    dir.Write("Pic/" + std::string(row.file), TinyPng(16, 8));
  }
}

// While the program lives, a wait for another writer processes the windows'
// paint messages; a second Forms (a test's) puts the first one's hook back.
TEST_F(Program, AWaitForAnotherWriterKeepsTheWindowsDrawn) {
  Start();
  registry::Waiting();
  EXPECT_EQ(platform.paintEventsCount, 1);
  EXPECT_EQ(platform.doEventsCount, 0) << "no clicks or keys while a handler waits";
  {
    ui::headless::HeadlessPlatform other;
    Forms second(other, *registry, NewManager);
    registry::Waiting();
    EXPECT_EQ(other.paintEventsCount, 1);
  }
  registry::Waiting();
  EXPECT_EQ(platform.paintEventsCount, 2);
}

}  // namespace
}  // namespace zandrel::testing
