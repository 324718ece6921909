#include "AssetSupport.h"

#include <QByteArray>
#include <QFontMetricsF>

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace zandrel::assets {

[[noreturn]] void Fail(const QString& what) {
  std::fprintf(stderr, "zandrel-assets: %s\n", qPrintable(what));
  std::exit(1);
}

void Save(const QImage& image, const QString& path, const char* format) {
  // The names end in ".g" and ".j": the format is always given, never guessed.
  if (!image.save(path, format, QByteArray(format) == "JPEG" ? 92 : -1)) Fail("cannot write " + path);
}

QFont UiFont(double pixels, int weight, const QString& family) {
  QFont f(family);
  f.setPixelSize(static_cast<int>(std::lround(pixels)));
  f.setWeight(static_cast<QFont::Weight>(weight));
  f.setHintingPreference(QFont::PreferFullHinting);
  f.setStyleStrategy(QFont::PreferAntialias);
  return f;
}

QFont FittingFont(const QString& text, double width, int pixels, int weight) {
  QFont font = UiFont(pixels, weight);
  while (pixels > 8 && QFontMetricsF(font).horizontalAdvance(text) > width) font = UiFont(--pixels, weight);
  return font;
}

}  // namespace zandrel::assets
