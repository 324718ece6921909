// Internal to the hive: the connection with its kept statements, handles,
// caches and change detection, shared by the files that make up the hive:
//   HiveFile.cpp        opening, creating and seeding hive files
//   HiveStatements.cpp  the kept statements, transactions and SQLite's codes
//   HiveChanges.cpp     noticing other connections' commits
//   HiveCache.cpp       what the file held, kept in memory between calls
//   HiveCalls.cpp       the registry calls and their handles
//   HiveWalk.cpp        a whole subtree read at once
//   HiveImport.cpp      a parsed .reg file's changes written in bulk
//   HiveBulk.h          its name table, owned statements and insert texts
#pragma once

#include <sqlite3.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "registry/hive/Hive.h"
#include "registry/hive/HiveErrors.h"

namespace zandrel::hive {

// Fixed rows: the three hive roots and the classes root below HKLM (row 4,
// HKLM\SOFTWARE, is fixed too: every id up to kClassesKey is undeletable).
inline constexpr sqlite3_int64 kMachineKey = 1;
inline constexpr sqlite3_int64 kUserKey = 2;
inline constexpr sqlite3_int64 kUsersKey = 3;
inline constexpr sqlite3_int64 kClassesKey = 5;

// Longest value name, in characters.
inline constexpr std::size_t kMaxValueNameChars = 16383;

inline bool IsRoot(HKEY h) { return h >= HKEY_CLASSES_ROOT && h <= HKEY_USERS; }

// The row of a root handle.
inline sqlite3_int64 RootKey(HKEY h) {
  switch (h) {
    case HKEY_CLASSES_ROOT: return kClassesKey;
    case HKEY_CURRENT_USER: return kUserKey;
    case HKEY_LOCAL_MACHINE: return kMachineKey;
    default: return kUsersKey;
  }
}

inline bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// Whether RegSetValueExA stores `data` of `type` with a NUL added: a string
// whose size does not count its terminating NUL is stored with one. Windows
// adds it only when the byte after the data is a NUL, reading past the
// caller's buffer; only the buffer is read here, so the string is taken as
// ending where its size says.
inline bool NeedsNul(DWORD type, std::string_view data) {
  return IsStringType(type) && !data.empty() && data.back() != '\0';
}

// Splits a subkey path into its components, empty ones dropped. NULL is the
// empty path; 161 for a path that starts with "\", 87 for a name too long.
LONG ParsePath(const char* sub_key, std::vector<std::string_view>* parts);
LONG ParsePath(std::string_view path, std::vector<std::string_view>* parts);

// Keys whose children or values are kept in memory between calls; a listing
// of a large classes store touches about four per extension.
inline constexpr std::size_t kMaxCachedKeys = 1 << 18;

// Names looked up one by one under a key whose children are not loaded;
// past this many the whole child list is loaded instead, so that lookups stay
// a binary search however many are made.
inline constexpr std::size_t kMaxProbes = 64;

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
    sqlite3_bind_blob(stmt_, index, v.empty() ? "" : v.data(), static_cast<int>(v.size()), SQLITE_STATIC);
    return *this;
  }
  int Step() { return sqlite3_step(stmt_); }
  std::string_view Column(int index) {
    const void* p = sqlite3_column_blob(stmt_, index);
    const int n = sqlite3_column_bytes(stmt_, index);
    return p ? std::string_view(static_cast<const char*>(p), static_cast<std::size_t>(n)) : std::string_view();
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

  std::string_view Name(const ChildRef& c) const { return std::string_view(child_text.data() + c.at, c.name_len); }
  std::string_view Upper(const ChildRef& c) const {
    return std::string_view(child_text.data() + c.at + (c.own_upper ? c.name_len : 0), c.upper_len);
  }
  // The first child whose upper-cased name is not below `upper`.
  std::vector<ChildRef>::iterator LowerBound(std::string_view upper) {
    return std::lower_bound(children.begin(), children.end(), upper,
                            [this](const ChildRef& c, std::string_view u) { return Upper(c) < u; });
  }
  // Stores a child's names at the end of *text and describes it in *ref;
  // false when the buffer would outgrow its 32-bit offsets.
  static bool Store(std::string_view name, std::string_view upper, sqlite3_int64 id, std::string* text, ChildRef* ref) {
    const bool own_upper = name != upper;
    const std::size_t need = name.size() + (own_upper ? upper.size() : 0);
    if (text->size() + need > std::numeric_limits<std::uint32_t>::max()) return false;
    *ref = ChildRef{static_cast<std::uint32_t>(text->size()), static_cast<std::uint32_t>(name.size()),
                    static_cast<std::uint32_t>(upper.size()), own_upper, id};
    text->append(name);
    if (own_upper) text->append(upper);
    return true;
  }
  std::string_view ValueName(const ValueRef& v) const { return std::string_view(value_text.data() + v.at, v.name_len); }
  std::string_view ValueData(const ValueRef& v) const {
    return std::string_view(value_text.data() + v.at + v.name_len, v.data_len);
  }
};

