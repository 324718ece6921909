// What the window's change of a row's program asks of the Qt realisation: a
// double click on a list's row reaches the model (one beside the rows does
// not), and a locked text box is read-only.
#include <QLineEdit>
#include <QTest>
#include <QTreeView>

#include <gtest/gtest.h>

#include "ui/qt/QtPlatform.h"

namespace zandrel::testing {
namespace {

using namespace zandrel::ui;

TEST(Qt, ADoubleClickOnARowAndALockedBox) {
  qt::QtPlatform platform;
  Window w(platform, "frmEntry");
  w.SetClientSize(6000, 4000);
  ListView list(w, nullptr, "lvwList");
  list.Move(0, 0, 6000, 3000);
  TextBox text(w, nullptr, "txtText");
  text.Move(0, 3300, 2000, 315);
  list.AddColumn("Расширение", 1500);
  list.SetReportView(true);
  list.SetFullRowSelect(true);
  list.SetItems({{".zq", {}}, {".zr", {}}, {".zs", {}}});
  int doubleClicks = 0;
  list.DblClick = [&] { ++doubleClicks; };
  w.Show();
  auto* view = qobject_cast<QTreeView*>(platform.WidgetOf(list));
  auto* edit = qobject_cast<QLineEdit*>(platform.WidgetOf(text));
  ASSERT_TRUE(view != nullptr && edit != nullptr);
  QCoreApplication::processEvents();
  const QPoint row = view->visualRect(view->model()->index(2, 0)).center();
  const QPoint beside(row.x(), view->viewport()->height() - 5);
  for (const QPoint& at : {row, beside}) {
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
  }
  EXPECT_EQ(doubleClicks, 1);
  EXPECT_EQ(list.SelectedIndex(), 2) << "the row double-clicked is the selected one";
  text.SetText(".zq");
  text.SetLocked(true);
  QTest::keyClicks(edit, QStringLiteral("x"));
  EXPECT_TRUE(edit->isReadOnly());
  EXPECT_EQ(text.Text(), ".zq");
  text.SetLocked(false);
  QTest::keyClicks(edit, QStringLiteral("x"));
  EXPECT_EQ(text.Text(), ".zqx");
  w.Close();
}

}  // namespace
}  // namespace zandrel::testing
