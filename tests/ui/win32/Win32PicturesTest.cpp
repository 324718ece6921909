// Pictures through WIC: the program's own asset files decode at the size their
// header gives, a file cut short is refused (481) as on every other platform,
// and bytes decoded once are not decoded again.
#include <gtest/gtest.h>

#include <string>

#include "ui/win32/Win32Platform.h"
#include "support/Support.h"

namespace zandrel::ui::win32 {
namespace {

TEST(Win32Pictures, DecodesAssetsAndRefusesCutFiles) {
  Win32Platform platform;
  const std::string pic = platform.ExecutableFolder() + "\\Pic\\";
  const std::string jpeg = testing::ReadFile(pic + "J-1.j"), png = testing::ReadFile(pic + "k01-1.g");
  if (jpeg.empty() || png.empty()) GTEST_SKIP() << "no generated assets beside the test";

  PicturePtr first = platform.LoadPicture(pic + "J-1.j");
  EXPECT_EQ(first->format, "jpeg");
  EXPECT_GT(first->widthPx, 0);
  PicturePtr again = platform.LoadPicture(pic + "J-1.j");
  EXPECT_EQ(again->native, first->native) << "the same bytes were decoded twice";
  EXPECT_EQ(platform.LoadPicture(pic + "k01-1.g")->format, "png");

  testing::TempDir dir;
  const struct {
    const char* name;
    std::string bytes;
    int error;
  } cases[] = {
      {"jpeg cut in its image data", jpeg.substr(0, jpeg.size() - 40), 481},
      {"jpeg cut before its image data", jpeg.substr(0, 100), 481},
      {"png cut in its image data", png.substr(0, png.size() - 20), 481},
      {"garbage", "not a picture", 481},
  };
  for (const auto& c : cases) {
    try {
      platform.LoadPicture(dir.Write(c.name, c.bytes));
      ADD_FAILURE() << c.name << ": loaded";
    } catch (const RuntimeError& error) {
      EXPECT_EQ(error.number, c.error) << c.name;
    }
  }
}

}  // namespace
}  // namespace zandrel::ui::win32
