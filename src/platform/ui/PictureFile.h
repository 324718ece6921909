// Picture files as the program loads them: read whole, the format told by the
// content and the size by the header. Shared by every realisation of the
// controls, which decode the bytes (or not) as they need.
#pragma once

#include <string>

#include "platform/ui/Controls.h"

namespace zandrel::ui {

// Reads a picture file and recognises PNG, JPEG, GIF and BMP from its content,
// taking the size from the header. Throws RuntimeError 53 ("File not found")
// or 481 ("Invalid picture").
PicturePtr ReadPictureFile(const std::string& path);

}  // namespace zandrel::ui
