// The Qt realisation's services: message boxes, the file-open dialog, picture
// loading, picture buttons, the pointer, message processing, screenshots.
#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>
#include <optional>
#include <unistd.h>

#include <gtest/gtest.h>

#include "QtTestSupport.h"
#include "platform/qt/QtPlatform.h"

namespace zandrel::ui {
namespace {

// Runs `drive` on the next modal widget once it shows (the modal loop is
// running then), so a test can read and answer a modal box.
void WhenModalShows(std::function<void(QWidget*)> drive) {
  auto* poll = new QTimer;
  poll->setInterval(5);
  QObject::connect(poll, &QTimer::timeout, [poll, drive] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || !modal->isVisible()) return;
    poll->stop();
    poll->deleteLater();
    drive(modal);
  });
  poll->start();
}

struct SeenBox {
  QString title, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QStringList buttons;
  bool escapeIgnored = false;
};

struct MsgBoxRow {
  const char* name;
  int flags;
  QString click;
  int answer;
  QStringList buttons;
  QMessageBox::Icon icon;
};

void PrintTo(const MsgBoxRow& row, std::ostream* os) { *os << row.name; }

class QtMsgBox : public testing::TestWithParam<MsgBoxRow> {
 protected:
  QtPlatform platform;
};

TEST_P(QtMsgBox, ShowsTextCaptionIconAndRussianButtons) {
  const MsgBoxRow& row = GetParam();
  SeenBox seen;
  WhenModalShows([&](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    ASSERT_NE(box, nullptr);
    seen.title = box->windowTitle();
    seen.text = box->text();
    seen.icon = box->icon();
    QAbstractButton* target = nullptr;
    for (QAbstractButton* b : box->buttons()) {
      seen.buttons << b->text();
      EXPECT_TRUE(b->icon().isNull()) << "text only, as on Win32";
      if (b->text() == row.click) target = b;
    }
    QTest::keyClick(box, Qt::Key_Escape);
    seen.escapeIgnored = box->isVisible();
    if (box->isVisible()) target->click();
  });
  const int answer = platform.MsgBox("Удалить ассоциацию \".abc\"?\nДа <b>или</b> нет", row.flags);
  EXPECT_EQ(answer, row.answer);
  EXPECT_EQ(seen.title, QStringLiteral("Zandrel"));
  EXPECT_EQ(seen.text, QStringLiteral("Удалить ассоциацию \".abc\"?\nДа <b>или</b> нет"));
  EXPECT_EQ(seen.icon, row.icon);
  EXPECT_EQ(seen.buttons, row.buttons);
  if ((row.flags & 0xF) == MB_YESNO) {
    EXPECT_TRUE(seen.escapeIgnored) << "Yes/No has no way out but its buttons";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Flags, QtMsgBox,
    testing::Values(
        MsgBoxRow{"Ok", MB_OK, "OK", IDOK, {"OK"}, QMessageBox::NoIcon},
        MsgBoxRow{"YesNoYes", MB_YESNO, "Да", IDYES, {"Да", "Нет"}, QMessageBox::NoIcon},
        MsgBoxRow{"YesNoNo", MB_YESNO, "Нет", IDNO, {"Да", "Нет"}, QMessageBox::NoIcon},
        MsgBoxRow{"QuestionYes", MB_YESNO | MB_ICONQUESTION, "Да", IDYES, {"Да", "Нет"}, QMessageBox::Question},
        MsgBoxRow{"QuestionNo", MB_YESNO | MB_ICONQUESTION, "Нет", IDNO, {"Да", "Нет"}, QMessageBox::Question},
        MsgBoxRow{"OkQuestion", MB_OK | MB_ICONQUESTION, "OK", IDOK, {"OK"}, QMessageBox::Question}),
    [](const testing::TestParamInfo<MsgBoxRow>& info) { return std::string(info.param.name); });

TEST(QtMsgBoxCaption, OwnCaptionIsUsed) {
  QtPlatform platform;
  QString title;
  WhenModalShows([&](QWidget* w) {
    title = w->windowTitle();
    qobject_cast<QMessageBox*>(w)->buttons().front()->click();
  });
  EXPECT_EQ(platform.MsgBox("x", MB_OK, "Другое"), IDOK);
  EXPECT_EQ(title, QStringLiteral("Другое"));
}

class QtFileDialog : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    program = dir.filePath(QStringLiteral("tool.exe")).toStdString();
    QFile f(QString::fromStdString(program));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    dialog.Filter = "(*.exe)|*.exe|(*.com)|*.com|(*.*)|*.*|";
    dialog.FilterIndex = 2;
    dialog.DefaultExt = "exe";
    dialog.Flags = OFN_FILEMUSTEXIST;
    dialog.CancelError = true;
  }
  QTemporaryDir dir;
  std::string program;
  QtPlatform platform;
  Window owner{platform, "frmOwner"};
  CommonDialog dialog{owner};
};

