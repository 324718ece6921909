// The seam between the programs and the desktop they run on: what the
// desktop lays under the store (a read-only overlay of its own associations),
// what follows a change (its files brought in line, its shell told), what
// explains the program an extension opens with here, and what still decides
// after a change. One realisation per desktop: freedesktop/ (Linux) and
// windows/; the program's assembly (assembly/) picks it. The store, the
// window and the command-line verbs know only this interface; where they are
// given none, the desktop adds nothing.
#pragma once

#include <string>
#include <vector>

#include "registry/Registry.h"
#include "status/Status.h"

namespace zandrel::integration {

// What a closing message adds about what still decides after a change, and
// the question that offers the desktop's own settings page.
struct StillDeciding {
  std::string note;      // "" or a text beginning with a blank line ("\r\n\r\n")
  std::string question;  // asked (default No) when not "": Yes opens the default apps page
};

// The lines of a note, each without its line end ("\r\n"), blank ones left
// out: how a command-line tool shows it.
inline std::vector<std::string> NoteLines(const std::string& note) {
  std::vector<std::string> lines;
  for (std::size_t at = 0; (at = note.find_first_not_of("\r\n", at)) != std::string::npos;) {
    const std::size_t end = note.find("\r\n", at);
    lines.push_back(note.substr(at, end == std::string::npos ? end : end - at));
    at = end;
  }
  return lines;
}

// How the desktop followed a change.
struct Followed {
  std::string shown;  // what the window shows when the desktop did not follow, in the program's language; ""
  std::string error;  // the one line a command-line tool fails with; "" when it did follow
};

// What a change of the program of one of the desktop's own extensions
// does, or would do (Desktop::ChangeOwnProgram).
struct OwnProgramChange {
  bool handled = false;    // false: this desktop changes none of its own (the store refuses)
  std::string refusal;     // why nothing is changed, in the program's words; "" when it goes ahead
  std::string type;        // what the extension names before the change (Linux: its MIME type)
  std::string oldCommand;  // the command its files open with before; "" when none
  std::string newCommand;
  std::vector<std::string> sharing;  // the other extensions whose files the change gives the program too
  std::vector<std::string> lines;    // what it did (or would do), a line each, no line ends
  bool unchanged = false;            // the extension already opens with the program: nothing to write
  bool wrote = false;                // got as far as writing, committed or not
  bool committed = false;
};

// An association that opens nothing here, as `zandrel-reg check` finds it.
struct BrokenAssociation {
  std::string extension;   // ".e"
  std::string reason;      // a code that names why ("program-missing", "entry-missing", ...)
  std::string detail;      // what it names that is not there: a program, a title, an entry
  std::string where;       // where it lives: a registry key's path or a file's
  bool removable = false;  // Zandrel may remove it: its own store, the user's own mimeapps.list
  bool operator==(const BrokenAssociation&) const = default;
};

// What became of the desktop's findings given to Desktop::RemoveBroken.
struct BrokenRemoval {
  std::vector<BrokenAssociation> removed;  // still broken, and removed in the caller's transaction
  std::vector<BrokenAssociation> kept;     // not the desktop's to remove, each with where it lives
  std::vector<BrokenAssociation> mended;   // no longer broken when read again: left as they are
  std::string failure;                     // "" or why nothing may be removed, a sentence: the caller rolls back
};

// The reason codes of the desktop's own findings.
inline constexpr const char* kEntryMissing = "entry-missing";                 // a default names no entry here
inline constexpr const char* kEntryProgramMissing = "entry-program-missing";  // an entry's TryExec/Exec is not here
inline constexpr const char* kNoTerminal = "no-terminal";                     // a terminal program, and no terminal
inline constexpr const char* kProgIdMissing = "progid-missing";               // a choice naming a missing ProgID

class Desktop {
 public:
  virtual ~Desktop() = default;

  // The classes store as the programs see it: the registry the desktop was
  // given, or that laid over the desktop's own associations. Lives as long
  // as this object; every change goes through it.
  virtual IRegistry& Classes() = 0;

  // Whether root\path is a key of the desktop's own associations, which no
  // change may touch. Reads the desktop's associations again when they
  // changed, so that ViewError() is their state now.
  virtual bool KeyIsDesktops(HKEY root, const std::string& path) {
    (void)root;
    (void)path;
    return false;
  }
  // Why the desktop's own associations could not be read when the classes
  // root was last opened (its keys then being the given registry's alone);
  // "" when they were read, or there are none.
  virtual std::string ViewError() { return ""; }

  // After a change of the associations naming `extension` (as given, "" for
  // a change of several). `committed`: the registry holds it; otherwise the
  // change got as far as writing and was rolled back.
  virtual Followed AfterChange(const std::string& extension, bool committed) = 0;

  // What decides the program that opens `extension` (".e") here, as lines
  // into *out, to be written out even when the status that follows fails.
  virtual status::Status Explain(const std::string& extension, std::string* out) = 0;

  // Makes the application `app` (Linux: a desktop entry's id; Windows: a
  // name of the machine's RegisteredApplications) the default for every
  // extension it declares, as one change, through `registry` (Classes(), the
  // history laid over it by the caller's stack). Lines into *out, no line
  // ends: each extension changed, then where something else still wins;
  // written even when the status that follows fails.
  virtual status::Status Prefer(IRegistry& registry, const std::string& app, std::vector<std::string>* out) {
    (void)registry;
    (void)app;
    (void)out;
    return {status::Status::kFailed, "this desktop keeps no applications to prefer"};
  }

  // The change of the program that opens `extension` (".e", one of the
  // desktop's own keys) to `program`: on Linux a desktop entry's id
  // ("org.gnome.eog.desktop"), or the absolute path of a program checked as
  // the add checks it, whose open command is then `command`. Only the
  // extension changes, unless `everyExtension`. With `write`, made as one
  // change through `registry` (Classes(): its transaction and the history
  // under it, which keeps what the change wrote in the desktop's files);
  // otherwise only read.
  virtual OwnProgramChange ChangeOwnProgram(IRegistry& registry, const std::string& extension,
                                            const std::string& program, const std::string& command, bool everyExtension,
                                            bool write) {
    (void)registry;
    (void)extension;
    (void)program;
    (void)command;
    (void)everyExtension;
    (void)write;
    return {};
  }

  // The desktop's own associations of `extensions` (".e" each; all when
  // empty) that open nothing here, beside those of the store.
  virtual std::vector<BrokenAssociation> FindBroken(const std::vector<std::string>& extensions) {
    (void)extensions;
    return {};
  }

  // Removes those of `broken` (FindBroken's, the desktop's own findings)
  // that are still broken and the desktop's to remove, through `registry`
  // (Classes()), inside the transaction the caller has begun and commits:
  // files are handed to the history's keeping, registry values written in
  // it, so that they land with the caller's change or not at all. Read again
  // under that transaction, so that what another program mended since the
  // check is left as it is. A file that cannot be written fails the commit,
  // *fileFailure (which must live until then) naming it.
  virtual BrokenRemoval RemoveBroken(IRegistry& registry, const std::vector<BrokenAssociation>& broken,
                                     std::string* fileFailure) {
    (void)registry;
    (void)fileFailure;
    BrokenRemoval removal;
    removal.kept = broken;
    return removal;
  }

  // What still decides for this user once `extension`'s key names `title`
  // ("" after a removal), read through `registry` (the store's registry,
  // Classes() or a wrapper over it).
  virtual StillDeciding StillDecides(IRegistry& registry, const std::string& extension, const std::string& title) {
    (void)registry;
    (void)extension;
    (void)title;
    return {};
  }
};

}  // namespace zandrel::integration
