#include "platform/hive/Hive.h"

#include <errno.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <stdio.h>  // renameat2
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <limits>
#include <string_view>
#include <vector>

#include "platform/hive/HiveErrors.h"
#include "regfile/RegText.h"
#include "regfile/RegFile.h"

namespace zandrel::hive {
namespace {

// Marks a SQLite file as a hive ("ZREG"); user_version is the schema's version.
constexpr int kApplicationId = 0x5A524547;
constexpr int kSchemaVersion = 1;

// Fixed rows: the three hive roots and the classes root below HKLM (row 4,
// HKLM\SOFTWARE, is fixed too: every id up to kClassesKey is undeletable).
constexpr sqlite3_int64 kMachineKey = 1;
constexpr sqlite3_int64 kUserKey = 2;
constexpr sqlite3_int64 kUsersKey = 3;
constexpr sqlite3_int64 kClassesKey = 5;

// Keys whose children or values are kept in memory between calls; a listing
// of a large classes store touches about four per extension.
constexpr std::size_t kMaxCachedKeys = 1 << 18;

// Names looked up one by one under a key whose children are not loaded;
// past this many the whole child list is loaded instead, so that lookups stay
// a binary search however many are made.
constexpr std::size_t kMaxProbes = 64;

// Longest value name, in characters.
constexpr std::size_t kMaxValueNameChars = 16383;

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

// Resets a kept statement when the use ends, so that no read transaction
// stays open between calls.
class Use {
 public:
  explicit Use(sqlite3_stmt* stmt) : stmt_(stmt) {}
  ~Use() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  Use(const Use&) = delete;
  Use& operator=(const Use&) = delete;
  sqlite3_stmt* operator*() const { return stmt_; }
  Use& Int(int index, sqlite3_int64 v) {
    sqlite3_bind_int64(stmt_, index, v);
    return *this;
  }
  Use& Blob(int index, std::string_view v) {
    sqlite3_bind_blob(stmt_, index, v.empty() ? "" : v.data(), static_cast<int>(v.size()),
                      SQLITE_STATIC);
    return *this;
  }
  int Step() { return sqlite3_step(stmt_); }
  std::string_view Column(int index) {
    const void* p = sqlite3_column_blob(stmt_, index);
    const int n = sqlite3_column_bytes(stmt_, index);
    return p ? std::string_view(static_cast<const char*>(p), static_cast<std::size_t>(n))
             : std::string_view();
  }

 private:
  sqlite3_stmt* stmt_;
};

// One child of a cached key: its name at text[at], its upper-cased name right
// after it unless the two are the same bytes.
struct ChildRef {
  std::uint32_t at;
  std::uint32_t name_len;
  std::uint32_t upper_len;
  bool own_upper;
  sqlite3_int64 id;  // 0: a name looked up and found missing
};

// One value of a cached key: its name at text[at], its data right after it.
struct ValueRef {
  std::size_t at;
  std::size_t name_len;
  std::size_t data_len;
  DWORD type;
  sqlite3_int64 id;  // creation order
};

// What the cache holds of one key. `children` is, once children_loaded, the
// whole child list in enumeration order (by upper-cased name); before that,
// the names looked up so far, in the same order. Names and data are kept in
// one buffer per list, so a key costs a few allocations however many
// children or values it has.
struct KeyNode {
  bool children_loaded = false;
  bool values_loaded = false;
  std::string child_text;
  std::vector<ChildRef> children;
  std::string value_text;
  std::vector<ValueRef> values;

  std::string_view Name(const ChildRef& c) const {
    return std::string_view(child_text.data() + c.at, c.name_len);
  }
  std::string_view Upper(const ChildRef& c) const {
    return std::string_view(child_text.data() + c.at + (c.own_upper ? c.name_len : 0),
                            c.upper_len);
  }
  // The first child whose upper-cased name is not below `upper`.
  std::vector<ChildRef>::iterator LowerBound(std::string_view upper) {
    return std::lower_bound(children.begin(), children.end(), upper,
                            [this](const ChildRef& c, std::string_view u) { return Upper(c) < u; });
  }
  // Stores a child's names at the end of *text and describes it in *ref;
  // false when the buffer would outgrow its 32-bit offsets.
  static bool Store(std::string_view name, std::string_view upper, sqlite3_int64 id,
                    std::string* text, ChildRef* ref) {
    const bool own_upper = name != upper;
    const std::size_t need = name.size() + (own_upper ? upper.size() : 0);
    if (text->size() + need > std::numeric_limits<std::uint32_t>::max()) return false;
    *ref = ChildRef{static_cast<std::uint32_t>(text->size()),
                    static_cast<std::uint32_t>(name.size()),
                    static_cast<std::uint32_t>(upper.size()), own_upper, id};
    text->append(name);
    if (own_upper) text->append(upper);
    return true;
  }
  std::string_view ValueName(const ValueRef& v) const {
    return std::string_view(value_text.data() + v.at, v.name_len);
  }
  std::string_view ValueData(const ValueRef& v) const {
    return std::string_view(value_text.data() + v.at + v.name_len, v.data_len);
  }
};

// Key id -> index of its KeyNode; open addressing, emptied as a whole.
class NodeIndex {
 public:
  const std::uint32_t* Find(sqlite3_int64 id) const {
    if (slots_.empty()) return nullptr;
    for (std::size_t i = Home(id);; i = (i + 1) & mask_) {
      if (slots_[i].id == id) return &slots_[i].index;
      if (slots_[i].id == 0) return nullptr;
    }
  }
  // id must not be present; ids are never 0.
  void Insert(sqlite3_int64 id, std::uint32_t index) {
    if (2 * (count_ + 1) > slots_.size()) Grow();
    std::size_t i = Home(id);
    while (slots_[i].id != 0) i = (i + 1) & mask_;
    slots_[i] = Slot{id, index};
    ++count_;
  }
  void Clear() {
    slots_ = std::vector<Slot>();
    count_ = 0;
    mask_ = 0;
  }

