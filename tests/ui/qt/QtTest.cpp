// The Qt realisation, offscreen: the model reaches the widgets and the user's
// actions reach the model, a locked box's typing does not; the list's item
// model, double clicks and dimmed rows; message boxes, the file dialog, pictures, fatal
// errors (AssetsTest: the application folder's pictures and cues).
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "ui/qt/QtPlatform.h"
#include "support/Support.h"
#include "ui/qt/WhenModalShows.h"

namespace zandrel::testing {
namespace {

using namespace zandrel::ui;
using zandrel::ui::qt::QtPlatform;

std::string Png(const TempDir& dir, const std::string& name, QColor color, const char* format = "PNG", int w = 40) {
  QImage image(w, 30, QImage::Format_RGB32);
  image.fill(color);
  image.save(QString::fromStdString(dir.File(name)), format);
  return dir.File(name);
}

class Sample : public Window {
 public:
  explicit Sample(Platform& platform) : Window(platform, "frmSample") {
    SetCaption("Проверка окна");
    SetClientSize(8535, 7245);
    list.Move(0, 1080, 8535, 3000);
    button.Move(120, 120, 1485, 495);
    label.Move(120, 720, 2415, 255);
    label.SetFont(Font{"MS Sans Serif", 9.75f, true, 204});
    frame.Move(480, 4200, 7155, 2900);
    check.Move(270, 360, 3135, 195);
    check.SetCaption("Показать изменнения ");
    text.Move(1440, 960, 675, 315);
    Control* order[] = {&check, &text, &button, &list, &label};
    for (int i = 0; i < 5; ++i) order[i]->SetTabIndex(i + 1);
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
  Timer timer{*this, "tmrTick"};
  int clicks = 0, ticks = 0;
};

TEST(Qt, TheModelAndTheWidgetsStayInStep) {
  QtPlatform platform;
  Sample w(platform);
  w.Show();
  QWidget* top = platform.WidgetOf(w);
  auto* label = qobject_cast<QLabel*>(platform.WidgetOf(w.label));
  auto* edit = qobject_cast<QLineEdit*>(platform.WidgetOf(w.text));
  auto* check = qobject_cast<QCheckBox*>(platform.WidgetOf(w.check));
  auto* frame = qobject_cast<QGroupBox*>(platform.WidgetOf(w.frame));
  QWidget* button = platform.WidgetOf(w.button);
  ASSERT_TRUE(top && label && edit && check && frame && button);
  // Twips over 15 at 96 dpi; children of a frame sit in its widget.
  EXPECT_EQ(top->size(), QSize(569, 483));
  EXPECT_EQ(top->minimumSize(), top->maximumSize());
  EXPECT_EQ(platform.WidgetOf(w.list)->geometry(), QRect(0, 72, 569, 200));
  EXPECT_EQ(check->geometry(), QRect(18, 24, 209, 13));
  EXPECT_EQ(check->parentWidget(), frame);
  w.button.Move(240, 240, 1500, 600);
  EXPECT_EQ(button->geometry(), QRect(16, 16, 100, 40));
  EXPECT_TRUE(QFontInfo(label->font()).bold());
  EXPECT_EQ(QFontInfo(label->font()).pixelSize(), 13);
  EXPECT_TRUE(QFontMetrics(label->font()).inFont(QChar(0x0416))) << "a face with Cyrillic";
  // A caption only: no buttons of its own, and the user cannot close it.
  const Qt::WindowFlags flags = top->windowFlags();
  EXPECT_EQ(top->windowTitle(), QStringLiteral("Проверка окна"));
  EXPECT_TRUE(flags & Qt::WindowTitleHint);
  EXPECT_FALSE(flags & (Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                        Qt::FramelessWindowHint));
  top->close();
  EXPECT_TRUE(top->isVisible() && w.Shown());
  // Model to widgets.
  w.label.SetCaption("Загрузка данных....");
  w.check.SetValue(1);
  w.check.SetToolTip("Подсказка");
  w.frame.SetCaption("Добавить");
  w.text.SetText("*.txt");
  w.button.SetCaption("...");
  w.label.SetColors(Color{0, 0, 128}, Color{255, 255, 0});
  EXPECT_EQ(label->text(), QStringLiteral("Загрузка данных...."));
  EXPECT_TRUE(label->wordWrap());
  EXPECT_TRUE(check->isChecked());
  EXPECT_EQ(check->toolTip(), QStringLiteral("Подсказка"));
  EXPECT_EQ(frame->title(), QStringLiteral("Добавить"));
  EXPECT_EQ(edit->text(), QStringLiteral("*.txt"));
  EXPECT_EQ(button->property("text").toString(), QStringLiteral("..."));
  EXPECT_EQ(label->palette().color(QPalette::Window), QColor(0, 0, 128));
  EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(255, 255, 0));
  w.label.SetVisible(false);
  EXPECT_TRUE(label->isHidden());
  w.label.SetVisible(true);
  EXPECT_FALSE(label->isHidden());
  w.frame.SetEnabled(false);
  EXPECT_FALSE(check->isEnabled()) << "a disabled frame disables its children";
  w.frame.SetEnabled(true);
  // The user to the model.
  QTest::keyClicks(edit, QStringLiteral("ab"));
  QKeyEvent cyrillic(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QStringLiteral("Ёж"));
  QApplication::sendEvent(edit, &cyrillic);
  EXPECT_EQ(w.text.Text(), "*.txtabЁж");
  w.text.SetLocked(true);
  QTest::keyClicks(edit, QStringLiteral("x"));
  EXPECT_TRUE(edit->isReadOnly());
  EXPECT_EQ(w.text.Text(), "*.txtabЁж") << "a locked box is read-only";
  w.text.SetLocked(false);
  QTest::mouseClick(check, Qt::LeftButton);
  EXPECT_EQ(w.check.Value(), 0);
  QTest::mouseClick(button, Qt::LeftButton);
  w.button.SetEnabled(false);
  QTest::mouseClick(button, Qt::LeftButton);
  EXPECT_EQ(w.clicks, 1) << "a disabled button does not click";
  w.button.SetEnabled(true);
  ASSERT_TRUE(QTest::qWaitForWindowActive(top));
  w.check.SetFocus();
  EXPECT_TRUE(check->hasFocus());
  QTest::keyClick(check, Qt::Key_Tab);
  EXPECT_EQ(w.Focused(), &w.text) << "Qt's focus move reaches the model";
  w.button.SetFocus();
  QTest::keyClick(button, Qt::Key_Space);
  EXPECT_EQ(w.clicks, 2);
  top->setWindowState(Qt::WindowMinimized);
  EXPECT_TRUE(w.Minimized());
  w.SetMinimized(false);
  EXPECT_FALSE(top->isMinimized());
  // Timers: never faster than 10 ms; 0 or disabled stops them; ticks reach the model.
  QTimer* timer = platform.TimerOf(w.timer);
  ASSERT_NE(timer, nullptr);
  EXPECT_EQ(timer->interval(), 10);
  w.timer.SetInterval(6000);
  EXPECT_EQ(timer->interval(), 6000);
  w.timer.SetInterval(0);
  EXPECT_FALSE(timer->isActive());
  w.timer.SetInterval(3);
  EXPECT_EQ(timer->interval(), 10);
  w.timer.SetEnabled(false);
  EXPECT_FALSE(timer->isActive());
  w.timer.SetEnabled(true);
  EXPECT_TRUE(QTest::qWaitFor([&] { return w.ticks >= 2; }, 5000));
  // Closing takes the widgets and timers down; the model keeps its state for the next show.
  QPointer<QWidget> gone = button;
  w.Close();
  EXPECT_EQ(platform.WidgetOf(w), nullptr);
  EXPECT_EQ(platform.TimerOf(w.timer), nullptr);
  w.button.SetCaption("after");
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(gone.isNull());
  w.Show();
  EXPECT_EQ(platform.WidgetOf(w.button)->property("text").toString(), QStringLiteral("after"));
  w.Close();
  // Borderless, taskbarless and captionless windows.
  Window exitLike(platform, "frmExit"), splashLike(platform, "frmSplash");
  exitLike.SetBorder(BorderStyle::None);
  exitLike.SetShowInTaskbar(false);
  exitLike.Show();
  splashLike.Show();
  EXPECT_TRUE(platform.WidgetOf(exitLike)->windowFlags() & Qt::FramelessWindowHint);
  EXPECT_EQ(platform.WidgetOf(exitLike)->windowFlags() & Qt::WindowType_Mask, Qt::Tool);
  EXPECT_TRUE(platform.WidgetOf(splashLike)->windowFlags() & Qt::FramelessWindowHint) << "an empty caption";
  exitLike.Close();
  splashLike.Close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST(Qt, TheListViewReadsTheModel) {
  QtPlatform platform;
  Sample w(platform);
  w.Show();
  auto* view = qobject_cast<QTreeView*>(platform.WidgetOf(w.list));
  ASSERT_NE(view, nullptr);
  for (const char* column : {"Расширение", "Описание", "Ассоциация"}) w.list.AddColumn(column, 1500);
  w.list.SetFullRowSelect(true);
  w.list.SetHideSelection(false);
  w.list.SetHideColumnHeaders(false);
  w.list.SetReportView(true);
  QAbstractItemModel* model = view->model();
  QSignalSpy resets(model, &QAbstractItemModel::modelReset);
  for (int i = 0; i < 30000; ++i)
    w.list.AddItem(ListItem{"." + std::to_string(i), {"file" + std::to_string(i), "prog %1 " + std::to_string(i)}});
  QCoreApplication::processEvents();
  EXPECT_EQ(resets.count(), 1) << "30,000 additions are one reset";
  ASSERT_EQ(model->rowCount(), 30000);
  ASSERT_EQ(model->columnCount(), 3);
  EXPECT_EQ(model->data(model->index(29999, 1)).toString(), QStringLiteral("file29999"));
  EXPECT_EQ(model->data(model->index(7, 2)).toString(), QStringLiteral("prog %1 7"));
  EXPECT_EQ(model->headerData(2, Qt::Horizontal).toString(), QStringLiteral("Ассоциация"));
  EXPECT_FALSE(model->flags(model->index(3, 0)) & Qt::ItemIsEditable);
  EXPECT_EQ(view->selectionBehavior(), QAbstractItemView::SelectRows);
  EXPECT_FALSE(view->header()->isHidden());
  EXPECT_EQ(view->header()->sectionSize(1), 100);
  EXPECT_EQ(view->palette().color(QPalette::Inactive, QPalette::Highlight),
            view->palette().color(QPalette::Active, QPalette::Highlight))
      << "the selection stays visible";
  EXPECT_EQ(view->currentIndex().row(), 0) << "the first row added is selected";
  w.list.Select(7);
  EXPECT_EQ(view->currentIndex().row(), 7);
  view->selectionModel()->setCurrentIndex(model->index(12, 1),
                                          QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  EXPECT_EQ(w.list.SelectedIndex(), 12);
  view->header()->resizeSection(1, 200);
  EXPECT_FLOAT_EQ(w.list.Columns()[1].width, 3000.0f);
  w.list.SetColumnWidth(2, 1500);
  EXPECT_EQ(view->header()->sectionSize(2), 100);
  view->setFocus();
  QTest::keyClicks(view, QStringLiteral(".2999"));
  EXPECT_EQ(w.list.SelectedIndex(), 2999) << "typing finds the row by its first column";
  EXPECT_EQ(view->currentIndex().row(), 2999);
  const QPoint header(view->header()->sectionViewportPosition(1) + 10, view->header()->height() / 2);
  QTest::mouseClick(view->header()->viewport(), Qt::LeftButton, {}, header);
  QTest::mouseClick(view->header()->viewport(), Qt::LeftButton, {}, header);
  EXPECT_EQ(w.list.SortColumn(), 1);
  EXPECT_TRUE(w.list.SortDescending()) << "a second click sorts the other way";
  EXPECT_EQ(view->header()->sortIndicatorSection(), 1);
  EXPECT_EQ(view->header()->sortIndicatorOrder(), Qt::DescendingOrder);
  EXPECT_EQ(model->data(model->index(0, 1)).toString(), QStringLiteral("file9999"));
  EXPECT_EQ(w.list.SelectedItem()->text, ".2999") << "the selected row stays selected";
  w.list.ItemAt(0).subItems.push_back("/opt/prog");
  w.list.AddColumn("Путь", 1500);
  ASSERT_EQ(model->columnCount(), 4) << "the view shows as many columns as the list has";
  EXPECT_EQ(model->headerData(3, Qt::Horizontal).toString(), QStringLiteral("Путь"));
  EXPECT_EQ(model->data(model->index(0, 3)).toString(), QStringLiteral("/opt/prog"));
  EXPECT_EQ(model->data(model->index(1, 3)).toString(), QString()) << "a row without the column's text";
  w.list.ClearItems();
  EXPECT_EQ(model->rowCount(), 0);
  EXPECT_EQ(w.list.SelectedIndex(), -1);
  // A double click on a row reaches the model, one beside the rows does not.
  w.list.SetItems({{".zq", {}}, {".zr", {}, true}, {".zs", {}}});
  int doubleClicks = 0;
  w.list.DblClick = [&] { ++doubleClicks; };
  QCoreApplication::processEvents();
  // A dimmed row comes in the application's disabled text colour, a grey; the others in the list's own.
  const QColor grey = QGuiApplication::palette().color(QPalette::Disabled, QPalette::Text);
  EXPECT_TRUE(grey.red() == grey.blue() && grey != view->palette().color(QPalette::Text)) << grey.name().toStdString();
  EXPECT_EQ(model->data(model->index(1, 0), Qt::ForegroundRole).value<QColor>(), grey);
  EXPECT_FALSE(model->data(model->index(0, 0), Qt::ForegroundRole).isValid());
  const QPoint row = view->visualRect(model->index(2, 0)).center();
  for (const QPoint& at : {row, QPoint(row.x(), view->viewport()->height() - 5)}) {
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
  }
  EXPECT_EQ(doubleClicks, 1);
  EXPECT_EQ(w.list.SelectedIndex(), 2) << "the row double-clicked is the selected one";
  w.Close();
}

TEST(Qt, MessageBoxesAndTheFileDialog) {
  QtPlatform platform;
  // clang-format off
  const struct {
    int flags;
    QString click;
    int answer;
    QStringList buttons;
    QMessageBox::Icon icon;
    QString byDefault = "";  // checked when not empty
  } rows[] = {{MB_OK, "OK", IDOK, {"OK"}, QMessageBox::NoIcon},
              {MB_YESNO, "Нет", IDNO, {"Да", "Нет"}, QMessageBox::NoIcon},
              {MB_YESNO | MB_ICONQUESTION, "", IDYES, {"Да", "Нет"}, QMessageBox::Question},
              {MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2, "", IDNO, {"Да", "Нет"}, QMessageBox::Question},
              {MB_OK | MB_ICONQUESTION, "OK", IDOK, {"OK"}, QMessageBox::Question},
              // Escape answers Отмена; No is the default button.
              {MB_YESNOCANCEL | MB_ICONQUESTION | MB_DEFBUTTON2, "-", IDCANCEL, {"Отмена", "Да", "Нет"},
               QMessageBox::Question, "Нет"}};
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.flags);
    QStringList buttons;
    QString title, text;
    QMessageBox::Icon icon{};
    bool stayedOnEscape = false;
    QString byDefault;
    WhenModalShows([&](QWidget* widget) {
      auto* box = qobject_cast<QMessageBox*>(widget);
      byDefault = box->defaultButton() != nullptr ? box->defaultButton()->text() : QString();
      title = box->windowTitle();
      text = box->text();
      icon = box->icon();
      for (QAbstractButton* b : box->buttons()) buttons << b->text();
      QTest::keyClick(box, Qt::Key_Escape);
      stayedOnEscape = box->isVisible();
      if (row.click.isEmpty()) QTest::keyClick(box, Qt::Key_Return);  // the default button
      for (QAbstractButton* b : box->buttons())
        if (box->isVisible() && b->text() == row.click) b->click();
    });
    EXPECT_EQ(platform.MsgBox("Удалить \".abc\"?\nДа <b>или</b> нет", row.flags), row.answer);
    EXPECT_EQ(title, QStringLiteral("Zandrel"));
    EXPECT_EQ(text, QStringLiteral("Удалить \".abc\"?\nДа <b>или</b> нет"));
    EXPECT_EQ(icon, row.icon);
    EXPECT_EQ(buttons, row.buttons);
    if (!row.byDefault.isEmpty()) {
      EXPECT_EQ(byDefault, row.byDefault);
    }
    EXPECT_EQ(stayedOnEscape, (row.flags & MB_YESNO) != 0) << "Yes/No has no way out but its buttons";
  }
  TempDir dir;
  const std::string program = dir.Write("tool.exe", "MZ");
  Window owner(platform, "frmOwner");
  CommonDialog dialog(owner);
  dialog.Filter = "(*.exe)|*.exe|(*.com)|*.com|(*.*)|*.*|";
  dialog.FilterIndex = 2;
  dialog.CancelError = true;
  QStringList filters;
  QString selected;
  WhenModalShows([&](QWidget* widget) {
    auto* box = qobject_cast<QFileDialog*>(widget);
    auto* types = box->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
    for (int i = 0; i < types->count(); ++i) filters << types->itemText(i);
    selected = types->currentText();
    box->reject();
  });
  try {
    dialog.ShowOpen();
    ADD_FAILURE() << "a cancel must raise 32755";
  } catch (const RuntimeError& error) {
    EXPECT_EQ(error.number, 32755);
  }
  EXPECT_EQ(filters, (QStringList{"(*.exe)", "(*.com)", "(*.*)"}));
  EXPECT_EQ(selected, QStringLiteral("(*.com)")) << "FilterIndex counts from 1";
  WhenModalShows([&](QWidget* widget) {
    auto* box = qobject_cast<QFileDialog*>(widget);
    box->setDirectory(QString::fromStdString(dir.Path()));
    box->selectFile(QString::fromStdString(program));
    static_cast<QDialog*>(box)->accept();
  });
  dialog.ShowOpen();
  EXPECT_EQ(dialog.FileName, program);
}

TEST(Qt, PicturesFatalErrorsAndServices) {
  QtPlatform platform;
  TempDir dir;
  const std::string jpeg = Png(dir, "whole.g", Qt::green, "JPEG", 64);
  const std::string bytes = ReadFile(jpeg);
  PicturePtr p = platform.LoadPicture(Png(dir, "frame.j", Qt::red));
  EXPECT_EQ(p->format + " " + std::to_string(p->widthPx), "png 40");
  EXPECT_EQ(platform.LoadPicture(jpeg)->format, "jpeg");
  Png(dir, "frame.j", Qt::blue);
  EXPECT_EQ(std::static_pointer_cast<QImage>(platform.LoadPicture(dir.File("frame.j"))->native)->pixelColor(5, 5),
            QColor(Qt::blue))
      << "the picture on disk now";
  ::mkfifo(dir.File("pipe.g").c_str(), 0600);
  // clang-format off
  const std::pair<std::string, int> bad[] = {
      {dir.File("none.g"), 53}, {dir.Write("garbage.g", "not a picture"), 481}, {dir.Write("empty.g", ""), 481},
      {dir.Write("cut.j", bytes.substr(0, bytes.size() - 40)), 481}, {dir.Write("head.j", bytes.substr(0, 100)), 481},
      {dir.Path(), 481}, {dir.File("pipe.g"), 481}, {dir.Write("whole.g", bytes.substr(0, 100)), 481}};
  // clang-format on
  for (const auto& [path, number] : bad) {
    try {
      platform.LoadPicture(path);
      ADD_FAILURE() << path << " loaded";
    } catch (const RuntimeError& error) {
      EXPECT_EQ(error.number, number) << path;
      EXPECT_NE(error.description.find(path), std::string::npos) << error.description;
    }
  }
  platform.SetMousePointer(kPointerHourglass);
  ASSERT_NE(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
  platform.SetMousePointer(kPointerDefault);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  bool ran = false;
  QTimer::singleShot(0, [&] { ran = true; });
  platform.DoEvents();
  EXPECT_TRUE(ran);
  // An error nobody handles: one critical box, nothing runs meanwhile, the program ends.
  Window failing(platform, "frmFail");
  Timer timer(failing, "tmrFast");
  int ticks = 0;
  timer.SetInterval(1);
  timer.Tick = [&] {
    if (++ticks == 3) throw RuntimeError{53, "Файл рисунка не найден: /x/Pic/Exit.g"};
  };
  failing.Show();
  QString text;
  QMessageBox::Icon icon{};
  int ticksAtBox = -1;
  WhenModalShows([&](QWidget* widget) {
    auto* box = qobject_cast<QMessageBox*>(widget);
    text = box->text() + "|" + box->windowTitle();
    icon = box->icon();
    QTest::qWait(50);
    ticksAtBox = ticks;
    box->buttons().front()->click();
  });
  EXPECT_EQ(platform.Exec(), 1);
  EXPECT_EQ(text, QStringLiteral("Файл рисунка не найден: /x/Pic/Exit.g|Zandrel"));
  EXPECT_EQ(icon, QMessageBox::Critical);
  EXPECT_EQ(ticksAtBox, 3);
  EXPECT_EQ(platform.Exec(), 1) << "the program stays ended";
  failing.Close();
}

}  // namespace
}  // namespace zandrel::testing

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("ALSA_CONFIG_PATH", ZANDREL_ALSA_NULL, 0);
  static std::string runtime = "/tmp/zandrel-qt-tests-" + std::to_string(getuid());
  mkdir(runtime.c_str(), 0700);
  setenv("XDG_RUNTIME_DIR", runtime.c_str(), 0);
  testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
