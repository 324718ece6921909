// The Qt realisation's services: message boxes, the file-open dialog, picture
// loading, picture buttons, the pointer, message processing, screenshots.
#include <QAbstractButton>
#include <QBuffer>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>
#include <optional>
#include <sys/stat.h>
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
    auto* types = box->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
    for (int i = 0; i < types->count(); ++i) filters << types->itemText(i);
    selected = types->currentText();
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

TEST_F(QtFileDialog, TypedNameIsTakenAsItIsWhenItExists) {
  for (const char* name : {"prog", "both", "both.exe"}) QFile(dir.filePath(name)).open(QIODevice::WriteOnly);
  const struct {
    const char* typed;
    const char* picked;
  } rows[] = {{"prog", "prog"}, {"both", "both"}, {"tool", "tool.exe"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.typed);
    dialog.FileName = "";
    bool progListed = false;
    WhenModalShows([&](QWidget* w) {
      auto* box = qobject_cast<QFileDialog*>(w);
      box->setDirectory(dir.path());
      // "*.*" lists every file, those without an extension too.
      auto* types = box->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
      types->setCurrentIndex(2);
      emit types->activated(2);  // as the user's pick
      auto* view = box->findChild<QListView*>(QStringLiteral("listView"));
      progListed = QTest::qWaitFor([&] {
        for (int r = 0; r < view->model()->rowCount(view->rootIndex()); ++r)
          if (view->model()->index(r, 0, view->rootIndex()).data().toString() == QStringLiteral("prog")) return true;
        return false;
      });
      box->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(QString::fromUtf8(row.typed));
      static_cast<QDialog*>(box)->accept();
    });
    dialog.ShowOpen();
    EXPECT_TRUE(progListed);
    EXPECT_EQ(dialog.FileName, dir.filePath(QString::fromUtf8(row.picked)).toStdString());
  }
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

// Every load reads its file again; only bytes decoded before skip the decoder.
class QtPictureReuse : public QtPictures {
 protected:
  std::string Write(const char* name, const QByteArray& bytes) {
    QFile f(dir.filePath(name));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
    return dir.filePath(name).toStdString();
  }
  static QByteArray Encoded(QColor color, const char* format, int w = 40, int h = 30) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(color);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
  }
  static QColor Centre(const PicturePtr& picture) {
    const QImage& image = *std::static_pointer_cast<QImage>(picture->native);
    return image.pixelColor(image.width() / 2, image.height() / 2);
  }
  long Decodes() const { return platform.PictureDecodeStats().decodes; }
  long Reuses() const { return platform.PictureDecodeStats().reuses; }
};

TEST_F(QtPictureReuse, IdenticalBytesAreDecodedOnce) {
  const QByteArray red = Encoded(Qt::red, "JPEG");
  const std::string a = Write("J-1.j", red);
  const std::string b = Write("copy.j", red);
  PicturePtr first = platform.LoadPicture(a);
  PicturePtr second = platform.LoadPicture(a);
  PicturePtr third = platform.LoadPicture(b);
  EXPECT_EQ(Decodes(), 1);
  EXPECT_EQ(Reuses(), 2);
  EXPECT_EQ(platform.CachedPictureCount(), 1u);
  for (const PicturePtr& p : {first, second, third}) {
    EXPECT_EQ(p->format, "jpeg");
    EXPECT_EQ(p->widthPx, 40);
    EXPECT_EQ(p->heightPx, 30);
    EXPECT_EQ(p->bytes.size(), static_cast<std::size_t>(red.size())) << "the file is read every time";
    EXPECT_EQ(p->native, first->native) << "one decoded image for the same bytes";
  }
  EXPECT_NE(first, second) << "each load is a picture of its own";
  EXPECT_EQ(second->source, a);
  EXPECT_EQ(third->source, b);
  EXPECT_LE(qGray(Centre(third).rgb()), 128);
  EXPECT_GE(Centre(third).red(), 200);
}

TEST_F(QtPictureReuse, ChangedFileIsDecodedAfresh) {
  const std::string path = Write("frame.g", Encoded(Qt::red, "PNG"));
  EXPECT_EQ(Centre(platform.LoadPicture(path)), QColor(Qt::red));
  Write("frame.g", Encoded(Qt::blue, "PNG"));
  PicturePtr blue = platform.LoadPicture(path);
  EXPECT_EQ(Centre(blue), QColor(Qt::blue)) << "the picture on disk now";
  EXPECT_EQ(Decodes(), 2);
  Write("frame.g", Encoded(Qt::green, "PNG", 64, 48));
  PicturePtr bigger = platform.LoadPicture(path);
  EXPECT_EQ(Centre(bigger), QColor(Qt::green));
  EXPECT_EQ(bigger->widthPx, 64);
  EXPECT_EQ(bigger->heightPx, 48);
  Write("frame.g", Encoded(Qt::red, "PNG"));
  EXPECT_EQ(Centre(platform.LoadPicture(path)), QColor(Qt::red));
  EXPECT_EQ(Decodes(), 3);
  EXPECT_EQ(Reuses(), 1) << "red again: bytes seen before";

  // Same size, other bytes: every byte counts, not the length.
  const QByteArray cyan = Encoded(Qt::cyan, "BMP"), magenta = Encoded(Qt::magenta, "BMP");
  ASSERT_EQ(cyan.size(), magenta.size());
  const std::string bmp = Write("frame.b", cyan);
  EXPECT_EQ(Centre(platform.LoadPicture(bmp)), QColor(Qt::cyan));
  Write("frame.b", magenta);
  EXPECT_EQ(Centre(platform.LoadPicture(bmp)), QColor(Qt::magenta));
  EXPECT_EQ(Decodes(), 5);
}

