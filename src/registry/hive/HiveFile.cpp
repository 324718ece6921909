#include "registry/hive/HiveImpl.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>  // renameat2
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "registry/Wait.h"

namespace zandrel::hive {

namespace {

// Marks a SQLite file as a hive ("ZREG"); user_version is the schema's version.
constexpr int kApplicationId = 0x5A524547;
constexpr int kSchemaVersion = 1;

// keys: one row per key. upper_name is the comparison key of the name; the
// unique index on (parent, upper_name) finds a child by name and hands out
// the children in enumeration order. AUTOINCREMENT keeps the id of a deleted
// key from being given to a new one, so a stale handle never reaches a
// stranger. depth counts levels below the key's root (the classes root is a
// root of its own) and enforces the nesting limit without walking up.
// vals: one row per value; rowid order is creation order.
constexpr const char* kSchema = R"sql(
CREATE TABLE keys(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  parent INTEGER NOT NULL,
  name BLOB NOT NULL,
  upper_name BLOB NOT NULL,
  depth INTEGER NOT NULL);
CREATE UNIQUE INDEX keys_by_name ON keys(parent, upper_name);
CREATE TABLE vals(
  id INTEGER PRIMARY KEY,
  key INTEGER NOT NULL,
  name BLOB NOT NULL,
  upper_name BLOB NOT NULL,
  type INTEGER NOT NULL,
  data BLOB NOT NULL);
CREATE UNIQUE INDEX vals_by_name ON vals(key, upper_name);
INSERT INTO keys(id, parent, name, upper_name, depth) VALUES
  (1, 0, CAST('HKEY_LOCAL_MACHINE' AS BLOB), CAST('HKEY_LOCAL_MACHINE' AS BLOB), 0),
  (2, 0, CAST('HKEY_CURRENT_USER' AS BLOB), CAST('HKEY_CURRENT_USER' AS BLOB), 0),
  (3, 0, CAST('HKEY_USERS' AS BLOB), CAST('HKEY_USERS' AS BLOB), 0),
  (4, 1, CAST('SOFTWARE' AS BLOB), CAST('SOFTWARE' AS BLOB), 1),
  (5, 4, CAST('Classes' AS BLOB), CAST('CLASSES' AS BLOB), 0);
)sql";

using status::Status;

std::string Quote(const std::string& path) { return "\"" + path + "\""; }

Status Failed(const char* what, const std::string& path, const std::string& reason) {
  return {Status::kFailed, std::string("cannot ") + what + " the registry hive " + Quote(path) + ": " + reason};
}

Status NotAHive(const std::string& path, const std::string& why, Status::Code code = Status::kInvalid) {
  return {code, Quote(path) + " is not a registry hive: " + why};
}

std::string ParentOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// Whether this process may write `path` (by the effective ids, as the
// open itself would be judged).
bool MayWrite(const std::string& path) { return ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0; }

// Whether a failed read-write open of the hive at path failed for want of
// write access to the file or its folder (WAL and shared-memory files).
bool NoWriteAccess(int failure, const std::string& path) {
  const int primary = failure & 0xFF;
  if (primary != SQLITE_READONLY && primary != SQLITE_CANTOPEN && primary != SQLITE_PERM) {
    return false;
  }
  return !MayWrite(path) || !MayWrite(ParentOf(path));
}

// Whether the hive's WAL holds commits not yet copied into the file, which
// an immutable open would not see.
bool WalHasContent(const std::string& path) {
  struct stat st {};
  return ::stat((path + "-wal").c_str(), &st) == 0 && st.st_size > 0;
}

// Creates the missing folders of path's parent, each with mode 0700.
Status MakeParents(const std::string& path) {
  for (std::size_t pos = path.find('/', 1); pos != std::string::npos; pos = path.find('/', pos + 1)) {
    const std::string dir = path.substr(0, pos);
    if (dir.empty() || dir.back() == '/') continue;
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
      return {Status::kFailed, "cannot create the folder " + Quote(dir) + " for the registry hive " + Quote(path) +
                                   ": " + std::strerror(errno)};
    }
  }
  return {};
}

// Checks the first 100 bytes: a SQLite file carrying the hive's application id.
Status LooksLikeHive(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Failed("open", path, std::strerror(errno));
  struct stat st {};
  unsigned char header[100];
  ssize_t got = 0;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) got = ::read(fd, header, sizeof header);
  const bool regular = S_ISREG(st.st_mode);
  ::close(fd);
  if (!regular) return NotAHive(path, "not a regular file", Status::kNotAFile);
  if (got == 0) return NotAHive(path, "the file is empty");
  if (got < static_cast<ssize_t>(sizeof header) || std::memcmp(header, "SQLite format 3", 16) != 0) {
    return NotAHive(path, "not a SQLite database");
  }
  const int app_id = (header[68] << 24) | (header[69] << 16) | (header[70] << 8) | header[71];
  if (app_id != kApplicationId) return NotAHive(path, "a SQLite database of another kind");
  return {};
}

