// What a description may name: the rules that keep one add or removal from
// changing how files of other types open. A description names a title key
// among the machine's classes (HKEY_LOCAL_MACHINE\SOFTWARE\Classes, the keys
// a change writes: every reading here is of them, never of the user's own
// classes that Windows lays over them in HKEY_CLASSES_ROOT); some keys there
// are no file type's title at all, and a title may be shared by several
// extensions.
#pragma once

#include <string>
#include <vector>

#include "registry/Registry.h"

namespace zandrel::store {

enum class TitleKind {
  kFileType,     // a title an association may use
  kExtension,    // begins with ".": an extension key, not a title
  kShellClass,   // one of the shell's own classes (*, CLSID, Directory, ...)
  kUrlProtocol,  // a URL scheme's key (it holds "URL Protocol")
  kProgramFile,  // the title of files that run themselves (exefile, ...)
};

// Whether `e` is an extension of the shell's own, whose files run
// themselves or reach a program (.exe, .lnk, .bat, ...), compared as key
// names are.
bool ShellsOwnExtension(const std::string& e);

// The kind of the title `d` by its name alone, compared as key names are.
TitleKind TitleKindByName(const std::string& d);

// The kind of the title `d`: by its name, then by what the key
// the machine's classes key d holds when it exists: a "URL Protocol" value, or an
// open command that runs the file itself ("%1" %* and the like).
TitleKind TitleKindOf(IRegistry& registry, const std::string& d);

// What a title of `kind` is instead of a file type's, as a predicate
// ("системный раздел Windows, а не тип файлов"); "" for kFileType.
std::string NotAFileType(TitleKind kind);
// "Описание D — " and that predicate ("Описание D начинается с точки, ..."
// for kExtension); "" for kFileType.
std::string TitleIsNoFileType(TitleKind kind, const std::string& d);

// Whether `command` runs the file it is given as the program: its first word,
// quoted or not, is %1 or %L.
bool RunsTheFileItself(const std::string& command);

// The default value of the machine's classes key `path` when it is a string
// (REG_SZ or REG_EXPAND_SZ): its text without the terminating NUL.
struct DefaultText {
  bool opened = false;  // the key opened and its values could be read
  bool found = false;   // it has a non-empty string default value
  DWORD type = REG_NONE;
  std::string text;
};
DefaultText ReadDefaultText(IRegistry& registry, const std::string& path);

// The extensions among the machine's classes, other than `except`, whose default
// value names the title `d`, in enumeration order, into *naming. False when
// the classes or one extension could not be read: the list may miss some.
bool ExtensionsNaming(IRegistry& registry, const std::string& d, const std::string& except,
                      std::vector<std::string>* naming);

// "a, b, c, d, e и ещё N": at most five names, then how many more.
std::string NameList(const std::vector<std::string>& names);

}  // namespace zandrel::store
