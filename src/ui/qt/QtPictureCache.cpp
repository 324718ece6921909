#include "ui/qt/QtPictureCache.h"

namespace zandrel::ui::qt {

namespace {

std::size_t CostOf(const std::vector<std::uint8_t>& bytes, const DecodedPicture& picture) {
  return bytes.size() + static_cast<std::size_t>(picture.image.sizeInBytes()) + sizeof(DecodedPicture);
}

}  // namespace

QImage ToDisplayFormat(QImage image) {
  if (image.isNull()) return image;
  const QImage::Format target =
      image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
  if (image.format() != target) image.convertTo(target);
  return image;
}

PictureCache::PictureCache(std::size_t max_entries, std::size_t max_bytes)
    : max_entries_(max_entries), max_bytes_(max_bytes) {}

std::shared_ptr<const DecodedPicture> PictureCache::Find(const std::vector<std::uint8_t>& bytes) {
  // Sizes tell most pictures apart; bytes that differ mostly differ early.
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (it->bytes != bytes) continue;
    entries_.splice(entries_.begin(), entries_, it);
    return it->picture;
  }
  return nullptr;
}

void PictureCache::Insert(const std::vector<std::uint8_t>& bytes, std::shared_ptr<const DecodedPicture> picture) {
  if (!picture) return;
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (it->bytes == bytes) {
      bytes_ -= it->cost;
      entries_.erase(it);
      break;
    }
  }
  const std::size_t cost = CostOf(bytes, *picture);
  if (cost > max_bytes_ || max_entries_ == 0) return;
  entries_.push_front(Entry{bytes, std::move(picture), cost});
  bytes_ += cost;
  Trim();
}

void PictureCache::Trim() {
  while (!entries_.empty() && (entries_.size() > max_entries_ || bytes_ > max_bytes_)) {
    bytes_ -= entries_.back().cost;
    entries_.pop_back();
  }
}

}  // namespace zandrel::ui::qt
