// The manager window's icon: 32 x 32 pixels in 16 colours, drawn with the
// other pictures and embedded in the program.
#pragma once

#include <string>

#include "ui/Controls.h"

namespace zandrel::assets {

// The icon as a picture (format "png"), the same object at every call.
ui::PicturePtr WindowIcon();

// The icon file's bytes.
const std::string& WindowIconPng();

}  // namespace zandrel::assets
