// A finding of the check, as a failed assertion prints it.
#pragma once

#include <ostream>

#include "integration/Desktop.h"

namespace zandrel::integration {
inline void PrintTo(const BrokenAssociation& b, std::ostream* out) {
  *out << "{" << b.extension << ", " << b.reason << ", " << b.detail << ", " << b.where << ", " << b.removable << "}";
}
}  // namespace zandrel::integration
