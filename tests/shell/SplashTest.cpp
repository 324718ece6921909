#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shell/ShellFixture.h"
#include "shell/frmSplash.h"

namespace zandrel::shell::testing {
namespace {

class Splash : public ShellTest {
 protected:
  frmSplash& Start() {
    Event([this] { forms->ShowSplash(); });
    EXPECT_NE(forms->Splash(), nullptr);
    return *forms->Splash();
  }
  // The file a picture box shows now, or "" when it is empty.
  std::string Shown(const ui::PictureBox& box) const {
    if (!box.Picture()) return "";
    const std::string& source = box.Picture()->source;
    return source.substr(source.rfind('/') + 1);
  }
};

TEST_F(Splash, DesignProperties) {
  frmSplash& s = Start();
  EXPECT_EQ(s.Caption(), "");
  EXPECT_FALSE(s.HasTitleBar());
  EXPECT_EQ(s.Border(), ui::BorderStyle::FixedSingle);
  EXPECT_EQ(s.BackColor(), ui::kBlack);
  EXPECT_EQ(s.ClientWidth(), 11220);
  EXPECT_EQ(s.ClientHeight(), 8310);
  EXPECT_EQ(s.Icon(), nullptr);

  struct Row {
    const ui::Control* control;
    ui::Rect rect;
    int tabIndex;
  };
  const Row rows[] = {
      {&s.picMama01, {0, -120, 8295, 6735}, 0},
      {&s.picMama02, {8760, 240, 2415, 1095}, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.control->Name());
    EXPECT_EQ(row.control->Geometry(), row.rect);
    EXPECT_EQ(row.control->TabIndex(), row.tabIndex);
    EXPECT_EQ(row.control->BackColor(), ui::kBlack);
    EXPECT_TRUE(row.control->Visible());
  }
  // The still picture takes its picture's size (16 x 8 pixels) at its place.
  EXPECT_EQ(s.imgPr.Geometry(), (ui::Rect{5400, 7200, 16 * 15, 8 * 15}));
  ASSERT_NE(s.imgPr.Picture(), nullptr);
  EXPECT_EQ(s.imgPr.Picture()->source, Pic("Me00000.g"));

  for (const ui::Image& holder : s.pic01) EXPECT_FALSE(holder.Visible()) << holder.Name();
  for (const ui::Image& holder : s.picK01) EXPECT_FALSE(holder.Visible()) << holder.Name();
  EXPECT_EQ(s.pic01.size(), 2u);
  EXPECT_EQ(s.picK01.size(), 10u);

  EXPECT_EQ(s.tmrCOOL01.Interval(), 1);
  EXPECT_EQ(s.tmrCOOL02.Interval(), 1);
  EXPECT_EQ(s.tmrNext.Interval(), 6000);
  for (const ui::Timer* t : {&s.tmrCOOL01, &s.tmrCOOL02, &s.tmrNext}) {
    SCOPED_TRACE(t->Name());
    EXPECT_TRUE(t->Running());
    EXPECT_GE(t->EffectiveInterval(), 10);
  }
  static_assert(std::is_same_v<decltype(s.frameIndex01), std::int16_t>);
  static_assert(std::is_same_v<decltype(s.frameIndexK01), std::int16_t>);
  EXPECT_EQ(s.frameIndex01, 0);
  EXPECT_EQ(s.frameIndexK01, 0);
}

TEST_F(Splash, LoadShowsStillPictureThenPlaysSplashCue) {
  Start();
  EXPECT_EQ(platform.picturesLoaded, std::vector<std::string>{Pic("Me00000.g")});
  ASSERT_EQ(platform.sounds.size(), 1u);
  EXPECT_EQ(platform.sounds[0].path, App() + "/Sound/Splash.wxv");
  EXPECT_EQ(platform.sounds[0].flags, ui::SND_ASYNC);
  EXPECT_EQ(platform.windowEvents, std::vector<std::string>{"show frmSplash"});
  EXPECT_FALSE(platform.quit);
}

TEST_F(Splash, FrameSequenceShowsStoredFrameBeforeReloading) {
  frmSplash& s = Start();
  // Both animation timers tick every 10 ms, the platform's smallest period.
  const std::vector<std::string> expect01 = {"", "J-2.j", "J-1.j", "J-2.j", "J-1.j", "J-2.j"};
  std::vector<std::string> expectK01 = {""};
  for (int tick = 2; tick <= 22; ++tick)
    expectK01.push_back("Quirk0000" + std::to_string((tick - 1) % 10) + ".j");
  ASSERT_EQ(expectK01[10], "Quirk00000.j");  // the eleventh tick
  ASSERT_EQ(expectK01[20], "Quirk00000.j");  // and every tenth after it

  for (std::size_t tick = 1; tick <= expectK01.size(); ++tick) {
    SCOPED_TRACE("tick " + std::to_string(tick));
    platform.AdvanceTime(10);
    if (tick <= expect01.size()) {
      EXPECT_EQ(Shown(s.picMama01), expect01[tick - 1]);
    }
    EXPECT_EQ(Shown(s.picMama02), expectK01[tick - 1]);
    EXPECT_EQ(s.frameIndex01, static_cast<std::int16_t>(tick % 2));
    EXPECT_EQ(s.frameIndexK01, static_cast<std::int16_t>(tick % 10));
  }
  EXPECT_EQ(platform.Now(), 220);
  EXPECT_FALSE(platform.quit);
}

TEST_F(Splash, EveryTickRereadsItsFrameFiles) {
  frmSplash& s = Start();
  platform.ClearRecord();
  std::vector<std::string> oneTick = {Pic("J-1.j"), Pic("J-2.j")};
  for (int k = 0; k < 10; ++k) oneTick.push_back(Pic("Quirk0000" + std::to_string(k) + ".j"));

  ui::PicturePtr before = nullptr;
  for (int tick = 1; tick <= 3; ++tick) {
    SCOPED_TRACE("tick " + std::to_string(tick));
    platform.ClearRecord();
    platform.AdvanceTime(10);
    EXPECT_EQ(platform.picturesLoaded, oneTick);
    // A fresh picture object in the holder each time: nothing is cached.
    ASSERT_NE(s.pic01[0].Picture(), nullptr);
    EXPECT_NE(s.pic01[0].Picture(), before);
    before = s.pic01[0].Picture();
    for (std::size_t k = 0; k < 10; ++k)
      EXPECT_EQ(s.picK01[k].Picture()->source, Pic("Quirk0000" + std::to_string(k) + ".j"));
  }
}

TEST_F(Splash, AnimationTimersNeverRunFasterThanTenMilliseconds) {
  Start();
  platform.ClearRecord();
  platform.AdvanceTime(9);
  EXPECT_TRUE(platform.picturesLoaded.empty());
  platform.AdvanceTime(91);  // 100 ms: ten ticks of each timer, twelve files per pair
  EXPECT_EQ(platform.picturesLoaded.size(), 10u * 12u);
}

TEST_F(Splash, HandsOverAfterSixSecondsManagerFirst) {
  Start();
  platform.AdvanceTime(5999);
  EXPECT_EQ(forms->Manager(), nullptr);
  EXPECT_TRUE(forms->Splash()->Shown());

  platform.AdvanceTime(1);
  ASSERT_NE(Manager(), nullptr);
  EXPECT_EQ(platform.windowEvents,
            (std::vector<std::string>{"show frmSplash", "show frmZandrel", "close frmSplash"}));
  EXPECT_EQ(Manager()->openWindowsAtLoad, 1);  // its load ran with the splash still open
  EXPECT_TRUE(Manager()->Shown());
  EXPECT_EQ(forms->Splash(), nullptr);
  EXPECT_EQ(platform.OpenWindowCount(), 1);
  EXPECT_FALSE(platform.quit);

  // The splash's timers stopped with it: no more frames, no second hand-over.
  platform.ClearRecord();
  platform.AdvanceTime(12000);
  EXPECT_TRUE(platform.picturesLoaded.empty());
  EXPECT_TRUE(platform.windowEvents.empty());
  EXPECT_EQ(managersCreated, 1);
}

TEST_F(Splash, OffersNoWayToCloseEarly) {
  frmSplash& s = Start();
  for (ui::Key key : {ui::Key::Enter, ui::Key::Space, ui::Key::Escape}) s.FireKey(key);
  EXPECT_TRUE(s.Shown());
  for (const ui::Control* c : s.Controls())
    EXPECT_NE(c->Kind(), ui::ControlKind::Button) << c->Name();
}

TEST_F(Splash, MissingStillPictureEndsProgramBeforeAnyWindowShows) {
  RemovePicture("Me00000.g");
  Event([this] { forms->ShowSplash(); });
  ASSERT_TRUE(platform.fatalError.has_value());
  EXPECT_NE(platform.fatalError->description.find(Pic("Me00000.g")), std::string::npos)
      << platform.fatalError->description;
  EXPECT_TRUE(platform.quit);
  EXPECT_TRUE(platform.windowEvents.empty());
  EXPECT_TRUE(platform.sounds.empty());  // the load got no further than the picture
  ASSERT_EQ(platform.messages.size(), 1u);
  EXPECT_EQ(platform.messages[0].text, platform.fatalError->description);
}

TEST_F(Splash, MissingFrameEndsProgramAtFirstTick) {
  struct Row {
    const char* file;
  };
  for (const Row row : {Row{"J-2.j"}, Row{"Quirk00009.j"}}) {
    SCOPED_TRACE(row.file);
    ui::HeadlessPlatform local;
    local.SetExecutableFolder(App());
    Forms localForms(local, registry, [](ui::Platform& p, IRegistry&, std::function<void()> a,
                                         std::function<void()> e) -> std::unique_ptr<ui::Window> {
      return std::make_unique<StandInManager>(p, std::move(a), std::move(e));
    });
    RemovePicture(row.file);
    local.Dispatch([&] { localForms.ShowSplash(); });
    EXPECT_FALSE(local.quit);
    local.AdvanceTime(10);
    ASSERT_TRUE(local.fatalError.has_value());
    EXPECT_NE(local.fatalError->description.find(Pic(row.file)), std::string::npos)
        << local.fatalError->description;
    EXPECT_TRUE(local.quit);
    EXPECT_EQ(local.picturesLoaded.back(), Pic(row.file));
    WritePng(fs::path(Pic(row.file)), 16, 8);
  }
}

}  // namespace
}  // namespace zandrel::shell::testing
