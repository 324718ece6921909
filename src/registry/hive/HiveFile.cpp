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

#include "regfile/RegFile.h"
#include "regfile/RegParser.h"

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


std::string Quote(const std::string& path) { return "\"" + path + "\""; }

void SetError(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
}

std::string ParentOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// Whether this process may write `path` (by the effective ids, as the
// open itself would be judged).
bool MayWrite(const std::string& path) {
  return ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
}

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
bool MakeParents(const std::string& path, std::string* error) {
  for (std::size_t pos = path.find('/', 1); pos != std::string::npos;
       pos = path.find('/', pos + 1)) {
    const std::string dir = path.substr(0, pos);
    if (dir.empty() || dir.back() == '/') continue;
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
      SetError(error, "cannot create the folder " + Quote(dir) + " for the registry hive " +
                          Quote(path) + ": " + std::strerror(errno));
      return false;
    }
  }
  return true;
}

// Checks the first 100 bytes: a SQLite file carrying the hive's application id.
bool LooksLikeHive(const std::string& path, std::string* error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    SetError(error, "cannot open the registry hive " + Quote(path) + ": " + std::strerror(errno));
    return false;
  }
  struct stat st {};
  unsigned char header[100];
  ssize_t got = 0;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) got = ::read(fd, header, sizeof header);
  const bool regular = S_ISREG(st.st_mode);
  ::close(fd);
  if (!regular) {
    SetError(error, Quote(path) + " is not a registry hive: not a regular file");
    return false;
  }
  if (got == 0) {
    SetError(error, Quote(path) + " is not a registry hive: the file is empty");
    return false;
  }
  if (got < static_cast<ssize_t>(sizeof header) ||
      std::memcmp(header, "SQLite format 3", 16) != 0) {
    SetError(error, Quote(path) + " is not a registry hive: not a SQLite database");
    return false;
  }
  const int app_id = (header[68] << 24) | (header[69] << 16) | (header[70] << 8) | header[71];
  if (app_id != kApplicationId) {
    SetError(error, Quote(path) + " is not a registry hive: a SQLite database of another kind");
    return false;
  }
  return true;
}

// How a hive file is opened. kReadOnly and kImmutable are the fall-backs for
// a hive this process may not write; kImmutable also takes no locks and
// ignores the WAL, so it is only for a hive no one can be writing (its folder
// is not writable, so no WAL exists or can be made).
enum class Access { kReadWrite, kBuilding, kReadOnly, kImmutable };

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

