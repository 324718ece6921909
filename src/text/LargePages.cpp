#include "text/LargePages.h"

#ifdef __linux__
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace zandrel::text {

void AdviseLargePages([[maybe_unused]] const void* data, [[maybe_unused]] std::size_t size) {
#ifdef __linux__
  constexpr std::uintptr_t kLarge = std::uintptr_t{2} << 20;
  const auto from = (reinterpret_cast<std::uintptr_t>(data) + kLarge - 1) & ~(kLarge - 1);
  const auto to = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(kLarge - 1);
  if (to > from) ::madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
#endif
}

void PutHeapOnLargePages() {
#ifdef __linux__
  // The heap grows by 256 MB of address space at once (memory is only
  // taken as it is touched) and never shrinks, so that one advice covers
  // it; blocks up to 32 MB come from it rather than from mappings of their own.
  constexpr int kPad = 256 << 20;
  if (::mallopt(M_TOP_PAD, kPad) == 0 || ::mallopt(M_TRIM_THRESHOLD, kPad) == 0 ||
      ::mallopt(M_MMAP_THRESHOLD, 32 << 20) == 0)
    return;
  // More than the heap has left at start: it grows now, by the whole pad.
  char* first = static_cast<char*>(std::malloc(1 << 20));
  const char* end = static_cast<const char*>(::sbrk(0));
  if (first != nullptr && end > first && end - first <= kPad + (2 << 20))
    AdviseLargePages(first, static_cast<std::size_t>(end - first));
  std::free(first);
#endif
}

char* Arena::Take(std::size_t size) {
  constexpr std::size_t kBlock = std::size_t{8} << 20;
  if (size > left_) {
    const std::size_t block = size > kBlock ? size : kBlock;
    blocks_.emplace_back(new char[block]);
    at_ = blocks_.back().get();
    AdviseLargePages(at_, block);
    left_ = block;
  }
  char* p = at_;
  at_ += size;
  left_ -= size;
  return p;
}

std::string_view Arena::Keep(std::string_view s) {
  if (s.empty()) return std::string_view("", 0);
  char* p = Take(s.size());
  std::copy(s.begin(), s.end(), p);
  return std::string_view(p, s.size());
}

}  // namespace zandrel::text
