#include "reliability/FaultVfs.h"

#include <signal.h>
#include <sqlite3.h>

#include <cstdlib>
#include <cstring>

namespace zandrel::testing {

namespace {

enum class Fault { kNone, kKill, kFull };

struct State {
  Fault fault = Fault::kNone;
  std::uint64_t kill_at = 0;
  std::uint64_t budget = 0;
  std::uint64_t changes = 0;
  std::uint64_t bytes = 0;
  std::uint64_t refusals = 0;
};
State g_state;
sqlite3_vfs* g_real = nullptr;
sqlite3_vfs g_vfs;

struct File {
  sqlite3_file base;
  sqlite3_file* real() { return reinterpret_cast<sqlite3_file*>(this + 1); }
};

File* Cast(sqlite3_file* f) { return reinterpret_cast<File*>(f); }
const sqlite3_io_methods* Real(sqlite3_file* f) { return Cast(f)->real()->pMethods; }

// Counts one change; dies first when it is the chosen one.
void Change() {
  ++g_state.changes;
  if (g_state.fault == Fault::kKill && g_state.changes == g_state.kill_at) ::raise(SIGKILL);
}

int Close(sqlite3_file* f) { return Real(f)->xClose(Cast(f)->real()); }
int Read(sqlite3_file* f, void* buffer, int amount, sqlite3_int64 offset) {
  return Real(f)->xRead(Cast(f)->real(), buffer, amount, offset);
}
int Write(sqlite3_file* f, const void* buffer, int amount, sqlite3_int64 offset) {
  if (g_state.fault == Fault::kFull && g_state.bytes + static_cast<std::uint64_t>(amount) > g_state.budget) {
    ++g_state.refusals;
    return SQLITE_FULL;
  }
  Change();
  g_state.bytes += static_cast<std::uint64_t>(amount);
  return Real(f)->xWrite(Cast(f)->real(), buffer, amount, offset);
}
int Truncate(sqlite3_file* f, sqlite3_int64 size) {
  Change();
  return Real(f)->xTruncate(Cast(f)->real(), size);
}
int Sync(sqlite3_file* f, int flags) {
  Change();
  return Real(f)->xSync(Cast(f)->real(), flags);
}
int FileSize(sqlite3_file* f, sqlite3_int64* size) { return Real(f)->xFileSize(Cast(f)->real(), size); }
int Lock(sqlite3_file* f, int level) { return Real(f)->xLock(Cast(f)->real(), level); }
int Unlock(sqlite3_file* f, int level) { return Real(f)->xUnlock(Cast(f)->real(), level); }
int CheckReservedLock(sqlite3_file* f, int* out) { return Real(f)->xCheckReservedLock(Cast(f)->real(), out); }
int FileControl(sqlite3_file* f, int op, void* arg) { return Real(f)->xFileControl(Cast(f)->real(), op, arg); }
int SectorSize(sqlite3_file* f) { return Real(f)->xSectorSize(Cast(f)->real()); }
int DeviceCharacteristics(sqlite3_file* f) { return Real(f)->xDeviceCharacteristics(Cast(f)->real()); }
int ShmMap(sqlite3_file* f, int region, int size, int extend, void volatile** out) {
  return Real(f)->xShmMap(Cast(f)->real(), region, size, extend, out);
}
int ShmLock(sqlite3_file* f, int offset, int n, int flags) { return Real(f)->xShmLock(Cast(f)->real(), offset, n, flags); }
void ShmBarrier(sqlite3_file* f) { Real(f)->xShmBarrier(Cast(f)->real()); }
int ShmUnmap(sqlite3_file* f, int remove) { return Real(f)->xShmUnmap(Cast(f)->real(), remove); }
int Fetch(sqlite3_file* f, sqlite3_int64 offset, int amount, void** out) {
  return Real(f)->xFetch(Cast(f)->real(), offset, amount, out);
}
int Unfetch(sqlite3_file* f, sqlite3_int64 offset, void* p) { return Real(f)->xUnfetch(Cast(f)->real(), offset, p); }

const sqlite3_io_methods kMethods = {3,        Close,     Read,     Write,      Truncate,    Sync,
                                     FileSize, Lock,      Unlock,   CheckReservedLock, FileControl,
                                     SectorSize, DeviceCharacteristics, ShmMap, ShmLock, ShmBarrier,
                                     ShmUnmap, Fetch,     Unfetch};

int Open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* f, int flags, int* out_flags) {
  File* file = Cast(f);
  std::memset(&file->base, 0, sizeof file->base);
  const int rc = g_real->xOpen(g_real, name, file->real(), flags, out_flags);
  file->base.pMethods = file->real()->pMethods != nullptr ? &kMethods : nullptr;
  return rc;
}
int Delete(sqlite3_vfs*, const char* name, int sync_dir) {
  Change();
  return g_real->xDelete(g_real, name, sync_dir);
}
int Access(sqlite3_vfs*, const char* name, int flags, int* out) { return g_real->xAccess(g_real, name, flags, out); }
int FullPathname(sqlite3_vfs*, const char* name, int n, char* out) {
  return g_real->xFullPathname(g_real, name, n, out);
}
void* DlOpen(sqlite3_vfs*, const char* name) { return g_real->xDlOpen(g_real, name); }
void DlError(sqlite3_vfs*, int n, char* out) { g_real->xDlError(g_real, n, out); }
void (*DlSym(sqlite3_vfs*, void* handle, const char* symbol))(void) { return g_real->xDlSym(g_real, handle, symbol); }
void DlClose(sqlite3_vfs*, void* handle) { g_real->xDlClose(g_real, handle); }
int Randomness(sqlite3_vfs*, int n, char* out) { return g_real->xRandomness(g_real, n, out); }
int Sleep(sqlite3_vfs*, int microseconds) { return g_real->xSleep(g_real, microseconds); }
int CurrentTime(sqlite3_vfs*, double* out) { return g_real->xCurrentTime(g_real, out); }
int GetLastError(sqlite3_vfs*, int n, char* out) { return g_real->xGetLastError(g_real, n, out); }
int CurrentTimeInt64(sqlite3_vfs*, sqlite3_int64* out) { return g_real->xCurrentTimeInt64(g_real, out); }

}  // namespace

