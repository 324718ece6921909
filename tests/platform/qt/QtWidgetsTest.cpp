// The Qt realisation builds the right widgets from the controls model and keeps
// both in step, in each direction.
#include <QAbstractItemModel>
#include <QCheckBox>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <gtest/gtest.h>

#include "QtTestSupport.h"
#include "platform/qt/QtPlatform.h"

namespace zandrel::ui {
namespace {

const Font kBold{"MS Sans Serif", 8.25f, true, 204};
const Font kBig{"MS Sans Serif", 9.75f, true, 204};

// One control of every kind, laid out in twips, as a window's constructor does.
class SampleWindow : public Window {
 public:
  explicit SampleWindow(Platform& platform) : Window(platform, "frmSample") {
    SetCaption("Проверка окна");
    SetClientSize(8535, 7245);
    list.Move(0, 1080, 8535, 3000);
    list.SetTabIndex(4);
    list.SetFont(kBold);
    button.Move(120, 120, 1485, 495);
    button.SetTabIndex(3);
    button.SetFont(kBold);
    label.Move(120, 720, 2415, 255);
    label.SetCaption("Загрузка данных....");
    label.SetFont(kBig);
    label.SetTabIndex(5);
    frame.Move(480, 4200, 7155, 2900);
    frame.SetCaption("fraAsso");
    frame.SetFont(kBold);
    check.Move(270, 360, 3135, 195);
    check.SetCaption("Показать изменнения ");
    check.SetValue(1);
    check.SetTabIndex(1);
    check.SetToolTip("Подсказка");
    text.Move(1440, 960, 675, 315);
    text.SetTabIndex(2);
    image.Move(6000, 4000, 300, 300);
    box.Move(6360, 720, 1800, 300);
    box.SetColors(kBlack, kWhite);
    timer.SetInterval(1);
    button.Click = [this] { ++clicks; };
    timer.Tick = [this] { ++ticks; };
  }
  ListView list{*this, nullptr, "lvwList"};
  Button button{*this, nullptr, "cmdGo"};
  Label label{*this, nullptr, "lblInfo"};
  Frame frame{*this, nullptr, "fraBox"};
  CheckBox check{*this, &frame, "cbxCheck"};
  TextBox text{*this, &frame, "txtText"};
  Image image{*this, nullptr, "imgPic"};
  PictureBox box{*this, nullptr, "picBox"};
  Timer timer{*this, "tmrTick"};
  int clicks = 0;
  int ticks = 0;
};

class QtWidgets : public testing::Test {
 protected:
  void SetUp() override { window.Show(); }
  void TearDown() override {
    window.Close();
    FlushDeferredDeletes();
  }
  template <typename W>
  W* WidgetFor(const Control& c) {
    return dynamic_cast<W*>(platform.WidgetOf(c));
  }
  QtPlatform platform;
  SampleWindow window{platform};
};

TEST_F(QtWidgets, GeometryIsTwipsOverFifteenAtNinetySixDpi) {
  ASSERT_DOUBLE_EQ(QGuiApplication::primaryScreen()->logicalDotsPerInch(), 96.0);
  QWidget* top = platform.WidgetOf(window);
  ASSERT_NE(top, nullptr);
  EXPECT_EQ(top->size(), QSize(569, 483));
  EXPECT_EQ(top->minimumSize(), top->maximumSize()) << "the user cannot resize";
  struct Row {
    const Control* control;
    QRect expected;
  } rows[] = {
      {&window.list, QRect(0, 72, 569, 200)},    {&window.button, QRect(8, 8, 99, 33)},
      {&window.label, QRect(8, 48, 161, 17)},    {&window.frame, QRect(32, 280, 477, 193)},
      {&window.check, QRect(18, 24, 209, 13)},   {&window.text, QRect(96, 64, 45, 21)},
      {&window.box, QRect(424, 48, 120, 20)},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.control->Name());
    QWidget* w = platform.WidgetOf(*row.control);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->geometry(), row.expected);
    EXPECT_EQ(w->objectName().toStdString(), row.control->Name());
  }
  EXPECT_EQ(platform.WidgetOf(window.check)->parentWidget(), platform.WidgetOf(window.frame));
  EXPECT_EQ(platform.WidgetOf(window.list)->parentWidget(), top);