// How a hive file is opened. kReadOnly and kImmutable are the fall-backs for
// a hive this process may not write; kImmutable also takes no locks and
// ignores the WAL, so it is only for a hive no one can be writing (its folder
// is not writable, so no WAL exists or can be made).
// kEmpty is a hive in memory, made empty, for reading where no hive exists.
enum class Access { kReadWrite, kBuilding, kReadOnly, kImmutable, kEmpty };

// A file: URI for path, every byte outside the unreserved set escaped.
std::string FileUri(const std::string& path, const char* query) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string uri = "file:";
  for (const unsigned char c : path) {
    if (std::isalnum(c) || c == '/' || c == '-' || c == '.' || c == '_' || c == '~') {
      uri.push_back(static_cast<char>(c));
    } else {
      uri.push_back('%');
      uri.push_back(kHex[c >> 4]);
      uri.push_back(kHex[c & 15]);
    }
  }
  return uri + "?" + query;
}

// SQLite's busy handler: waits for another process's write in the default
// handler's steps (short at first, then kWaitStepMs each), kBusyTimeoutMs in
// all, and lets the program run its wait hook before each step. The steps
// are counted, not timed, as SQLite's own handler counts them.
int WaitForWriter(void*, int count) {
  static constexpr int kDelays[] = {1, 2, 5, 10, 15, 20, 25, 25, 25, 50, 50, registry::kWaitStepMs};
  static constexpr int kSteps = sizeof kDelays / sizeof kDelays[0];
  int waited = 0;
  for (int i = 0; i < count && i < kSteps; ++i) waited += kDelays[i];
  if (count > kSteps) waited += (count - kSteps) * kDelays[kSteps - 1];
  int delay = kDelays[count < kSteps ? count : kSteps - 1];
  if (waited + delay > kBusyTimeoutMs) delay = kBusyTimeoutMs - waited;
  if (delay <= 0) return 0;
  registry::Waiting();
  sqlite3_sleep(delay);
  return 1;
}

// The statements that make an empty hive in a new database.
const std::string& EmptySchema() {
  static const std::string schema = "BEGIN;" + std::string(kSchema) +
                                    "PRAGMA application_id = " + std::to_string(kApplicationId) +
                                    "; PRAGMA user_version = " + std::to_string(kSchemaVersion) + "; COMMIT;";
  return schema;
}

