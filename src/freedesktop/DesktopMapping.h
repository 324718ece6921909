// How one association of the classes store reads in the freedesktop data: the
// MIME type its extension gets, the desktop entry its open command becomes,
// and the texts of the files that carry them. Pure text work; the files
// themselves are DesktopProjection's.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "freedesktop/MimeDatabase.h"

namespace zandrel::freedesktop {

// One association of the classes store, as the store's listing reads it.
struct StoreRow {
  std::string extension;    // ".e"
  std::string description;  // the title the extension names
  std::string command;      // the title's open command, as stored
};

// Every desktop entry Zandrel writes is named "zandrel-<id>.desktop", and every
// private MIME type "application/x-zandrel-<id>": the prefixes are the mark
// by which its files and mimeapps.list lines are told from other programs'.
// The id is the extension with ASCII letters lower-cased, digits as they are
// and every other byte "_" and two hex digits; past
// kMaxIdLength its head and "-" and a hash of the whole, so that any
// extension gives a file name well within the 255 bytes of a name.
inline constexpr const char* kEntryPrefix = "zandrel-";
inline constexpr const char* kPrivateTypePrefix = "application/x-zandrel-";
inline constexpr const char* kPackageFileName = "zandrel.xml";
inline constexpr std::size_t kMaxIdLength = 64;
std::string ExtensionId(const std::string& extensionWithoutDot);

// Whether a path names a program this machine can run.
using ProgramCheck = std::function<bool(const std::string&)>;

// A command split into the program and its arguments, as Windows reads it: a
// quoted first word is the program; unquoted, the shortest run of words that
// names a program (so "/opt/my app/run %1" finds "/opt/my app/run").
struct ParsedCommand {
  std::string program;
  std::vector<std::string> args;
};
std::optional<ParsedCommand> ParseCommand(const std::string& command, const ProgramCheck& isProgram);

// The Exec value of a desktop entry for the command, escaped for the file:
// "%1" and "%L" become the file field code %f (appended when the command has
// none), other arguments are quoted by the Desktop Entry rules. Empty when an
// argument cannot be said there (a file argument inside a text that needs
// quotes).
std::string ExecValue(const ParsedCommand& command);

// The reverse of ExecValue: a desktop entry's Exec value (as the key file
// reader returns it, key-file escapes undone) in the Windows form the writer
// uses. The program is `program` (the first word resolved to a path), quoted;
// %f %F %u %U become "%1"; %i, %c and %k become what a launcher passes (the
// icon option, the name, the entry's file); other field codes are dropped;
// other arguments are kept, quoted when they hold a blank. Empty when the
// value has an unclosed quote or no program.
struct EntryFacts {
  std::string program;  // absolute path of the Exec's first word
  std::string name;     // Name=, for %c
  std::string icon;     // Icon=, for %i
  std::string file;     // the entry's path, for %k
};
std::string CommandFromExec(const std::string& exec, const EntryFacts& facts);
// The first word of an Exec value, its quotes undone; "" when there is none.
std::string ExecProgram(const std::string& exec);

// What the projection makes of one association. Files named "x.ext" get
// the type GIO guesses for them when no other name or type depends on it (it
// has that one glob and no subtypes); else a private type of its own, a
// subclass of that type (so that content sniffing still settles on it),
// whose glob outweighs the system's for "*.ext" and is case-sensitive when
// another case of the name has a glob of its own. The system's longer globs
// that end in ".ext" (*.tar.gz for .gz) are declared again beside it: GIO
// takes the longest glob of each MIME folder, so without them the private
// glob would take their files too.
struct Projection {
  std::string extension;    // ".ext", as listed
  std::string description;  // the title, valid UTF-8
  std::string mimeType;
  bool privateType = false;  // declared in Zandrel's package file
  std::string parentType;    // a private type's system type, "" when the name has none
  std::string glob;          // a private type's glob
  int weight = 0;            // its weight, 0 for the default
  bool caseSensitive = false;
  std::vector<MimeGlob> kept;  // the other globs declared again
  std::string entryId;         // "zandrel-<id>.desktop"
  std::string exec;            // the Exec value
};

// Picks the type files named "x.ext" get (`ext` without its dot) into p's
// mimeType, privateType, parentType, glob, weight, caseSensitive and kept,
// as the projection picks it.
void ChooseType(const std::string& ext, const MimeDatabase& mime, Projection& p);

// An association that does not open files here, and why, in the program's
// language.
struct ProjectionFailure {
  std::string extension;  // ".ext", as listed
  std::string reason;
};

// The associations that can be projected, in the listing's order; those whose
// program is not here (or whose extension or command cannot be said in the
// freedesktop files, or whose extension holds a character past ASCII, which
// GIO's glob matching never finds) are left out, each with its reason in
// `unprojected`.
std::vector<Projection> MapAssociations(const std::vector<StoreRow>& rows, const MimeDatabase& mime,
                                        const ProgramCheck& isProgram,
                                        std::vector<ProjectionFailure>* unprojected = nullptr);

// A desktop entry's string value: backslashes and line breaks escaped.
std::string KeyFileEscaped(const std::string& s);

// The texts of the files. MimePackage is empty when no type is private.
std::string MimePackage(const std::vector<Projection>& projections);
std::string DesktopEntry(const Projection& projection);

// mimeapps.list with Zandrel's defaults brought in line with `projections`:
// its own lines in [Default Applications] (those naming only zandrel-
// entries) replaced, every other line kept byte for byte. A type that another
// program's line already names keeps that program. Returns "" for a file
// left with nothing but an empty [Default Applications] header.
std::string MergeMimeApps(const std::string& old, const std::vector<Projection>& projections);

// Whether a mimeapps.list value ("a.desktop;b.desktop;") names Zandrel's
// entries only.
bool IsOwnDefault(const std::string& value);

}  // namespace zandrel::freedesktop
