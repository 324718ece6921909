// The generated application folder: every picture and sound the program loads
// is there, reads as what its name promises, has its control's size, and the
// generator repeats itself byte for byte.
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "assets/WindowIcon.h"
#include "platform/qt/QtPlatform.h"

namespace zandrel::ui {
namespace {

const QString kAppDir = QStringLiteral(ZANDREL_APP_DIR);

struct PictureRow {
  const char* file;
  const char* format;
  int width, height;  // pixels
};

// Sizes are the controls' twips over 15.
const PictureRow kPictures[] = {
    {"k01-1.g", "png", 99, 33},     {"k01-2.g", "png", 99, 33},     {"k03-1.g", "png", 99, 33},
    {"k03-2.g", "png", 99, 33},     {"k02-1.g", "png", 99, 33},     {"k02-2.g", "png", 99, 33},
    {"k04-1.g", "png", 99, 33},     {"k04-2.g", "png", 99, 33},     {"Abt1.g", "png", 121, 33},
    {"Abt2.g", "png", 121, 33},     {"Exit-y1.g", "png", 105, 41},  {"Exit-y2.g", "png", 105, 41},
    {"Exit-n1.g", "png", 105, 41},  {"Exit-n2.g", "png", 105, 41},  {"Exit.g", "png", 265, 41},
    {"Forw1.g", "png", 89, 33},     {"Forw2.g", "png", 89, 33},     {"Me00000.g", "png", 425, 33},
    {"J-1.j", "jpeg", 553, 449},    {"J-2.j", "jpeg", 553, 449},    {"Quirk00000.j", "jpeg", 161, 73},
    {"Quirk00001.j", "jpeg", 161, 73}, {"Quirk00002.j", "jpeg", 161, 73}, {"Quirk00003.j", "jpeg", 161, 73},
    {"Quirk00004.j", "jpeg", 161, 73}, {"Quirk00005.j", "jpeg", 161, 73}, {"Quirk00006.j", "jpeg", 161, 73},
    {"Quirk00007.j", "jpeg", 161, 73}, {"Quirk00008.j", "jpeg", 161, 73}, {"Quirk00009.j", "jpeg", 161, 73},
};

TEST(GeneratedAssets, EveryPictureLoadsAtItsControlsSize) {
  QtPlatform platform;
  for (const PictureRow& row : kPictures) {
    SCOPED_TRACE(row.file);
    const std::string path = (kAppDir + "/Pic/" + row.file).toStdString();
    PicturePtr picture;
    ASSERT_NO_THROW(picture = platform.LoadPicture(path));
    EXPECT_EQ(picture->format, row.format);
    EXPECT_EQ(picture->widthPx, row.width);
    EXPECT_EQ(picture->heightPx, row.height);
  }
}

TEST(GeneratedAssets, PressedFacesDifferFromNormalOnes) {
  const char* pairs[][2] = {{"k01-1.g", "k01-2.g"}, {"k03-1.g", "k03-2.g"}, {"k02-1.g", "k02-2.g"},
                            {"k04-1.g", "k04-2.g"}, {"Abt1.g", "Abt2.g"},   {"Exit-y1.g", "Exit-y2.g"},
                            {"Exit-n1.g", "Exit-n2.g"}, {"Forw1.g", "Forw2.g"}};
  for (const auto& pair : pairs) {
    SCOPED_TRACE(pair[0]);
    const QImage normal(kAppDir + "/Pic/" + pair[0]);
    const QImage pressed(kAppDir + "/Pic/" + pair[1]);
    ASSERT_FALSE(normal.isNull());
    ASSERT_FALSE(pressed.isNull());
    // Pressed is darker overall: sum the face's brightness.
    auto brightness = [](const QImage& image) {
      double sum = 0;
      for (int y = 4; y < image.height() - 4; ++y)
        for (int x = 4; x < image.width() - 4; ++x) sum += qGray(image.pixel(x, y));
      return sum;
    };
    EXPECT_LT(brightness(pressed), brightness(normal));
  }
  // Ten different animation frames, two different main frames.
  QImage previous(kAppDir + "/Pic/Quirk00009.j");
  for (int i = 0; i < 10; ++i) {
    const QImage frame(kAppDir + QStringLiteral("/Pic/Quirk0000%1.j").arg(i));
    EXPECT_NE(frame, previous) << i;
    previous = frame;
  }
  EXPECT_NE(QImage(kAppDir + "/Pic/J-1.j"), QImage(kAppDir + "/Pic/J-2.j"));
}

struct Wave {
  std::uint16_t format = 0, channels = 0, bits = 0;
  std::uint32_t rate = 0, dataBytes = 0;
};

Wave ReadWave(const QString& path) {
  QFile f(path);
  EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
  const QByteArray b = f.readAll();
  Wave w;
  if (b.size() < 44 || !b.startsWith("RIFF") || b.mid(8, 8) != "WAVEfmt ") return w;
  auto u16 = [&](int at) { return static_cast<std::uint16_t>(static_cast<std::uint8_t>(b[at]) | (static_cast<std::uint8_t>(b[at + 1]) << 8)); };
  auto u32 = [&](int at) { return static_cast<std::uint32_t>(u16(at)) | (static_cast<std::uint32_t>(u16(at + 2)) << 16); };
  w.format = u16(20);
  w.channels = u16(22);
  w.rate = u32(24);
  w.bits = u16(34);
  if (b.mid(36, 4) == "data") w.dataBytes = u32(40);
  EXPECT_EQ(static_cast<qsizetype>(w.dataBytes) + 44, b.size());
  return w;
}

TEST(GeneratedAssets, SoundsArePcmWavesOfTheirLength) {
  const Wave click = ReadWave(kAppDir + "/Sound/Click.wxv");
  const Wave splash = ReadWave(kAppDir + "/Sound/Splash.wxv");
  for (const Wave& w : {click, splash}) {
    EXPECT_EQ(w.format, 1) << "PCM";
    EXPECT_EQ(w.channels, 1);
    EXPECT_EQ(w.bits, 16);
  }
  const double click_s = static_cast<double>(click.dataBytes) / 2 / click.rate;
  const double splash_s = static_cast<double>(splash.dataBytes) / 2 / splash.rate;
  EXPECT_GT(click_s, 0.01);
  EXPECT_LT(click_s, 0.15) << "a click is short";
  EXPECT_GT(splash_s, 1.2);
  EXPECT_LT(splash_s, 2.0);
}

TEST(GeneratedAssets, IconsHaveTheirSizesAndColours) {
  const QImage app(kAppDir + "/zandrel.png");
  EXPECT_EQ(app.size(), QSize(128, 128));
  EXPECT_TRUE(app.hasAlphaChannel());

  PicturePtr icon = assets::WindowIcon();
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(icon, assets::WindowIcon()) << "one picture for every caller";
  EXPECT_EQ(icon->format, "png");
  EXPECT_EQ(icon->widthPx, 32);
  EXPECT_EQ(icon->heightPx, 32);
  QImage decoded;
  ASSERT_TRUE(decoded.loadFromData(icon->bytes.data(), static_cast<int>(icon->bytes.size()), "PNG"));
  EXPECT_EQ(decoded.size(), QSize(32, 32));
  ASSERT_EQ(decoded.format(), QImage::Format_Indexed8);
  EXPECT_LE(decoded.colorCount(), 16);
  QSet<QRgb> used;
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) used.insert(decoded.pixel(x, y));
  EXPECT_GE(used.size(), 6) << "a drawing, not a blank";
}

TEST(GeneratedAssets, GeneratorRepeatsItselfByteForByte) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  QProcess generator;
  generator.start(QStringLiteral(ZANDREL_ASSET_GENERATOR), {dir.path(), dir.filePath("icon.png")});
  ASSERT_TRUE(generator.waitForFinished(60000));
  ASSERT_EQ(generator.exitCode(), 0) << generator.readAllStandardError().toStdString();
  QStringList files;
  for (const PictureRow& row : kPictures) files << QStringLiteral("Pic/") + row.file;
  files << "Sound/Click.wxv" << "Sound/Splash.wxv" << "zandrel.png";
  for (const QString& name : files) {
    SCOPED_TRACE(name.toStdString());
    QFile a(kAppDir + "/" + name), b(dir.filePath(name));
    ASSERT_TRUE(a.open(QIODevice::ReadOnly));
    ASSERT_TRUE(b.open(QIODevice::ReadOnly));
    EXPECT_TRUE(a.readAll() == b.readAll());
  }
  // The embedded window icon is the generator's drawing.
  QFile icon(dir.filePath("icon.png"));
  ASSERT_TRUE(icon.open(QIODevice::ReadOnly));
  EXPECT_TRUE(icon.readAll().toStdString() == assets::WindowIconPng());
}

}  // namespace
}  // namespace zandrel::ui