TEST_F(QtFileDialog, CancelIsError32755) {
  QStringList filters;
  QString selected, title;
  QStringList buttons;
  QFileDialog::FileMode mode{};
  WhenModalShows([&](QWidget* w) {
    auto* box = qobject_cast<QFileDialog*>(w);
    ASSERT_NE(box, nullptr);
    filters = box->nameFilters();
    selected = box->selectedNameFilter();
    mode = box->fileMode();
    title = box->windowTitle();
    for (QPushButton* b : box->findChildren<QPushButton*>()) buttons << b->text();
    box->reject();
  });
  try {
    dialog.ShowOpen();
    FAIL() << "cancel must throw";
  } catch (const RuntimeError& error) {
    EXPECT_EQ(error.number, 32755);
    EXPECT_EQ(error.description, "Cancel was selected.");
  }
  EXPECT_EQ(filters, (QStringList{"(*.exe)", "(*.com)", "(*.*)"}));
  EXPECT_EQ(selected, QStringLiteral("(*.com)")) << "FilterIndex is 1-based";
  EXPECT_EQ(mode, QFileDialog::ExistingFile);
  EXPECT_EQ(title, QStringLiteral("Открыть"));
  EXPECT_TRUE(buttons.contains(QStringLiteral("&Открыть"))) << "Qt's own texts in Russian";
  EXPECT_TRUE(buttons.contains(QStringLiteral("Отмена")));
}

TEST_F(QtFileDialog, CancelWithoutCancelErrorKeepsTheName) {
  dialog.CancelError = false;
  dialog.FileName = "keep";
  WhenModalShows([](QWidget* w) { qobject_cast<QFileDialog*>(w)->reject(); });
  EXPECT_NO_THROW(dialog.ShowOpen());
  EXPECT_EQ(dialog.FileName, "keep");
}

TEST_F(QtFileDialog, ChosenFileIsReturned) {
  dialog.FilterIndex = 1;
  WhenModalShows([&](QWidget* w) {
    auto* box = qobject_cast<QFileDialog*>(w);
    box->setDirectory(dir.path());
    box->selectFile(QString::fromStdString(program));
    static_cast<QDialog*>(box)->accept();  // QFileDialog::accept, which checks the name
  });
  dialog.ShowOpen();
  EXPECT_EQ(dialog.FileName, program);
  EXPECT_EQ(dialog.FilterIndex, 1);
}

class QtPictures : public testing::Test {
 protected:
  QTemporaryDir dir;
  QtPlatform platform;
};

TEST_F(QtPictures, FormatComesFromTheContent) {
  const std::string png_as_j = WriteSolidPicture(dir, "frame.j", 40, 30, Qt::red, "PNG");
  const std::string jpeg_as_g = WriteSolidPicture(dir, "button.g", 17, 9, Qt::blue, "JPEG");
  PicturePtr a = platform.LoadPicture(png_as_j);
  EXPECT_EQ(a->format, "png");
  EXPECT_EQ(a->widthPx, 40);
  EXPECT_EQ(a->heightPx, 30);
  EXPECT_EQ(a->source, png_as_j);
  PicturePtr b = platform.LoadPicture(jpeg_as_g);
  EXPECT_EQ(b->format, "jpeg");
  EXPECT_EQ(b->widthPx, 17);
  EXPECT_EQ(b->heightPx, 9);
  EXPECT_NE(b->native, nullptr) << "decoded once, at load";
}

