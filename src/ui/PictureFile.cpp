#include "ui/PictureFile.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <vector>

namespace zandrel::ui {

namespace {

std::uint32_t Be32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return (std::uint32_t{b[at]} << 24) | (std::uint32_t{b[at + 1]} << 16) | (std::uint32_t{b[at + 2]} << 8) |
         std::uint32_t{b[at + 3]};
}
std::uint32_t Be16(const std::vector<std::uint8_t>& b, std::size_t at) {
  return (std::uint32_t{b[at]} << 8) | std::uint32_t{b[at + 1]};
}
std::uint32_t Le16(const std::vector<std::uint8_t>& b, std::size_t at) {
  return std::uint32_t{b[at]} | (std::uint32_t{b[at + 1]} << 8);
}
std::int32_t Le32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::int32_t>(std::uint32_t{b[at]} | (std::uint32_t{b[at + 1]} << 8) |
                                   (std::uint32_t{b[at + 2]} << 16) | (std::uint32_t{b[at + 3]} << 24));
}

// Walks a JPEG's marker segments after its start: at(marker, offset) for each
// one (fill bytes and markers without a length passed over) answers, or lets
// the walk go on with nullopt; false when the stream ends or breaks first.
template <typename At>
bool WalkJpeg(const std::vector<std::uint8_t>& b, At at) {
  std::size_t i = 2;
  while (i + 4 <= b.size()) {
    if (b[i] != 0xFF) return false;
    const std::uint8_t marker = b[i + 1];
    if (marker == 0xFF) {
      ++i;
      continue;
    }
    if (marker == 0xD8 || (marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) {
      i += 2;
      continue;
    }
    if (const std::optional<bool> answer = at(marker, i)) return *answer;
    const std::uint32_t len = Be16(b, i + 2);
    if (len < 2) return false;
    i += 2 + len;
  }
  return false;
}

// Finds the size in a JPEG's first start-of-frame marker; false when the
// stream ends before one.
bool JpegSize(const std::vector<std::uint8_t>& b, int& w, int& h) {
  return WalkJpeg(b, [&](std::uint8_t marker, std::size_t i) -> std::optional<bool> {
    if (marker == 0xD9 || marker == 0xDA) return false;
    if (marker < 0xC0 || marker > 0xCF || marker == 0xC4 || marker == 0xC8 || marker == 0xCC) return std::nullopt;
    if (i + 9 > b.size()) return false;
    h = static_cast<int>(Be16(b, i + 5));
    w = static_cast<int>(Be16(b, i + 7));
    return w > 0 && h > 0;
  });
}

// A JPEG decoder pads a stream cut off inside its image data with grey and
// only warns: the file is whole only when an end-of-image marker follows the
// first scan (entropy-coded data cannot contain FF D9).
bool JpegComplete(const std::vector<std::uint8_t>& b) {
  return WalkJpeg(b, [&](std::uint8_t marker, std::size_t i) -> std::optional<bool> {
    if (marker != 0xDA) return std::nullopt;
    for (std::size_t j = i + 2; j + 1 < b.size(); ++j)
      if (b[j] == 0xFF && b[j + 1] == 0xD9) return true;
    return false;
  });
}

bool PngComplete(const std::vector<std::uint8_t>& b) {
  static const char kIend[] = "IEND";
  return std::search(b.begin(), b.end(), kIend, kIend + 4) != b.end();
}

}  // namespace

PicturePtr ReadPictureFile(const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) throw RuntimeError{53, "File not found: " + path};
  // A folder, a device or an unreadable file is a file that is there but is no picture.
  if (!std::filesystem::is_regular_file(path, ec)) throw RuntimeError{481, "Invalid picture: " + path};
  std::ifstream in(path, std::ios::binary);
  if (!in) throw RuntimeError{481, "Invalid picture: " + path};
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw RuntimeError{481, "Invalid picture: " + path};
  auto picture = std::make_shared<Picture>();
  picture->source = path;
  int w = 0, h = 0;
  static const std::uint8_t kPng[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  if (bytes.size() >= 24 && std::equal(kPng, kPng + 8, bytes.begin()) &&
      std::equal(bytes.begin() + 12, bytes.begin() + 16, "IHDR")) {
    picture->format = "png";
    w = static_cast<int>(Be32(bytes, 16));
    h = static_cast<int>(Be32(bytes, 20));
  } else if (bytes.size() >= 4 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF) {
    picture->format = "jpeg";
    if (!JpegSize(bytes, w, h)) w = h = 0;
  } else if (bytes.size() >= 10 && (std::equal(bytes.begin(), bytes.begin() + 6, "GIF87a") ||
                                    std::equal(bytes.begin(), bytes.begin() + 6, "GIF89a"))) {
    picture->format = "gif";
    w = static_cast<int>(Le16(bytes, 6));
    h = static_cast<int>(Le16(bytes, 8));
  } else if (bytes.size() >= 26 && bytes[0] == 'B' && bytes[1] == 'M') {
    picture->format = "bmp";
    w = Le32(bytes, 18);
    h = Le32(bytes, 22);
    if (h < 0) h = -h;
  }
  if (picture->format.empty() || w <= 0 || h <= 0 || w > 65535 || h > 65535)
    throw RuntimeError{481, "Invalid picture: " + path};
  picture->widthPx = w;
  picture->heightPx = h;
  picture->bytes = std::move(bytes);
  return picture;
}

bool PictureBytesComplete(const std::string& format, const std::vector<std::uint8_t>& bytes) {
  if (format == "jpeg") return JpegComplete(bytes);
  if (format == "png") return PngComplete(bytes);
  return true;
}

}  // namespace zandrel::ui
