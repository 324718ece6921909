// A parsed .reg file's changes made as the registry calls make them
// (registry::ApplyThroughCalls), with the keys and values the file adds gathered in
// memory first and then written in bulk: key ids handed out here, rows
// inserted many to a statement, and no lookup in the file per name. Of the keys already in the hive, each one
// the file reaches is read once (its children, or its values' names).
//
// Deletions are rare in files: a deleted key goes through the calls, after
// what was gathered before it has been written.
#include <algorithm>
#include <functional>
#include <memory>
#include <unordered_map>

#include "registry/hive/HiveBulk.h"
#include "registry/hive/HiveImpl.h"
#include "registry/Defaults.h"
#include "registry/Names.h"
#include "text/LargePages.h"

namespace zandrel::hive {
namespace {

constexpr std::uint32_t kNone = 0xFFFFFFFF;

// Rows one insert statement takes: statements cost as much as rows, and a
// few dozen rows make that small without a long text to prepare.
constexpr int kRowsPerInsert = 64;

// A key the file reaches: one already in the hive (a row), or one it adds
// (no row until written).
struct Node {
  sqlite3_int64 id;  // 0 until written
  sqlite3_int64 depth;
  std::uint32_t parent;          // kNone for a root
  std::string_view name;         // an added key's name as the file writes it
  std::string_view upper;        // its comparison name (none for a root)
  const registry::Change* made;  // the section that adds it
  bool children_known;           // every child is in the child map
  bool values_known;             // every value is in the value map
  std::uint64_t seen;            // the round of deletions at which it last existed
};

struct Value {
  std::uint32_t node;
  std::string_view name;  // the name first set; a rewrite keeps it, as the calls do
  std::string_view upper;
  DWORD type;
  std::string_view data;
  sqlite3_int64 id;              // its row, 0 until written
  const registry::Change* made;  // the line that set it last
  bool rewritten;                // a row whose type and data change
  bool gone;                     // deleted after it was gathered
};

class Importer {
 public:
  Importer(HiveRegistry& hive, HiveRegistry::Impl& m) : hive_(hive), m_(m) {}

  LONG Run(const std::deque<registry::Change>& changes, const registry::Change** failed) {
    int rc = SQLITE_OK;
    for (auto [stmt, sql] : {std::pair{&children_, "SELECT id, upper_name, depth FROM keys WHERE parent = ?1"},
                             std::pair{&values_of_, "SELECT id, upper_name FROM vals WHERE key = ?1"}}) {
      if (rc == SQLITE_OK) rc = stmt->Prepare(m_.db, sql);
    }
    if (rc != SQLITE_OK) {
      *failed = &changes.front();
      return CodeFromSqlite(rc);
    }
    // Room for what the file's lines add, on large pages: first touching
    // memory page by page costs more than filling it. (Keys already in the
    // hive that the file reaches are added to the nodes too, as read.)
    std::size_t key_lines = 0;
    for (const registry::Change& op : changes) key_lines += op.kind == registry::Change::kKey;
    nodes_.reserve(key_lines + 8);
    values_.reserve(changes.size() - key_lines);
    text::AdviseLargePages(nodes_.data(), nodes_.capacity() * sizeof(Node));
    text::AdviseLargePages(values_.data(), values_.capacity() * sizeof(Value));
    children_map_.Reserve(key_lines);
    values_map_.Reserve(changes.size() - key_lines);
    for (const registry::Change& op : changes) {
      *failed = &op;
      LONG code = ERROR_SUCCESS;
      switch (op.kind) {
        case registry::Change::kKey: code = Key(op); break;
        case registry::Change::kSetValue: code = SetValue(op); break;
        case registry::Change::kDeleteValue: code = DeleteValue(op); break;
        case registry::Change::kDeleteKey: code = DeleteKey(op, failed); break;
      }
      if (code != ERROR_SUCCESS) return code;
    }
    return Write(failed);
  }

