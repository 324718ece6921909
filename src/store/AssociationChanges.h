// The writer and the remover of associations under HKEY_CLASSES_ROOT. Each
// takes the entry fields as typed, checks them, asks and reports through the
// prompter, and makes its registry change as one transaction: it lands whole
// or not at all, and no message box waits while the registry is locked. A
// change refused because another copy holds the lock, or for want of an
// administrator's rights, says so after its own failure message
// (store/ChangeRefusal.h).
#pragma once

#include <string>

#include "integration/Desktop.h"
#include "store/Prompter.h"
#include "registry/Registry.h"

namespace zandrel::store {

// The entry frame's fields, as the user left them.
struct AssociationFields {
  std::string fileExt;             // txtFileExt
  std::string titleRef;            // txtTitleRef
  std::string executableFileSpec;  // txtExecutableFileSpec
  int updateList = 0;              // cbxUpdateList: 1 ticked
};

struct RemovalFields {
  std::string fileExt;   // txtFileExt
  std::string titleRef;  // txtTitleRef
  int updateList = 0;    // cbxUpdateList: 1 ticked
};

// What the window does after a change: reload the list (a success with the
// update box ticked), then tell the shell (after an add that was committed,
// or a removal that got as far as deleting). `committed`: the registry holds
// the change.
struct ChangeOutcome {
  bool reloadList = false;
  bool notifyShell = false;
  bool committed = false;
};

// Registers E (the extension) naming the title key D with "P" "%1" (quoted,
// as the shell writes it) as its open command and P,1 as its icon, where E,
// D and P come from the fields. Neither E nor D may hold "\"; an E that
// exists, also one that appears while the add runs, is left alone. With a
// `desktop`, its own keys are refused, and the closing message says what
// still decides for the user (integration/Desktop.h).
ChangeOutcome CreateAssociation(IRegistry& registry, Prompter& prompter, const AssociationFields& fields,
                                integration::Desktop* desktop = nullptr);

// Removes the extension key, and the title key with its subkeys when the
// description field is not blank; that title must be the one the extension
// names, or nothing is deleted. `desktop` as for the add.
ChangeOutcome RemoveAssociation(IRegistry& registry, Prompter& prompter, const RemovalFields& fields,
                                integration::Desktop* desktop = nullptr);

}  // namespace zandrel::store
