#include "assets/WindowIcon.h"

#include <memory>

namespace zandrel::assets {

ui::PicturePtr WindowIcon() {
  static const ui::PicturePtr icon = [] {
    auto picture = std::make_shared<ui::Picture>();
    picture->source = "zandrel.ico";
    picture->format = "png";
    picture->widthPx = 32;
    picture->heightPx = 32;
    const std::string& png = WindowIconPng();
    picture->bytes.assign(png.begin(), png.end());
    return ui::PicturePtr(picture);
  }();
  return icon;
}

}  // namespace zandrel::assets