// kBuilding is for a private file still being built: its pages are written
// once, straight into the file (the rollback journal in memory, no WAL), not
// synced one by one; the finished file is put in WAL mode and synced once
// before it is published. *failure (when not null) gets the SQLite code of a failure to
// open or read the file, 0 for a file that opened but is not a hive.
std::unique_ptr<HiveRegistry> Connect(const std::string& path, std::string* error,
                                      Access mode = Access::kReadWrite, int* failure = nullptr) {
  if (failure != nullptr) *failure = 0;
  auto impl = std::make_unique<HiveRegistry::Impl>();
  impl->path = path;
  const bool writable = mode == Access::kReadWrite || mode == Access::kBuilding;
  int rc = writable ? sqlite3_open_v2(path.c_str(), &impl->db,
                                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr)
                    : sqlite3_open_v2(FileUri(path, mode == Access::kImmutable
                                                        ? "mode=ro&immutable=1"
                                                        : "mode=ro")
                                          .c_str(),
                                      &impl->db,
                                      SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX,
                                      nullptr);
  auto fail = [&](int code, const std::string& what) {
    if (failure != nullptr) *failure = code;
    SetError(error, "cannot open the registry hive " + Quote(path) + ": " + what);
    return nullptr;
  };
  if (rc != SQLITE_OK) return fail(rc, impl->db ? sqlite3_errmsg(impl->db) : sqlite3_errstr(rc));
  sqlite3_extended_result_codes(impl->db, 1);
  sqlite3_busy_timeout(impl->db, kBusyTimeoutMs);
  char* message = nullptr;
  // Reads go through a mapping of the file (up to 256 MB) rather than copying
  // every page through SQLite's small page cache: the first listing of a large
  // store reads most of the file, several times over without it. Pages a
  // transaction changes stay in the cache until it commits, up to 64 MB
  // (taken only as needed): with SQLite's 2 MB, a large import writes the
  // same pages out again and again before its commit.
  rc = sqlite3_exec(impl->db,
                    mode == Access::kReadWrite ? "PRAGMA journal_mode = WAL; PRAGMA synchronous = FULL;"
                                                 " PRAGMA mmap_size = 268435456; PRAGMA cache_size = -65536;"
                    : mode == Access::kBuilding ? "PRAGMA journal_mode = MEMORY; PRAGMA synchronous = OFF;"
                                                  " PRAGMA cache_size = -65536;"
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
  if (version != kSchemaVersion) {
    SetError(error, Quote(path) + " is not a registry hive: unknown hive version " +
                        std::to_string(version));
    return nullptr;
  }
  if ((rc = impl->Prepare()) != SQLITE_OK) {
    SetError(error, Quote(path) + " is not a registry hive: " + sqlite3_errmsg(impl->db));
    return nullptr;
  }
  // A read-write open of a file the process may not write gives a read-only
  // connection without saying so.
  impl->read_only = sqlite3_db_readonly(impl->db, "main") != 0;
  // Without locks or a WAL there is no WAL-index to watch.
  if (mode == Access::kImmutable || mode == Access::kBuilding) {
    impl->wal_map_attempts = std::numeric_limits<int>::max();
  }
  return std::make_unique<HiveRegistry>(std::move(impl));
}

// Builds a complete hive in a private file next to `path` (seeded, then
// handed to `build` when given), then links it into place, so that no
// process ever sees a half-made hive. Returns false with *error set on
// failure, and with *error empty when `build` declined; true when path
// exists afterwards, *built set when it is the hive `build` made (not
// another process's that was quicker).
bool CreateHiveFile(const std::string& path, const std::string* seed, std::string* error,
                    const HiveBuild* build = nullptr, bool* built = nullptr) {
  if (!MakeParents(path, error)) return false;
  std::string temp = path + ".new-XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) {
    SetError(error, "cannot create the registry hive " + Quote(path) + ": " + std::strerror(errno));
    return false;
  }
  ::fchmod(fd, 0600);
  ::close(fd);
  auto cleanup = [&] {
    ::unlink(temp.c_str());
    for (const char* suffix : {"-journal", "-wal", "-shm"}) ::unlink((temp + suffix).c_str());
  };
  // Runs `sql` on the private file: false, the file removed and *error set, when it fails.
  auto run = [&](const std::string& sql) {
    sqlite3* db = nullptr;
    char* message = nullptr;
    int rc = sqlite3_open_v2(temp.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    if (rc == SQLITE_OK) rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message);
    const std::string what = rc == SQLITE_OK ? "" : message ? message : sqlite3_errstr(rc);
    sqlite3_free(message);
    sqlite3_close_v2(db);
    if (rc == SQLITE_OK) return true;
    cleanup();
    SetError(error, "cannot create the registry hive " + Quote(path) + ": " + what);
    return false;
  };
  const std::string schema = "PRAGMA journal_mode = MEMORY; PRAGMA synchronous = OFF; BEGIN;" +
                             std::string(kSchema) + "PRAGMA application_id = " +
                             std::to_string(kApplicationId) + "; PRAGMA user_version = " +
                             std::to_string(kSchemaVersion) + "; COMMIT;";
  if (!run(schema)) return false;
  if (seed != nullptr || build != nullptr) {
    std::string seed_error;
    auto hive = Connect(temp, &seed_error, Access::kBuilding);
    if (hive && seed != nullptr) {
      HiveRegistry& made = *hive;
      regfile::RegImportResult result =
          regfile::ImportRegText(made, *seed, "default classes store",
                        [&made](const std::deque<regfile::RegChange>& changes, const regfile::RegChange** failed) {
                          return made.ApplyRegChanges(changes, failed);
                        });
      if (!result.ok) seed_error = result.message;
    }
    if (!seed_error.empty()) {
      hive.reset();
      cleanup();
      SetError(error, "cannot seed the registry hive " + Quote(path) + ": " + seed_error);
      return false;
    }
    if (build != nullptr && !(*build)(*hive)) {
      hive.reset();
      cleanup();
      SetError(error, "");
      return false;
    }
  }
  if (!run("PRAGMA journal_mode = WAL")) return false;
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
    SetError(error, "cannot create the registry hive " + Quote(path) + ": " + std::strerror(saved));
    return false;
  }
  cleanup();
  const std::string dir = ParentOf(path);
  const int dir_fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir_fd >= 0) {
    ::fsync(dir_fd);
    ::close(dir_fd);
  }
  return true;
}

std::unique_ptr<HiveRegistry> OpenWith(const std::string& path, const std::string* seed,
                                       std::string* error, const HiveBuild* build = nullptr,
                                       bool* built = nullptr) {
  if (path.empty()) {
    SetError(error, "cannot open the registry hive \"\": no file name");
    return nullptr;
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (errno != ENOENT) {
      SetError(error, "cannot open the registry hive " + Quote(path) + ": " + std::strerror(errno));
      return nullptr;
    }
    if (!CreateHiveFile(path, seed, error, build, built)) return nullptr;
  }
  if (!LooksLikeHive(path, error)) return nullptr;
  int failure = 0;
  auto hive = Connect(path, error, Access::kReadWrite, &failure);
  if (hive || !NoWriteAccess(failure, path)) return hive;
  // A hive on read-only storage, or one this user may not write, is still
  // listed: opened for reading only, it refuses every write.
  std::string ignored;
  hive = Connect(path, &ignored, Access::kReadOnly, &failure);
  if (hive) return hive;
  if (NoWriteAccess(failure, path) && !MayWrite(ParentOf(path)) && !WalHasContent(path)) {
    hive = Connect(path, &ignored, Access::kImmutable, &failure);
  }
  return hive;
}

}  // namespace

std::unique_ptr<HiveRegistry> OpenHive(const std::string& path, std::string* error) {
  return OpenWith(path, nullptr, error);
}

std::unique_ptr<HiveRegistry> OpenHiveSeeded(const std::string& path, const std::string& seed,
                                             std::string* error) {
  return OpenWith(path, &seed, error);
}

std::string DefaultHivePath() {
  const char* hive = std::getenv("ZANDREL_HIVE");
  if (hive != nullptr && *hive != '\0') return hive;
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data != nullptr && data[0] == '/') return std::string(data) + "/zandrel/registry.db";
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr && *home != '\0' ? home : ".") +
         "/.local/share/zandrel/registry.db";
}

std::unique_ptr<HiveRegistry> OpenDefaultHive(std::string* error) {
  return OpenHive(DefaultHivePath(), error);
}

std::unique_ptr<HiveRegistry> OpenDefaultHive(const HiveBuild& build, bool* built, std::string* error) {
  *built = false;
  return OpenWith(DefaultHivePath(), nullptr, error, &build, built);
}

}  // namespace zandrel::hive
