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
// change it announced never started, and the line is ignored.
#pragma once

#include <string>
#include <vector>

#include "registry/Registry.h"

namespace zandrel::journal {

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
// The complete entries of a record, in order; stops at the first line that is
// cut short or malformed.
std::vector<UndoEntry> DecodeUndoRecord(const std::string& bytes);

}  // namespace zandrel::journal