 private:
  struct Slot {
    sqlite3_int64 id;
    std::uint32_t index;
  };
  std::size_t Home(sqlite3_int64 id) const {
    std::uint64_t h = static_cast<std::uint64_t>(id) * 0x9E3779B97F4A7C15ull;
    return static_cast<std::size_t>(h ^ (h >> 29)) & mask_;
  }
  void Grow() {
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(old.empty() ? 64 : 2 * old.size(), Slot{0, 0});
    mask_ = slots_.size() - 1;
    for (const Slot& slot : old) {
      if (slot.id == 0) continue;
      std::size_t i = Home(slot.id);
      while (slots_[i].id != 0) i = (i + 1) & mask_;
      slots_[i] = slot;
    }
  }
  std::vector<Slot> slots_;
  std::size_t count_ = 0;
  std::size_t mask_ = 0;
};

bool IsRoot(HKEY h) { return h >= HKEY_CLASSES_ROOT && h <= HKEY_USERS; }

sqlite3_int64 RootKey(HKEY h) {
  switch (h) {
    case HKEY_CLASSES_ROOT:
      return kClassesKey;
    case HKEY_CURRENT_USER:
      return kUserKey;
    case HKEY_LOCAL_MACHINE:
      return kMachineKey;
    default:
      return kUsersKey;
  }
}

bool IsStringType(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// Splits a subkey path into its components. NULL is the empty path.
LONG ParsePath(const char* sub_key, std::vector<std::string_view>* parts) {
  parts->clear();
  if (sub_key == nullptr) return ERROR_SUCCESS;
  std::string_view path(sub_key);
  if (!path.empty() && path.front() == '\\') return ERROR_BAD_PATHNAME;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('\\', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) {
      std::string_view part = path.substr(start, end - start);
      if (part.size() > MAX_KEY_NAME_CHARS && NameChars(part) > MAX_KEY_NAME_CHARS) {
        return ERROR_INVALID_PARAMETER;
      }
      parts->push_back(part);
    }
    start = end + 1;
  }
  return ERROR_SUCCESS;
}

}  // namespace

// The one place where SQLite's result codes become registry codes. "Not
// found" never passes through here: callers see SQLITE_DONE and answer 2.
LONG CodeFromSqlite(int rc) {
  switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
      return ERROR_SUCCESS;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return ERROR_BUSY;
    case SQLITE_NOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case SQLITE_FULL:
      return ERROR_DISK_FULL;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return ERROR_ACCESS_DENIED;
    case SQLITE_TOOBIG:
      return ERROR_INVALID_PARAMETER;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_SCHEMA:
    case SQLITE_FORMAT:
      return ERROR_BADDB;
    default:  // SQLITE_IOERR, SQLITE_CANTOPEN, SQLITE_PROTOCOL, ...
      return ERROR_REGISTRY_IO_FAILED;
  }
}

struct HiveRegistry::Impl {
  std::string path;
  sqlite3* db = nullptr;

  sqlite3_stmt* begin = nullptr;
  sqlite3_stmt* begin_read = nullptr;
  sqlite3_stmt* commit = nullptr;
  sqlite3_stmt* rollback = nullptr;
  sqlite3_stmt* savepoint = nullptr;
  sqlite3_stmt* release = nullptr;
  sqlite3_stmt* rollback_to = nullptr;
  sqlite3_stmt* data_version = nullptr;
  sqlite3_stmt* child_lookup = nullptr;
  sqlite3_stmt* key_depth = nullptr;
  sqlite3_stmt* children = nullptr;
  sqlite3_stmt* values = nullptr;
  sqlite3_stmt* insert_key = nullptr;
  sqlite3_stmt* has_children = nullptr;
  sqlite3_stmt* delete_key = nullptr;
  sqlite3_stmt* delete_values = nullptr;
  sqlite3_stmt* value_lookup = nullptr;
  sqlite3_stmt* update_value = nullptr;
  sqlite3_stmt* insert_value = nullptr;
  sqlite3_stmt* delete_value = nullptr;

  struct Handle {
    HKEY hkey;
    sqlite3_int64 key;
    REGSAM access;
    std::uint64_t checked_epoch;  // epoch at which the key was last seen to exist
  };
  // The open handles, sorted by value. Few are open at a time, and a new one
  // is nearly always the largest, so opening and closing move no memory.
  std::vector<Handle> handles;
  HKEY next_handle = 0x100;

  std::vector<Handle>::iterator HandleAt(HKEY h) {
    return std::lower_bound(handles.begin(), handles.end(), h,
                            [](const Handle& a, HKEY b) { return a.hkey < b; });
  }
  Handle* FindHandle(HKEY h) {
    const auto it = HandleAt(h);
    return it != handles.end() && it->hkey == h ? &*it : nullptr;
  }

