// Pictures decoded by the Windows Imaging Component, which recognises the
// format from the content whatever the file's suffix.
#include "platform/win32ui/Win32Internal.h"

#include <wincodec.h>

#include <algorithm>
#include <cstring>

#include "platform/ui/PictureFile.h"

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
  if (bitmap->handle == nullptr) throw invalid;
  const UINT stride = width * 4;
  if (FAILED(converter->CopyPixels(nullptr, stride, stride * height, static_cast<BYTE*>(bits)))) throw invalid;
  bitmap->width = static_cast<int>(width);
  bitmap->height = static_cast<int>(height);
  const auto* pixels = static_cast<const std::uint8_t*>(bits);
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

void DrawBitmap(HDC dc, const Bitmap& bitmap, int x, int y) {
  HDC source = CreateCompatibleDC(dc);
  HGDIOBJ old = SelectObject(source, bitmap.handle);
  if (bitmap.alpha) {
    BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    AlphaBlend(dc, x, y, bitmap.width, bitmap.height, source, 0, 0, bitmap.width, bitmap.height, blend);
  } else {
    BitBlt(dc, x, y, bitmap.width, bitmap.height, source, 0, 0, SRCCOPY);
  }
  SelectObject(source, old);
  DeleteDC(source);
}

BitmapPtr BitmapCache::Find(const std::vector<std::uint8_t>& bytes) {
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (it->bytes.size() != bytes.size() || std::memcmp(it->bytes.data(), bytes.data(), bytes.size()) != 0)
      continue;
    std::rotate(entries_.begin(), it, it + 1);
    return entries_.front().bitmap;
  }
  return nullptr;
}

void BitmapCache::Insert(const std::vector<std::uint8_t>& bytes, BitmapPtr bitmap) {
  const std::size_t cost = bytes.size() + std::size_t(bitmap->width) * std::size_t(bitmap->height) * 4;
  if (cost > kMaxBytes) return;
  entries_.insert(entries_.begin(), Entry{bytes, std::move(bitmap)});
  bytes_ += cost;
  while (entries_.size() > kMaxEntries || bytes_ > kMaxBytes) {
    const Entry& last = entries_.back();
    bytes_ -= last.bytes.size() + std::size_t(last.bitmap->width) * std::size_t(last.bitmap->height) * 4;
    entries_.pop_back();
  }
}

}  // namespace zandrel::ui::win32