TEST_F(QtPictures, BadFilesAreRunTimeErrors) {
  const std::string jpeg = WriteSolidPicture(dir, "whole.j", 64, 64, Qt::green, "JPEG");
  const std::string png = WriteSolidPicture(dir, "whole.g", 64, 64, Qt::green, "PNG");
  QFile jf(QString::fromStdString(jpeg));
  ASSERT_TRUE(jf.open(QIODevice::ReadOnly));
  const QByteArray jbytes = jf.readAll();
  QFile pf(QString::fromStdString(png));
  ASSERT_TRUE(pf.open(QIODevice::ReadOnly));
  const QByteArray pbytes = pf.readAll();
  auto write = [&](const char* name, const QByteArray& bytes) {
    QFile f(dir.filePath(name));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    return dir.filePath(name).toStdString();
  };
  struct Row {
    const char* name;
    std::string path;
    int number;
  } rows[] = {
      {"missing", dir.filePath("nothing.g").toStdString(), 53},
      {"garbage", write("garbage.g", QByteArray("this is not a picture at all, only words")), 481},
      {"empty", write("empty.g", QByteArray()), 481},
      {"jpeg cut in its image data", write("cut.j", jbytes.left(jbytes.size() - 40)), 481},
      {"jpeg cut before its image data", write("head.j", jbytes.left(100)), 481},
      {"png cut in its image data", write("cut.g", pbytes.left(pbytes.size() - 20)), 481},
      {"a folder", dir.path().toStdString(), 481},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    try {
      platform.LoadPicture(row.path);
      ADD_FAILURE() << "loaded";
    } catch (const RuntimeError& error) {
      EXPECT_EQ(error.number, row.number);
      EXPECT_NE(error.description.find(row.path), std::string::npos) << error.description;
    }
  }
  EXPECT_NO_THROW(platform.LoadPicture(jpeg));
  EXPECT_NO_THROW(platform.LoadPicture(png));
}

class PictureButtonWindow : public Window {
 public:
  explicit PictureButtonWindow(Platform& p) : Window(p, "frmButtons") {
    SetClientSize(3000, 1500);
    button.Move(0, 0, 1500, 495);
    button.SetTabIndex(0);
    plain.Move(1500, 0, 1365, 375);
    plain.SetCaption("Применить");
    plain.SetTabIndex(1);
    image.Move(0, 600, 90, 90);
    box.Move(1500, 600, 300, 300);
    box.SetColors(kBlack, kWhite);
  }
  Button button{*this, nullptr, "cmdPic"};
  Button plain{*this, nullptr, "cmdPlain"};
  Image image{*this, nullptr, "imgPic"};
  PictureBox box{*this, nullptr, "picBox"};
};

TEST_F(QtPictures, ButtonsAndImagesShowThePictureOfTheirState) {
  PictureButtonWindow window(platform);
  PicturePtr normal = platform.LoadPicture(WriteSolidPicture(dir, "n.g", 100, 33, QColor(0, 128, 0)));
  PicturePtr down = platform.LoadPicture(WriteSolidPicture(dir, "d.g", 100, 33, QColor(128, 0, 0)));
  PicturePtr off = platform.LoadPicture(WriteSolidPicture(dir, "o.g", 100, 33, QColor(0, 0, 128)));
  PicturePtr small = platform.LoadPicture(WriteSolidPicture(dir, "s.g", 8, 6, QColor(200, 100, 0)));
  window.button.SetPicture(normal);
  window.button.SetDisabledPicture(off);
  window.button.SetDownPicture(down);
  window.Show();
  window.image.SetPicture(small);
  window.box.SetPicture(small);

  auto* button = qobject_cast<QAbstractButton*>(platform.WidgetOf(window.button));
  ASSERT_NE(button, nullptr);
  auto centre = [&] { return button->grab().toImage().pixelColor(50, 16); };
  EXPECT_EQ(centre(), QColor(0, 128, 0));
  button->setDown(true);
  EXPECT_EQ(centre(), QColor(128, 0, 0));
  button->setDown(false);
  window.button.SetEnabled(false);
  EXPECT_EQ(centre(), QColor(0, 0, 128));

  // A plain graphical button: white face with its caption.
  QWidget* plain = platform.WidgetOf(window.plain);
  const QImage face = plain->grab().toImage();
  EXPECT_EQ(face.pixelColor(4, face.height() / 2), QColor(Qt::white));

  // The image takes the picture's size; the box keeps its own and its background.
  EXPECT_EQ(platform.WidgetOf(window.image)->size(), QSize(8, 6));
  const QImage box = platform.WidgetOf(window.box)->grab().toImage();
  EXPECT_EQ(box.pixelColor(2, 2), QColor(200, 100, 0));
  EXPECT_EQ(box.pixelColor(15, 15), QColor(Qt::black));
  window.Close();
  FlushDeferredDeletes();
}

