// The undo record: the prior state of what a change inside a transaction
// touches, appended an entry at a time before the change is let through
// (UndoJournal.h).
//
// Entries, one line each, texts in hex ("-" when empty):
//   created ROOT PATH                      the key did not exist: delete it
//   values  ROOT PATH N {NAME TYPE DATA} set NAME TYPE DATA | delete NAME
//                                          the key's values before a value change, and the change
//   deleted ROOT PATH N {NAME TYPE DATA}   the key and its values before deletion
// A line without its final newline is a write the process died inside; the
// change it announced never started, and the line is ignored. Any other line
// that does not read as an entry (or a first line that is not the header)
// makes the whole record damaged. A path is components joined by one "\",
// none empty; neither a path nor a value name holds a NUL, which the registry
// would read as its end.
#pragma once

#include <string>
#include <vector>

#include "registry/Registry.h"

namespace zandrel::capture {

// The record's first line.
inline constexpr char kUndoRecordHeader[] = "zandrel-undo 1\n";

struct UndoValue {
  std::string name;
  DWORD type = REG_NONE;
  std::string data;
};

struct UndoEntry {
  enum class Kind { kCreated, kValues, kDeleted };
  Kind kind = Kind::kCreated;
  HKEY root = 0;
  std::string path;  // below root, components joined by one "\"
  std::vector<UndoValue> values;
  // A values entry: the change about to be made, a value set (or, with
  // `deleting`, the value of that name deleted). What the key may hold when
  // the record is replayed is the values before or after it.
  bool deleting = false;
  UndoValue change;
};

std::string EncodeUndoEntry(const UndoEntry& entry);

struct DecodedRecord {
  std::vector<UndoEntry> entries;  // the complete entries, in order
  // The first line (the header is line 1) that is neither an entry nor the
  // final one cut short; 0 when the record is sound.
  std::size_t damaged_line = 0;
};
DecodedRecord DecodeUndoRecord(const std::string& bytes);

}  // namespace zandrel::capture