// Faults found on the first load of a file are found on every later one,
// whatever was loaded from the same path before.
TEST_F(QtPictureReuse, BadBytesFailEveryTimeEvenAfterGoodOnes) {
  const QByteArray jpeg = Encoded(Qt::green, "JPEG", 64, 64);
  const std::string path = Write("Quirk00000.j", jpeg);
  ASSERT_NO_THROW(platform.LoadPicture(path));
  struct Row {
    const char* name;
    QByteArray bytes;  // empty: the file is removed
    int number;
  } rows[] = {
      {"cut in its image data", jpeg.left(jpeg.size() - 40), 481},
      {"cut before its image data", jpeg.left(100), 481},
      {"garbage", QByteArray("not a picture"), 481},
      {"empty", QByteArray(), 481},
      {"missing", QByteArray(), 53},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.number == 53)
      ASSERT_TRUE(QFile::remove(QString::fromStdString(path)));
    else
      Write("Quirk00000.j", row.bytes);
    for (int attempt = 0; attempt < 2; ++attempt) {
      try {
        platform.LoadPicture(path);
        ADD_FAILURE() << "loaded, attempt " << attempt;
      } catch (const RuntimeError& error) {
        EXPECT_EQ(error.number, row.number);
        EXPECT_NE(error.description.find(path), std::string::npos) << error.description;
      }
    }
  }
  EXPECT_EQ(platform.CachedPictureCount(), 1u) << "nothing that failed is remembered";
  Write("Quirk00000.j", jpeg);
  const long decodes = Decodes();
  EXPECT_NO_THROW(platform.LoadPicture(path));
  EXPECT_EQ(Decodes(), decodes) << "the good bytes are known again";
  EXPECT_EQ(Reuses(), 1);
}

TEST_F(QtPictureReuse, SpecialFilesAreRefusedWithoutWaiting) {
  const std::string fifo = dir.filePath("pipe.g").toStdString();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  try {
    platform.LoadPicture(fifo);  // opening a FIFO for reading would wait for a writer
    ADD_FAILURE() << "loaded";
  } catch (const RuntimeError& error) {
    EXPECT_EQ(error.number, 481);
  }
}

TEST_F(QtPictureReuse, RememberedPicturesAreBounded) {
  platform.SetPictureCacheLimits(3, std::size_t{1} << 20);
  const QColor colors[] = {Qt::red, Qt::green, Qt::blue, Qt::cyan, Qt::magenta};
  std::vector<std::string> paths;
  for (int i = 0; i < 5; ++i) paths.push_back(Write(("p" + std::to_string(i) + ".g").c_str(), Encoded(colors[i], "PNG")));
  for (const std::string& p : paths) platform.LoadPicture(p);
  EXPECT_EQ(platform.CachedPictureCount(), 3u);
  EXPECT_EQ(Decodes(), 5);
  platform.LoadPicture(paths[4]);
  EXPECT_EQ(Reuses(), 1) << "the most recent stays";
  EXPECT_EQ(Centre(platform.LoadPicture(paths[0])), QColor(Qt::red));
  EXPECT_EQ(Decodes(), 6) << "the least recently used went first";

  // A picture larger than the whole budget is decoded every time.
  platform.SetPictureCacheLimits(64, 1000);
  EXPECT_EQ(platform.CachedPictureCount(), 0u);
  const std::string big = Write("big.g", Encoded(Qt::yellow, "PNG", 100, 100));
  platform.LoadPicture(big);
  platform.LoadPicture(big);
  EXPECT_EQ(Decodes(), 8);
  EXPECT_EQ(platform.CachedPictureCount(), 0u);
}

// Decoded once into the form the screen draws without converting.
TEST_F(QtPictureReuse, DecodedInDisplayFormat) {
  PicturePtr jpeg = platform.LoadPicture(Write("photo.j", Encoded(Qt::gray, "JPEG")));
  EXPECT_EQ(std::static_pointer_cast<QImage>(jpeg->native)->format(), QImage::Format_RGB32);
  QImage translucent(8, 8, QImage::Format_ARGB32);
  translucent.fill(QColor(255, 0, 0, 128));
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  translucent.save(&buffer, "PNG");
  PicturePtr png = platform.LoadPicture(Write("glass.g", bytes));
  const QImage& image = *std::static_pointer_cast<QImage>(png->native);
  EXPECT_EQ(image.format(), QImage::Format_ARGB32_Premultiplied);
  EXPECT_EQ(image.pixelColor(3, 3).alpha(), 128);
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
