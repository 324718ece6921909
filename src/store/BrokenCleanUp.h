// The clean-up of the associations that open nothing: what `check` found and
// Zandrel may remove (its own store's extensions, with their titles when
// nothing else names them; the user's own default lines of the desktop's
// files), removed as one change of the history, so one undo gives it all
// back. What lives elsewhere is left and said where.
#pragma once

#include <string>
#include <vector>

#include "integration/Desktop.h"
#include "registry/Registry.h"

namespace zandrel::store {

using integration::BrokenAssociation;

struct CleanUp {
  std::vector<BrokenAssociation> removed;  // what the change removed, in the order found
  std::vector<BrokenAssociation> kept;     // what is not Zandrel's to remove, each with where it lives
  std::string failure;                     // "" or why nothing was removed (the change rolled back)
};

// Removes the removable findings of `broken` (as FindBrokenAssociations gave
// them) through `registry` (Desktop::Classes(): its transaction, and the
// history under it), and the desktop's through `desktop` (may be null), in
// one transaction.
CleanUp RemoveBrokenAssociations(IRegistry& registry, const std::vector<BrokenAssociation>& broken,
                                 integration::Desktop* desktop);

}  // namespace zandrel::store