 private:
  // A key that was in the hive when the file reached it.
  std::uint32_t Existing(sqlite3_int64 id, sqlite3_int64 depth, std::uint32_t parent, std::string_view upper) {
    const auto [it, added] = by_id_.emplace(id, static_cast<std::uint32_t>(nodes_.size()));
    if (added) nodes_.push_back(Node{id, depth, parent, {}, upper, nullptr, false, false, round_});
    return it->second;
  }

  std::uint32_t FindChild(std::uint32_t parent, std::string_view upper, std::uint32_t hash) const {
    return children_map_.Find(hash,
                              [&](std::uint32_t n) { return nodes_[n].parent == parent && nodes_[n].upper == upper; });
  }
  std::uint32_t FindValue(std::uint32_t node, std::string_view upper, std::uint32_t hash) const {
    return values_map_.Find(hash,
                            [&](std::uint32_t v) { return values_[v].node == node && values_[v].upper == upper; });
  }

  // Opens (and creates) the key of a section, as OpenPath's calls would.
  LONG Key(const registry::Change& op) {
    current_ = kNone;
    LONG code = ParsePath(op.path, &parts_);
    if (code != ERROR_SUCCESS) return code;
    // HKEY_CLASSES_ROOT is HKEY_LOCAL_MACHINE\SOFTWARE\Classes: one key,
    // whichever way a section names it, found from the machine's root.
    HKEY root = op.root;
    if (root == HKEY_CLASSES_ROOT) {
      parts_.insert(parts_.begin(), {std::string_view("SOFTWARE"), std::string_view("Classes")});
      root = HKEY_LOCAL_MACHINE;
    }
    // A file lists a key's subkeys after it: what the section before found
    // of the same path is still what it is, until a key is deleted.
    std::size_t same = 0;
    if (root == last_root_) {
      while (same < parts_.size() && same < last_parts_.size() && parts_[same] == last_parts_[same]) ++same;
    }
    last_parts_.resize(same);
    last_nodes_.resize(same);
    std::uint32_t at = same > 0 ? last_nodes_.back() : Existing(RootKey(root), 0, kNone, {});
    for (std::size_t i = same; i < parts_.size(); ++i) {
      if ((code = Child(at, parts_[i], op, &at)) != ERROR_SUCCESS) return code;
      last_parts_.push_back(parts_[i]);
      last_nodes_.push_back(at);
    }
    last_root_ = root;
    current_ = at;
    return ERROR_SUCCESS;
  }

  // The child `name` of `parent`, added when missing.
  LONG Child(std::uint32_t parent, std::string_view name, const registry::Change& op, std::uint32_t* out) {
    upper_.clear();
    registry::AppendUpperName(name, &upper_);
    LONG code;
    if (!nodes_[parent].children_known && (code = LoadChildren(parent)) != ERROR_SUCCESS) return code;
    const std::uint32_t hash = NameTable::Hash(parent, upper_);
    const std::uint32_t found = FindChild(parent, upper_, hash);
    if (found != NameTable::kEmpty) {
      if ((code = StillThere(found)) == ERROR_SUCCESS) {
        *out = found;
        return ERROR_SUCCESS;
      }
      if (code != ERROR_FILE_NOT_FOUND) return code;
      children_map_.Erase(hash, found);
    }
    const sqlite3_int64 depth = nodes_[parent].depth + 1;
    if (depth > static_cast<sqlite3_int64>(MAX_KEY_DEPTH)) return ERROR_INVALID_PARAMETER;
    const std::string_view upper = arena_.Keep(upper_);
    *out = static_cast<std::uint32_t>(nodes_.size());
    nodes_.push_back(Node{0, depth, parent, name, upper, &op, true, true, round_});
    children_map_.Insert(hash, *out);
    added_keys_.push_back(*out);
    return ERROR_SUCCESS;
  }

  // Whether a key found earlier still exists after the keys deleted since.
  LONG StillThere(std::uint32_t index) {
    Node& node = nodes_[index];
    if (node.seen == round_ || node.id == 0) return ERROR_SUCCESS;
    Use use(m_.key_depth);
    use.Int(1, node.id);
    const int rc = use.Step();
    if (rc == SQLITE_DONE) return ERROR_FILE_NOT_FOUND;
    if (rc != SQLITE_ROW) return CodeFromSqlite(rc);
    node.seen = round_;
    return ERROR_SUCCESS;
  }

