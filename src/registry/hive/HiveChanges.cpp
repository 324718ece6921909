#include "registry/hive/HiveImpl.h"

#include <atomic>
#include <cstring>

namespace zandrel::hive {

void HiveRegistry::Impl::MapWalHeader() {
  ++wal_map_attempts;
  sqlite3_file* file = nullptr;
  if (sqlite3_file_control(db, "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK || file == nullptr ||
      file->pMethods == nullptr || file->pMethods->iVersion < 2 || file->pMethods->xShmMap == nullptr) {
    return;
  }
  volatile void* region = nullptr;
  constexpr int kWalIndexRegionBytes = 32768;
  if (file->pMethods->xShmMap(file, 0, kWalIndexRegionBytes, 0, &region) == SQLITE_OK && region != nullptr) {
    wal_header = static_cast<const unsigned char*>(const_cast<void*>(region));
  }
}

LONG HiveRegistry::Impl::CheckVersion() {
  Use use(data_version);
  const int rc = use.Step();
  if (rc != SQLITE_ROW) return CodeFromSqlite(rc);
  const sqlite3_int64 version = sqlite3_column_int64(data_version, 0);
  if (version != seen_data_version) {
    seen_data_version = version;
    DropCaches();
  }
  return ERROR_SUCCESS;
}

LONG HiveRegistry::QueryChangeCounter(std::uint64_t* counter) {
  Impl& m = *impl_;
  // A snapshot held between calls would show the file as it began; inside
  // a scope this instance holds the write lock and nobody else commits.
  if (!m.in_transaction) {
    m.EndRead();
    const LONG code = m.CheckVersion();
    if (code != ERROR_SUCCESS) return code;
  }
  *counter = static_cast<std::uint64_t>(m.seen_data_version);
  return ERROR_SUCCESS;
}

void HiveRegistry::Impl::EndRead() {
  deferred = false;
  if (!reading) return;
  reading = false;
  if (!sqlite3_get_autocommit(db)) Run(commit);
}

LONG HiveRegistry::Impl::Sync() {
  deferred = false;
  if (nodes.size() > kMaxCachedKeys) ClearNodes();
  if (in_transaction) return ERROR_SUCCESS;  // we hold the write lock
  unsigned char header[kWalHeaderBytes];
  if (wal_header != nullptr) {
    std::memcpy(header, wal_header, kWalHeaderBytes);
    std::atomic_thread_fence(std::memory_order_acquire);
    if (seen_wal_header_valid && std::memcmp(header, seen_wal_header, kWalHeaderBytes) == 0) {
      if (reading) return ERROR_SUCCESS;
      if (sqlite3_get_autocommit(db)) {
        deferred = true;
        return ERROR_SUCCESS;
      }
    }
  }
  return BeginSnapshot(header);
}

LONG HiveRegistry::Impl::Reading() {
  if (!deferred) return ERROR_SUCCESS;
  deferred = false;
  unsigned char header[kWalHeaderBytes];
  std::memcpy(header, wal_header, kWalHeaderBytes);
  std::atomic_thread_fence(std::memory_order_acquire);
  return BeginSnapshot(header);
}

LONG HiveRegistry::Impl::BeginSnapshot(const unsigned char* header) {
  EndRead();
  LONG code = Run(begin_read);
  if (code != ERROR_SUCCESS) return code;
  code = CheckVersion();  // also starts the snapshot
  if (code != ERROR_SUCCESS || wal_header == nullptr) {
    // Without the header there is no telling when a snapshot goes stale.
    if (!sqlite3_get_autocommit(db)) Run(commit);
  } else {
    reading = true;
  }
  if (code != ERROR_SUCCESS) return code;
  if (wal_header != nullptr) {
    // Taken before the snapshot began: a commit in between shows as a
    // change next time.
    std::memcpy(seen_wal_header, header, kWalHeaderBytes);
    seen_wal_header_valid = true;
  } else if (wal_map_attempts < 3) {
    MapWalHeader();  // only now has the connection opened the WAL index
  }
  return ERROR_SUCCESS;
}

void HiveRegistry::Impl::EndCall() {
  if (handles.empty()) EndRead();
}

}  // namespace zandrel::hive
