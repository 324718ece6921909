// What the freedesktop desktop reads the store through (Linux builds only):
// the store's listing (store/AssociationListing.h) as the projection's rows.
#pragma once

#include <optional>
#include <vector>

#include "freedesktop/DesktopProjection.h"

namespace zandrel::assembly {

// The rows the listing reads through `registry`; null when the classes store
// cannot be read.
std::optional<std::vector<freedesktop::StoreRow>> ListedRows(IRegistry& registry);

}  // namespace zandrel::assembly