  LONG LoadChildren(std::uint32_t parent) {
    Use use(children_.get());
    use.Int(1, nodes_[parent].id);
    int rc;
    while ((rc = use.Step()) == SQLITE_ROW) {
      const std::string_view upper = arena_.Keep(use.Column(1));
      const std::uint32_t child =
          Existing(sqlite3_column_int64(children_.get(), 0), sqlite3_column_int64(children_.get(), 2), parent, upper);
      children_map_.Insert(NameTable::Hash(parent, upper), child);
    }
    if (rc != SQLITE_DONE) return CodeFromSqlite(rc);
    nodes_[parent].children_known = true;
    return ERROR_SUCCESS;
  }

  LONG LoadValues(std::uint32_t node) {
    Use use(values_of_.get());
    use.Int(1, nodes_[node].id);
    int rc;
    while ((rc = use.Step()) == SQLITE_ROW) {
      const std::string_view upper = arena_.Keep(use.Column(1));
      values_map_.Insert(NameTable::Hash(node, upper), static_cast<std::uint32_t>(values_.size()));
      values_.push_back(
          Value{node, {}, upper, 0, {}, sqlite3_column_int64(values_of_.get(), 0), nullptr, false, false});
    }
    if (rc != SQLITE_DONE) return CodeFromSqlite(rc);
    nodes_[node].values_known = true;
    return ERROR_SUCCESS;
  }

  // RegSetValueExA's checks, in its order, then the value gathered.
  LONG SetValue(const registry::Change& op) {
    if (op.name.size() > kMaxValueNameChars && registry::NameChars(op.name) > kMaxValueNameChars) {
      return ERROR_INVALID_PARAMETER;
    }
    if (current_ == kNone) return ERROR_INVALID_HANDLE;
    LONG code;
    if (!nodes_[current_].values_known && (code = LoadValues(current_)) != ERROR_SUCCESS) return code;
    std::string_view data = op.data;
    if (NeedsNul(op.type, data)) {
      char* copy = arena_.Take(data.size() + 1);
      std::copy(data.begin(), data.end(), copy);
      copy[data.size()] = '\0';
      data = std::string_view(copy, data.size() + 1);
    }
    upper_.clear();
    registry::AppendUpperName(op.name, &upper_);
    const std::uint32_t hash = NameTable::Hash(current_, upper_);
    const std::uint32_t found = FindValue(current_, upper_, hash);
    if (found != NameTable::kEmpty) {
      Value& v = values_[found];
      v.type = op.type;
      v.data = data;
      v.made = &op;
      if (v.id != 0 && !v.rewritten) {
        v.rewritten = true;
        rewritten_.push_back(found);
      }
      return ERROR_SUCCESS;
    }
    const std::string_view upper = arena_.Keep(upper_);
    values_map_.Insert(hash, static_cast<std::uint32_t>(values_.size()));
    added_values_.push_back(static_cast<std::uint32_t>(values_.size()));
    values_.push_back(Value{current_, op.name, upper, op.type, data, 0, &op, false, false});
    return ERROR_SUCCESS;
  }

  // RegDeleteValueA: a missing value is no fault of the file.
  LONG DeleteValue(const registry::Change& op) {
    if (current_ == kNone) return ERROR_INVALID_HANDLE;
    LONG code;
    if (!nodes_[current_].values_known && (code = LoadValues(current_)) != ERROR_SUCCESS) return code;
    upper_.clear();
    registry::AppendUpperName(op.name, &upper_);
    const std::uint32_t hash = NameTable::Hash(current_, upper_);
    const std::uint32_t found = FindValue(current_, upper_, hash);
    if (found == NameTable::kEmpty) return ERROR_SUCCESS;
    Value& v = values_[found];
    v.gone = true;
    v.made = &op;
    if (v.id != 0) deleted_values_.push_back(found);
    values_map_.Erase(hash, found);
    return ERROR_SUCCESS;
  }

