#include "ZandrelIcon.h"

#include <cstddef>
#include <memory>

extern const unsigned char kZandrelIconPng[];
extern const std::size_t kZandrelIconPngSize;

zandrel::ui::PicturePtr ZandrelIcon() {
  static const zandrel::ui::PicturePtr icon = [] {
    auto picture = std::make_shared<zandrel::ui::Picture>();
    picture->source = "zandrel.ico";
    picture->format = "png";
    picture->widthPx = 32;
    picture->heightPx = 32;
    picture->bytes.assign(kZandrelIconPng, kZandrelIconPng + kZandrelIconPngSize);
    return zandrel::ui::PicturePtr(picture);
  }();
  return icon;
}
