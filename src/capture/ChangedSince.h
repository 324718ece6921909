// Whether the keys a record names still hold what its change left there:
// the one check behind a crash journal's replay (which never writes over a
// key changed since its record was written) and a history's undo (which
// puts nothing back over a key changed since its change).
#pragma once

#include <string>
#include <vector>

#include "capture/ChangeRecord.h"

namespace zandrel::capture {

enum class Since {
  // A committed change: each key exactly as its entry says the change left
  // it (a created subtree whole, a deleted key missing, values in order).
  kFinished,
  // A change its process died inside, perhaps rolled back in part by a
  // replay that died too: each key missing or there as one of its entries
  // allows, and each of its values (names as the registry compares them;
  // a string with or without its final NUL) in a state an entry knows for
  // it, before or after its write; missing, where the change created or
  // deleted the key or deleted one of its values, while a replay makes it
  // again.
  kUnfinished,
};

// The name of the first key of `entries` (KeyName) that is not as `since`
// allows, into *key, or "". A finished change's created subtrees are read
// in one walk where many share a parent (ReadSubtrees); a key that cannot be
// read fails a finished change's check with its code, and is passed over
// for an unfinished one, whose replay cannot write it either.
LONG FirstChanged(IRegistry& registry, const std::vector<RecordEntry>& entries, Since since, std::string* key);

}  // namespace zandrel::capture
