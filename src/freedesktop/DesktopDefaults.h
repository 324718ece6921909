// The user's choice of the program for one of the desktop's own types, as
// the desktop keeps it (the texts only; FreedesktopDesktop writes them):
//   $XDG_CONFIG_HOME/mimeapps.list, and the desktop-specific files that
//     outrank it there: the default line, the entry first among the added
//     associations (as GIO's own writer leaves them)
//   $XDG_DATA_HOME/mime/packages/zandrel-desktop.xml  the types of one
//     extension each, made so that a change of one extension leaves the
//     others of its type as they are
//   $XDG_DATA_HOME/applications/zandrel.program-<id>.desktop  the entry of a
//     program chosen by its path, which has none of its own
// Unlike the projection's files, these are the desktop's own settings: the
// projection neither rewrites nor withdraws them, and the desktop's view reads
// them back as it reads any other program's.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "freedesktop/DesktopMapping.h"

namespace zandrel::freedesktop {

inline constexpr const char* kDesktopTypePrefix = "application/x-zandrel-desktop-";
inline constexpr const char* kProgramEntryPrefix = "zandrel.program-";
inline constexpr const char* kDesktopPackageName = "zandrel-desktop.xml";

// mimeapps.list `text` with `entry` the default of `type`: each line of that
// key in [Default Applications] given the value "entry;", or one added at the
// section's end (the section made at the file's end when there is none); with
// `associate`, the entry also first in the type's [Added Associations] line
// (made likewise) and taken out of its [Removed Associations] line (dropped
// when it names nothing else). Every other line is kept byte for byte.
std::string WithDefault(const std::string& text, const std::string& type, const std::string& entry, bool associate);

// mimeapps.list `text` with `entry` taken out of each line of `type` in
// [Default Applications], a line naming nothing else dropped. Every other
// line is kept byte for byte.
std::string WithoutDefault(const std::string& text, const std::string& type, const std::string& entry);

// Whether [Default Applications] of a mimeapps.list text has a line for `type`.
bool NamesDefault(const std::string& text, const std::string& type);

// The value of `key` in the [Desktop Entry] group of a desktop entry's text,
// its escapes undone; nullopt when it has none.
std::optional<std::string> EntryValue(const std::string& text, const std::string& key);

// The items of a list value ("a;b;").
std::vector<std::string> ListItems(const std::string& value);

// The package text with `type` (a private type of one extension, chosen as
// the projection chooses, named with kDesktopTypePrefix) declared; the same
// text when it is declared already.
std::string WithDesktopType(const std::string& package, const Projection& type);

// The types a package text declares.
std::set<std::string> DeclaredTypes(const std::string& package);

// The entry of the program `name` (shown in application lists), running
// `exec`, for the type `type`.
std::string ProgramEntry(const std::string& name, const std::string& exec, const std::string& type);

}  // namespace zandrel::freedesktop
