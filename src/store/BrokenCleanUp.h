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
  std::vector<std::string> keptWhy;        // beside `kept`: why each stays, or "" for not Zandrel's
  std::vector<BrokenAssociation> mended;   // no longer broken when read again: left as they are
  std::vector<std::string> titles;         // what became of the titles the removed extensions named, a line each
};

// Removes the removable findings of `broken` (as FindBrokenAssociations gave
// them) through `registry` (Desktop::Classes(): its transaction, and the
// history under it), and the desktop's through `desktop` (may be null), in
// one transaction. Each is checked again in it first. A store's extension
// goes as the remover removes it: the key with all below it, and the title
// it names when that is a file type's and no other extension names it; an
// extension of the shell's own (.lnk, .exe, ...) stays. Nothing removable:
// no transaction is begun.
CleanUp RemoveBrokenAssociations(IRegistry& registry, const std::vector<BrokenAssociation>& broken,
                                 integration::Desktop* desktop);

// A finding removed, kept (`why` as CleanUp::keptWhy gives it), or found
// mended, as a line in the program's words.
std::string RemovedLine(const BrokenAssociation& broken);
std::string KeptLine(const BrokenAssociation& broken, const std::string& why);
std::string MendedLine(const BrokenAssociation& broken);

}  // namespace zandrel::store
