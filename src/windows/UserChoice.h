// What decides for this user over the machine's classes store. Since
// Windows 8 the choice kept for the user's account wins over the classes
// store, and no program may change it: only the user can, in Settings.
// Windows keeps it as the values ProgId and Hash of the key
//   HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\FileExts\E\UserChoice
// (recent Windows 11 under UserChoiceLatest beside it, read first); a choice
// without its Hash is one Windows resets, not one it follows. Elsewhere the
// keys are simply absent. And the user's own classes
// (HKEY_CURRENT_USER\Software\Classes), which HKEY_CLASSES_ROOT lays over
// the machine's that Zandrel changes.
#pragma once

#include <string>

#include "registry/Registry.h"

namespace zandrel::windows {

// The choice Windows follows for this user's files of `e`.
struct UserChoice {
  std::string progId;   // "" when there is none
  std::string program;  // the name to show: an app's own name, its program's file name, or the ProgId
  // Known to be the user's own pick: a program they browsed to in "Open
  // with" ("Applications\P.exe"), which no default of Windows names. Any
  // other ProgId may be Windows' own default as well as the user's choice.
  bool usersOwn = false;
};
UserChoice ReadUserChoice(IRegistry& registry, const std::string& e);

// What a closing message adds when such a choice exists for `e` (a blank
// line, then which program Windows keeps using, whose choice it is as far as
// known, and where the user changes it); "" otherwise.
std::string UserChoiceNote(IRegistry& registry, const std::string& e);

// What a closing message adds when the user's own classes still decide how
// this user's files of `e` open once the machine's `e` names `d` ("" after a
// removal): the user's `e` naming another title, or the user's own open
// command of the title in force; "" otherwise.
std::string UsersClassesNote(IRegistry& registry, const std::string& e, const std::string& d);

// The question that offers Settings at the default apps page when a choice
// exists for `e`; "" otherwise.
std::string DefaultAppsQuestion(IRegistry& registry, const std::string& e);

}  // namespace zandrel::windows
