// What every drawing and sound of the asset generator shares: sizes, fonts
// and the writing of the files.
#pragma once

#include <QFont>
#include <QImage>
#include <QString>

namespace zandrel::assets {

inline constexpr double kPi = 3.14159265358979323846;

// Twips of a control to pixels at 96 dpi.
constexpr int Px(int twips) { return twips / 15; }

// Ends the generator with `what` on stderr: a build with a missing asset fails.
[[noreturn]] void Fail(const QString& what);

// Writes `image` to `path` in `format` ("PNG" or "JPEG"), or fails.
void Save(const QImage& image, const QString& path, const char* format);

QFont UiFont(double pixels, int weight = QFont::Bold, const QString& family = QStringLiteral("DejaVu Sans"));

// The largest bold font up to `pixels` in which `text` fits `width`.
QFont FittingFont(const QString& text, double width, int pixels, int weight = QFont::Bold);

}  // namespace zandrel::assets