  window.button.Move(240, 240, 1500, 600);
  EXPECT_EQ(platform.WidgetOf(window.button)->geometry(), QRect(16, 16, 100, 40));
}

TEST_F(QtWidgets, WindowHasCaptionOnlyAndIsCentred) {
  QWidget* top = platform.WidgetOf(window);
  const Qt::WindowFlags flags = top->windowFlags();
  EXPECT_EQ(top->windowTitle(), QStringLiteral("Проверка окна"));
  EXPECT_TRUE(flags & Qt::CustomizeWindowHint);
  EXPECT_TRUE(flags & Qt::WindowTitleHint);
  EXPECT_FALSE(flags & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
  EXPECT_FALSE(flags & Qt::WindowSystemMenuHint);
  EXPECT_FALSE(flags & Qt::FramelessWindowHint);
  EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::Window) << "shown in the taskbar";
  EXPECT_TRUE(top->isVisible());
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_LE(std::abs(top->frameGeometry().center().x() - screen.center().x()), 1);
  EXPECT_LE(std::abs(top->frameGeometry().center().y() - screen.center().y()), 1);
  EXPECT_EQ(top->palette().color(QPalette::Window), QColor(Qt::white));

  // The user cannot close it: only the program's own buttons do.
  top->close();
  EXPECT_TRUE(top->isVisible());
  EXPECT_TRUE(window.Shown());
}

TEST(QtWindowFlags, BorderlessAndTaskbarlessWindows) {
  QtPlatform platform;
  Window exitLike(platform, "frmExit");
  exitLike.SetBorder(BorderStyle::None);
  exitLike.SetShowInTaskbar(false);
  exitLike.SetClientSize(4230, 1605);
  Window splashLike(platform, "frmSplash");
  splashLike.SetClientSize(11220, 8310);
  splashLike.SetBackColor(kBlack);
  QTemporaryDir dir;
  exitLike.SetIcon(platform.LoadPicture(WriteSolidPicture(dir, "icon.g", 32, 32, Qt::blue)));
  exitLike.Show();
  splashLike.Show();
  QWidget* e = platform.WidgetOf(exitLike);
  QWidget* s = platform.WidgetOf(splashLike);
  EXPECT_TRUE(e->windowFlags() & Qt::FramelessWindowHint);
  EXPECT_EQ(e->windowFlags() & Qt::WindowType_Mask, Qt::Tool);
  EXPECT_EQ(e->size(), QSize(282, 107));
  ASSERT_FALSE(e->windowIcon().isNull());
  EXPECT_EQ(e->windowIcon().pixmap(32, 32).toImage().pixelColor(16, 16), QColor(Qt::blue));
  EXPECT_TRUE(s->windowIcon().isNull() || s->windowIcon().cacheKey() == QApplication::windowIcon().cacheKey());
  EXPECT_TRUE(s->windowFlags() & Qt::FramelessWindowHint) << "an empty caption means no title bar";
  EXPECT_EQ(s->size(), QSize(748, 554));
  EXPECT_EQ(s->palette().color(QPalette::Window), QColor(Qt::black));
  exitLike.Close();
  splashLike.Close();
  FlushDeferredDeletes();
}

TEST_F(QtWidgets, FontsAreMsSansSerifFallingBackToACyrillicFace) {
  struct Row {
    const Control* control;
    bool bold;
    int pixels;
  } rows[] = {{&window.list, true, 11}, {&window.button, true, 11}, {&window.label, true, 13},
              {&window.text, false, 11}, {&window.check, false, 11}, {&window.frame, true, 11}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.control->Name());
    QWidget* w = platform.WidgetOf(*row.control);
    EXPECT_EQ(w->font().family(), QStringLiteral("MS Sans Serif"));
    const QFontInfo info(w->font());
    EXPECT_EQ(info.bold(), row.bold);
    EXPECT_EQ(info.pixelSize(), row.pixels);
    EXPECT_TRUE(QFontDatabase::writingSystems(info.family()).contains(QFontDatabase::Cyrillic))
        << info.family().toStdString();
    EXPECT_TRUE(QFontMetrics(w->font()).inFont(QChar(0x0416))) << "Ж must have a glyph";
  }
  // A bold frame does not make its children bold.
  EXPECT_FALSE(QFontInfo(platform.WidgetOf(window.check)->font()).bold());
}

