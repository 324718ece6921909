// Putting back what a record's keys held before its change: the journal's
// replay (each write leaving a key as it was or as the record has it, so
// that a replay killed at any write is finished by the next) and the
// undo's writes.
#pragma once

#include <string>

#include "capture/ChangeRecord.h"

namespace zandrel::capture {

// Sets `values` on the open `key`, in order: 0 or the first failing code.
LONG SetValues(IRegistry& registry, HKEY key, const RecordedValues& values);

// Makes the values of root\path exactly `values`, their names spelt and
// ordered as there. Each write leaves a value either as it was or as
// `values` has it, but for those set again to be put back in place (on
// registries that enumerate in creation order, after a value before them was
// deleted; or spelt otherwise): those are missing until set, which
// FirstChanged allows for keys whose record deletes.
void RestoreValues(IRegistry& registry, HKEY root, const std::string& path, const RecordedValues& values);

// Deletes root\path and everything below it, deepest first.
void DeleteTree(IRegistry& registry, HKEY root, const std::string& path);

// Deletes root\path only when it holds no key and no value.
void DeleteIfEmpty(IRegistry& registry, HKEY root, const std::string& path);

}  // namespace zandrel::capture