// kBuilding is for a private file still being built: its pages are written
// once, straight into the file (the rollback journal in memory, no WAL), not
// synced one by one; the finished file is put in WAL mode and synced once
// before it is published. *failure (when not null) gets the SQLite code of a failure to
// open or read the file, 0 for a file that opened but is not a hive.
Status Connect(const std::string& path, std::unique_ptr<HiveRegistry>* hive, Access mode = Access::kReadWrite,
               int* failure = nullptr) {
  if (failure != nullptr) *failure = 0;
  auto impl = std::make_unique<HiveRegistry::Impl>();
  impl->path = path;
  const bool writable = mode == Access::kReadWrite || mode == Access::kBuilding || mode == Access::kEmpty;
  int rc = writable
               ? sqlite3_open_v2(mode == Access::kEmpty ? ":memory:" : path.c_str(), &impl->db,
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr)
               : sqlite3_open_v2(FileUri(path, mode == Access::kImmutable ? "mode=ro&immutable=1" : "mode=ro").c_str(),
                                 &impl->db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, nullptr);
  auto fail = [&](int code, const std::string& what) {
    if (failure != nullptr) *failure = code;
    return Failed("open", path, what);
  };
  if (rc != SQLITE_OK) return fail(rc, impl->db ? sqlite3_errmsg(impl->db) : sqlite3_errstr(rc));
  sqlite3_extended_result_codes(impl->db, 1);
  sqlite3_busy_handler(impl->db, WaitForWriter, nullptr);
  char* message = nullptr;
  // Reads go through a mapping of the file (up to 256 MB) rather than copying
  // every page through SQLite's small page cache: the first listing of a large
  // store reads most of the file, several times over without it. Pages a
  // transaction changes stay in the cache until it commits, up to 64 MB
  // (taken only as needed): with SQLite's 2 MB, a large import writes the
  // same pages out again and again before its commit.
  rc = sqlite3_exec(impl->db,
                    mode == Access::kReadWrite  ? "PRAGMA journal_mode = WAL; PRAGMA synchronous = FULL;"
                                                  " PRAGMA mmap_size = 268435456; PRAGMA cache_size = -65536;"
                    : mode == Access::kBuilding ? "PRAGMA journal_mode = MEMORY; PRAGMA synchronous = OFF;"
                                                  " PRAGMA cache_size = -65536;"
                    : mode == Access::kEmpty    ? EmptySchema().c_str()
                                                : "PRAGMA mmap_size = 268435456;",
                    nullptr, nullptr, &message);
  if (rc != SQLITE_OK) {
    std::string what = message ? message : sqlite3_errstr(rc);
    sqlite3_free(message);
    return fail(rc, what);
  }
  sqlite3_stmt* check = nullptr;
  rc = sqlite3_prepare_v2(impl->db, "PRAGMA user_version", -1, &check, nullptr);
  int version = -1;
  if (rc == SQLITE_OK) {
    rc = sqlite3_step(check);
    if (rc == SQLITE_ROW) version = sqlite3_column_int(check, 0);
  }
  sqlite3_finalize(check);
  if (rc != SQLITE_ROW) return fail(rc, sqlite3_errmsg(impl->db));
  if (version != kSchemaVersion) return NotAHive(path, "unknown hive version " + std::to_string(version));
  if ((rc = impl->Prepare()) != SQLITE_OK) return NotAHive(path, sqlite3_errmsg(impl->db));
  // A read-write open of a file the process may not write gives a read-only
  // connection without saying so.
  impl->read_only = sqlite3_db_readonly(impl->db, "main") != 0 || mode == Access::kEmpty;
  impl->building = mode == Access::kBuilding;
  // Without locks or a WAL there is no WAL-index to watch.
  if (mode == Access::kImmutable || mode == Access::kBuilding || mode == Access::kEmpty) {
    impl->wal_map_attempts = std::numeric_limits<int>::max();
  }
  *hive = std::make_unique<HiveRegistry>(std::move(impl));
  return {};
}

// Builds a complete hive in a private file next to `path` (seeded, then
// handed to `build` when given), then links it into place, so that no
// process ever sees a half-made hive. Ok when path exists afterwards,
// *built set when it is the hive `build` made (not another process's that
// was quicker); a failing `build`'s own failure.
Status CreateHiveFile(const std::string& path, const HiveBuild* seed, const HiveBuild* build = nullptr,
                      bool* built = nullptr) {
  if (Status made = MakeParents(path); !made.Ok()) return made;
  std::string temp = path + ".new-XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return Failed("create", path, std::strerror(errno));
  ::fchmod(fd, 0600);
  ::close(fd);
  auto cleanup = [&] {
    ::unlink(temp.c_str());
    for (const char* suffix : {"-journal", "-wal", "-shm"}) ::unlink((temp + suffix).c_str());
  };
  // Runs `sql` on the private file: a failure removes the file.
  auto run = [&](const std::string& sql) {
    sqlite3* db = nullptr;
    char* message = nullptr;
    int rc = sqlite3_open_v2(temp.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    if (rc == SQLITE_OK) rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message);
    const std::string what = rc == SQLITE_OK ? "" : message ? message : sqlite3_errstr(rc);
    sqlite3_free(message);
    sqlite3_close_v2(db);
    if (rc == SQLITE_OK) return Status();
    cleanup();
    return Failed("create", path, what);
  };
  // Pages of 16 KB rather than SQLite's 4 KB: a large hive is written and
  // synced in a quarter of the writes, and reads a shallower tree, while a
  // single change still writes well under a megabyte to the WAL. Set before
  // the first table; a hive made earlier keeps its own size.
  const std::string schema =
      "PRAGMA page_size = 16384; PRAGMA journal_mode = MEMORY;"
      " PRAGMA synchronous = OFF; " +
      EmptySchema();
  if (Status made = run(schema); !made.Ok()) return made;
  if (seed != nullptr || build != nullptr) {
    std::unique_ptr<HiveRegistry> hive;
    Status seeded = Connect(temp, &hive, Access::kBuilding);
    if (seeded.Ok() && seed != nullptr) seeded = (*seed)(*hive);
    if (!seeded.Ok()) seeded.message = "cannot seed the registry hive " + Quote(path) + ": " + seeded.message;
    if (seeded.Ok() && build != nullptr) seeded = (*build)(*hive);
    if (!seeded.Ok()) {
      hive.reset();
      cleanup();
      return seeded;
    }
  }
  // Synced once, below, rather than also by this statement's own journal.
  if (Status made = run("PRAGMA synchronous = OFF; PRAGMA journal_mode = WAL"); !made.Ok()) return made;
  // Flush the finished file before it becomes visible under its name.
  const int sync_fd = ::open(temp.c_str(), O_RDONLY | O_CLOEXEC);
  if (sync_fd >= 0) {
    ::fsync(sync_fd);
    ::close(sync_fd);
  }
  // Publish without ever replacing a file another process put there first.
  // link() works on every local file system; renameat2 is the fallback for
  // those without hard links.
  bool ours = ::link(temp.c_str(), path.c_str()) == 0;
  bool published = ours || errno == EEXIST;
  if (!published && errno != ENOENT) {
    ours = ::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0;
    published = ours || errno == EEXIST;
  }
  if (built != nullptr) *built = ours && build != nullptr;
  if (!published) {
    const int saved = errno;
    cleanup();
    return Failed("create", path, std::strerror(saved));
  }
  cleanup();
  const std::string dir = ParentOf(path);
  const int dir_fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir_fd >= 0) {
    ::fsync(dir_fd);
    ::close(dir_fd);
  }
  return {};
}

