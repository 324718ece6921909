#pragma once

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

namespace zandrel::text {

// Asks for large memory pages under a buffer of `size` bytes about to be
// filled, where the system offers them on request (Linux): first touching
// tens of megabytes page by page costs more than filling them.
void AdviseLargePages(const void* data, std::size_t size);

// Puts this process's heap on large pages, as AdviseLargePages does for one
// buffer: for a short-lived program that fills much of it once. Call it
// first thing in main (Linux; elsewhere it does nothing).
void PutHeapOnLargePages();

// Bytes kept at stable addresses for as long as the arena lives, taken from
// large blocks: a whole file's names and data without an allocation each.
class Arena {
 public:
  // Room for `size` bytes, not initialised.
  char* Take(std::size_t size);
  // A copy of `s`.
  std::string_view Keep(std::string_view s);

 private:
  std::vector<std::unique_ptr<char[]>> blocks_;
  char* at_ = nullptr;
  std::size_t left_ = 0;
};

}  // namespace zandrel::text
