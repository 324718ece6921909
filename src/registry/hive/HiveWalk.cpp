// A whole subtree read at once: three scans of the file in one snapshot
// instead of a statement per key, handed over as the registry calls would
// hand it (registry::WalkThroughCalls).
#include <cstdint>

#include "registry/hive/HiveImpl.h"
#include "text/LargePages.h"

namespace zandrel::hive {
namespace {

struct KeyRow {
  sqlite3_int64 id;
  std::size_t name_at;
  std::uint32_t name_len;
  std::uint32_t values_begin = 0;  // into the values in key order
  std::uint32_t values_end = 0;
  std::uint32_t children_begin = 0;  // into the children in enumeration order
  std::uint32_t children_end = 0;
};

struct ValueRow {
  std::uint32_t key;  // index into the keys
  DWORD type;
  std::size_t name_at;
  std::uint32_t name_len;
  std::uint32_t data_len;  // the data follows the name
};

constexpr std::size_t kNone = std::string_view::npos;

// Finds keys by id among the keys sorted by id: ids are handed out in
// order and never reused, so they are dense unless many keys were deleted,
// and then a direct table is used; else a binary search.
class KeyIndex {
 public:
  explicit KeyIndex(const std::vector<KeyRow>& keys) : keys_(keys) {
    if (keys.empty()) return;
    first_ = keys.front().id;
    const sqlite3_int64 span = keys.back().id - first_ + 1;
    if (span > static_cast<sqlite3_int64>(4 * keys.size() + 1024)) return;
    slots_.assign(static_cast<std::size_t>(span), kNoSlot);
    for (std::size_t i = 0; i < keys.size(); ++i)
      slots_[static_cast<std::size_t>(keys[i].id - first_)] = static_cast<std::uint32_t>(i);
  }
  // The index of the key `id`, or kNone.
  std::size_t Find(sqlite3_int64 id) const {
    if (!slots_.empty()) {
      const sqlite3_int64 at = id - first_;
      if (at < 0 || at >= static_cast<sqlite3_int64>(slots_.size())) return kNone;
      const std::uint32_t slot = slots_[static_cast<std::size_t>(at)];
      return slot == kNoSlot ? kNone : slot;
    }
    const auto it =
        std::lower_bound(keys_.begin(), keys_.end(), id, [](const KeyRow& k, sqlite3_int64 v) { return k.id < v; });
    return it != keys_.end() && it->id == id ? static_cast<std::size_t>(it - keys_.begin()) : kNone;
  }