void FaultVfs::Install() {
  if (g_real != nullptr) return;
  g_real = sqlite3_vfs_find(nullptr);
  if (g_real == nullptr) std::abort();
  g_vfs = sqlite3_vfs{};
  g_vfs.iVersion = 2;
  g_vfs.szOsFile = static_cast<int>(sizeof(File)) + g_real->szOsFile;
  g_vfs.mxPathname = g_real->mxPathname;
  g_vfs.zName = "zandrel-fault";
  g_vfs.xOpen = Open;
  g_vfs.xDelete = Delete;
  g_vfs.xAccess = Access;
  g_vfs.xFullPathname = FullPathname;
  g_vfs.xDlOpen = DlOpen;
  g_vfs.xDlError = DlError;
  g_vfs.xDlSym = DlSym;
  g_vfs.xDlClose = DlClose;
  g_vfs.xRandomness = Randomness;
  g_vfs.xSleep = Sleep;
  g_vfs.xCurrentTime = CurrentTime;
  g_vfs.xGetLastError = GetLastError;
  g_vfs.xCurrentTimeInt64 = CurrentTimeInt64;
  sqlite3_vfs_register(&g_vfs, 1);
}

void FaultVfs::KillAtChange(std::uint64_t n) {
  Disarm();
  g_state.fault = n > 0 ? Fault::kKill : Fault::kNone;
  g_state.kill_at = n;
}

void FaultVfs::FullAfterBytes(std::uint64_t budget) {
  Disarm();
  g_state.fault = Fault::kFull;
  g_state.budget = budget;
}

void FaultVfs::Disarm() { g_state = State{}; }

std::uint64_t FaultVfs::Changes() { return g_state.changes; }
std::uint64_t FaultVfs::BytesWritten() { return g_state.bytes; }
std::uint64_t FaultVfs::FullRefusals() { return g_state.refusals; }

}  // namespace zandrel::testing
