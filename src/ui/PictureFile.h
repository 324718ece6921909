// Picture files as the program loads them: read whole, the format told by the
// content and the size by the header. Shared by every realisation of the
// controls, which decode the bytes (or not) as they need.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ui/Controls.h"

namespace zandrel::ui {

// Reads a picture file and recognises PNG, JPEG, GIF and BMP from its content,
// taking the size from the header. Throws RuntimeError 53 ("File not found")
// or 481 ("Invalid picture").
PicturePtr ReadPictureFile(const std::string& path);

// Whether the bytes of a picture in `format` ("jpeg", "png"; any other: true)
// are whole. Decoders pad a JPEG or PNG cut off inside its image data and call
// it whole, so the end of the stream is looked for here.
bool PictureBytesComplete(const std::string& format, const std::vector<std::uint8_t>& bytes);

}  // namespace zandrel::ui
