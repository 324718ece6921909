// The user's own choice of a program for an extension. Since Windows 8 the
// program picked once with "Open with" wins over the classes store, and no
// program may change it: only the user can, in Settings. Windows keeps it as
// the value ProgId of the key
//   HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\FileExts\E\UserChoice
// elsewhere the key is simply absent.
#pragma once

#include <string>

#include "registry/Registry.h"

namespace zandrel::store {

// The program the user's choice for `e` names: the file name of its ProgId's
// open command, else the ProgId's last component ("Applications\P.exe" gives
// P.exe); "" when there is no choice.
std::string UserChoiceProgram(IRegistry& registry, const std::string& e);

// What a closing message adds when such a choice exists for `e` (a blank
// line, then which program Windows keeps using and where the user changes
// it); "" otherwise.
std::string UserChoiceNote(IRegistry& registry, const std::string& e);

}  // namespace zandrel::store
