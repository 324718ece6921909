// Decoded pictures remembered by the exact bytes of the file they came from,
// for the realisations, which supply the decoding. Every load still reads and
// checks its file; only a byte string that has already been decoded (and so
// has already passed every check) skips the decoder. A file that changed on
// disk has other bytes and is decoded afresh; bytes that fail to decode are
// never remembered.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <utility>
#include <vector>

namespace zandrel::ui {

template <typename Decoded>
class PictureCache {
 public:
  using Ptr = std::shared_ptr<const Decoded>;
  // The bytes a decoded picture holds (its pixels, mostly).
  using CostFunction = std::function<std::size_t(const Decoded&)>;

  // At most kMaxEntries pictures and kMaxBytes of file and decoded data; the
  // least recently used go first. A few dozen pictures cover every window;
  // the splash alone rereads twelve frames a hundred times a second.
  static constexpr std::size_t kMaxEntries = 64;
  static constexpr std::size_t kMaxBytes = 32u << 20;

  explicit PictureCache(CostFunction cost) : cost_(std::move(cost)) {}

  // The picture decoded from exactly these bytes (same size, every byte
  // compared), or null.
  Ptr Find(const std::vector<std::uint8_t>& bytes) {
    // Sizes tell most pictures apart; bytes that differ mostly differ early.
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
      if (it->bytes != bytes) continue;
      entries_.splice(entries_.begin(), entries_, it);
      return it->decoded;
    }
    return nullptr;
  }

  // Remembers the picture decoded from `bytes`. A picture larger than the
  // whole budget is not kept.
  void Insert(const std::vector<std::uint8_t>& bytes, Ptr decoded) {
    if (!decoded) return;
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
      if (it->bytes == bytes) {
        bytes_ -= it->cost;
        entries_.erase(it);
        break;
      }
    }
    const std::size_t cost = bytes.size() + cost_(*decoded);
    if (cost > kMaxBytes) return;
    entries_.push_front(Entry{bytes, std::move(decoded), cost});
    bytes_ += cost;
    while (!entries_.empty() && (entries_.size() > kMaxEntries || bytes_ > kMaxBytes)) {
      bytes_ -= entries_.back().cost;
      entries_.pop_back();
    }
  }

  // Lets go of every picture (before the decoder's library goes).
  void Clear() {
    entries_.clear();
    bytes_ = 0;
  }

 private:
  struct Entry {
    std::vector<std::uint8_t> bytes;
    Ptr decoded;
    std::size_t cost;
  };

  CostFunction cost_;
  std::size_t bytes_ = 0;
  std::list<Entry> entries_;  // most recently used first
};

}  // namespace zandrel::ui
