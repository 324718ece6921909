// The pictures of the windows: the splash's frames, the main window's
// pictures, the title strip and the exit question.
#pragma once

#include <QImage>

namespace zandrel::assets {

// The company's animation, frame `index` of ten.
QImage QuirkFrame(int index);
// The main window's picture, `frame` 0 or 1.
QImage MainFrame(int frame);
QImage TitleStrip();
QImage ExitQuestion();

}  // namespace zandrel::assets
