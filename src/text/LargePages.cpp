#include "text/LargePages.h"

#ifdef __linux__
#include <sys/mman.h>
#endif

#include <cstdint>

namespace zandrel::text {

void AdviseLargePages([[maybe_unused]] const void* data, [[maybe_unused]] std::size_t size) {
#ifdef __linux__
  constexpr std::uintptr_t kLarge = std::uintptr_t{2} << 20;
  const auto from = (reinterpret_cast<std::uintptr_t>(data) + kLarge - 1) & ~(kLarge - 1);
  const auto to = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(kLarge - 1);
  if (to > from) ::madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
#endif
}

}  // namespace zandrel::text
