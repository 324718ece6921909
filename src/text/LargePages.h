#pragma once

#include <cstddef>

namespace zandrel::text {

// Asks for large memory pages under a buffer of `size` bytes about to be
// filled, where the system offers them on request (Linux): first touching
// tens of megabytes page by page costs more than filling them.
void AdviseLargePages(const void* data, std::size_t size);

}  // namespace zandrel::text