Status OpenWith(const std::string& path, const HiveBuild* seed, std::unique_ptr<HiveRegistry>* hive,
                const HiveBuild* build = nullptr, bool* built = nullptr) {
  hive->reset();
  if (path.empty()) return Failed("open", path, "no file name");
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (errno != ENOENT) return Failed("open", path, std::strerror(errno));
    if (Status created = CreateHiveFile(path, seed, build, built); !created.Ok()) return created;
  }
  if (Status looks = LooksLikeHive(path); !looks.Ok()) return looks;
  int failure = 0;
  const Status opened = Connect(path, hive, Access::kReadWrite, &failure);
  if (opened.Ok() || !NoWriteAccess(failure, path)) return opened;
  // A hive on read-only storage, or one this user may not write, is still
  // listed: opened for reading only, it refuses every write. Else the
  // read-write open's failure stands.
  if (Connect(path, hive, Access::kReadOnly, &failure).Ok()) return {};
  if (NoWriteAccess(failure, path) && !MayWrite(ParentOf(path)) && !WalHasContent(path) &&
      Connect(path, hive, Access::kImmutable, &failure).Ok())
    return {};
  return opened;
}

}  // namespace

Status OpenHive(const std::string& path, std::unique_ptr<HiveRegistry>* hive) { return OpenWith(path, nullptr, hive); }

Status OpenHiveSeeded(const std::string& path, const HiveBuild& seed, std::unique_ptr<HiveRegistry>* hive) {
  return OpenWith(path, &seed, hive);
}

std::string DefaultHivePath() {
  const char* hive = std::getenv("ZANDREL_HIVE");
  if (hive != nullptr && *hive != '\0') return hive;
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data != nullptr && data[0] == '/') return std::string(data) + "/zandrel/registry.db";
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr && *home != '\0' ? home : ".") + "/.local/share/zandrel/registry.db";
}

Status OpenDefaultHive(std::unique_ptr<HiveRegistry>* hive) { return OpenHive(DefaultHivePath(), hive); }

Status OpenHiveForReading(const std::string& path, std::unique_ptr<HiveRegistry>* hive) {
  hive->reset();
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (errno != ENOENT) return Failed("open", path, std::strerror(errno));
    return Connect(path, hive, Access::kEmpty);
  }
  if (Status looks = LooksLikeHive(path); !looks.Ok()) return looks;
  int failure = 0;
  const Status opened = Connect(path, hive, Access::kReadOnly, &failure);
  if (opened.Ok()) return opened;
  // No WAL-index can be made beside a hive in a folder this process may not
  // write: read as it is on disk, as OpenHive does.
  if (!MayWrite(ParentOf(path)) && !WalHasContent(path) && Connect(path, hive, Access::kImmutable).Ok()) return {};
  return opened;
}

Status OpenDefaultHiveForReading(std::unique_ptr<HiveRegistry>* hive) {
  return OpenHiveForReading(DefaultHivePath(), hive);
}

Status OpenDefaultHive(const HiveBuild& build, bool* built, std::unique_ptr<HiveRegistry>* hive) {
  *built = false;
  return OpenWith(DefaultHivePath(), nullptr, hive, &build, built);
}

}  // namespace zandrel::hive
