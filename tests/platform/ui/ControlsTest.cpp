// The controls model and window lifecycle, driven through the headless platform.
#include <gtest/gtest.h>

#include "platform/headless/HeadlessPlatform.h"

namespace zandrel::ui {
namespace {

class TestWindow : public Window {
 public:
  explicit TestWindow(Platform& p) : Window(p, "frmTest") {
    SetClientSize(3000, 2000);
    frame.SetTabIndex(0);
    text.SetTabIndex(3);
    check.SetTabIndex(1);
    label.SetTabIndex(2);
    button.SetTabIndex(4);
    list.SetTabIndex(5);
    button.Click = [this] { ++clicks; };
  }
  int loads = 0;
  int resizes = 0;
  int clicks = 0;
  Frame frame{*this, nullptr, "fraTest"};
  TextBox text{*this, &frame, "txtTest"};
  CheckBox check{*this, &frame, "cbxTest"};
  Label label{*this, nullptr, "lblTest"};
  Button button{*this, nullptr, "cmdTest"};
  ListView list{*this, nullptr, "lvwTest"};
  Timer timer{*this, "tmrTest"};

 protected:
  void Form_Load() override { ++loads; }
  void Form_Resize() override { ++resizes; }
};

TEST(WindowLifecycle, ShowLoadsOnceBringsToFrontThenReloadsAfterClose) {
  HeadlessPlatform platform;
  TestWindow w(platform);
  w.Show();
  w.Show();
  EXPECT_EQ(w.loads, 1);
  EXPECT_EQ(w.resizes, 1);
  w.Close();
  EXPECT_TRUE(platform.quit) << "the last window closed ends the program";
  w.Show();
  EXPECT_EQ(w.loads, 2);
  EXPECT_EQ(platform.windowEvents,
            (std::vector<std::string>{"show frmTest", "front frmTest", "close frmTest", "show frmTest"}));
}

TEST(WindowLifecycle, ProgramEndsOnlyWhenTheLastWindowCloses) {
  HeadlessPlatform platform;
  TestWindow a(platform), b(platform);
  a.Show();
  b.Show();
  a.Close();
  EXPECT_FALSE(platform.quit);
  b.Close();
  EXPECT_TRUE(platform.quit);
}

TEST(Focus, FirstShowFocusesFirstControlInTabOrderThatCanTakeIt) {
  HeadlessPlatform platform;
  TestWindow w(platform);
  w.Show();
  EXPECT_EQ(w.Focused(), &w.check) << "frames and labels never take the focus";
  w.FireKey(Key::Tab);
  EXPECT_EQ(w.Focused(), &w.text);
  w.FireKey(Key::Tab);
  EXPECT_EQ(w.Focused(), &w.button);
  w.FireKey(Key::BackTab);
  EXPECT_EQ(w.Focused(), &w.text);
}

TEST(Focus, HiddenOrDisabledControlsAndThoseInHiddenFramesAreSkipped) {
  HeadlessPlatform platform;
  TestWindow w(platform);
  w.frame.SetVisible(false);
  w.Show();
  EXPECT_EQ(w.Focused(), &w.button);
  w.button.SetEnabled(false);
  w.list.SetFocus();
  w.button.SetFocus();
  EXPECT_EQ(w.Focused(), &w.list) << "a disabled button refuses the focus";
}

TEST(Keys, EnterAndSpacePressTheFocusedButtonEscapeDoesNothing) {
  HeadlessPlatform platform;
  TestWindow w(platform);
  w.Show();
  w.button.SetFocus();
  w.FireKey(Key::Enter);
  w.FireKey(Key::Space);
  w.FireKey(Key::Escape);
  EXPECT_EQ(w.clicks, 2);
}

TEST(Button, ClickRunsOnlyWhenVisibleAndEnabled) {
  HeadlessPlatform platform;
  TestWindow w(platform);
  EXPECT_TRUE(w.button.FireClick());
  w.button.SetEnabled(false);
  EXPECT_FALSE(w.button.FireClick());
  w.button.SetEnabled(true);
  w.button.SetVisible(false);
  EXPECT_FALSE(w.button.FireClick());
  EXPECT_EQ(w.clicks, 1);
}

TEST(CheckBox, UserClickToggles) {
  HeadlessPlatform platform;
  TestWindow w(platform);
  w.check.SetValue(1);
  w.check.FireClick();
  EXPECT_EQ(w.check.Value(), 0);
  w.check.FireClick();
  EXPECT_EQ(w.check.Value(), 1);
}

TEST(ListView, FirstRowAddedBecomesSelectedClearDropsSelection) {
  HeadlessPlatform platform;
  TestWindow w(platform);
  EXPECT_EQ(w.list.SelectedItem(), nullptr);
  w.list.AddItem({".txt", "txtfile", "notepad %1"});
  w.list.AddItem({".bmp", "Paint.Picture", "mspaint %1"});
  ASSERT_NE(w.list.SelectedItem(), nullptr);
  EXPECT_EQ(w.list.SelectedItem()->text, ".txt");
  w.list.UserSelected(1);
  EXPECT_EQ(w.list.SelectedItem()->sub1, "Paint.Picture");
  w.list.ClearItems();
  EXPECT_EQ(w.list.SelectedIndex(), -1);
  w.list.SetItems({{".a", "b", "c"}});
  EXPECT_EQ(w.list.SelectedIndex(), 0);
  w.list.SetItems({});
  EXPECT_EQ(w.list.SelectedIndex(), -1);
  w.list.Select(5);
  EXPECT_EQ(w.list.SelectedIndex(), -1) << "selecting past the end selects nothing";
}

TEST(Timer, NeverTicksFasterThanTenMilliseconds) {
  HeadlessPlatform platform;
  TestWindow w(platform);
  int ticks = 0;
  w.timer.Tick = [&] { ++ticks; };
  w.timer.SetInterval(1);
  EXPECT_EQ(w.timer.EffectiveInterval(), 10);
  w.Show();
  platform.AdvanceTime(1000);
  EXPECT_EQ(ticks, 100);
  w.timer.SetInterval(250);
  EXPECT_EQ(w.timer.EffectiveInterval(), 250);
}

TEST(Timer, StopsWhenItsWindowCloses) {
  HeadlessPlatform platform;
  TestWindow w(platform), other(platform);
  int ticks = 0;
  w.timer.SetInterval(100);
  w.timer.Tick = [&] {
    if (++ticks == 3) w.Close();
  };
  other.Show();
  w.Show();
  platform.AdvanceTime(10000);
  EXPECT_EQ(ticks, 3);
}

TEST(Dispatch, UncaughtRuntimeErrorEndsTheProgramWithItsMessage) {
  HeadlessPlatform platform;
  TestWindow w(platform);
  bool after = false;
  w.button.Click = [&] {
    throw RuntimeError{53, "File not found: /x/Pic/k01-1.g"};
    after = true;
  };
  w.Show();
  w.button.FireClick();
  ASSERT_TRUE(platform.fatalError.has_value());
  EXPECT_EQ(platform.fatalError->number, 53);
  EXPECT_TRUE(platform.quit);
  EXPECT_FALSE(after);
  ASSERT_EQ(platform.messages.size(), 1u);
  EXPECT_EQ(platform.messages[0].text, "File not found: /x/Pic/k01-1.g");
  EXPECT_EQ(platform.messages[0].title, "Zandrel");
}

TEST(Image, TakesThePictureSize) {
  HeadlessPlatform platform;
  TestWindow w(platform);
  Image img(w, nullptr, "imgTest");
  img.Move(120, 240, 6375, 495);
  auto pic = std::make_shared<Picture>();
  pic->widthPx = 100;
  pic->heightPx = 20;
  img.SetPicture(pic);
  EXPECT_EQ(img.Geometry(), (Rect{120, 240, 1500, 300}));
}

}  // namespace
}  // namespace zandrel::ui