  // Caches of what the file held at `epoch`. Everything is dropped when
  // another connection commits (data_version moves) or this one writes.
  std::uint64_t epoch = 1;
  sqlite3_int64 seen_data_version = -1;
  NodeIndex node_index;
  std::deque<KeyNode> nodes;  // references stay valid until the caches are emptied

  // Scratch buffers of the call under way, kept to save allocations.
  std::vector<std::string_view> path_parts;
  std::string upper_buf;

  bool in_transaction = false;  // inside BeginTransaction .. Commit/Rollback
  // The file could only be opened for reading: every write answers 5 and
  // changes nothing.
  bool read_only = false;
  bool reading = false;         // a read snapshot is held between calls
  // This call found nothing committed since the caches were last current and
  // holds no snapshot: it answers from the caches and begins one (Reading)
  // only before a statement of its own.
  bool deferred = false;

  // The WAL-index header at the start of the hive's "-shm" file (SQLite's
  // documented WAL-index format), mapped read only. Every commit by any
  // connection rewrites it before the commit returns, so while it reads the
  // same as at the last check nothing was committed since, and a call can
  // skip asking SQLite (which costs a lock round trip in system calls). A
  // torn or changed read only means asking once more.
  static constexpr std::size_t kWalHeaderBytes = 48;
  const unsigned char* wal_header = nullptr;  // owned by SQLite
  unsigned char seen_wal_header[kWalHeaderBytes] = {};
  bool seen_wal_header_valid = false;
  int wal_map_attempts = 0;

  ~Impl() {
    for (sqlite3_stmt* s :
         {begin,         begin_read,   commit,       rollback,     savepoint,
          release,       rollback_to,  data_version, child_lookup, key_depth,
          children,      values,       insert_key,   has_children, delete_key,
          delete_values, value_lookup, update_value, insert_value, delete_value}) {
      sqlite3_finalize(s);
    }
    if (!sqlite3_get_autocommit(db)) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close_v2(db);
  }

  int Prepare() {
    struct {
      sqlite3_stmt** stmt;
      const char* sql;
    } const list[] = {
        {&begin, "BEGIN IMMEDIATE"},
        {&begin_read, "BEGIN"},
        {&commit, "COMMIT"},
        {&rollback, "ROLLBACK"},
        {&savepoint, "SAVEPOINT call"},
        {&release, "RELEASE call"},
        {&rollback_to, "ROLLBACK TO call"},
        {&data_version, "PRAGMA data_version"},
        {&child_lookup, "SELECT id FROM keys WHERE parent = ?1 AND upper_name = ?2"},
        {&key_depth, "SELECT depth FROM keys WHERE id = ?1"},
        {&children, "SELECT name, id, upper_name FROM keys WHERE parent = ?1 ORDER BY upper_name"},
        // Unordered: ORDER BY id would cost a temporary b-tree per key; the
        // few rows are put in creation order after reading.
        {&values, "SELECT name, type, data, id FROM vals WHERE key = ?1"},
        {&insert_key, "INSERT INTO keys(parent, name, upper_name, depth) VALUES(?1, ?2, ?3, ?4)"},
        {&has_children, "SELECT 1 FROM keys WHERE parent = ?1 LIMIT 1"},
        {&delete_key, "DELETE FROM keys WHERE id = ?1"},
        {&delete_values, "DELETE FROM vals WHERE key = ?1"},
        {&value_lookup, "SELECT id FROM vals WHERE key = ?1 AND upper_name = ?2"},
        {&update_value, "UPDATE vals SET type = ?1, data = ?2 WHERE id = ?3"},
        {&insert_value,
         "INSERT INTO vals(key, name, upper_name, type, data) VALUES(?1, ?2, ?3, ?4, ?5)"},
        {&delete_value, "DELETE FROM vals WHERE key = ?1 AND upper_name = ?2"},
    };
    for (const auto& item : list) {
      const int rc =
          sqlite3_prepare_v3(db, item.sql, -1, SQLITE_PREPARE_PERSISTENT, item.stmt, nullptr);
      if (rc != SQLITE_OK) return rc;
    }
    return SQLITE_OK;
  }

  // Empties the caches without saying anything about the file.
  void ClearNodes() {
    node_index.Clear();
    nodes.clear();
  }

  void DropCaches() {
    ClearNodes();
    ++epoch;
  }

  // The cache entry of `key`, made empty when missing.
  KeyNode& Node(sqlite3_int64 key) {
    if (const std::uint32_t* index = node_index.Find(key)) return nodes[*index];
    node_index.Insert(key, static_cast<std::uint32_t>(nodes.size()));
    return nodes.emplace_back();
  }

