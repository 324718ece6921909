// The program's icons.
#pragma once

#include <QImage>

namespace zandrel::assets {

// The window icon: 32 x 32 in sixteen palette colours, as an old icon file
// has them: fifteen of the classic palette (magenta, which the drawing never
// uses, gives up its place) and the transparent colour of the icon's mask.
QImage WindowIcon();
// The desktop icon: the window icon's drawing, smooth and shaded.
QImage AppIcon();

}  // namespace zandrel::assets
