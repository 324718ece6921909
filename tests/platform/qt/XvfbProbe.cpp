// A window with one control of each common kind as a real X window (run under
// xvfb-run): it must map, take the focus, paint, and be captured to a PNG.
//   qt_xvfb_probe SHOT.png
#include <QApplication>
#include <QTest>
#include <QWidget>

#include <cstdio>

#include "platform/qt/QtPlatform.h"

using namespace zandrel::ui;

namespace {

class ProbeWindow : public Window {
 public:
  explicit ProbeWindow(Platform& p) : Window(p, "frmProbe") {
    SetCaption("Zandrel — проверка X");
    SetClientSize(6000, 3000);
    const Font bold{"MS Sans Serif", 8.25f, true, 204};
    list.Move(0, 720, 6000, 2280);
    list.SetFont(bold);
    list.SetTabIndex(2);
    list.AddColumn("Расширение", 1400);
    list.AddColumn("Описание", 2400);
    list.AddColumn("Ассоциация", 2100);
    list.SetFullRowSelect(true);
    list.SetHideSelection(false);
    list.SetHideColumnHeaders(false);
    list.SetReportView(true);
    for (int i = 0; i < 40; ++i)
      list.AddItem(ListItem{".x" + std::to_string(i), "Файл " + std::to_string(i), "/usr/bin/prog \"%1\""});
    check.Move(120, 120, 2500, 255);
    check.SetCaption("Показать изменнения ");
    check.SetValue(1);
    check.SetTabIndex(0);
    button.Move(3000, 120, 1365, 375);
    button.SetCaption("Применить");
    button.SetFont(bold);
    button.SetTabIndex(1);
    label.Move(120, 480, 5000, 225);
    label.SetCaption("Метка: Ёлка, жёлудь, щука.");
  }
  ListView list{*this, nullptr, "lvwList"};
  CheckBox check{*this, nullptr, "cbxCheck"};
  Button button{*this, nullptr, "cmdGo"};
  Label label{*this, nullptr, "lblInfo"};
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: qt_xvfb_probe SHOT.png\n");
    return 2;
  }
  QApplication app(argc, argv);
  if (QGuiApplication::platformName() != QStringLiteral("xcb")) {
    std::fprintf(stderr, "not on X: %s\n", qPrintable(QGuiApplication::platformName()));
    return 1;
  }
  int status = 0;
  {
    QtPlatform platform;
    ProbeWindow window(platform);
    window.Show();
    QWidget* top = platform.WidgetOf(window);
    if (!QTest::qWaitForWindowExposed(top, 5000)) {
      std::fprintf(stderr, "the window was not mapped\n");
      status = 1;
    }
    QTest::qWait(100);
    if (status == 0 && top->size() != QSize(platform.ToPixels(6000), platform.ToPixels(3000))) {
      std::fprintf(stderr, "wrong client size\n");
      status = 1;
    }
    if (status == 0 && !platform.GrabToPng(window, argv[1])) {
      std::fprintf(stderr, "cannot write %s\n", argv[1]);
      status = 1;
    }
    window.Close();
  }
  return status;
}