 private:
  const std::vector<KeyRow>& keys_;
  sqlite3_int64 first_ = 0;
  static constexpr std::uint32_t kNoSlot = 0xFFFFFFFF;
  std::vector<std::uint32_t> slots_;
};

}  // namespace

// Every key and value of the file, as the scans read them.
struct HiveRegistry::Impl::WalkScan {
  std::string text;
  std::vector<KeyRow> keys;
  std::vector<ValueRow> rows;
  std::vector<std::uint32_t> values;    // rows grouped by key, each key's in creation order
  std::vector<std::uint32_t> children;  // keys grouped by parent, in enumeration order
  // What tells whether the file may have changed since (DropCaches, this
  // connection's own writes).
  std::uint64_t epoch;
  sqlite3_int64 changes;
};

namespace {

using WalkScan = HiveRegistry::Impl::WalkScan;

// Reads the whole file in three scans: keys, values, the name index.
LONG Scan(HiveRegistry::Impl& m, WalkScan* scan) {
  std::string& text = scan->text;
  std::vector<KeyRow>& keys = scan->keys;
  std::vector<ValueRow>& rows = scan->rows;
  int rc;
  {
    // Room first, so that nothing read is copied again as the lists grow:
    // a row takes more than 8 bytes of the file.
    Use use(m.table_sizes);
    if ((rc = use.Step()) != SQLITE_ROW) return CodeFromSqlite(rc);
    const auto bound = [&](int column) {
      const sqlite3_int64 file_bytes = sqlite3_column_int64(m.table_sizes, 2);
      return static_cast<std::size_t>(std::max<sqlite3_int64>(
          0, column == 2 ? file_bytes : std::min(sqlite3_column_int64(m.table_sizes, column), file_bytes / 8)));
    };
    keys.reserve(bound(0));
    rows.reserve(bound(1));
    text.reserve(bound(2));
    text::AdviseLargePages(keys.data(), keys.capacity() * sizeof(KeyRow));
    text::AdviseLargePages(rows.data(), rows.capacity() * sizeof(ValueRow));
    text::AdviseLargePages(text.data(), text.capacity());
  }
  {
    Use use(m.all_keys);
    while ((rc = use.Step()) == SQLITE_ROW) {
      const std::string_view name = use.Column(1);
      keys.push_back(KeyRow{sqlite3_column_int64(m.all_keys, 0), text.size(), static_cast<std::uint32_t>(name.size())});
      text.append(name);
    }
    if (rc != SQLITE_DONE) return CodeFromSqlite(rc);
  }
  const KeyIndex index(keys);

  // Values in creation order, then grouped by key keeping that order.
  {
    Use use(m.all_values);
    while ((rc = use.Step()) == SQLITE_ROW) {
      const std::size_t key = index.Find(sqlite3_column_int64(m.all_values, 0));
      if (key == kNone) continue;  // a value of no key is never enumerated
      const std::string_view name = use.Column(1);
      const std::string_view data = use.Column(3);
      rows.push_back(ValueRow{static_cast<std::uint32_t>(key),
                              static_cast<DWORD>(sqlite3_column_int64(m.all_values, 2)), text.size(),
                              static_cast<std::uint32_t>(name.size()), static_cast<std::uint32_t>(data.size())});
      text.append(name).append(data);
    }
    if (rc != SQLITE_DONE) return CodeFromSqlite(rc);
  }
  for (const ValueRow& row : rows) ++keys[row.key].values_end;
  std::uint32_t at = 0;
  for (KeyRow& key : keys) {
    key.values_begin = at;
    at += key.values_end;
    key.values_end = key.values_begin;
  }
  std::vector<std::uint32_t>& values = scan->values;
  values.resize(rows.size());
  for (std::uint32_t i = 0; i < rows.size(); ++i) values[keys[rows[i].key].values_end++] = i;

  // Children in enumeration order: the name index lists them by parent.
  std::vector<std::uint32_t>& children = scan->children;
  {
    Use use(m.key_order);
    children.reserve(keys.size());
    std::size_t parent = kNone;
    sqlite3_int64 parent_id = 0;
    while ((rc = use.Step()) == SQLITE_ROW) {
      const sqlite3_int64 p = sqlite3_column_int64(m.key_order, 0);
      if (p != parent_id || parent == kNone) {
        parent_id = p;
        parent = index.Find(p);
        if (parent != kNone) keys[parent].children_begin = static_cast<std::uint32_t>(children.size());
      }
      if (parent == kNone) continue;  // a root's own row
      const std::size_t child = index.Find(sqlite3_column_int64(m.key_order, 1));
      if (child == kNone) return ERROR_BADDB;
      children.push_back(static_cast<std::uint32_t>(child));
      keys[parent].children_end = static_cast<std::uint32_t>(children.size());
    }
    if (rc != SQLITE_DONE) return CodeFromSqlite(rc);
  }
  scan->epoch = m.epoch;
  scan->changes = sqlite3_total_changes64(m.db);
  return ERROR_SUCCESS;
}

}  // namespace

LONG HiveRegistry::PrepareWalk() {
  Impl& m = *impl_;
  Impl::CallEnd end{m};
  sqlite3_int64 id;
  LONG code = m.SyncAndResolve(HKEY_LOCAL_MACHINE, &id);
  if (code == ERROR_SUCCESS) code = m.Reading();
  auto scan = std::make_shared<Impl::WalkScan>();
  if (code == ERROR_SUCCESS && (code = Scan(m, scan.get())) == ERROR_SUCCESS) m.walk_scan = std::move(scan);
  return code;
}

LONG HiveRegistry::WalkSubtree(HKEY hKey, registry::SubtreeVisitor& visitor) {
  Impl& m = *impl_;
  Impl::CallEnd end{m};
  sqlite3_int64 start_id;
  LONG code = m.SyncAndResolve(hKey, &start_id, KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS);
  if (code != ERROR_SUCCESS) return code;
  // A scan PrepareWalk made is used once, when nothing changed since.
  std::shared_ptr<Impl::WalkScan> scan = std::move(m.walk_scan);
  if (scan && (scan->epoch != m.epoch || scan->changes != sqlite3_total_changes64(m.db))) scan.reset();
  if (!scan) {
    if ((code = m.Reading()) != ERROR_SUCCESS) return code;
    scan = std::make_shared<Impl::WalkScan>();
    if ((code = Scan(m, scan.get())) != ERROR_SUCCESS) return code;
  }
  const std::string& text = scan->text;
  const std::vector<KeyRow>& keys = scan->keys;
  const std::vector<ValueRow>& rows = scan->rows;
  const std::vector<std::uint32_t>& values = scan->values;
  const std::vector<std::uint32_t>& children = scan->children;
  const std::size_t start = KeyIndex(keys).Find(start_id);
  if (start == kNone) return ERROR_KEY_DELETED;

  const auto hand_over = [&](std::size_t depth, std::size_t key, std::string_view name) {
    visitor.Key(depth, name);
    const KeyRow& k = keys[key];
    for (std::uint32_t i = k.values_begin; i < k.values_end; ++i) {
      const ValueRow& v = rows[values[i]];
      visitor.Value(std::string_view(text.data() + v.name_at, v.name_len), v.type,
                    std::string_view(text.data() + v.name_at + v.name_len, v.data_len));
    }
  };
  // Depth first with a stack of its own: a key has one parent, so each is
  // handed over once, however deep the tree; only a damaged file, whose
  // parents go round in a circle, could make the stack outgrow the keys.
  struct Frame {
    std::size_t key;
    std::uint32_t next;
  };
  visitor.Expect(keys.size(), rows.size(), text.size());
  hand_over(0, start, std::string_view());
  std::vector<Frame> stack{{start, keys[start].children_begin}};
  while (!stack.empty()) {
    Frame& top = stack.back();
    if (top.next == keys[top.key].children_end) {
      stack.pop_back();
      continue;
    }
    if (stack.size() > keys.size()) return ERROR_BADDB;
    const std::size_t child = children[top.next++];
    hand_over(stack.size(), child, std::string_view(text.data() + keys[child].name_at, keys[child].name_len));
    stack.push_back(Frame{child, keys[child].children_begin});
  }
  return ERROR_SUCCESS;
}

}  // namespace zandrel::hive
