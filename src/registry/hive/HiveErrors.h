// How the hive's backend failures reach callers as registry codes.
#pragma once

#include "registry/Registry.h"

namespace zandrel::hive {

// Maps a SQLite result code (primary or extended) to a registry code: 0 for
// SQLITE_OK/ROW/DONE, ERROR_BUSY when another process held the hive past the
// busy timeout, ERROR_DISK_FULL, ERROR_BADDB for a damaged or foreign file,
// ERROR_ACCESS_DENIED for a read-only file, ERROR_NOT_ENOUGH_MEMORY, and
// ERROR_REGISTRY_IO_FAILED for I/O and everything else. "Not found" is never
// a SQLite error: the calls answer ERROR_FILE_NOT_FOUND themselves.
LONG CodeFromSqlite(int rc);

}  // namespace zandrel::hive
