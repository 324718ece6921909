// The trimming the program applies to typed and stored texts: the space
// character only; a tab or a line end is part of the text.
#pragma once

#include <string>
#include <string_view>

namespace zandrel::text {

// `text` without the spaces (only U+0020) at both ends.
inline std::string Trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return std::string();
  return std::string(text.substr(first, text.find_last_not_of(' ') - first + 1));
}

}  // namespace zandrel::text