TEST_F(QtPictures, ScreenshotIsAPngOfTheWindow) {
  PictureButtonWindow window(platform);
  window.Show();
  const std::string shot = dir.filePath("shot.png").toStdString();
  ASSERT_TRUE(platform.GrabToPng(window, shot));
  PicturePtr picture = platform.LoadPicture(shot);
  EXPECT_EQ(picture->format, "png");
  EXPECT_EQ(picture->widthPx, 200);
  EXPECT_EQ(picture->heightPx, 100);
  window.Close();
  EXPECT_FALSE(platform.GrabToPng(window, shot));
  FlushDeferredDeletes();
}

TEST(QtServices, PointerMessagesShellAndFolder) {
  QtPlatform platform;
  platform.SetMousePointer(kPointerHourglass);
  EXPECT_EQ(platform.MousePointer(), 11);
  ASSERT_NE(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
  platform.SetMousePointer(kPointerDefault);
  EXPECT_EQ(platform.MousePointer(), 0);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);

  bool ran = false;
  QTimer::singleShot(0, [&] { ran = true; });
  platform.DoEvents();
  EXPECT_TRUE(ran);

  const std::int32_t pidl = 0;
  platform.SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, &pidl);
  ASSERT_EQ(platform.ShellNotifies().size(), 1u);
  EXPECT_EQ(platform.ShellNotifies()[0].eventId, 0x08000000);
  EXPECT_EQ(platform.ShellNotifies()[0].flags, 0u);
  EXPECT_EQ(platform.ShellNotifies()[0].item1, nullptr);
  EXPECT_EQ(platform.ShellNotifies()[0].item2, &pidl);

  const std::string folder = platform.ExecutableFolder();
  EXPECT_EQ(folder, QCoreApplication::applicationDirPath().toStdString());
  EXPECT_NE(folder.back(), '/');
}

// A window whose load fails as a missing picture does.
class FailingWindow : public Window {
 public:
  using Window::Window;
  Timer timer{*this, "tmrFast"};
};

TEST(QtServices, FatalShowsTheErrorAndEndsTheProgram) {
  QtPlatform platform;
  FailingWindow window(platform, "frmFail");
  window.SetClientSize(1500, 1500);
  int ticks = 0;
  window.timer.SetInterval(1);
  window.timer.Tick = [&] {
    if (++ticks == 3) throw RuntimeError{53, "Файл рисунка не найден: /x/Pic/Exit.g"};
  };
  window.Show();
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QString title;
  int ticks_at_box = -1;
  WhenModalShows([&](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    text = box->text();
    icon = box->icon();
    title = box->windowTitle();
    QTest::qWait(50);
    ticks_at_box = ticks;
    box->buttons().front()->click();
  });
  EXPECT_EQ(platform.Exec(), 1);
  EXPECT_TRUE(platform.FatalHappened());
  EXPECT_EQ(text, QStringLiteral("Файл рисунка не найден: /x/Pic/Exit.g"));
  EXPECT_EQ(title, QStringLiteral("Zandrel"));
  EXPECT_EQ(icon, QMessageBox::Critical);
  EXPECT_EQ(ticks_at_box, 3) << "nothing runs while the error shows";
  EXPECT_EQ(platform.Exec(), 1) << "the program stays ended";
  window.Close();
  FlushDeferredDeletes();
}

TEST(QtServices, LastWindowClosedEndsTheLoop) {
  QtPlatform platform;
  Window window(platform, "frmOnly");
  window.SetClientSize(1500, 1500);
  window.Show();
  QTimer::singleShot(0, [&] { window.Close(); });
  EXPECT_EQ(platform.Exec(), 0);
  EXPECT_EQ(platform.OpenWindowCount(), 0);
  EXPECT_EQ(platform.Exec(), 0) << "already ended: returns at once";
  FlushDeferredDeletes();
}

}  // namespace
}  // namespace zandrel::ui