  // Borrows SQLite's own mapping of the first WAL-index region: it stays
  // mapped, and the file stays locked against truncation, for as long as this
  // connection is open. (Opening the file ourselves would not do: closing our
  // descriptor would drop the process's POSIX locks on it, SQLite's included.)
  void MapWalHeader() {
    ++wal_map_attempts;
    sqlite3_file* file = nullptr;
    if (sqlite3_file_control(db, "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK ||
        file == nullptr || file->pMethods == nullptr || file->pMethods->iVersion < 2 ||
        file->pMethods->xShmMap == nullptr) {
      return;
    }
    volatile void* region = nullptr;
    constexpr int kWalIndexRegionBytes = 32768;
    if (file->pMethods->xShmMap(file, 0, kWalIndexRegionBytes, 0, &region) == SQLITE_OK &&
        region != nullptr) {
      wal_header = static_cast<const unsigned char*>(const_cast<void*>(region));
    }
  }

  // Drops the caches when another connection committed since the last look.
  LONG CheckVersion() {
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

  // Ends the read snapshot this connection holds between calls, if any.
  void EndRead() {
    deferred = false;
    if (!reading) return;
    reading = false;
    if (!sqlite3_get_autocommit(db)) Run(commit);
  }

  // Makes the caches and the read snapshot current at the start of a call.
  // Between calls the connection keeps a read transaction open, so that the
  // statements of cache misses run without a lock round trip each; it is
  // renewed as soon as the WAL-index header shows another commit, and ended
  // when the last handle closes so that an idle process pins nothing.
  //
  // A call that starts with no snapshot held (the last handle closed since
  // the previous one, as between the rows of a listing) and finds the header
  // as it was when the caches were last made current does not begin one
  // until it has to run a statement: most such calls are answered from the
  // caches alone, without the lock round trips of beginning and ending.
  LONG Sync() {
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

  // Begins the snapshot of a deferred call before its first statement. A
  // commit since the call began drops the caches here; what the call took
  // from them before is what a call made a moment earlier would have seen
  // (key ids are never reused, so a stale parent id finds no children).
  LONG Reading() {
    if (!deferred) return ERROR_SUCCESS;
    deferred = false;
    unsigned char header[kWalHeaderBytes];
    std::memcpy(header, wal_header, kWalHeaderBytes);
    std::atomic_thread_fence(std::memory_order_acquire);
    return BeginSnapshot(header);
  }

  // `header`: the WAL-index header as read before the snapshot begins
  // (unused while the header is not mapped).
  LONG BeginSnapshot(const unsigned char* header) {
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

  // Ends the snapshot after a call that leaves no handle open.
  void EndCall() {
    if (handles.empty()) EndRead();
  }
  struct CallEnd {
    Impl& m;
    ~CallEnd() { m.EndCall(); }
  };

  // AUTOINCREMENT's counter rolls back with a transaction, so the ids of keys
  // created in a rolled-back transaction are handed out again, and a handle
  // to such a key would reach the next key created. After a rollback those
  // handles are cut off (key 0, never an id): they answer 1018 from then on,
  // as a handle to any deleted key does.
  void CutOffVanishedKeys() {
    for (Handle& handle : handles) {
      if (handle.key == 0) continue;
      Use use(key_depth);
      use.Int(1, handle.key);
      if (use.Step() == SQLITE_DONE) handle.key = 0;
    }
  }

  // The key behind a handle. 6 for a handle never given out or closed, 1018
  // for a key deleted since.
  LONG Resolve(HKEY h, sqlite3_int64* key, REGSAM* access) {
    if (IsRoot(h)) {
      *key = RootKey(h);
      *access = KEY_ALL_ACCESS;
      return ERROR_SUCCESS;
    }
    Handle* found = FindHandle(h);
    if (found == nullptr) return ERROR_INVALID_HANDLE;
    Handle& handle = *found;
    if (handle.checked_epoch != epoch) {
      if (const LONG code = Reading(); code != ERROR_SUCCESS) return code;
      Use use(key_depth);
      use.Int(1, handle.key);
      const int rc = use.Step();
      if (rc == SQLITE_DONE) return ERROR_KEY_DELETED;
      if (rc != SQLITE_ROW) return CodeFromSqlite(rc);
      handle.checked_epoch = epoch;
    }
    *key = handle.key;
    *access = handle.access;
    return ERROR_SUCCESS;
  }

  // Finds the child `upper` of `parent`: 0 found, 2 missing, or a failure.
  LONG Child(sqlite3_int64 parent, std::string_view upper, sqlite3_int64* child) {
    {
      KeyNode& node = Node(parent);
      const auto it = node.LowerBound(upper);
      if (it != node.children.end() && node.Upper(*it) == upper) {
        *child = it->id;
        return *child ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
      }
      if (node.children_loaded) return ERROR_FILE_NOT_FOUND;
    }
    if (const LONG code = Reading(); code != ERROR_SUCCESS) return code;
    KeyNode* node = &Node(parent);  // afresh: beginning the snapshot may have emptied the cache
    if (node->children.size() >= kMaxProbes) {
      if (const LONG code = Children(parent, &node); code != ERROR_SUCCESS) return code;
      const auto it = node->LowerBound(upper);
      *child = it != node->children.end() && node->Upper(*it) == upper ? it->id : 0;
      return *child ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    }
    Use use(child_lookup);
    use.Int(1, parent).Blob(2, upper);
    const int rc = use.Step();
    if (rc == SQLITE_ROW) {
      *child = sqlite3_column_int64(child_lookup, 0);
    } else if (rc == SQLITE_DONE) {
      *child = 0;
    } else {
      return CodeFromSqlite(rc);
    }
    ChildRef probe;
    if (KeyNode::Store(upper, upper, *child, &node->child_text, &probe)) {
      node->children.insert(node->LowerBound(upper), probe);
    }
    return *child ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
  }

  LONG Walk(sqlite3_int64 key, const std::vector<std::string_view>& parts, sqlite3_int64* out) {
    for (std::string_view part : parts) {
      upper_buf.clear();
      AppendUpperName(part, &upper_buf);
      const LONG code = Child(key, upper_buf, &key);
      if (code != ERROR_SUCCESS) return code;
    }
    *out = key;
    return ERROR_SUCCESS;
  }

  // The cache entry of `key` with its whole child list.
  LONG Children(sqlite3_int64 key, KeyNode** out) {
    KeyNode* node = &Node(key);
    if (!node->children_loaded) {
      if (const LONG code = Reading(); code != ERROR_SUCCESS) return code;
      node = &Node(key);
      std::vector<ChildRef> list;
      std::string text;
      Use use(children);
      use.Int(1, key);
      int rc;
      while ((rc = use.Step()) == SQLITE_ROW) {
        ChildRef ref;
        if (!KeyNode::Store(use.Column(0), use.Column(2), sqlite3_column_int64(children, 1), &text,
                            &ref)) {
          return ERROR_NOT_ENOUGH_MEMORY;
        }
        list.push_back(ref);
      }
      if (rc != SQLITE_DONE) return CodeFromSqlite(rc);
      node->children = std::move(list);
      node->child_text = std::move(text);
      node->children_loaded = true;
    }
    *out = node;
    return ERROR_SUCCESS;
  }

  // The cache entry of `key` with its values.
  LONG Values(sqlite3_int64 key, KeyNode** out) {
    KeyNode* node = &Node(key);
    if (!node->values_loaded) {
      if (const LONG code = Reading(); code != ERROR_SUCCESS) return code;
      node = &Node(key);
      node->values.clear();
      node->value_text.clear();
      Use use(values);
      use.Int(1, key);
      int rc;
      while ((rc = use.Step()) == SQLITE_ROW) {
        const std::string_view name = use.Column(0);
        const std::string_view data = use.Column(2);
        node->values.push_back(ValueRef{node->value_text.size(), name.size(), data.size(),
                                        static_cast<DWORD>(sqlite3_column_int64(values, 1)),
                                        sqlite3_column_int64(values, 3)});
        node->value_text.append(name);
        node->value_text.append(data);
      }
      if (rc != SQLITE_DONE) {
        node->values.clear();
        node->value_text.clear();
        return CodeFromSqlite(rc);
      }
      const auto by_id = [](const ValueRef& a, const ValueRef& b) { return a.id < b.id; };
      if (!std::is_sorted(node->values.begin(), node->values.end(), by_id)) {
        std::sort(node->values.begin(), node->values.end(), by_id);
      }
      node->values_loaded = true;
    }
    *out = node;
    return ERROR_SUCCESS;
  }

  HKEY NewHandle(sqlite3_int64 key, REGSAM access) {
    while (next_handle == 0 || next_handle >= HKEY_CLASSES_ROOT || FindHandle(next_handle)) {
      next_handle = next_handle >= HKEY_CLASSES_ROOT ? 0x100 : next_handle + 4;
    }
    const HKEY h = next_handle;
    next_handle += 4;
    handles.insert(HandleAt(h), Handle{h, key, access, epoch});
    return h;
  }

  static LONG Run(sqlite3_stmt* stmt) {
    Use use(stmt);
    const int rc = use.Step();
    return rc == SQLITE_DONE || rc == SQLITE_ROW ? ERROR_SUCCESS : CodeFromSqlite(rc);
  }

  // Runs one modifying call atomically: its own transaction outside a scope,
  // a savepoint inside one. On a non-zero result nothing of it remains.
  template <typename Body>
  LONG Write(Body&& body) {
    LONG code;
    if (in_transaction) {
      code = Run(savepoint);
      if (code != ERROR_SUCCESS) return code;
      code = body();
      if (code != ERROR_SUCCESS) Run(rollback_to);
      Run(release);
    } else if (read_only) {
      // The call runs in a read transaction, so that it answers what it
      // would on a writable hive up to its first write, which SQLite refuses
      // (5); whatever it answers, nothing of it is kept.
      EndRead();
      code = Run(begin_read);
      if (code != ERROR_SUCCESS) return code;
      code = CheckVersion();
      if (code == ERROR_SUCCESS) code = body();
      if (!sqlite3_get_autocommit(db)) Run(rollback);
    } else {
      EndRead();
      code = Run(begin);
      if (code != ERROR_SUCCESS) return code;
      // The write lock is ours now; see what others committed before it.
      code = CheckVersion();
      if (code == ERROR_SUCCESS) code = body();
      if (code == ERROR_SUCCESS) code = Run(commit);
      if (code != ERROR_SUCCESS && !sqlite3_get_autocommit(db)) Run(rollback);
    }
    DropCaches();
    return code;
  }

  // Deletes one key and its values; refuses the fixed roots and a key with subkeys.
  LONG DeleteOne(sqlite3_int64 key) {
    if (key <= kClassesKey) return ERROR_ACCESS_DENIED;
    {
      Use use(has_children);
      use.Int(1, key);
      const int rc = use.Step();
      if (rc == SQLITE_ROW) return ERROR_ACCESS_DENIED;
      if (rc != SQLITE_DONE) return CodeFromSqlite(rc);
    }
    {
      Use use(delete_values);
      use.Int(1, key);
      const int rc = use.Step();
      if (rc != SQLITE_DONE) return CodeFromSqlite(rc);
    }
    Use use(delete_key);
    use.Int(1, key);
    const int rc = use.Step();
    return rc == SQLITE_DONE ? ERROR_SUCCESS : CodeFromSqlite(rc);
  }
};

HiveRegistry::HiveRegistry(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
HiveRegistry::~HiveRegistry() = default;

const std::string& HiveRegistry::Path() const { return impl_->path; }

LONG HiveRegistry::RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD, REGSAM samDesired,
                                 HKEY* phkResult) {
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  // As Windows: a null key leaves *phkResult as it was.
  if (hKey == 0) return ERROR_INVALID_HANDLE;
  *phkResult = 0;
  // Under HKEY_CLASSES_ROOT one leading "\" is passed over when opening.
  if (hKey == HKEY_CLASSES_ROOT && lpSubKey != nullptr && lpSubKey[0] == '\\' && lpSubKey[1] != '\\')
    ++lpSubKey;
  Impl& m = *impl_;
  Impl::CallEnd end{m};
  LONG code = m.Sync();
  if (code != ERROR_SUCCESS) return code;
  sqlite3_int64 key;
  REGSAM access;
  if ((code = m.Resolve(hKey, &key, &access)) != ERROR_SUCCESS) return code;
  std::vector<std::string_view>& parts = m.path_parts;
  if ((code = ParsePath(lpSubKey, &parts)) != ERROR_SUCCESS) return code;
  if (parts.empty() && IsRoot(hKey)) {
    *phkResult = hKey;
    return ERROR_SUCCESS;
  }
  if ((code = m.Walk(key, parts, &key)) != ERROR_SUCCESS) return code;
  *phkResult = m.NewHandle(key, samDesired);
  return ERROR_SUCCESS;
}

LONG HiveRegistry::RegEnumKeyExA(HKEY hKey, DWORD dwIndex, char* lpName, DWORD* lpcchName, DWORD*,
                                 char* lpClass, DWORD* lpcchClass, FILETIME* lpftLastWriteTime) {
  if (lpName == nullptr || lpcchName == nullptr) return ERROR_INVALID_PARAMETER;
  Impl& m = *impl_;
  Impl::CallEnd end{m};
  LONG code = m.Sync();
  if (code != ERROR_SUCCESS) return code;
  sqlite3_int64 key;
  REGSAM access;
  if ((code = m.Resolve(hKey, &key, &access)) != ERROR_SUCCESS) return code;
  if (!(access & KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
  KeyNode* node = nullptr;
  if ((code = m.Children(key, &node)) != ERROR_SUCCESS) return code;
  if (dwIndex >= node->children.size()) return ERROR_NO_MORE_ITEMS;
  const std::string_view name = node->Name(node->children[dwIndex]);
  if (name.size() >= *lpcchName) return ERROR_MORE_DATA;
  std::memcpy(lpName, name.data(), name.size());
  lpName[name.size()] = '\0';
  *lpcchName = static_cast<DWORD>(name.size());
  if (lpClass != nullptr && lpcchClass != nullptr && *lpcchClass > 0) lpClass[0] = '\0';
  if (lpcchClass != nullptr) *lpcchClass = 0;
  if (lpftLastWriteTime != nullptr) *lpftLastWriteTime = FILETIME{};
  return ERROR_SUCCESS;
}

LONG HiveRegistry::RegEnumValueA(HKEY hKey, DWORD dwIndex, char* lpValueName, DWORD* lpcchValueName,
                                 DWORD*, DWORD* lpType, BYTE* lpData, DWORD* lpcbData) {
  if (lpValueName == nullptr || lpcchValueName == nullptr) return ERROR_INVALID_PARAMETER;
  if (lpData != nullptr && lpcbData == nullptr) return ERROR_INVALID_PARAMETER;
  Impl& m = *impl_;
  Impl::CallEnd end{m};
  LONG code = m.Sync();
  if (code != ERROR_SUCCESS) return code;
  sqlite3_int64 key;
  REGSAM access;
  if ((code = m.Resolve(hKey, &key, &access)) != ERROR_SUCCESS) return code;
  if (!(access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  KeyNode* node = nullptr;
  if ((code = m.Values(key, &node)) != ERROR_SUCCESS) return code;
  if (dwIndex >= node->values.size()) return ERROR_NO_MORE_ITEMS;
  const ValueRef& row = node->values[dwIndex];
  const std::string_view name = node->ValueName(row);
  const std::string_view data = node->ValueData(row);
  if (name.size() >= *lpcchValueName) {
    // As Windows: the type and the data's size are told all the same.
    if (lpType != nullptr) *lpType = row.type;
    if (lpcbData != nullptr) *lpcbData = static_cast<DWORD>(data.size());
    return ERROR_MORE_DATA;
  }
  if (lpData != nullptr && data.size() > *lpcbData) {
    *lpcbData = static_cast<DWORD>(data.size());
    if (lpType != nullptr) *lpType = row.type;
    return ERROR_MORE_DATA;
  }
  std::memcpy(lpValueName, name.data(), name.size());
  lpValueName[name.size()] = '\0';
  *lpcchValueName = static_cast<DWORD>(name.size());
  if (lpType != nullptr) *lpType = row.type;
  if (lpData != nullptr && !data.empty()) std::memcpy(lpData, data.data(), data.size());
  if (lpcbData != nullptr) *lpcbData = static_cast<DWORD>(data.size());
  return ERROR_SUCCESS;
}

LONG HiveRegistry::RegCreateKeyExA(HKEY hKey, const char* lpSubKey, DWORD, const char*, DWORD,
                                   REGSAM samDesired, const void*, HKEY* phkResult,
                                   DWORD* lpdwDisposition) {
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  *phkResult = 0;
  Impl& m = *impl_;
  Impl::CallEnd end{m};
  // Most creations meet an existing key: answer those without taking the
  // write lock.
  LONG code = m.Sync();
  if (code != ERROR_SUCCESS) return code;
  sqlite3_int64 key;
  REGSAM access;
  // The handle before the path, as RegOpenKeyExA does.
  if ((code = m.Resolve(hKey, &key, &access)) != ERROR_SUCCESS) return code;
  std::vector<std::string_view>& parts = m.path_parts;
  if ((code = ParsePath(lpSubKey, &parts)) != ERROR_SUCCESS) return code;
  if (parts.empty() && IsRoot(hKey)) {
    *phkResult = hKey;
    if (lpdwDisposition != nullptr) *lpdwDisposition = REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
  }
  sqlite3_int64 found;
  code = m.Walk(key, parts, &found);
  if (code == ERROR_SUCCESS) {
    *phkResult = m.NewHandle(found, samDesired);
    if (lpdwDisposition != nullptr) *lpdwDisposition = REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
  }
  if (code != ERROR_FILE_NOT_FOUND) return code;

  bool created = false;
  code = m.Write([&]() -> LONG {
    sqlite3_int64 at;
    REGSAM unused;
    LONG c = m.Resolve(hKey, &at, &unused);
    if (c != ERROR_SUCCESS) return c;
    sqlite3_int64 depth;
    {
      Use use(m.key_depth);
      use.Int(1, at);
      const int rc = use.Step();
      if (rc == SQLITE_DONE) return ERROR_KEY_DELETED;
      if (rc != SQLITE_ROW) return CodeFromSqlite(rc);
      depth = sqlite3_column_int64(m.key_depth, 0);
    }
    for (std::string_view part : parts) {
      ++depth;
      const std::string upper = UpperName(part);
      sqlite3_int64 child;
      c = m.Child(at, upper, &child);
      if (c == ERROR_FILE_NOT_FOUND) {
        if (depth > static_cast<sqlite3_int64>(MAX_KEY_DEPTH)) return ERROR_INVALID_PARAMETER;
        Use use(m.insert_key);
        use.Int(1, at).Blob(2, part).Blob(3, upper).Int(4, depth);
        const int rc = use.Step();
        if (rc != SQLITE_DONE) return CodeFromSqlite(rc);
        child = sqlite3_last_insert_rowid(m.db);
        m.ClearNodes();
        created = true;
      } else if (c != ERROR_SUCCESS) {
        return c;
      } else {
        created = false;
      }
      at = child;
    }
    found = at;
    return ERROR_SUCCESS;
  });
  if (code != ERROR_SUCCESS) return code;
  *phkResult = m.NewHandle(found, samDesired);
  if (lpdwDisposition != nullptr) {
    *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  }
  return ERROR_SUCCESS;
}

LONG HiveRegistry::RegSetValueExA(HKEY hKey, const char* lpValueName, DWORD, DWORD dwType,
                                  const BYTE* lpData, DWORD cbData) {
  if (lpData == nullptr && cbData != 0) return ERROR_INVALID_PARAMETER;
  const std::string_view name = lpValueName ? std::string_view(lpValueName) : std::string_view();
  if (name.size() > kMaxValueNameChars && NameChars(name) > kMaxValueNameChars) {
    return ERROR_INVALID_PARAMETER;
  }
  std::string data(reinterpret_cast<const char*>(lpData), lpData ? cbData : 0);
  // A string whose size did not count its terminating NUL gets one only when
  // a NUL follows the bytes given, as on Windows (which reads that byte too).
  if (IsStringType(dwType) && !data.empty() && data.back() != '\0' && lpData[cbData] == '\0')
    data.push_back('\0');
  const std::string upper = UpperName(name);
  Impl& m = *impl_;
  return m.Write([&]() -> LONG {
    sqlite3_int64 key;
    REGSAM access;
    const LONG c = m.Resolve(hKey, &key, &access);
    if (c != ERROR_SUCCESS) return c;
    if (!(access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    sqlite3_int64 existing = 0;
    {
      Use use(m.value_lookup);
      use.Int(1, key).Blob(2, upper);
      const int rc = use.Step();
      if (rc == SQLITE_ROW) {
        existing = sqlite3_column_int64(m.value_lookup, 0);
      } else if (rc != SQLITE_DONE) {
        return CodeFromSqlite(rc);
      }
    }
    if (existing != 0) {
      Use use(m.update_value);
      use.Int(1, dwType).Blob(2, data).Int(3, existing);
      const int rc = use.Step();
      return rc == SQLITE_DONE ? ERROR_SUCCESS : CodeFromSqlite(rc);
    }
    Use use(m.insert_value);
    use.Int(1, key).Blob(2, name).Blob(3, upper).Int(4, dwType).Blob(5, data);
    const int rc = use.Step();
    return rc == SQLITE_DONE ? ERROR_SUCCESS : CodeFromSqlite(rc);
  });
}

LONG HiveRegistry::RegDeleteKeyA(HKEY hKey, const char* lpSubKey) {
  if (lpSubKey == nullptr) return ERROR_INVALID_PARAMETER;
  Impl& m = *impl_;
  {
    // The handle before the path, as RegOpenKeyExA does; the write below
    // checks it again under the write lock.
    Impl::CallEnd end{m};
    LONG code = m.Sync();
    if (code != ERROR_SUCCESS) return code;
    sqlite3_int64 key;
    REGSAM access;
    if ((code = m.Resolve(hKey, &key, &access)) != ERROR_SUCCESS) return code;
  }
  std::vector<std::string_view> parts;
  if (const LONG code = ParsePath(lpSubKey, &parts); code != ERROR_SUCCESS) return code;
  return m.Write([&]() -> LONG {
    sqlite3_int64 key;
    REGSAM access;
    LONG c = m.Resolve(hKey, &key, &access);
    if (c != ERROR_SUCCESS) return c;
    if ((c = m.Walk(key, parts, &key)) != ERROR_SUCCESS) return c;
    return m.DeleteOne(key);
  });
}

LONG HiveRegistry::RegDeleteValueA(HKEY hKey, const char* lpValueName) {
  const std::string upper =
      UpperName(lpValueName ? std::string_view(lpValueName) : std::string_view());
  Impl& m = *impl_;
  return m.Write([&]() -> LONG {
    sqlite3_int64 key;
    REGSAM access;
    const LONG c = m.Resolve(hKey, &key, &access);
    if (c != ERROR_SUCCESS) return c;
    if (!(access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    Use use(m.delete_value);
    use.Int(1, key).Blob(2, upper);
    const int rc = use.Step();
    if (rc != SQLITE_DONE) return CodeFromSqlite(rc);
    return sqlite3_changes(m.db) > 0 ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
  });
}

LONG HiveRegistry::RegCloseKey(HKEY hKey) {
  if (IsRoot(hKey)) return ERROR_SUCCESS;
  Impl& m = *impl_;
  const auto it = m.HandleAt(hKey);
  if (it == m.handles.end() || it->hkey != hKey) return ERROR_INVALID_HANDLE;
  m.handles.erase(it);
  m.EndCall();
  return ERROR_SUCCESS;
}

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

// ---------------------------------------------------------------------------
// Opening and creating hive files.

namespace {

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

// kBuilding is for a private file still being built: its writes are not
// synced one by one, the finished file is synced once before it is
// published. *failure (when not null) gets the SQLite code of a failure to
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
  // store reads most of the file, several times over without it.
  rc = sqlite3_exec(impl->db,
                    mode == Access::kReadWrite ? "PRAGMA journal_mode = WAL; PRAGMA synchronous = FULL;"
                                                 " PRAGMA mmap_size = 268435456;"
                    : mode == Access::kBuilding ? "PRAGMA journal_mode = WAL; PRAGMA synchronous = OFF;"
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
  if (mode == Access::kImmutable) impl->wal_map_attempts = std::numeric_limits<int>::max();
  return std::make_unique<HiveRegistry>(std::move(impl));
}

// Builds a complete hive in a private file next to `path`, then links it into
// place, so that no process ever sees a half-made hive. Returns false with
// *error set on failure; true when path exists afterwards (made by us or by
// another process that was quicker).
bool CreateHiveFile(const std::string& path, const std::string* seed, std::string* error) {
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
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(temp.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  const std::string schema = "PRAGMA journal_mode = MEMORY; PRAGMA synchronous = OFF; BEGIN;" +
                             std::string(kSchema) + "PRAGMA application_id = " +
                             std::to_string(kApplicationId) + "; PRAGMA user_version = " +
                             std::to_string(kSchemaVersion) + "; COMMIT;";
  char* message = nullptr;
  if (rc == SQLITE_OK) rc = sqlite3_exec(db, schema.c_str(), nullptr, nullptr, &message);
  if (rc == SQLITE_OK)
    rc = sqlite3_exec(db, "PRAGMA journal_mode = WAL", nullptr, nullptr, &message);
  if (rc != SQLITE_OK) {
    std::string what = message ? message : sqlite3_errstr(rc);
    sqlite3_free(message);
    sqlite3_close_v2(db);
    cleanup();
    SetError(error, "cannot create the registry hive " + Quote(path) + ": " + what);
    return false;
  }
  sqlite3_close_v2(db);
  if (seed != nullptr) {
    std::string seed_error;
    auto hive = Connect(temp, &seed_error, Access::kBuilding);
    if (hive) {
      RegImportResult result = ImportRegText(*hive, *seed, "default classes store");
      if (!result.ok) seed_error = result.message;
    }
    if (!seed_error.empty()) {
      hive.reset();
      cleanup();
      SetError(error, "cannot seed the registry hive " + Quote(path) + ": " + seed_error);
      return false;
    }
  }
  // Flush the finished file before it becomes visible under its name.
  const int sync_fd = ::open(temp.c_str(), O_RDONLY | O_CLOEXEC);
  if (sync_fd >= 0) {
    ::fsync(sync_fd);
    ::close(sync_fd);
  }
  // Publish without ever replacing a file another process put there first.
  // link() works on every local file system; renameat2 is the fallback for
  // those without hard links.
  bool published = ::link(temp.c_str(), path.c_str()) == 0 || errno == EEXIST;
  if (!published && errno != ENOENT) {
    published =
        ::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0 ||
        errno == EEXIST;
  }
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
                                       std::string* error) {
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
    if (!CreateHiveFile(path, seed, error)) return nullptr;
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
  return OpenHiveSeeded(DefaultHivePath(), DefaultClassesReg(), error);
}

}  // namespace zandrel::hive
