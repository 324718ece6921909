// Draws every picture and synthesises every sound the program loads, and the
// program's icons, into an application folder:
//   zandrel-assets APP_DIR ICON_PNG
// writes APP_DIR/Pic/*, APP_DIR/Sound/*, APP_DIR/zandrel.png and ICON_PNG,
// the 32 x 32 window icon (kept as data/zandrel-icon.png and embedded). The output depends on nothing
// but this program (and the fonts installed), so builds repeat byte for byte.
#include <QDir>
#include <QGuiApplication>

#include <cstdio>

#include "AssetSupport.h"
#include "ButtonFaces.h"
#include "Icons.h"
#include "SplashPictures.h"
#include "Sounds.h"

using namespace zandrel::assets;

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: zandrel-assets APP_DIR ICON_PNG\n");
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const QDir root(QString::fromLocal8Bit(argv[1]));
  if (!root.mkpath(QStringLiteral("Pic")) || !root.mkpath(QStringLiteral("Sound"))) Fail("cannot make the folders");
  const QString pic = root.filePath(QStringLiteral("Pic")) + QLatin1Char('/');
  const QString sound = root.filePath(QStringLiteral("Sound")) + QLatin1Char('/');

  const ButtonStyle blue{QColor(92, 146, 222), QColor(36, 84, 168), QColor(22, 50, 110)};
  const ButtonStyle green{QColor(96, 190, 110), QColor(34, 128, 58), QColor(20, 80, 36)};
  const ButtonStyle red{QColor(230, 104, 90), QColor(176, 42, 34), QColor(110, 24, 20)};
  const ButtonStyle slate{QColor(128, 142, 168), QColor(70, 82, 108), QColor(40, 46, 64)};
  const ButtonStyle teal{QColor(80, 178, 190), QColor(24, 118, 134), QColor(14, 74, 84)};
  struct Face {
    const char* normal;
    const char* pressed;
    int width, height;  // twips, the control's size
    QString caption;
    Glyph glyph;
    ButtonStyle style;
  };
  const Face faces[] = {
      {"k01-1.g", "k01-2.g", 1485, 495, QStringLiteral("Показать"), Glyph::List, blue},
      {"k03-1.g", "k03-2.g", 1485, 495, QStringLiteral("Добавить"), Glyph::Plus, green},
      {"k02-1.g", "k02-2.g", 1485, 495, QStringLiteral("Удалить"), Glyph::Cross, red},
      {"k04-1.g", "k04-2.g", 1485, 495, QStringLiteral("Выход"), Glyph::Door, slate},
      {"Abt1.g", "Abt2.g", 1815, 495, QStringLiteral("О программе"), Glyph::Info, teal},
      {"Exit-y1.g", "Exit-y2.g", 1575, 615, QStringLiteral("Да"), Glyph::Check, green},
      {"Exit-n1.g", "Exit-n2.g", 1575, 615, QStringLiteral("Нет"), Glyph::No, red},
      {"Forw1.g", "Forw2.g", 1335, 495, QStringLiteral("OK"), Glyph::Forward, blue},
  };
  for (const Face& f : faces) {
    Save(ButtonFace(Px(f.width), Px(f.height), f.caption, f.glyph, f.style, false), pic + f.normal, "PNG");
    Save(ButtonFace(Px(f.width), Px(f.height), f.caption, f.glyph, f.style, true), pic + f.pressed, "PNG");
  }
  Save(TitleStrip(), pic + "Me00000.g", "PNG");
  Save(ExitQuestion(), pic + "Exit.g", "PNG");
  Save(MainFrame(0), pic + "J-1.j", "JPEG");
  Save(MainFrame(1), pic + "J-2.j", "JPEG");
  for (int i = 0; i < 10; ++i) Save(QuirkFrame(i), pic + QStringLiteral("Quirk0000%1.j").arg(i), "JPEG");

  WriteWave(sound + "Click.wxv", ClickSound(22050), 22050);
  WriteWave(sound + "Splash.wxv", SplashSound(44100), 44100);

  Save(AppIcon(), root.filePath(QStringLiteral("zandrel.png")), "PNG");
  Save(WindowIcon(), QString::fromLocal8Bit(argv[2]), "PNG");
  return 0;
}