TEST_F(QtWidgets, ColoursComeFromTheModel) {
  auto* box = platform.WidgetOf(window.box);
  EXPECT_EQ(box->palette().color(QPalette::Window), QColor(Qt::black));
  EXPECT_EQ(platform.WidgetOf(window.label)->palette().color(QPalette::Window), QColor(Qt::white));
  window.label.SetColors(Color{0, 0, 128}, Color{255, 255, 0});
  EXPECT_EQ(platform.WidgetOf(window.label)->palette().color(QPalette::Window), QColor(0, 0, 128));
  EXPECT_EQ(platform.WidgetOf(window.label)->palette().color(QPalette::WindowText), QColor(255, 255, 0));
  const QImage label = platform.WidgetOf(window.label)->grab().toImage();
  EXPECT_EQ(label.pixelColor(label.width() - 1, label.height() - 1), QColor(0, 0, 128));
  const QImage shot = box->grab().toImage();
  EXPECT_EQ(shot.pixelColor(5, 5), QColor(Qt::black)) << "an empty picture box shows its background";
}

// Ink in the label's rightmost columns: a caption that wraps fills its box to
// the edge; one that runs out of it would be cut there.
TEST_F(QtWidgets, LabelsWrapAtWordsAndBreakWordsWiderThanTheBox) {
  window.label.Move(120, 720, 1200, 900);  // 80 x 60 pixels
  window.label.SetCaption("вательную,весёлую,визуальную,слуховую");
  const QImage shot = platform.WidgetOf(window.label)->grab().toImage();
  int rows_with_ink = 0;
  for (int y = 0; y < shot.height(); ++y) {
    bool ink = false;
    for (int x = 0; x < shot.width(); ++x) ink = ink || shot.pixelColor(x, y) != QColor(Qt::white);
    rows_with_ink += ink ? 1 : 0;
  }
  EXPECT_GT(rows_with_ink, 20) << "one word, wider than the box, goes on over three lines or more";
}

TEST_F(QtWidgets, ModelChangesReachTheWidgets) {
  auto* label = WidgetFor<QLabel>(window.label);
  auto* edit = WidgetFor<QLineEdit>(window.text);
  auto* check = WidgetFor<QCheckBox>(window.check);
  auto* frame = WidgetFor<QGroupBox>(window.frame);
  ASSERT_TRUE(label && edit && check && frame);
  EXPECT_EQ(label->text(), QStringLiteral("Загрузка данных...."));
  EXPECT_TRUE(label->wordWrap());
  EXPECT_EQ(check->text(), QStringLiteral("Показать изменнения "));
  EXPECT_TRUE(check->isChecked());
  EXPECT_EQ(check->toolTip(), QStringLiteral("Подсказка"));
  EXPECT_EQ(frame->title(), QStringLiteral("fraAsso"));

  window.label.SetVisible(false);
  EXPECT_TRUE(label->isHidden());
  window.label.SetVisible(true);
  EXPECT_FALSE(label->isHidden());
  window.text.SetText("*.txt");
  EXPECT_EQ(edit->text(), QStringLiteral("*.txt"));
  window.check.SetValue(0);
  EXPECT_FALSE(check->isChecked());
  window.frame.SetCaption("Добавить");
  EXPECT_EQ(frame->title(), QStringLiteral("Добавить"));
  window.frame.SetEnabled(false);
  EXPECT_FALSE(check->isEnabled()) << "children of a disabled frame are disabled";
  window.frame.SetEnabled(true);
  window.button.SetCaption("...");
  EXPECT_EQ(platform.WidgetOf(window.button)->property("text").toString(), QStringLiteral("..."));
}

