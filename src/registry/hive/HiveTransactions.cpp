// The transaction scope over the hive's connection, and the space a commit
// gives back.
#include "registry/hive/HiveImpl.h"

#include <fcntl.h>
#include <unistd.h>

namespace zandrel::hive {

LONG HiveRegistry::BeginTransaction() {
  Impl& m = *impl_;
  if (m.read_only) return ERROR_ACCESS_DENIED;
  if (m.in_transaction) return ERROR_INVALID_PARAMETER;  // scopes do not nest
  m.EndRead();
  LONG code = Impl::Run(m.begin);
  if (code != ERROR_SUCCESS) return code;
  code = m.CheckVersion();
  if (code != ERROR_SUCCESS) {
    Impl::Run(m.rollback);
    return code;
  }
  m.in_transaction = true;
  return ERROR_SUCCESS;
}

namespace {

// How free a hive must be before a commit gives the space back: a quarter of
// its pages, and at least this many.
constexpr int kCompactAfterFreePages = 64;

// 64-bit: a damaged file's header can claim any count.
sqlite3_int64 PragmaNumber(sqlite3* db, const char* sql) {
  sqlite3_stmt* stmt = nullptr;
  sqlite3_int64 n = 0;
  if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW)
    n = sqlite3_column_int64(stmt, 0);
  sqlite3_finalize(stmt);
  return n;
}

// SQLite reuses the pages a deletion frees but never gives them back: after
// a commit that left much of the file free (the history dropping an
// import's records, an import undone) the file is rebuilt at its size now.
// Best effort: a hive another process is reading stays as large until later.
void CompactWhenSparse(HiveRegistry::Impl& m) {
  const sqlite3_int64 free = PragmaNumber(m.db, "PRAGMA freelist_count");
  if (free < kCompactAfterFreePages || free * 4 < PragmaNumber(m.db, "PRAGMA page_count")) return;
  if (sqlite3_exec(m.db, "VACUUM", nullptr, nullptr, nullptr) == SQLITE_OK)
    sqlite3_wal_checkpoint_v2(m.db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
  m.DropCaches();
}

}  // namespace

LONG HiveRegistry::CommitTransaction() {
  Impl& m = *impl_;
  if (m.read_only) return ERROR_ACCESS_DENIED;
  if (!m.in_transaction) return ERROR_INVALID_PARAMETER;
  const LONG code = Impl::Run(m.commit);
  if (code != ERROR_SUCCESS && sqlite3_get_autocommit(m.db)) {
    m.in_transaction = false;  // SQLite already rolled back
    m.DropCaches();
    m.CutOffVanishedKeys();
  }
  if (code == ERROR_SUCCESS) m.in_transaction = false;
  if (code == ERROR_SUCCESS && !m.building) CompactWhenSparse(m);
  if (code == ERROR_SUCCESS && m.building) {
    // Only a start: the sync that follows is what makes the file durable.
    const int fd = ::open(m.path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
      ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
      ::close(fd);
    }
  }
  return code;
}

void HiveRegistry::RollbackTransaction() {
  Impl& m = *impl_;
  if (!m.in_transaction) return;
  if (!sqlite3_get_autocommit(m.db)) Impl::Run(m.rollback);
  m.in_transaction = false;
  m.DropCaches();
  m.CutOffVanishedKeys();
}

}  // namespace zandrel::hive
