// Undoing a change of the history: all or nothing, itself a change of the
// history (it can be undone in turn), and refused with nothing changed when
// a key the change touched is no longer as the change left it, or when a
// later change still standing touched a key the undo would delete or put
// back (the later change relies on it), or when an extension the undo leaves
// names a title it would delete (its files would open with nothing).
#pragma once

#include <functional>
#include <string>

#include "capture/HistoryRegistry.h"

namespace zandrel::store {

struct UndoOutcome {
  enum class Result {
    kUndone,
    kNothing,
    kNothingToRedo,
    kUnknown,
    kAlreadyUndone,
    kReliedOn,
    kNamed,
    kChangedSince,
    kFailed
  };
  Result result = Result::kNothing;
  unsigned change = 0;  // the change undone, or asked for
  // kUndone: the undo's own number; kAlreadyUndone: the change that undid
  // it; kReliedOn: the later change that relies on `key`
  unsigned number = 0;
  std::string title;     // what the change was (ChangeTitle)
  std::size_t keys = 0;  // kUndone: the keys it touched
  // kChangedSince: the first key that differs; kReliedOn: the key relied on;
  // kNamed: the title (its name in the classes) that `extension` names
  std::string key;
  std::string extension;  // kNamed: an extension the undo leaves, naming a title it would delete
  LONG code = 0;          // kFailed: the registry's code
  // kChangedSince: the first place of the desktop's files not as the change
  // left them ("PATH, строка N", or PATH), when no key differs; kFailed:
  // why a file could not be written back, when that failed it.
  std::string file;
};

// Which change an undo without a number takes.
// clang-format off
enum class Newest {
  kChange,  // undo: the newest change neither undone nor an undo itself, so that undos walk back
  kUndo,    // redo: the newest undo not undone, unless it undid an undo (then it is a redo itself)
};
// clang-format on

// The change the next undo without a number undoes (`which`). False when
// there is none, or the history cannot be read: then *code (when given) is
// the reading's code, otherwise 0.
bool NewestUndoable(IRegistry& registry, capture::HistoryEntry* entry, LONG* code = nullptr,
                    Newest which = Newest::kChange);

// How far an undo is, for a caller that shows it: `done` of the `total` keys
// the change touched (UndoOutcome::keys) are put back. Called after each key
// put back, and, with `done` still 0, after each key read while the undo
// checks them first, so that the calls keep coming through a long undo;
// never once the undo commits.
using UndoProgress = std::function<void(std::size_t done, std::size_t total)>;

// Undoes change `change` (0: the newest of `which`) through `history`, so
// that the undo is kept in its turn. Only `history`'s inner registry is
// read and written: on Linux the hive, never the desktop's own keys; and
// the desktop's files whose lines the change touched get their lines back,
// written after the keys, just before the commit, and given back what they
// held when the commit fails.
UndoOutcome UndoChange(capture::HistoryRegistry& history, unsigned change, const UndoProgress& progress = {},
                       Newest which = Newest::kChange);

// The outcome in the program's words, one line; a refusal that
// RefusalText explains ends with its explanation.
std::string UndoMessage(const UndoOutcome& outcome);
// The history could not be read (`code`), in the program's words, with
// RefusalText's explanation (a user who is not an administrator may not
// read the machine's history on Windows).
std::string HistoryUnreadable(LONG code);

}  // namespace zandrel::store
