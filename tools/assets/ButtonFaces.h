// The faces of the picture buttons, each drawn normal and pressed.
#pragma once

#include <QColor>
#include <QImage>
#include <QString>

namespace zandrel::assets {

enum class Glyph { List, Plus, Cross, Door, Info, Check, No, Forward };

struct ButtonStyle {
  QColor top, bottom, edge;
};

// A rounded, bevelled, glossy face with a glyph and a caption. Pressed: the
// gradient turns over and darkens, the bevel is sunk, the content moves down
// and right by a pixel.
QImage ButtonFace(int w, int h, const QString& caption, Glyph glyph, const ButtonStyle& style, bool pressed);

}  // namespace zandrel::assets
