// The change of the program an existing extension opens with: the open
// command of the title it names, among the machine's classes, written as the
// add writes it, in one transaction. A title shared with other extensions is
// changed for all of them only when asked; otherwise the extension gets a
// title of its own first (a copy of the shared one's whole subtree), and the
// others keep theirs. Nothing asks the user: a caller that wants a question
// asks it between PlanProgramChange and ChangeProgram, which reads everything
// again under the change's lock and refuses when it moved meanwhile.
#pragma once

#include <string>
#include <vector>

#include "integration/Desktop.h"
#include "registry/Registry.h"

namespace zandrel::store {

struct ProgramChangeFields {
  std::string fileExt;             // the extension, as typed ("zq", ".zq")
  std::string executableFileSpec;  // the program, as typed (the add's field)
  // A title shared with other extensions changes for every one of them;
  // otherwise the extension alone changes, under a title of its own.
  bool everyExtension = false;
};

// What a change of the program does, or would do.
struct ProgramChange {
  std::string refusal;     // why nothing is changed, in the program's words; "" when it goes ahead
  std::string extension;   // the extension, prepared as the add prepares it
  std::string title;       // the title the extension names before the change
  std::string oldCommand;  // the title's open command before; "" when it had none
  std::string newCommand;
  std::vector<std::string> sharing;  // the other extensions naming the title, in enumeration order
  // The title of its own the extension gets (a shared title changed for it
  // alone), named "TITLE.ext", then "TITLE.ext.2", ".3", ... until free; ""
  // when the title itself is changed.
  std::string newTitle;
  // The icon of the title the extension names after the change
  // (TITLE\DefaultIcon): the program's own ("PROGRAM",0) where it gives one
  // and the title has no icon or its icon named the old program; any other
  // icon stays. oldIcon: what it was ("" none); newIcon: "" when it stays.
  std::string oldIcon, newIcon;
  bool unchanged = false;     // the title already opens files with the new command: nothing to write
  bool committed = false;     // ChangeProgram: the registry holds the change
  bool wrote = false;         // ChangeProgram got as far as writing, committed or not
  std::string stillNote;      // committed: what still decides for the user (Desktop::StillDecides), or ""
  std::string stillQuestion;  // committed: the offer of the desktop's settings page that goes with it, or ""
  // An extension of the desktop's own (Desktop::ChangeOwnProgram): what the
  // change does in the desktop's settings, a line each; empty for the store's.
  std::vector<std::string> desktopLines;
};

// Checks the fields and reads what the change would do, writing nothing.
// An extension that is the desktop's own key changes in the desktop's
// settings (Desktop::ChangeOwnProgram; on Linux the program field may then
// name a desktop entry), and is refused where the desktop changes none.
// Refused: an extension field the removal refuses; the add's refusals of the
// program field; an extension that is the user's alone; none in the
// store; one naming no title, or a title that is no file type's or no key's
// name, or the desktop's own; the desktop's associations unread.
ProgramChange PlanProgramChange(IRegistry& registry, const ProgramChangeFields& fields,
                                integration::Desktop* desktop = nullptr);

// Plans, then makes the change in one transaction: all of it, or nothing.
ProgramChange ChangeProgram(IRegistry& registry, const ProgramChangeFields& fields,
                            integration::Desktop* desktop = nullptr);

// The refusal of an extension `e` (prepared) that is not in the store.
std::string NoSuchExtension(const std::string& e);

// What a change did, a line each (no line ends): the extension with its old
// and new command, its icon when that changed, the title of its own when one
// was made, the extensions that changed with it; then what still decides.
std::vector<std::string> ProgramChangeLines(const ProgramChange& change);

}  // namespace zandrel::store
