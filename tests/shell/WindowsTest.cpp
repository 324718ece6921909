#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shell/ShellFixture.h"
#include "shell/frmAbout.h"
#include "shell/frmExit.h"

namespace zandrel::shell::testing {
namespace {

// The program after the hand-over: the manager window alone on screen.
class Windows : public ShellTest {
 protected:
  void SetUp() override {
    Event([this] { forms->ShowSplash(); });
    platform.AdvanceTime(6000);
    ASSERT_NE(Manager(), nullptr);
    ASSERT_TRUE(Manager()->Shown());
    platform.ClearRecord();
  }
  void ClickExit() { Manager()->cmdExit.FireClick(); }
  void ClickAbout() { Manager()->cmdA01.FireClick(); }
  std::vector<std::string> ExitPictures() const {
    return {Pic("Exit-y1.g"), Pic("Exit-y1.g"), Pic("Exit-y2.g"), Pic("Exit-n1.g"),
            Pic("Exit-n1.g"), Pic("Exit-n2.g"), Pic("Exit.g")};
  }
  std::vector<std::string> AboutPictures() const {
    return {Pic("Forw1.g"), Pic("Forw1.g"), Pic("Forw2.g")};
  }
  std::vector<std::string> SoundPaths() const {
    std::vector<std::string> paths;
    for (const auto& s : platform.sounds) {
      EXPECT_EQ(s.flags, ui::SND_ASYNC);
      paths.push_back(s.path);
    }
    return paths;
  }
};

TEST_F(Windows, ExitDesign) {
  ClickExit();
  frmExit& e = *forms->Exit();
  EXPECT_EQ(e.Caption(), "");
  EXPECT_EQ(e.Border(), ui::BorderStyle::None);
  EXPECT_FALSE(e.HasTitleBar());
  EXPECT_FALSE(e.ShowInTaskbar());
  EXPECT_EQ(e.BackColor(), ui::kWhite);
  EXPECT_EQ(e.ClientWidth(), 4230);
  EXPECT_EQ(e.ClientHeight(), 1605);

  ASSERT_EQ(e.Controls().size(), 3u);  // stored order: No, Yes, the label picture
  EXPECT_EQ(e.Controls()[0], &e.cmdNo01);
  EXPECT_EQ(e.Controls()[1], &e.cmdYes01);
  EXPECT_EQ(e.Controls()[2], &e.imgExitL);

  struct Row {
    const ui::Button* button;
    ui::Rect rect;
    int tabIndex;
    const char* normal;
    const char* pressed;
  };
  for (const Row& row : {Row{&e.cmdNo01, {2520, 840, 1575, 615}, 1, "Exit-n1.g", "Exit-n2.g"},
                         Row{&e.cmdYes01, {120, 840, 1575, 615}, 0, "Exit-y1.g", "Exit-y2.g"}}) {
    SCOPED_TRACE(row.button->Name());
    EXPECT_EQ(row.button->Geometry(), row.rect);
    EXPECT_EQ(row.button->TabIndex(), row.tabIndex);
    EXPECT_TRUE(row.button->Graphical());
    EXPECT_EQ(row.button->Caption(), "");
    EXPECT_EQ(row.button->BackColor(), ui::kWhite);
    EXPECT_EQ(row.button->Picture()->source, Pic(row.normal));
    EXPECT_EQ(row.button->DisabledPicture()->source, Pic(row.normal));
    EXPECT_EQ(row.button->DownPicture()->source, Pic(row.pressed));
    // The first file is read twice: two picture objects.
    EXPECT_NE(row.button->Picture(), row.button->DisabledPicture());
  }
  EXPECT_EQ(e.imgExitL.Picture()->source, Pic("Exit.g"));
  EXPECT_EQ(e.imgExitL.Left(), 120);
  EXPECT_EQ(e.imgExitL.Top(), 120);
  EXPECT_EQ(e.Focused(), &e.cmdYes01);
  EXPECT_EQ(platform.picturesLoaded, ExitPictures());
}

TEST_F(Windows, ExitYesClosesManagerThenItselfAndEndsProgram) {
  ClickExit();
  platform.ClearRecord();
  forms->Exit()->cmdYes01.FireClick();
  EXPECT_EQ(SoundPaths(), std::vector<std::string>{ClickCue()});
  EXPECT_EQ(platform.windowEvents, (std::vector<std::string>{"close frmZandrel", "close frmExit"}));
  EXPECT_FALSE(Manager()->Loaded());
  EXPECT_EQ(platform.OpenWindowCount(), 0);
  EXPECT_TRUE(platform.quit);
  EXPECT_FALSE(platform.fatalError.has_value());
}

TEST_F(Windows, ExitNoLeavesManagerAndReopensFresh) {
  ClickExit();
  frmExit* first = forms->Exit();
  platform.ClearRecord();
  first->cmdNo01.FireClick();
  EXPECT_EQ(SoundPaths(), std::vector<std::string>{ClickCue()});
  EXPECT_EQ(platform.windowEvents, std::vector<std::string>{"close frmExit"});
  EXPECT_TRUE(Manager()->Shown());
  EXPECT_FALSE(platform.quit);
  EXPECT_EQ(platform.OpenWindowCount(), 1);

  // Marks the closed object: a fresh one shows its design state.
  first->cmdYes01.SetCaption("stale");
  platform.ClearRecord();
  ClickExit();
  EXPECT_EQ(SoundPaths(), std::vector<std::string>{ClickCue()});
  EXPECT_EQ(platform.windowEvents, std::vector<std::string>{"show frmExit"});
  EXPECT_EQ(platform.picturesLoaded, ExitPictures());
  EXPECT_EQ(forms->Exit()->cmdYes01.Caption(), "");
  EXPECT_EQ(forms->Exit()->Focused(), &forms->Exit()->cmdYes01);
}

TEST_F(Windows, ExitOpenedTwiceComesToFrontWithoutReload) {
  ClickExit();
  frmExit* open = forms->Exit();
  platform.ClearRecord();
  ClickExit();
  EXPECT_EQ(forms->Exit(), open);
  EXPECT_EQ(SoundPaths(), std::vector<std::string>{ClickCue()});
  EXPECT_EQ(platform.windowEvents, std::vector<std::string>{"front frmExit"});
  EXPECT_TRUE(platform.picturesLoaded.empty());
  EXPECT_EQ(platform.OpenWindowCount(), 2);
}

TEST_F(Windows, ExitKeys) {
  struct Row {
    std::vector<ui::Key> keys;
    const char* closed;  // the window that closes first, or nullptr
    bool quits;
  };
  const Row rows[] = {
      {{ui::Key::Enter}, "close frmZandrel", true},
      {{ui::Key::Space}, "close frmZandrel", true},
      {{ui::Key::Escape}, nullptr, false},
      {{ui::Key::Tab, ui::Key::Enter}, "close frmExit", false},
      {{ui::Key::Tab, ui::Key::Tab, ui::Key::Space}, "close frmZandrel", true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string("first closed: ") + (row.closed ? row.closed : "none"));
    ui::HeadlessPlatform local;
    local.SetExecutableFolder(App());
    Forms localForms(local, registry, [](ui::Platform& p, IRegistry&, std::function<void()> a,
                                         std::function<void()> e) -> std::unique_ptr<ui::Window> {
      return std::make_unique<StandInManager>(p, std::move(a), std::move(e));
    });
    local.Dispatch([&] { localForms.ShowManager(); });
    static_cast<StandInManager*>(localForms.Manager())->cmdExit.FireClick();
    local.ClearRecord();
    for (ui::Key key : row.keys) localForms.Exit()->FireKey(key);
    if (row.closed == nullptr) {
      EXPECT_TRUE(local.windowEvents.empty());
      EXPECT_TRUE(local.sounds.empty());
      EXPECT_TRUE(localForms.Exit()->Shown());
    } else {
      ASSERT_FALSE(local.windowEvents.empty());
      EXPECT_EQ(local.windowEvents.front(), row.closed);
      EXPECT_EQ(local.sounds.size(), 1u);
    }
    EXPECT_EQ(local.quit, row.quits);
  }
}

TEST_F(Windows, ExitYesWithAboutOpenEndsWhenAboutIsDismissed) {
  ClickAbout();
  ClickExit();
  platform.ClearRecord();
  forms->Exit()->cmdYes01.FireClick();
  EXPECT_EQ(platform.windowEvents, (std::vector<std::string>{"close frmZandrel", "close frmExit"}));
  EXPECT_FALSE(platform.quit);
  EXPECT_EQ(platform.OpenWindowCount(), 1);
  EXPECT_TRUE(forms->About()->Shown());

  platform.ClearRecord();
  forms->About()->cmdForwrd.FireClick();
  EXPECT_EQ(SoundPaths(), std::vector<std::string>{ClickCue()});
  EXPECT_EQ(platform.windowEvents, std::vector<std::string>{"close frmAbout"});
  EXPECT_TRUE(platform.quit);
  EXPECT_FALSE(platform.fatalError.has_value());
}

TEST_F(Windows, AboutDesignAndText) {
  ClickAbout();
  frmAbout& a = *forms->About();
  EXPECT_EQ(a.Caption(), "О программе...");
  EXPECT_TRUE(a.HasTitleBar());
  EXPECT_EQ(a.Border(), ui::BorderStyle::FixedSingle);
  EXPECT_TRUE(a.ShowInTaskbar());
  EXPECT_EQ(a.BackColor(), ui::kWhite);
  EXPECT_EQ(a.ClientWidth(), 4740);
  EXPECT_EQ(a.ClientHeight(), 6870);
  ASSERT_EQ(a.Controls().size(), 2u);
  EXPECT_EQ(a.Controls()[0], &a.cmdForwrd);
  EXPECT_EQ(a.Controls()[1], &a.lblInfo);

  EXPECT_EQ(a.cmdForwrd.Geometry(), (ui::Rect{1680, 6240, 1335, 495}));
  EXPECT_EQ(a.cmdForwrd.TabIndex(), 0);
  EXPECT_TRUE(a.cmdForwrd.Graphical());
  EXPECT_EQ(a.cmdForwrd.Caption(), "");
  EXPECT_EQ(a.cmdForwrd.BackColor(), ui::kWhite);
  EXPECT_EQ(a.cmdForwrd.Picture()->source, Pic("Forw1.g"));
  EXPECT_EQ(a.cmdForwrd.DisabledPicture()->source, Pic("Forw1.g"));
  EXPECT_EQ(a.cmdForwrd.DownPicture()->source, Pic("Forw2.g"));
  EXPECT_EQ(a.Focused(), &a.cmdForwrd);

  EXPECT_EQ(a.lblInfo.Geometry(), (ui::Rect{120, 240, 4455, 5175}));
  EXPECT_EQ(a.lblInfo.TabIndex(), 1);
  EXPECT_EQ(a.lblInfo.GetFont(), (ui::Font{"MS Sans Serif", 9.75f, true, 204}));
  EXPECT_EQ(a.lblInfo.ForeColor(), ui::kBlack);
  EXPECT_EQ(a.lblInfo.BackColor(), ui::kWhite);

  const std::string expected =
      " Перед вами программа для облегчен- ной ассоциации файлов. Теперь и вы, можете оценить "
      "простоту и удобство программного обеспечения компании "
      "\"Quirk Soft Inc.\""
      ". Наша компания тесно сотрудничает с пользователями. Все программы вышедшие из под наших "
      "мозолистых рук могут быть переделан- ны и доработанны - для вас и под вас! Но ... в обмен "
      "на информацию. Вы можете подумать какую информацию парень? Любую: интересную, позна- "
      "вательную,весёлую,визуальную,слуховую и т.д. Стоп ! Только не надо сейчас же посылать "
      "мне мега-тонны  нулей и едениц , сначала обговорим все детали партнёр :-) Все ваши "
      "замечания и предложенния посылайте по адрессу:  "
      "info@quirksoft.example.";
  EXPECT_EQ(a.lblInfo.Caption(), expected);
  EXPECT_EQ(a.lblInfo.Caption().find('\n'), std::string::npos);
  EXPECT_EQ(platform.picturesLoaded, AboutPictures());
}

TEST_F(Windows, AboutOpenedTwiceComesToFrontWithoutReload) {
  ClickAbout();
  platform.ClearRecord();
  ClickAbout();
  EXPECT_EQ(SoundPaths(), std::vector<std::string>{ClickCue()});
  EXPECT_EQ(platform.windowEvents, std::vector<std::string>{"front frmAbout"});
  EXPECT_TRUE(platform.picturesLoaded.empty());
}

TEST_F(Windows, AboutDismissedThenReopenedLoadsAfresh) {
  ClickAbout();
  frmAbout* first = forms->About();
  platform.ClearRecord();
  first->cmdForwrd.FireClick();
  EXPECT_EQ(SoundPaths(), std::vector<std::string>{ClickCue()});
  EXPECT_EQ(platform.windowEvents, std::vector<std::string>{"close frmAbout"});
  EXPECT_FALSE(platform.quit);  // the manager window is still open

  first->lblInfo.SetCaption("stale");
  platform.ClearRecord();
  ClickAbout();
  EXPECT_EQ(platform.windowEvents, std::vector<std::string>{"show frmAbout"});
  EXPECT_EQ(platform.picturesLoaded, AboutPictures());
  EXPECT_EQ(forms->About()->lblInfo.Caption(), frmAbout::InfoText());
  EXPECT_TRUE(forms->About()->Shown());
}

TEST_F(Windows, MissingPictureEndsProgramWhenWindowFirstOpens) {
  struct Row {
    const char* file;
    bool exitWindow;  // else the About box
    std::size_t loadsBeforeFailure;
  };
  const Row rows[] = {
      {"Exit-y1.g", true, 1}, {"Exit-n2.g", true, 6}, {"Exit.g", true, 7},
      {"Forw1.g", false, 1},  {"Forw2.g", false, 3},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.file);
    ui::HeadlessPlatform local;
    local.SetExecutableFolder(App());
    Forms localForms(local, registry, [](ui::Platform& p, IRegistry&, std::function<void()> a,
                                         std::function<void()> e) -> std::unique_ptr<ui::Window> {
      return std::make_unique<StandInManager>(p, std::move(a), std::move(e));
    });
    local.Dispatch([&] { localForms.ShowManager(); });
    RemovePicture(row.file);
    local.ClearRecord();
    auto* manager = static_cast<StandInManager*>(localForms.Manager());
    (row.exitWindow ? manager->cmdExit : manager->cmdA01).FireClick();
    ASSERT_TRUE(local.fatalError.has_value());
    EXPECT_NE(local.fatalError->description.find(Pic(row.file)), std::string::npos)
        << local.fatalError->description;
    ASSERT_EQ(local.messages.size(), 1u);
    EXPECT_EQ(local.messages[0].text, local.fatalError->description);
    EXPECT_EQ(local.messages[0].title, "Zandrel");
    EXPECT_TRUE(local.quit);
    EXPECT_EQ(local.picturesLoaded.size(), row.loadsBeforeFailure);
    EXPECT_TRUE(local.windowEvents.empty());  // never shown
    WritePng(fs::path(Pic(row.file)), 16, 8);
  }
}

}  // namespace
}  // namespace zandrel::shell::testing
