// The undo record: the prior state of what a change inside a transaction
// touches, appended an entry (ChangeRecord.h: created, deleted, values) at a
// time before the change is let through (UndoJournal.h).
//
// Entries, one line each, texts in hex ("-" when empty):
//   created ROOT PATH                      the key did not exist: delete it
//   values  ROOT PATH N {NAME TYPE DATA} set NAME TYPE DATA | delete NAME
//                                          the key's values before a value change, and the change
//                                          (the values after it, as an entry holds them)
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

#include "capture/ChangeRecord.h"

namespace zandrel::capture {

// The record's first line.
inline constexpr char kUndoRecordHeader[] = "zandrel-undo 1\n";

// The line of a created, deleted or values entry; a values entry must
// differ from its key's values before by the one value its write changed.
std::string EncodeUndoEntry(const RecordEntry& entry);

struct DecodedRecord {
  std::vector<RecordEntry> entries;  // the complete entries, in order
  // The first line (the header is line 1) that is neither an entry nor the
  // final one cut short; 0 when the record is sound.
  std::size_t damaged_line = 0;
};
DecodedRecord DecodeUndoRecord(const std::string& bytes);

}  // namespace zandrel::capture