  // Writes what was gathered, then deletes through the calls; every key
  // found before is checked again when next reached.
  LONG DeleteKey(const registry::Change& op, const registry::Change** failed) {
    current_ = kNone;
    LONG code = Write(failed);
    if (code != ERROR_SUCCESS) return code;
    *failed = &op;
    m_.DropCaches();
    code = registry::DeleteKeyTree(hive_, op.root, std::string(op.path));
    ++round_;
    last_root_ = 0;
    last_parts_.clear();
    last_nodes_.clear();
    return code;
  }

  LONG ReadLastKeyId() {
    Statement next;
    int rc = next.Prepare(m_.db,
                          "SELECT max(ifnull((SELECT seq FROM sqlite_sequence WHERE name = 'keys'), 0),"
                          " ifnull((SELECT max(id) FROM keys), 0))");
    if (rc != SQLITE_OK) return CodeFromSqlite(rc);
    if ((rc = sqlite3_step(next.get())) != SQLITE_ROW) return CodeFromSqlite(rc);
    last_key_id_ = sqlite3_column_int64(next.get(), 0);
    ids_read_ = true;
    return ERROR_SUCCESS;
  }

  // Inserts rows [0, count) with `bind(use, row, first parameter)`, many to
  // a statement, each row given the next id by SQLite (appended, with no
  // search for it); then `inserted(first row, end row, last id)`. On failure
  // *failed is the change of the first row of the statement that failed.
  template <typename Bind, typename Inserted, typename Made>
  LONG InsertRows(Statement& many, Statement& one, const char* head, int columns, std::size_t count, Bind bind,
                  Inserted inserted, Made made, const registry::Change** failed) {
    for (std::size_t row = 0; row < count;) {
      const std::size_t end = row + (count - row >= kRowsPerInsert ? kRowsPerInsert : 1);
      Statement& stmt = end - row > 1 ? many : one;
      int rc = SQLITE_OK;
      if (stmt.get() == nullptr) rc = stmt.Prepare(m_.db, InsertSql(head, columns, static_cast<int>(end - row)));
      if (rc == SQLITE_OK) {
        Use use(stmt.get());
        for (std::size_t r = row; r < end; ++r) bind(use, r, static_cast<int>((r - row) * columns) + 1);
        rc = use.Step();
      }
      LONG code = rc == SQLITE_DONE ? inserted(row, end, sqlite3_last_insert_rowid(m_.db)) : CodeFromSqlite(rc);
      if (code != ERROR_SUCCESS) {
        *failed = made(row);
        return code;
      }
      row = end;
    }
    return ERROR_SUCCESS;
  }

