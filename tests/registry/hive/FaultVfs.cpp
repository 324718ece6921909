#include "registry/hive/FaultVfs.h"

#include <signal.h>
#include <sqlite3.h>

#include <cstdlib>
#include <map>

namespace zandrel::testing {

namespace {

struct State {
  enum { kNone, kKill, kFull } fault = kNone;
  std::uint64_t kill_at = 0, budget = 0, changes = 0, bytes = 0, refusals = 0, slept = 0;
  std::function<void(std::uint64_t)> on_sleep;
  std::string trace;
};
State g_state;
sqlite3_vfs* g_real = nullptr;
sqlite3_vfs g_vfs;
// A file is the default VFS's own file with the real method table swapped
// for a copy whose write, truncate and sync go through here first; its kind
// is kept just after it.
std::map<const sqlite3_io_methods*, std::pair<sqlite3_io_methods, const sqlite3_io_methods*>> g_methods;

const sqlite3_io_methods* Real(sqlite3_file* f) {
  for (auto& [real, copy] : g_methods)
    if (&copy.first == f->pMethods) return real;
  std::abort();
}
const char*& Kind(sqlite3_file* f) {
  return *reinterpret_cast<const char**>(reinterpret_cast<char*>(f) + g_real->szOsFile);
}

// Counts a change to a file; dies first when it is the chosen one.
void Count() {
  if (++g_state.changes == g_state.kill_at && g_state.fault == State::kKill) ::raise(SIGKILL);
}
void Change(sqlite3_file* f, const char* what) {
  g_state.trace += std::string(what) + " " + Kind(f) + ",";
  Count();
}
int Write(sqlite3_file* f, const void* buffer, int amount, sqlite3_int64 offset) {
  if (g_state.fault == State::kFull && g_state.bytes + static_cast<std::uint64_t>(amount) > g_state.budget) {
    ++g_state.refusals;
    return SQLITE_FULL;
  }
  Change(f, "w");
  g_state.bytes += static_cast<std::uint64_t>(amount);
  return Real(f)->xWrite(f, buffer, amount, offset);
}
int Truncate(sqlite3_file* f, sqlite3_int64 size) {
  Change(f, "t");
  return Real(f)->xTruncate(f, size);
}
int Sync(sqlite3_file* f, int flags) {
  Change(f, "s");
  return Real(f)->xSync(f, flags);
}

int Open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* f, int flags, int* out_flags) {
  const int rc = g_real->xOpen(g_real, name, f, flags, out_flags);
  Kind(f) = (flags & SQLITE_OPEN_WAL) ? "wal" : (flags & SQLITE_OPEN_MAIN_DB) ? "db" : "journal";
  if (f->pMethods != nullptr) {
    auto [it, added] = g_methods.try_emplace(f->pMethods, *f->pMethods, f->pMethods);
    if (added) {
      it->second.first.xWrite = Write;
      it->second.first.xTruncate = Truncate;
      it->second.first.xSync = Sync;
    }
    f->pMethods = &it->second.first;
  }
  return rc;
}
int Delete(sqlite3_vfs*, const char* name, int sync_dir) {
  Count();
  return g_real->xDelete(g_real, name, sync_dir);
}
int Sleep(sqlite3_vfs*, int microseconds) {
  if (!g_state.on_sleep) return g_real->xSleep(g_real, microseconds);
  g_state.slept += static_cast<std::uint64_t>(microseconds);
  g_state.on_sleep(g_state.slept);
  return microseconds;
}

}  // namespace

void FaultVfs::Install() {
  if (g_real != nullptr) return;
  g_real = sqlite3_vfs_find(nullptr);
  g_vfs = *g_real;
  g_vfs.pNext = nullptr;
  g_vfs.zName = "zandrel-fault";
  g_vfs.pAppData = g_real->pAppData;
  g_vfs.szOsFile = g_real->szOsFile + static_cast<int>(sizeof(const char*));
  g_vfs.xOpen = Open;
  g_vfs.xDelete = Delete;
  g_vfs.xSleep = Sleep;
  sqlite3_vfs_register(&g_vfs, 1);
}

void FaultVfs::KillAtChange(std::uint64_t n) {
  Disarm();
  g_state.fault = n > 0 ? State::kKill : State::kNone;
  g_state.kill_at = n;
}
void FaultVfs::FullAfterBytes(std::uint64_t budget) {
  Disarm();
  g_state.fault = State::kFull;
  g_state.budget = budget;
}
void FaultVfs::VirtualSleep(std::function<void(std::uint64_t)> onSleep) {
  Disarm();
  g_state.on_sleep = std::move(onSleep);
}
void FaultVfs::Disarm() { g_state = State{}; }
std::uint64_t FaultVfs::Changes() { return g_state.changes; }
std::uint64_t FaultVfs::BytesWritten() { return g_state.bytes; }
std::uint64_t FaultVfs::FullRefusals() { return g_state.refusals; }
std::uint64_t FaultVfs::Slept() { return g_state.slept; }
const std::string& FaultVfs::Trace() { return g_state.trace; }

}  // namespace zandrel::testing
