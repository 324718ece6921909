// The manager window over the real Qt widgets (offscreen), on a hive seeded
// with the classes store the program ships: list through the list button's
// widget, then add and remove an association by typing into the text boxes
// and clicking the buttons, answering each real message box.
#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "manager/frmZandrel.h"
#include "platform/hive/Hive.h"
#include "platform/qt/QtPlatform.h"

namespace zandrel::manager {
namespace {

// The Qt window system with the build's own application folder, where the
// generated Pic/ and Sound/ folders are.
class BuildQtPlatform : public ui::QtPlatform {
 public:
  std::string ExecutableFolder() override { return ZANDREL_APP_DIR; }
};

struct Box {
  std::string text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
};

class QtManager : public ::testing::Test {
 protected:
  QtManager() {
    std::string error;
    hive = hive::OpenHiveSeeded(dir.filePath("registry.db").toStdString(), hive::DefaultClassesReg(), &error);
    EXPECT_NE(hive, nullptr) << error;
    form = std::make_unique<frmZandrel>(platform, *hive, nullptr, nullptr);
    platform.Dispatch([this] { form->Show(); });
  }
  ~QtManager() override {
    form.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }

  // Clicks the widget of `button` with the mouse, answering every message box
  // that the click opens with the button labelled by the next of `answers`.
  std::vector<Box> ClickAnswering(ui::Control& button, std::vector<QString> answers) {
    std::vector<Box> seen;
    auto* poll = new QTimer;
    poll->setInterval(5);
    std::size_t next = 0;
    QObject::connect(poll, &QTimer::timeout, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr || !box->isVisible()) return;
      seen.push_back({box->text().toStdString(), box->icon()});
      const QString label = next < answers.size() ? answers[next++] : QStringLiteral("OK");
      for (QAbstractButton* b : box->buttons())
        if (b->text() == label) return b->click();
      ADD_FAILURE() << "no button " << label.toStdString() << " on " << box->text().toStdString();
      box->reject();
    });
    poll->start();
    QWidget* widget = platform.WidgetOf(button);
    EXPECT_NE(widget, nullptr) << button.Name();
    if (widget != nullptr) QTest::mouseClick(widget, Qt::LeftButton);
    delete poll;
    return seen;
  }

  void Type(ui::TextBox& box, const QString& text) {
    auto* edit = qobject_cast<QLineEdit*>(platform.WidgetOf(box));
    ASSERT_NE(edit, nullptr) << box.Name();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    // Key by key, each carrying its text, as an input method delivers Cyrillic.
    for (QChar c : text) QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, QString(c), Qt::NoModifier);
  }

  std::string Hex(const char* path) {
    HKEY key = 0;
    if (hive->RegOpenKeyExA(HKEY_CLASSES_ROOT, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return "(missing)";
    char name[64];
    DWORD nameLength = sizeof name, type = 0, size = 256;
    BYTE data[256];
    LONG code = hive->RegEnumValueA(key, 0, name, &nameLength, nullptr, &type, data, &size);
    hive->RegCloseKey(key);
    if (code != ERROR_SUCCESS) return "(no value)";
    return std::string(reinterpret_cast<const char*>(data), size);
  }

  QTemporaryDir dir;
  BuildQtPlatform platform;
  std::unique_ptr<hive::HiveRegistry> hive;
  std::unique_ptr<frmZandrel> form;
};

TEST_F(QtManager, ListsTheSeededStoreThenAddsAndRemovesThroughTheWidgets) {
  ASSERT_NE(platform.WidgetOf(*form), nullptr);
  EXPECT_EQ(platform.WidgetOf(*form)->windowTitle(), QStringLiteral("Orvanta"));

  std::vector<Box> boxes = ClickAnswering(form->cmdList, {});
  ASSERT_EQ(boxes.size(), 1u);
  const std::size_t rows = form->lvwAsso.Count();
  EXPECT_GE(rows, 60u);
  EXPECT_EQ(boxes[0].text, "Просмотр завершен.  Всего  " + std::to_string(rows));
  EXPECT_EQ(boxes[0].icon, QMessageBox::NoIcon);
  QCoreApplication::processEvents();
  auto* view = qobject_cast<QAbstractItemView*>(platform.WidgetOf(form->lvwAsso));
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(static_cast<std::size_t>(view->model()->rowCount()), rows);
  EXPECT_EQ(view->currentIndex().row(), 0) << "the first row is the selected one";
  EXPECT_TRUE(form->cmdDelete.Enabled());
  EXPECT_TRUE(platform.GrabToPng(*form, ZANDREL_SCREENSHOT_DIR "/manager-offscreen-list.png"));

  // Add mode through the widgets.
  ClickAnswering(form->cmdAdd, {});
  EXPECT_FALSE(form->lvwAsso.Visible());
  Type(form->txtFileExt, QStringLiteral("zqoffscreen"));
  Type(form->txtTitleRef, QString::fromUtf8("Проверка.Экрана"));
  Type(form->txtExecutableFileSpec, QStringLiteral("/bin/sh"));
  EXPECT_TRUE(platform.GrabToPng(*form, ZANDREL_SCREENSHOT_DIR "/manager-offscreen-add.png"));
  boxes = ClickAnswering(form->cmdProceed, {QStringLiteral("OK"), QStringLiteral("OK")});
  ASSERT_EQ(boxes.size(), 2u) << "the success and then the listing's count";
  EXPECT_EQ(boxes[0].text.substr(0, std::string("Всё прошло успешно.").size()), "Всё прошло успешно.");
  EXPECT_EQ(boxes[1].text, "Просмотр завершен.  Всего  " + std::to_string(rows + 1));
  EXPECT_EQ(Hex(".zqoffscreen"), std::string("Проверка.Экрана") + '\0');
  EXPECT_EQ(Hex("Проверка.Экрана\\shell\\open\\command"), std::string("\"/bin/sh\" \"%1\"") + '\0');
  EXPECT_EQ(Hex("Проверка.Экрана\\DefaultIcon"), std::string("/bin/sh,1") + '\0');
  EXPECT_TRUE(form->lvwAsso.Visible()) << "the reload returns to list mode";

  // Remove mode: the fields come from the selected row; retype them.
  ClickAnswering(form->cmdDelete, {});
  Type(form->txtFileExt, QStringLiteral(".zqoffscreen"));
  Type(form->txtTitleRef, QString::fromUtf8("Проверка.Экрана"));
  boxes = ClickAnswering(form->cmdProceed, {QString::fromUtf8("Да"), QStringLiteral("OK"), QStringLiteral("OK")});
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0].icon, QMessageBox::Question);
  EXPECT_NE(boxes[0].text.find("Хотите удалить расширенние и описание?"), std::string::npos);
  EXPECT_EQ(boxes[2].text, "Просмотр завершен.  Всего  " + std::to_string(rows));
  EXPECT_EQ(Hex(".zqoffscreen"), "(missing)");
  EXPECT_EQ(Hex("Проверка.Экрана"), "(missing)");
  EXPECT_FALSE(platform.FatalHappened());
}

}  // namespace
}  // namespace zandrel::manager
