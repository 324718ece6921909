#include "registry/hive/HiveImpl.h"

namespace zandrel::hive {

// The one place where SQLite's result codes become registry codes. "Not
// found" never passes through here: callers see SQLITE_DONE and answer 2.
LONG CodeFromSqlite(int rc) {
  switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE: return ERROR_SUCCESS;
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return ERROR_BUSY;
    case SQLITE_NOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case SQLITE_FULL: return ERROR_DISK_FULL;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH: return ERROR_ACCESS_DENIED;
    case SQLITE_TOOBIG: return ERROR_INVALID_PARAMETER;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_SCHEMA:
    case SQLITE_FORMAT: return ERROR_BADDB;
    default:  // SQLITE_IOERR, SQLITE_CANTOPEN, SQLITE_PROTOCOL, ...
      return ERROR_REGISTRY_IO_FAILED;
  }
}

HiveRegistry::Impl::~Impl() {
  for (sqlite3_stmt* s : {begin,         begin_read,  commit,       rollback,           savepoint,
                          release,       rollback_to, data_version, child_lookup,       key_depth,
                          children,      values,      insert_key,   has_children,       delete_key,
                          delete_values, set_value,   delete_value, delete_tree_values, delete_tree_keys,
                          table_sizes,   all_keys,    key_order,    all_values,         extension_defaults}) {
    sqlite3_finalize(s);
  }
  if (!sqlite3_get_autocommit(db)) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close_v2(db);
}

int HiveRegistry::Impl::Prepare() {
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
      {&set_value,
       "INSERT INTO vals(key, name, upper_name, type, data) VALUES(?1, ?2, ?3, ?4, ?5)"
       " ON CONFLICT(key, upper_name) DO UPDATE SET type = excluded.type, data = excluded.data"},
      {&delete_value, "DELETE FROM vals WHERE key = ?1 AND upper_name = ?2"},
      {&delete_tree_values,
       "WITH RECURSIVE tree(id) AS (SELECT value FROM json_each(?1) UNION ALL SELECT keys.id FROM keys JOIN tree ON keys.parent = tree.id)"
       " DELETE FROM vals WHERE key IN tree"},
      {&delete_tree_keys,
       "WITH RECURSIVE tree(id) AS (SELECT value FROM json_each(?1) UNION ALL SELECT keys.id FROM keys JOIN tree ON keys.parent = tree.id)"
       " DELETE FROM keys WHERE id IN tree"},
      // Scans of whole tables: keys and values by id (creation order), and
      // every key's children in enumeration order from the name index alone.
      // Bounds of the tables' sizes without counting them: the largest ids,
      // and the file's size, which holds every name and data byte.
      {&table_sizes,
       "SELECT (SELECT ifnull(max(id), 0) FROM keys), (SELECT ifnull(max(id), 0) FROM vals),"
       " (SELECT page_count * page_size FROM pragma_page_count, pragma_page_size)"},
      {&all_keys, "SELECT id, name FROM keys ORDER BY id"},
      {&key_order, "SELECT parent, id FROM keys ORDER BY parent, upper_name"},
      {&all_values, "SELECT key, name, type, data FROM vals ORDER BY id"},
      // The keys below ?1 whose names begin with "." (a range of the name
      // index) and whose default value names the upper-cased title ?2, in
      // enumeration order. Tested before any key row is read: only the
      // matches cost a look-up of their names.
      {&extension_defaults,
       "SELECT k.name FROM keys k JOIN vals v ON v.key = k.id AND v.upper_name = X''"
       " WHERE k.parent = ?1 AND k.upper_name >= X'2E' AND k.upper_name < X'2F'"
       " AND zandrel_names_title(v.type, v.data, ?2) ORDER BY k.upper_name"},
  };
  const int rc =
      sqlite3_create_function_v2(db, "zandrel_names_title", 3, SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_DIRECTONLY,
                                 nullptr, &NamesTitle, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) return rc;
  for (const auto& item : list) {
    const int rc = sqlite3_prepare_v3(db, item.sql, -1, SQLITE_PREPARE_PERSISTENT, item.stmt, nullptr);
    if (rc != SQLITE_OK) return rc;
  }
  return SQLITE_OK;
}

LONG HiveRegistry::Impl::Run(sqlite3_stmt* stmt) {
  Use use(stmt);
  const int rc = use.Step();
  return rc == SQLITE_DONE || rc == SQLITE_ROW ? ERROR_SUCCESS : CodeFromSqlite(rc);
}

LONG HiveRegistry::Impl::DeleteOne(sqlite3_int64 key) {
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

}  // namespace zandrel::hive
