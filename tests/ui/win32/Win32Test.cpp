// The Win32 realisation without a display (its pictures' decoding:
// Win32PicturesTest, which includes no Windows header). Pictures follow the
// monitor's dpi as the controls do: drawn at 144 dpi a picture covers 1.5
// times its 96-dpi width and height, scaled smoothly, and each size is made
// once. The list gives its control each row's whole text: a long command and
// a Cyrillic description arrive uncut, however small the control's buffer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/win32/Win32Internal.h"

namespace zandrel::ui::win32 {
namespace {

// An opaque bitmap of premultiplied BGRA pixels, one colour a pixel (0xRRGGBB).
BitmapPtr MakeBitmap(int width, int height, const std::vector<std::uint32_t>& colours) {
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  auto bitmap = std::make_shared<Bitmap>();
  void* bits = nullptr;
  bitmap->handle = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  bitmap->bits = static_cast<std::uint8_t*>(bits);
  bitmap->width = width;
  bitmap->height = height;
  for (std::size_t i = 0; i < colours.size(); ++i) reinterpret_cast<std::uint32_t*>(bits)[i] = colours[i] | 0xFF000000u;
  return bitmap;
}

// The width and height of what a bitmap covers when drawn on a white page.
std::pair<int, int> DrawnSize(const Bitmap& bitmap) {
  const BitmapPtr page = MakeBitmap(200, 200, std::vector<std::uint32_t>(200 * 200, 0xFFFFFF));
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, page->handle);
  DrawBitmap(dc, bitmap, 0, 0);
  GdiFlush();
  SelectObject(dc, old);
  DeleteDC(dc);
  int width = 0, height = 0;
  const auto* pixels = reinterpret_cast<const std::uint32_t*>(page->bits);
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 200; ++x)
      if ((pixels[y * 200 + x] & 0xFFFFFF) != 0xFFFFFF) {
        width = std::max(width, x + 1);
        height = std::max(height, y + 1);
      }
  return {width, height};
}

TEST(Win32Dpi, PicturesAreDrawnAtTheMonitorsScale) {
  const BitmapPtr picture = MakeBitmap(40, 20, std::vector<std::uint32_t>(40 * 20, 0xC02020));
  const struct {
    UINT dpi;
    int width, height;
  } rows[] = {{96, 40, 20}, {120, 50, 25}, {144, 60, 30}, {192, 80, 40}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.dpi);
    const BitmapPtr scaled = ScaledForDpi(picture, row.dpi);
    EXPECT_EQ(DrawnSize(*scaled), std::make_pair(row.width, row.height));
    EXPECT_EQ(ScaledForDpi(picture, row.dpi), scaled) << "made twice";
  }
  EXPECT_EQ(ScaledForDpi(picture, 96), picture);
}

TEST(Win32Dpi, ScalingIsSmooth) {
  // Black then white, doubled: the edge passes through grey, not a step.
  const BitmapPtr scaled = ScaledForDpi(MakeBitmap(2, 1, {0x000000, 0xFFFFFF}), 192);
  ASSERT_EQ(scaled->width, 4);
  std::vector<int> blue;
  for (int x = 0; x < 4; ++x) blue.push_back(scaled->bits[x * 4]);
  EXPECT_EQ(blue, (std::vector<int>{0, 64, 191, 255}));
}

std::string Utf8(const wchar_t* text) {
  const int units = static_cast<int>(std::wcslen(text));
  std::string out(static_cast<std::size_t>(units) * 3, '\0');
  out.resize(static_cast<std::size_t>(WideCharToMultiByte(CP_UTF8, 0, text, units, out.data(),
                                                          static_cast<int>(out.size()), nullptr, nullptr)));
  return out;
}

TEST(Win32ListText, TheControlGetsTheWholeText) {
  std::string description;
  while (description.size() < 700) description += "Документ «Зандрел» ";
  const std::string command = "\"C:\\Program Files\\" + std::string(400, 'p') + "\\viewer.exe\" \"%1\"";
  DisplayTexts texts;
  wchar_t buffer[260] = L"";
  for (const std::string& text : {description, command, std::string(), description}) {
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.pszText = buffer;
    item.cchTextMax = 260;
    texts.Give(item, text);
    EXPECT_EQ(Utf8(item.pszText), text);
  }
}

}  // namespace
}  // namespace zandrel::ui::win32
