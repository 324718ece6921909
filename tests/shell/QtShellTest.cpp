// The companion windows over the real Qt realisation (offscreen): what the
// model asks for reaches the widgets, and closing from inside handlers and
// timer ticks is safe with real peers.
#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "platform/qt/QtPlatform.h"
#include "shell/ShellFixture.h"
#include "shell/frmAbout.h"
#include "shell/frmExit.h"
#include "shell/frmSplash.h"

namespace zandrel::shell::testing {
namespace {

// The Qt window system with its application folder put elsewhere.
class FolderQtPlatform : public ui::QtPlatform {
 public:
  explicit FolderQtPlatform(std::string folder) : folder_(std::move(folder)) {}
  std::string ExecutableFolder() override { return folder_; }

 private:
  std::string folder_;
};

class QtShell : public ::testing::Test {
 protected:
  QtShell() : platform(dir.path().toStdString()) {
    QDir(dir.path()).mkdir("Pic");
    for (const std::string& name : kAllPictures) {
      QImage image(24, 12, QImage::Format_RGB32);
      image.fill(Qt::darkCyan);
      const bool jpeg = name.size() > 2 && name.compare(name.size() - 2, 2, ".j") == 0;
      image.save(dir.filePath(QString::fromStdString("Pic/" + name)), jpeg ? "JPEG" : "PNG");
    }
    forms = std::make_unique<Forms>(
        platform, registry,
        [](ui::Platform& p, IRegistry&, std::function<void()> showAbout,
           std::function<void()> showExit) -> std::unique_ptr<ui::Window> {
          return std::make_unique<StandInManager>(p, std::move(showAbout), std::move(showExit));
        });
  }
  ~QtShell() override {
    forms.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }

  StandInManager* Manager() const { return static_cast<StandInManager*>(forms->Manager()); }

  QTemporaryDir dir;
  FolderQtPlatform platform;
  UnusedRegistry registry;
  std::unique_ptr<Forms> forms;
};

TEST_F(QtShell, SplashRealisedWithTimersNoFasterThanTenMilliseconds) {
  platform.Dispatch([this] { forms->ShowSplash(); });
  frmSplash& s = *forms->Splash();
  QWidget* top = platform.WidgetOf(s);
  ASSERT_NE(top, nullptr);
  EXPECT_TRUE(top->windowFlags().testFlag(Qt::FramelessWindowHint));
  EXPECT_EQ(top->size(), QSize(platform.ToPixels(11220), platform.ToPixels(8310)));
  ASSERT_NE(platform.TimerOf(s.tmrCOOL01), nullptr);
  EXPECT_EQ(platform.TimerOf(s.tmrCOOL01)->interval(), 10);
  EXPECT_EQ(platform.TimerOf(s.tmrCOOL02)->interval(), 10);
  EXPECT_EQ(platform.TimerOf(s.tmrNext)->interval(), 6000);

  // The animation runs on the event loop: after a few ticks both boxes hold
  // a frame read from the folder.
  ASSERT_TRUE(QTest::qWaitFor([&] { return s.picMama01.Picture() && s.picMama02.Picture(); }, 5000));
  EXPECT_NE(s.picMama01.Picture()->source.find("/Pic/J-"), std::string::npos);

  // The hand-over from a real tick: the manager comes up, the splash goes.
  QTimer* next = platform.TimerOf(s.tmrNext);
  QMetaObject::invokeMethod(next, "timeout", Qt::DirectConnection);
  ASSERT_NE(Manager(), nullptr);
  EXPECT_NE(platform.WidgetOf(*Manager()), nullptr);
  EXPECT_EQ(forms->Splash(), nullptr);
  // The splash's peers go with the event loop; its timers must not fire after.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QTest::qWait(50);
  EXPECT_EQ(platform.OpenWindowCount(), 1);
  EXPECT_FALSE(platform.FatalHappened());
}

TEST_F(QtShell, ExitAndAboutRealised) {
  platform.Dispatch([this] { forms->ShowManager(); });
  Manager()->cmdExit.FireClick();
  Manager()->cmdA01.FireClick();
  frmExit& e = *forms->Exit();
  frmAbout& a = *forms->About();

  QWidget* exitTop = platform.WidgetOf(e);
  ASSERT_NE(exitTop, nullptr);
  EXPECT_TRUE(exitTop->windowFlags().testFlag(Qt::FramelessWindowHint));
  EXPECT_TRUE(exitTop->windowFlags().testFlag(Qt::Tool));  // not in the taskbar
  EXPECT_EQ(exitTop->size(), QSize(platform.ToPixels(4230), platform.ToPixels(1605)));

  QWidget* aboutTop = platform.WidgetOf(a);
  ASSERT_NE(aboutTop, nullptr);
  EXPECT_EQ(aboutTop->windowTitle(), QString::fromUtf8("О программе..."));
  EXPECT_FALSE(aboutTop->windowFlags().testFlag(Qt::FramelessWindowHint));
  EXPECT_FALSE(aboutTop->windowFlags().testFlag(Qt::WindowCloseButtonHint));
  auto* label = qobject_cast<QLabel*>(platform.WidgetOf(a.lblInfo));
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(label->text().toStdString(), frmAbout::InfoText());
  EXPECT_TRUE(label->wordWrap());
  EXPECT_TRUE(label->font().bold());
  EXPECT_DOUBLE_EQ(label->font().pointSizeF(), 9.75);

  // Yes closes the manager window and the confirmation; the About box keeps
  // the program running until it is dismissed.
  e.FireKey(ui::Key::Enter);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(platform.WidgetOf(*Manager()), nullptr);
  EXPECT_EQ(platform.OpenWindowCount(), 1);
  EXPECT_NE(platform.WidgetOf(a), nullptr);
  a.cmdForwrd.FireClick();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(platform.OpenWindowCount(), 0);
  EXPECT_EQ(platform.Exec(), 0);  // the program has ended: returns at once
  EXPECT_FALSE(platform.FatalHappened());
}

}  // namespace
}  // namespace zandrel::shell::testing
