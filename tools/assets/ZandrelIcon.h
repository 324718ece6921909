// The manager window's icon: 32 x 32 pixels in 16 colours, drawn at build time
// and embedded in the program.
#pragma once

#include "platform/ui/Controls.h"

// The icon as a picture (format "png"), the same object at every call.
zandrel::ui::PicturePtr ZandrelIcon();
