// Internal to the Qt realisation: decoded pictures remembered by the exact
// bytes of the file they came from. Every load still reads and checks its
// file; only a byte string that has already been decoded (and so has already
// passed every check) skips the decoder. A file that changed on disk has other
// bytes and is decoded afresh; bytes that fail to decode are never remembered.
#pragma once

#include <QImage>

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <vector>

namespace zandrel::ui::qt {

// The image in the form the screen draws fastest: opaque pictures as RGB32,
// others as premultiplied ARGB32. Painting then copies pixels, converting none.
QImage ToDisplayFormat(QImage image);

struct DecodedPicture {
  QImage image;        // in display format; never changed once made
  std::string format;  // "png", "jpeg", ...
};

class PictureCache {
 public:
  // At most `max_entries` pictures and `max_bytes` of file and pixel data;
  // the least recently used go first.
  PictureCache(std::size_t max_entries, std::size_t max_bytes);

  // The picture decoded from exactly these bytes (same size, every byte
  // compared), or null.
  std::shared_ptr<const DecodedPicture> Find(const std::vector<std::uint8_t>& bytes);
  // Remembers the picture decoded from `bytes`. A picture larger than the
  // whole budget is not kept.
  void Insert(const std::vector<std::uint8_t>& bytes, std::shared_ptr<const DecodedPicture> picture);

 private:
  struct Entry {
    std::vector<std::uint8_t> bytes;
    std::shared_ptr<const DecodedPicture> picture;
    std::size_t cost;
  };
  void Trim();

  std::size_t max_entries_;
  std::size_t max_bytes_;
  std::size_t bytes_ = 0;
  std::list<Entry> entries_;  // most recently used first
};

}  // namespace zandrel::ui::qt
