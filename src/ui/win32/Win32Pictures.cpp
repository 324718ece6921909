// Pictures decoded by the Windows Imaging Component, which recognises the
// format from the content whatever the file's suffix.
#include "ui/win32/Win32Internal.h"

#include <wincodec.h>

#include <algorithm>
#include <cmath>

#include "ui/PictureFile.h"

namespace zandrel::ui::win32 {

namespace {

template <typename T>
struct ComPtr {
  T* p = nullptr;
  ~ComPtr() {
    if (p != nullptr) p->Release();
  }
  T** operator&() { return &p; }
  T* operator->() const { return p; }
};

// An empty top-down 32-bit DIB section; null when none can be made.
std::shared_ptr<Bitmap> NewBitmap(int width, int height) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = static_cast<LONG>(width);
  info.bmiHeader.biHeight = -static_cast<LONG>(height);  // top-down rows, as WIC copies them
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  auto bitmap = std::make_shared<Bitmap>();
  bitmap->handle = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap->handle == nullptr) return nullptr;
  bitmap->bits = static_cast<std::uint8_t*>(bits);
  bitmap->width = width;
  bitmap->height = height;
  return bitmap;
}

// Where output coordinate `at` of `to` samples an axis of `from` pixels:
// the lower source pixel and the weight of the next one.
void Sample(int at, int to, int from, int* low, double* weight) {
  const double position = std::clamp((at + 0.5) * from / to - 0.5, 0.0, static_cast<double>(from - 1));
  *low = std::min(static_cast<int>(position), from - 1);
  *weight = position - *low;
}

}  // namespace

Bitmap::~Bitmap() {
  if (handle != nullptr) DeleteObject(handle);
}

BitmapPtr DecodeBitmap(const Picture& picture, IWICImagingFactory* factory) {
  const RuntimeError invalid{481, "Invalid picture: " + picture.source};
  if (factory == nullptr || picture.bytes.empty() || picture.bytes.size() > 0x7FFFFFFF) throw invalid;
  if (!PictureBytesComplete(picture.format, picture.bytes)) throw invalid;

  ComPtr<IWICStream> stream;
  ComPtr<IWICBitmapDecoder> decoder;
  ComPtr<IWICBitmapFrameDecode> frame;
  ComPtr<IWICFormatConverter> converter;
  if (FAILED(factory->CreateStream(&stream)) ||
      FAILED(stream->InitializeFromMemory(const_cast<BYTE*>(picture.bytes.data()),
                                          static_cast<DWORD>(picture.bytes.size()))) ||
      FAILED(factory->CreateDecoderFromStream(stream.p, nullptr, WICDecodeMetadataCacheOnDemand, &decoder)) ||
      FAILED(decoder->GetFrame(0, &frame)) || FAILED(factory->CreateFormatConverter(&converter)) ||
      FAILED(converter->Initialize(frame.p, GUID_WICPixelFormat32bppPBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                                   WICBitmapPaletteTypeCustom)))
    throw invalid;
  UINT width = 0, height = 0;
  if (FAILED(converter->GetSize(&width, &height)) || static_cast<int>(width) != picture.widthPx ||
      static_cast<int>(height) != picture.heightPx)
    throw invalid;

  std::shared_ptr<Bitmap> bitmap = NewBitmap(static_cast<int>(width), static_cast<int>(height));
  if (!bitmap) throw invalid;
  const UINT stride = width * 4;
  if (FAILED(converter->CopyPixels(nullptr, stride, stride * height, bitmap->bits))) throw invalid;
  const std::uint8_t* pixels = bitmap->bits;
  for (std::size_t i = 3; i < std::size_t{stride} * height; i += 4)
    if (pixels[i] != 0xFF) {
      bitmap->alpha = true;
      break;
    }
  return bitmap;
}

BitmapPtr BitmapOf(const PicturePtr& picture, IWICImagingFactory* factory) {
  if (!picture) return nullptr;
  if (!picture->native) {
    try {
      picture->native = std::const_pointer_cast<Bitmap>(DecodeBitmap(*picture, factory));
    } catch (const RuntimeError&) {
      return nullptr;  // not ours and not decodable: nothing to show
    }
  }
  return std::static_pointer_cast<const Bitmap>(picture->native);
}

BitmapPtr ScaledForDpi(const BitmapPtr& bitmap, UINT dpi) {
  if (!bitmap || dpi == 96 || dpi == 0 || bitmap->bits == nullptr) return bitmap;
  for (const auto& [made_for, scaled] : bitmap->scaled)
    if (made_for == dpi) return scaled;
  const int width = std::max(1, MulDiv(bitmap->width, static_cast<int>(dpi), 96));
  const int height = std::max(1, MulDiv(bitmap->height, static_cast<int>(dpi), 96));
  std::shared_ptr<Bitmap> scaled = NewBitmap(width, height);
  if (!scaled) return bitmap;
  scaled->alpha = bitmap->alpha;
  const std::uint8_t* in = bitmap->bits;
  const std::size_t stride = std::size_t(bitmap->width) * 4;
  for (int y = 0; y < height; ++y) {
    int y0 = 0;
    double fy = 0;
    Sample(y, height, bitmap->height, &y0, &fy);
    const int y1 = std::min(y0 + 1, bitmap->height - 1);
    for (int x = 0; x < width; ++x) {
      int x0 = 0;
      double fx = 0;
      Sample(x, width, bitmap->width, &x0, &fx);
      const int x1 = std::min(x0 + 1, bitmap->width - 1);
      std::uint8_t* out = scaled->bits + (std::size_t(y) * width + x) * 4;
      for (int c = 0; c < 4; ++c) {
        const double top = in[y0 * stride + x0 * 4 + c] * (1 - fx) + in[y0 * stride + x1 * 4 + c] * fx;
        const double bottom = in[y1 * stride + x0 * 4 + c] * (1 - fx) + in[y1 * stride + x1 * 4 + c] * fx;
        out[c] = static_cast<std::uint8_t>(std::lround(top * (1 - fy) + bottom * fy));
      }
    }
  }
  bitmap->scaled.emplace_back(dpi, scaled);
  return scaled;
}

void DrawBitmap(HDC dc, const Bitmap& bitmap, int x, int y) {
  HDC source = CreateCompatibleDC(dc);
  HGDIOBJ old = SelectObject(source, bitmap.handle);
  if (bitmap.alpha) {
    BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    GdiAlphaBlend(dc, x, y, bitmap.width, bitmap.height, source, 0, 0, bitmap.width, bitmap.height, blend);
  } else {
    BitBlt(dc, x, y, bitmap.width, bitmap.height, source, 0, 0, SRCCOPY);
  }
  SelectObject(source, old);
  DeleteDC(source);
}

}  // namespace zandrel::ui::win32