  // Writes the keys and values gathered since the last write.
  LONG Write(const registry::Change** failed) {
    if (added_keys_.empty() && added_values_.empty() && rewritten_.empty() && deleted_values_.empty()) {
      return ERROR_SUCCESS;
    }
    LONG code;
    if (!ids_read_ && (code = ReadLastKeyId()) != ERROR_SUCCESS) return code;

    // Ids in the order the file adds the keys, as the calls give them: a
    // parent before its children, and each row appended to the table.
    // AUTOINCREMENT gives each key the id after the largest ever given, so
    // they are known before the rows are written, as the children need.
    for (const std::uint32_t n : added_keys_) nodes_[n].id = ++last_key_id_;
    code = InsertRows(
        insert_keys_, insert_key_, "keys(parent, name, upper_name, depth)", 4, added_keys_.size(),
        [this](Use& use, std::size_t row, int at) {
          const Node& n = nodes_[added_keys_[row]];
          use.Int(at, nodes_[n.parent].id).Blob(at + 1, n.name).Blob(at + 2, n.upper).Int(at + 3, n.depth);
        },
        [this](std::size_t, std::size_t end, sqlite3_int64 last) {
          return last == nodes_[added_keys_[end - 1]].id ? ERROR_SUCCESS : ERROR_BADDB;
        },
        [this](std::size_t row) { return nodes_[added_keys_[row]].made; }, failed);
    if (code != ERROR_SUCCESS) return code;
    added_keys_.clear();

    for (const std::uint32_t index : deleted_values_) {
      Use use(DeleteById());
      use.Int(1, values_[index].id);
      const int rc = use.Step();
      if (rc != SQLITE_DONE) {
        *failed = values_[index].made;
        return CodeFromSqlite(rc);
      }
    }
    deleted_values_.clear();
    for (const std::uint32_t index : rewritten_) {
      Value& v = values_[index];
      v.rewritten = false;
      if (v.gone) continue;
      Use use(Rewrite());
      use.Int(1, v.id).Int(2, v.type).Blob(3, v.data);
      const int rc = use.Step();
      if (rc != SQLITE_DONE) {
        *failed = v.made;
        return CodeFromSqlite(rc);
      }
    }
    rewritten_.clear();

    // Values in the order they were first set, which is the order each
    // key's values enumerate in.
    added_values_.erase(std::remove_if(added_values_.begin(), added_values_.end(),
                                       [this](std::uint32_t v) { return values_[v].gone; }),
                        added_values_.end());
    code = InsertRows(
        insert_values_, insert_value_, "vals(key, name, upper_name, type, data)", 5, added_values_.size(),
        [this](Use& use, std::size_t row, int at) {
          const Value& v = values_[added_values_[row]];
          use.Int(at, nodes_[v.node].id).Blob(at + 1, v.name).Blob(at + 2, v.upper).Int(at + 3, v.type);
          use.Blob(at + 4, v.data);
        },
        [this](std::size_t row, std::size_t end, sqlite3_int64 last) {
          for (std::size_t r = end; r-- > row;) values_[added_values_[r]].id = last--;
          return ERROR_SUCCESS;
        },
        [this](std::size_t row) { return values_[added_values_[row]].made; }, failed);
    if (code != ERROR_SUCCESS) return code;
    added_values_.clear();
    return ERROR_SUCCESS;
  }

  sqlite3_stmt* DeleteById() {
    if (delete_value_.get() == nullptr) delete_value_.Prepare(m_.db, "DELETE FROM vals WHERE id = ?1");
    return delete_value_.get();
  }
  sqlite3_stmt* Rewrite() {
    if (rewrite_value_.get() == nullptr)
      rewrite_value_.Prepare(m_.db, "UPDATE vals SET type = ?2, data = ?3 WHERE id = ?1");
    return rewrite_value_.get();
  }

  HiveRegistry& hive_;
  HiveRegistry::Impl& m_;
  text::Arena arena_;
  std::vector<Node> nodes_;
  std::vector<Value> values_;
  std::unordered_map<sqlite3_int64, std::uint32_t> by_id_;  // keys already there, by id
  NameTable children_map_;                                  // keys by parent and name
  NameTable values_map_;                                    // values by key and name
  std::vector<std::uint32_t> added_keys_;                   // not yet written
  std::vector<std::uint32_t> added_values_;                 // not yet written
  std::vector<std::uint32_t> rewritten_;                    // rows whose type and data change
  std::vector<std::uint32_t> deleted_values_;               // rows to delete
  std::uint32_t current_ = kNone;                           // the key of the section being read
  std::uint64_t round_ = 1;                                 // one more after each deleted key
  HKEY last_root_ = 0;
  std::vector<std::string_view> last_parts_;
  std::vector<std::uint32_t> last_nodes_;
  std::vector<std::string_view> parts_;
  std::string upper_;
  bool ids_read_ = false;
  sqlite3_int64 last_key_id_ = 0;  // the largest key id ever given
  Statement children_, values_of_, insert_keys_, insert_key_, insert_values_, insert_value_, delete_value_,
      rewrite_value_;
};

}  // namespace

LONG HiveRegistry::ApplyChanges(const std::deque<registry::Change>& changes, const registry::Change** failed) {
  if (changes.empty()) return ERROR_SUCCESS;
  Impl& m = *impl_;
  *failed = &changes.front();
  if (!m.in_transaction) return ERROR_INVALID_PARAMETER;
  const LONG code = Importer(*this, m).Run(changes, failed);
  // The rows were written behind the caches' back.
  m.DropCaches();
  return code;
}

}  // namespace zandrel::hive