TEST_F(QtWidgets, UserActionsReachTheModel) {
  auto* edit = WidgetFor<QLineEdit>(window.text);
  auto* check = WidgetFor<QCheckBox>(window.check);
  QWidget* button = platform.WidgetOf(window.button);

  QTest::keyClicks(edit, QStringLiteral("ab"));
  QKeyEvent cyrillic(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QStringLiteral("Ёж"));
  QApplication::sendEvent(edit, &cyrillic);
  EXPECT_EQ(window.text.Text(), "abЁж");

  QTest::mouseClick(check, Qt::LeftButton);
  EXPECT_EQ(window.check.Value(), 0);
  EXPECT_FALSE(check->isChecked());
  QTest::mouseClick(check, Qt::LeftButton);
  EXPECT_EQ(window.check.Value(), 1);

  QTest::mouseClick(button, Qt::LeftButton);
  EXPECT_EQ(window.clicks, 1);
  window.button.SetEnabled(false);
  QTest::mouseClick(button, Qt::LeftButton);
  EXPECT_EQ(window.clicks, 1) << "a disabled button does not click";
  window.button.SetEnabled(true);

  // Enter and Space press the focused button; Escape does nothing.
  ASSERT_TRUE(QTest::qWaitForWindowActive(platform.WidgetOf(window)));
  window.button.SetFocus();
  EXPECT_TRUE(button->hasFocus());
  QTest::keyClick(button, Qt::Key_Return);
  QTest::qWait(200);  // the press is shown for a moment before the click
  EXPECT_EQ(window.clicks, 2);
  QTest::keyClick(button, Qt::Key_Space);
  EXPECT_EQ(window.clicks, 3);
  QTest::keyClick(button, Qt::Key_Escape);
  EXPECT_EQ(window.clicks, 3);
  EXPECT_TRUE(window.Shown());
}

TEST_F(QtWidgets, TabOrderAndFocusFollowTheModel) {
  QWidget* check = platform.WidgetOf(window.check);
  QWidget* text = platform.WidgetOf(window.text);
  QWidget* button = platform.WidgetOf(window.button);
  QWidget* list = platform.WidgetOf(window.list);
  ASSERT_TRUE(QTest::qWaitForWindowActive(platform.WidgetOf(window)));
  EXPECT_EQ(window.Focused(), &window.check) << "the first control in the tab order";
  EXPECT_TRUE(check->hasFocus());
  EXPECT_EQ(check->nextInFocusChain(), text);
  EXPECT_EQ(text->nextInFocusChain(), button);
  EXPECT_EQ(button->nextInFocusChain(), list);
  EXPECT_EQ(platform.WidgetOf(window.label)->focusPolicy(), Qt::NoFocus);
  EXPECT_EQ(platform.WidgetOf(window.frame)->focusPolicy(), Qt::NoFocus);

  QTest::keyClick(check, Qt::Key_Tab);
  EXPECT_TRUE(text->hasFocus());
  EXPECT_EQ(window.Focused(), &window.text) << "Qt's focus move is reported to the model";
  window.list.SetFocus();
  EXPECT_TRUE(list->hasFocus());
}