// Key id -> index of its KeyNode. A hand-made open-addressing table measured
// no faster than this at 30,000 keys.
class NodeIndex {
 public:
  const std::uint32_t* Find(sqlite3_int64 id) const {
    auto it = map_.find(id);
    return it == map_.end() ? nullptr : &it->second;
  }
  void Insert(sqlite3_int64 id, std::uint32_t index) { map_.emplace(id, index); }
  void Clear() { map_ = std::unordered_map<sqlite3_int64, std::uint32_t>(); }

 private:
  std::unordered_map<sqlite3_int64, std::uint32_t> map_;
};

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
  sqlite3_stmt* set_value = nullptr;
  sqlite3_stmt* delete_value = nullptr;
  sqlite3_stmt* delete_tree_values = nullptr;  // a whole subtree at once (DeleteTree)
  sqlite3_stmt* delete_tree_keys = nullptr;
  sqlite3_stmt* table_sizes = nullptr;  // the whole subtree read at once (HiveWalk.cpp)
  sqlite3_stmt* all_keys = nullptr;
  sqlite3_stmt* key_order = nullptr;
  sqlite3_stmt* all_values = nullptr;
  sqlite3_stmt* extension_defaults = nullptr;  // ExtensionsNamingTitle

  struct Handle {
    HKEY hkey;
    sqlite3_int64 key;
    REGSAM access;
    std::uint64_t checked_epoch;  // epoch at which the key was last seen to exist
    sqlite3_int64 depth = -1;     // the key's depth, when known; keys never move
  };
  // The open handles, sorted by value. Few are open at a time, and a new one
  // is nearly always the largest, so opening and closing move no memory.
  std::vector<Handle> handles;
  HKEY next_handle = 0x100;

  std::vector<Handle>::iterator HandleAt(HKEY h);
  Handle* FindHandle(HKEY h);

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
  bool reading = false;  // a read snapshot is held between calls
  // A private file being built, synced once whole before it is published
  // (HiveFile.cpp): a commit starts its pages for the disk at once, so that
  // they are written while its caller still works.
  bool building = false;
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

  // What PrepareWalk read, for the next WalkSubtree (HiveWalk.cpp).
  struct WalkScan;
  std::shared_ptr<WalkScan> walk_scan;

  ~Impl();

  int Prepare();

  // Empties the caches without saying anything about the file.
  void ClearNodes();

  void DropCaches();

  // Forgets what the cache holds of `key`'s children / values, after this
  // connection added to them; the rest of the cache stays current.
  void ForgetChildren(sqlite3_int64 key);
  void ForgetValues(sqlite3_int64 key);

  // The cache entry of `key`, made empty when missing.
  KeyNode& Node(sqlite3_int64 key);

  // Borrows SQLite's own mapping of the first WAL-index region: it stays
  // mapped, and the file stays locked against truncation, for as long as this
  // connection is open. (Opening the file ourselves would not do: closing our
  // descriptor would drop the process's POSIX locks on it, SQLite's included.)
  void MapWalHeader();

  // Drops the caches when another connection committed since the last look.
  LONG CheckVersion();

  // Ends the read snapshot this connection holds between calls, if any.
  void EndRead();

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
  LONG Sync();

  // Begins the snapshot of a deferred call before its first statement. A
  // commit since the call began drops the caches here; what the call took
  // from them before is what a call made a moment earlier would have seen
  // (key ids are never reused, so a stale parent id finds no children).
  LONG Reading();

  // `header`: the WAL-index header as read before the snapshot begins
  // (unused while the header is not mapped).
  LONG BeginSnapshot(const unsigned char* header);

  // Ends the snapshot after a call that leaves no handle open.
  void EndCall();
  struct CallEnd {
    Impl& m;
    ~CallEnd() { m.EndCall(); }
  };

  // AUTOINCREMENT's counter rolls back with a transaction, so the ids of keys
  // created in a rolled-back transaction are handed out again, and a handle
  // to such a key would reach the next key created. After a rollback those
  // handles are cut off (key 0, never an id): they answer 1018 from then on,
  // as a handle to any deleted key does.
  void CutOffVanishedKeys();

  // The key behind a handle opened with every right in `needed`. 6 for a
  // handle never given out or closed, 1018 for a key deleted since, 5 for a
  // handle without one of the rights.
  LONG Resolve(HKEY h, sqlite3_int64* key, REGSAM needed = 0);
  // How a call begins: the caches made current, then its handle resolved.
  LONG SyncAndResolve(HKEY h, sqlite3_int64* key, REGSAM needed = 0) {
    const LONG code = Sync();
    return code != ERROR_SUCCESS ? code : Resolve(h, key, needed);
  }
  // How a call with a path begins: the handle before the path, as Windows
  // checks them, then the path's parts into path_parts.
  LONG SyncAndResolvePath(HKEY h, const char* sub_key, sqlite3_int64* key) {
    const LONG code = SyncAndResolve(h, key);
    return code != ERROR_SUCCESS ? code : ParsePath(sub_key, &path_parts);
  }

  // Finds the child `upper` of `parent`: 0 found, 2 missing, or a failure.
  LONG Child(sqlite3_int64 parent, std::string_view upper, sqlite3_int64* child);

  // Finds the key at `parts` below `key`; *known (when given) is how many
  // of the parts were found, also when the key is missing.
  LONG Walk(sqlite3_int64 key, const std::vector<std::string_view>& parts, sqlite3_int64* out,
            std::size_t* known = nullptr);

  // The cache entry of `key` with its whole child list.
  LONG Children(sqlite3_int64 key, KeyNode** out);

  // The cache entry of `key` with its values.
  LONG Values(sqlite3_int64 key, KeyNode** out);

  // The cache entry of the key behind a handle, for enumerating its values
  // (the handle needs KEY_QUERY_VALUE) or its subkeys (KEY_ENUMERATE_SUB_KEYS).
  LONG ToEnumerate(HKEY h, bool values, KeyNode** out) {
    sqlite3_int64 key;
    const LONG code = SyncAndResolve(h, &key, values ? KEY_QUERY_VALUE : KEY_ENUMERATE_SUB_KEYS);
    return code != ERROR_SUCCESS ? code : values ? Values(key, out) : Children(key, out);
  }

  HKEY NewHandle(sqlite3_int64 key, REGSAM access, sqlite3_int64 depth = -1);

  static LONG Run(sqlite3_stmt* stmt);
  // zandrel_names_title(type, data, upper): whether a default value of
  // `type` and `data` names the title upper-cased as `upper`.
  static void NamesTitle(sqlite3_context* context, int argc, sqlite3_value** argv);

  // Deletes one key and its values; refuses the fixed roots and a key with subkeys.
  LONG DeleteOne(sqlite3_int64 key);

  // What a modifying call's body does, for Write.
  enum WriteKind : unsigned {
    kChanges = 0,  // anything: the caches are dropped afterwards
    // Only adds keys or values, and makes the cache forget what it added to
    // (ForgetChildren, ForgetValues): the rest of the cache stays.
    kAdds = 1,
    // At most one statement changes the file, which SQLite makes atomic by
    // itself: no savepoint is needed around it.
    kOneStatement = 2,
  };

  // Runs one modifying call atomically: its own transaction outside a scope,
  // a savepoint inside one. On a non-zero result nothing of it remains.
  template <typename Body>
  LONG Write(Body&& body, unsigned kind = kChanges);
};

template <typename Body>
LONG HiveRegistry::Impl::Write(Body&& body, unsigned kind) {
  LONG code;
  if (in_transaction && (kind & kOneStatement)) {
    code = body();
  } else if (in_transaction) {
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
  if (code != ERROR_SUCCESS || !(kind & kAdds) || read_only) DropCaches();
  return code;
}

}  // namespace zandrel::hive