TEST_F(QtWidgets, ListViewReadsRowsFromTheModelInOneReset) {
  auto* view = WidgetFor<QTreeView>(window.list);
  ASSERT_NE(view, nullptr);
  window.list.AddColumn("Расширение", 1400);
  window.list.AddColumn("Описание", 2400);
  window.list.AddColumn("Ассоциация", 4380);
  window.list.SetManualLabelEdit(true);
  window.list.SetFullRowSelect(true);
  window.list.SetHideSelection(false);
  window.list.SetHideColumnHeaders(false);
  window.list.SetReportView(true);
  QAbstractItemModel* model = view->model();
  QSignalSpy resets(model, &QAbstractItemModel::modelReset);

  for (int i = 0; i < 30000; ++i) {
    const std::string n = std::to_string(i);  // appended, not prefixed: GCC 12 warns falsely on "." + string
    window.list.AddItem(ListItem{std::string(".").append(n), std::string("file").append(n),
                                 std::string("prog %1 ").append(n)});
  }
  QCoreApplication::processEvents();
  EXPECT_EQ(resets.count(), 1) << "30,000 additions are one reset of the view";
  ASSERT_EQ(model->rowCount(), 30000);
  ASSERT_EQ(model->columnCount(), 3);
  EXPECT_EQ(model->data(model->index(29999, 0)).toString(), QStringLiteral(".29999"));
  EXPECT_EQ(model->data(model->index(29999, 1)).toString(), QStringLiteral("file29999"));
  EXPECT_EQ(model->data(model->index(29999, 2)).toString(), QStringLiteral("prog %1 29999"));
  EXPECT_EQ(model->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Расширение"));
  EXPECT_EQ(model->headerData(2, Qt::Horizontal).toString(), QStringLiteral("Ассоциация"));
  EXPECT_EQ(model->headerData(1, Qt::Horizontal, Qt::TextAlignmentRole).value<Qt::Alignment>(),
            Qt::AlignLeft | Qt::AlignVCenter);
  EXPECT_FALSE(model->flags(model->index(3, 0)) & Qt::ItemIsEditable);
  EXPECT_EQ(view->editTriggers(), QAbstractItemView::NoEditTriggers);
  EXPECT_EQ(view->selectionBehavior(), QAbstractItemView::SelectRows);
  EXPECT_FALSE(view->header()->isHidden());
  EXPECT_EQ(view->header()->sectionSize(0), 93);
  EXPECT_EQ(view->header()->sectionSize(1), 160);
  EXPECT_EQ(view->header()->sectionSize(2), 292);
  EXPECT_EQ(view->palette().color(QPalette::Inactive, QPalette::Highlight),
            view->palette().color(QPalette::Active, QPalette::Highlight))
      << "the selection stays visible without the focus";
  EXPECT_EQ(view->currentIndex().row(), 0) << "the first row added is selected";

  // Model -> view and view -> model selection.
  window.list.Select(7);
  EXPECT_EQ(view->currentIndex().row(), 7);
  EXPECT_TRUE(view->selectionModel()->isRowSelected(7, {}));
  view->selectionModel()->setCurrentIndex(model->index(12, 1),
                                          QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  EXPECT_EQ(window.list.SelectedIndex(), 12);

  // A column border dragged by the user.
  view->header()->resizeSection(1, 200);
  EXPECT_FLOAT_EQ(window.list.Columns()[1].width, 3000.0f);
  window.list.SetColumnWidth(2, 1500);
  EXPECT_EQ(view->header()->sectionSize(2), 100);
  EXPECT_EQ(resets.count(), 1) << "a column width does not read the rows again";
  EXPECT_EQ(view->currentIndex().row(), 12);
  EXPECT_FLOAT_EQ(window.list.Columns()[1].width, 3000.0f) << "the program's own change is not echoed";

  // Clearing drops the rows at once, so the view never reads past the end.
  window.list.ClearItems();
  EXPECT_EQ(model->rowCount(), 0);
  EXPECT_EQ(window.list.SelectedIndex(), -1);
}

TEST_F(QtWidgets, ClosingTakesTheWidgetsDownAndCutsThePeers) {
  QPointer<QWidget> top = platform.WidgetOf(window);
  QPointer<QWidget> button = platform.WidgetOf(window.button);
  window.Close();
  EXPECT_EQ(platform.WidgetOf(window), nullptr);
  EXPECT_EQ(window.button.Peer(), nullptr);
  EXPECT_FALSE(top->isVisible());
  window.button.SetCaption("after");  // no peer: must not touch a widget
  FlushDeferredDeletes();
  EXPECT_TRUE(top.isNull());
  EXPECT_TRUE(button.isNull());
  window.Show();
  EXPECT_NE(platform.WidgetOf(window), nullptr);
  EXPECT_EQ(platform.WidgetOf(window.button)->property("text").toString(), QStringLiteral("after"));
}

TEST_F(QtWidgets, ButtonClosingItsOwnWindowIsSafe) {
  window.button.Click = [this] { window.Close(); };
  QTest::mouseClick(platform.WidgetOf(window.button), Qt::LeftButton);
  EXPECT_FALSE(window.Shown());
  FlushDeferredDeletes();
}

TEST_F(QtWidgets, MinimisingIsReportedToTheModel) {
  QWidget* top = platform.WidgetOf(window);
  top->setWindowState(Qt::WindowMinimized);
  EXPECT_TRUE(window.Minimized());
  top->setWindowState(Qt::WindowNoState);
  EXPECT_FALSE(window.Minimized());
  window.SetMinimized(true);
  EXPECT_TRUE(top->isMinimized());
  window.SetMinimized(false);
  EXPECT_FALSE(top->isMinimized());
}

TEST_F(QtWidgets, TimersNeverRunFasterThanTenMilliseconds) {
  QTimer* timer = platform.TimerOf(window.timer);
  ASSERT_NE(timer, nullptr);
  EXPECT_TRUE(timer->isActive());
  EXPECT_EQ(timer->interval(), 10) << "1 ms asked";
  window.timer.SetInterval(6000);
  EXPECT_EQ(timer->interval(), 6000);
  window.timer.SetInterval(0);
  EXPECT_FALSE(timer->isActive());
  window.timer.SetInterval(3);
  EXPECT_EQ(timer->interval(), 10);
  window.timer.SetEnabled(false);
  EXPECT_FALSE(timer->isActive());
  window.timer.SetEnabled(true);
  ASSERT_TRUE(QTest::qWaitFor([&] { return window.ticks >= 2; }, 5000)) << "ticks reach the model";
  window.Close();
  EXPECT_EQ(platform.TimerOf(window.timer), nullptr);
}

// The entry frame of the manager window as laid out there, shown by itself.
class EntryWindow : public Window {
 public:
  explicit EntryWindow(Platform& platform) : Window(platform, "frmEntry") {
    SetCaption("Orvanta");
    SetClientSize(8535, 7245);
    frame.Move(480, 2160, 7155, 3945);
    frame.SetCaption("Добавить");
    frame.SetFont(kBold);
    check.Move(270, 360, 3135, 195);
    check.SetCaption("Показать изменнения ");
    check.SetValue(1);
    check.SetTabIndex(1);
    titleLabel.Move(3360, 600, 885, 225);
    titleLabel.SetCaption("Описание");
    extLabel.Move(1440, 720, 1125, 225);
    extLabel.SetCaption("Расширенние");
    title.Move(3360, 840, 2445, 315);
    title.SetTabIndex(4);
    ext.Move(1440, 960, 675, 315);
    ext.SetTabIndex(5);
    remarks.Move(3360, 1200, 2835, 555);
    remarks.SetCaption("WARNING: Не удаляйте если не уверены, что другие расширенния используют тоже описание.");
    programLabel.Move(120, 2040, 6045, 495);
    programLabel.SetCaption(
        "Путь к программе с которой в хотите провести ассоциацию выбранного вами расширенния:");
    program.Move(120, 2520, 5655, 315);
    program.SetTabIndex(7);
    browse.Move(5760, 2520, 315, 255);
    browse.SetCaption("...");
    browse.SetFont(kBold);
    proceed.Move(2160, 3360, 1365, 375);
    proceed.SetCaption("Применить");
    proceed.SetFont(kBold);
    cancel.Move(3960, 3360, 1365, 375);
    cancel.SetCaption("Отмена");
    cancel.SetFont(kBold);
  }
  Frame frame{*this, nullptr, "fraAsso"};
  CheckBox check{*this, &frame, "cbxUpdateList"};
  Label titleLabel{*this, &frame, "lblTitleRef"};
  Label extLabel{*this, &frame, "lblFileExt"};
  TextBox title{*this, &frame, "txtTitleRef"};
  TextBox ext{*this, &frame, "txtFileExt"};
  Label remarks{*this, &frame, "lblRemarksForTitleDelete"};
  Label programLabel{*this, &frame, "lblExecutableFileSpec"};
  TextBox program{*this, &frame, "txtExecutableFileSpec"};
  Button browse{*this, &frame, "cmdDialogFileSpec"};
  Button proceed{*this, &frame, "cmdProceed"};
  Button cancel{*this, &frame, "cmdCancel"};
};

// A Windows group box: the control's background throughout, an etched line
// whose top edge runs through the middle of the caption, and the caption at
// the left, in the frame's font, interrupting that line.
TEST(QtFrame, DrawnAsAWindowsGroupBox) {
  QtPlatform platform;
  EntryWindow window(platform);
  window.Show();
  QWidget* frame = platform.WidgetOf(window.frame);
  ASSERT_NE(frame, nullptr);
  ASSERT_TRUE(platform.GrabToPng(window, ZANDREL_SCREENSHOT_DIR "/qt-entry-frame.png"));
  const QImage shot = frame->grab().toImage().convertToFormat(QImage::Format_RGB32);
  ASSERT_EQ(shot.size(), QSize(477, 263));
  const QColor white(Qt::white), shadow(128, 128, 128);

  EXPECT_EQ(shot.pixelColor(460, 100), white) << "the interior is the frame's BackColor";
  EXPECT_EQ(shot.pixelColor(20, 200), white);
  window.frame.SetColors(Color{0, 0, 128}, kBlack);
  EXPECT_EQ(frame->grab().toImage().pixelColor(460, 100), QColor(0, 0, 128));
  window.frame.SetColors(kWhite, kBlack);

  const QFontMetrics metrics(frame->font());
  const int line = metrics.height() / 2 - 1;
  const int w = shot.width(), h = shot.height();
  EXPECT_EQ(shot.pixelColor(3, line), shadow) << "the top line starts left of the caption";
  EXPECT_EQ(shot.pixelColor(w - 10, line), shadow);
  EXPECT_EQ(shot.pixelColor(0, h / 2), shadow);
  EXPECT_EQ(shot.pixelColor(w - 2, h / 2), shadow);
  EXPECT_EQ(shot.pixelColor(w / 2, h - 2), shadow);
  for (int y = 0; y < line; ++y) EXPECT_EQ(shot.pixelColor(w - 10, y), white) << "nothing above the line, y " << y;

  // The caption exactly as the frame's font draws it at the left, on a gap
  // in the line one pixel wider than the text on each side.
  const QString caption = QStringLiteral("Добавить");
  const int textWidth =
      metrics.boundingRect(QRect(7, 0, w - 14, metrics.height()), Qt::AlignLeft | Qt::AlignTop, caption).width();
  EXPECT_LE(std::abs(textWidth - metrics.horizontalAdvance(caption)), 1);
  QImage expected(shot.size(), QImage::Format_RGB32);
  expected.fill(Qt::white);
  {
    QPainter p(&expected);
    p.setFont(frame->font());
    p.setPen(Qt::black);
    p.drawText(QRect(7, 0, w - 14, metrics.height()), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, caption);
  }
  int inkTop = -1, inkBottom = -1;
  for (int y = 0; y < metrics.height(); ++y)
    for (int x = 6; x <= 7 + textWidth; ++x) {
      SCOPED_TRACE(testing::Message() << "x " << x << " y " << y);
      ASSERT_EQ(shot.pixelColor(x, y), expected.pixelColor(x, y));
      if (shot.pixelColor(x, y) != white) {
        if (inkTop < 0) inkTop = y;
        inkBottom = y;
      }
    }
  EXPECT_LT(inkTop, line) << "the caption straddles the line";
  EXPECT_GT(inkBottom, line);
  EXPECT_EQ(shot.pixelColor(8 + textWidth, line), shadow) << "the line goes on after the caption";
  EXPECT_EQ(shot.pixelColor(5, line), shadow);

  // A disabled frame greys its caption, as a disabled group box does.
  window.frame.SetEnabled(false);
  const QImage off = frame->grab().toImage().convertToFormat(QImage::Format_RGB32);
  int black = 0, grey = 0;
  for (int y = 0; y < metrics.height(); ++y)
    for (int x = 7; x < 7 + textWidth; ++x) {
      black += off.pixelColor(x, y) == QColor(Qt::black) ? 1 : 0;
      grey += off.pixelColor(x, y) == shadow ? 1 : 0;
    }
  EXPECT_EQ(black, 0);
  EXPECT_GT(grey, 0);
  window.frame.SetEnabled(true);

  // Children sit at their twips from the frame's top-left corner.
  EXPECT_EQ(platform.WidgetOf(window.check)->geometry(), QRect(18, 24, 209, 13));
  EXPECT_EQ(platform.WidgetOf(window.cancel)->geometry(), QRect(264, 224, 91, 25));
  EXPECT_EQ(platform.WidgetOf(window.check)->parentWidget(), frame);
  window.Close();
  FlushDeferredDeletes();
}

}  // namespace
}  // namespace zandrel::ui
