#include "registry/hive/HiveImpl.h"

#include <cstring>

#include "registry/Names.h"

namespace zandrel::hive {

LONG ParsePath(const char* sub_key, std::vector<std::string_view>* parts) {
  if (sub_key == nullptr) {
    parts->clear();
    return ERROR_SUCCESS;
  }
  return ParsePath(std::string_view(sub_key), parts);
}

LONG ParsePath(std::string_view path, std::vector<std::string_view>* parts) {
  parts->clear();
  if (!path.empty() && path.front() == '\\') return ERROR_BAD_PATHNAME;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('\\', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) {
      std::string_view part = path.substr(start, end - start);
      if (part.size() > MAX_KEY_NAME_CHARS && registry::NameChars(part) > MAX_KEY_NAME_CHARS) {
        return ERROR_INVALID_PARAMETER;
      }
      parts->push_back(part);
    }
    start = end + 1;
  }
  return ERROR_SUCCESS;
}

auto HiveRegistry::Impl::HandleAt(HKEY h) -> std::vector<Handle>::iterator {
  return std::lower_bound(handles.begin(), handles.end(), h, [](const Handle& a, HKEY b) { return a.hkey < b; });
}

auto HiveRegistry::Impl::FindHandle(HKEY h) -> Handle* {
  const auto it = HandleAt(h);
  return it != handles.end() && it->hkey == h ? &*it : nullptr;
}

void HiveRegistry::Impl::CutOffVanishedKeys() {
  for (Handle& handle : handles) {
    if (handle.key == 0) continue;
    Use use(key_depth);
    use.Int(1, handle.key);
    if (use.Step() == SQLITE_DONE) handle.key = 0;
  }
}

LONG HiveRegistry::Impl::Resolve(HKEY h, sqlite3_int64* key, REGSAM needed) {
  if (IsRoot(h)) {
    *key = RootKey(h);
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
  return (handle.access & needed) == needed ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

HKEY HiveRegistry::Impl::NewHandle(sqlite3_int64 key, REGSAM access, sqlite3_int64 depth) {
  while (next_handle == 0 || next_handle >= HKEY_CLASSES_ROOT || FindHandle(next_handle)) {
    next_handle = next_handle >= HKEY_CLASSES_ROOT ? 0x100 : next_handle + 4;
  }
  const HKEY h = next_handle;
  next_handle += 4;
  handles.insert(HandleAt(h), Handle{h, key, access, epoch, depth});
  return h;
}

HiveRegistry::HiveRegistry(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
HiveRegistry::~HiveRegistry() = default;

const std::string& HiveRegistry::Path() const { return impl_->path; }

LONG HiveRegistry::RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD, REGSAM samDesired, HKEY* phkResult) {
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  // As Windows: a null key leaves *phkResult as it was.
  if (hKey == 0) return ERROR_INVALID_HANDLE;
  *phkResult = 0;
  // Under HKEY_CLASSES_ROOT one leading "\" is passed over when opening; "\"
  // alone then opens a new handle to the root, not the root itself.
  const bool passed_over =
      hKey == HKEY_CLASSES_ROOT && lpSubKey != nullptr && lpSubKey[0] == '\\' && lpSubKey[1] != '\\';
  if (passed_over) ++lpSubKey;
  Impl& m = *impl_;
  Impl::CallEnd end{m};
  sqlite3_int64 key;
  LONG code = m.SyncAndResolvePath(hKey, lpSubKey, &key);
  if (code != ERROR_SUCCESS) return code;
  const std::vector<std::string_view>& parts = m.path_parts;
  if (parts.empty() && IsRoot(hKey) && !passed_over) {
    *phkResult = hKey;
    return ERROR_SUCCESS;
  }
  if ((code = m.Walk(key, parts, &key)) != ERROR_SUCCESS) return code;
  *phkResult = m.NewHandle(key, samDesired);
  return ERROR_SUCCESS;
}

LONG HiveRegistry::RegEnumKeyExA(HKEY hKey, DWORD dwIndex, char* lpName, DWORD* lpcchName, DWORD*, char* lpClass,
                                 DWORD* lpcchClass, FILETIME* lpftLastWriteTime) {
  if (lpName == nullptr || lpcchName == nullptr) return ERROR_INVALID_PARAMETER;
  Impl& m = *impl_;
  Impl::CallEnd end{m};
  KeyNode* node = nullptr;
  if (const LONG code = m.ToEnumerate(hKey, false, &node); code != ERROR_SUCCESS) return code;
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

LONG HiveRegistry::RegEnumValueA(HKEY hKey, DWORD dwIndex, char* lpValueName, DWORD* lpcchValueName, DWORD*,
                                 DWORD* lpType, BYTE* lpData, DWORD* lpcbData) {
  if (lpValueName == nullptr || lpcchValueName == nullptr) return ERROR_INVALID_PARAMETER;
  if (lpData != nullptr && lpcbData == nullptr) return ERROR_INVALID_PARAMETER;
  Impl& m = *impl_;
  Impl::CallEnd end{m};
  KeyNode* node = nullptr;
  if (const LONG code = m.ToEnumerate(hKey, true, &node); code != ERROR_SUCCESS) return code;
  if (dwIndex >= node->values.size()) return ERROR_NO_MORE_ITEMS;
  const ValueRef& row = node->values[dwIndex];
  const std::string_view name = node->ValueName(row);
  const std::string_view data = node->ValueData(row);
  // Every size is read before anything is written: a caller may pass one
  // variable for an out-argument and a size (Windows' own tests do).
  const DWORD dataRoom = lpcbData != nullptr ? *lpcbData : 0;
  const DWORD nameRoom = *lpcchValueName;
  if (lpType != nullptr) *lpType = row.type;
  if (lpData != nullptr && data.size() > dataRoom) {
    *lpcbData = static_cast<DWORD>(data.size());
    return ERROR_MORE_DATA;
  }
  if (lpData != nullptr && !data.empty()) {
    std::memcpy(lpData, data.data(), data.size());
    // As Windows: a string stored without its NUL gets one after it when
    // the buffer has room, not counted in the size.
    if (IsStringType(row.type) && data.back() != '\0' && data.size() < dataRoom) lpData[data.size()] = 0;
  }
  if (lpcbData != nullptr) *lpcbData = static_cast<DWORD>(data.size());
  // As Windows: a name without room for its NUL is not written, yet the type,
  // the data's size and the data are.
  if (name.size() >= nameRoom) return ERROR_MORE_DATA;
  std::memcpy(lpValueName, name.data(), name.size());
  lpValueName[name.size()] = '\0';
  *lpcchValueName = static_cast<DWORD>(name.size());
  return ERROR_SUCCESS;
}

LONG HiveRegistry::RegCreateKeyExA(HKEY hKey, const char* lpSubKey, DWORD, const char*, DWORD, REGSAM samDesired,
                                   const void*, HKEY* phkResult, DWORD* lpdwDisposition) {
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  *phkResult = 0;
  Impl& m = *impl_;
  Impl::CallEnd end{m};
  // Most creations meet an existing key: answer those without taking the
  // write lock. The handle before the path, as RegOpenKeyExA does.
  sqlite3_int64 key;
  LONG code = m.SyncAndResolvePath(hKey, lpSubKey, &key);
  if (code != ERROR_SUCCESS) return code;
  const std::vector<std::string_view>& parts = m.path_parts;
  if (parts.empty() && IsRoot(hKey)) {
    *phkResult = hKey;
    if (lpdwDisposition != nullptr) *lpdwDisposition = REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
  }
  sqlite3_int64 found;
  std::size_t known = 0;
  code = m.Walk(key, parts, &found, &known);
  if (code == ERROR_SUCCESS) {
    *phkResult = m.NewHandle(found, samDesired);
    if (lpdwDisposition != nullptr) *lpdwDisposition = REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
  }
  if (code != ERROR_FILE_NOT_FOUND) return code;

  bool created = false;
  sqlite3_int64 found_depth = -1;
  code = m.Write(
      [&]() -> LONG {
        sqlite3_int64 at;
        LONG c = m.Resolve(hKey, &at);
        if (c != ERROR_SUCCESS) return c;
        // The parent's depth: known for the roots, and for a handle this call
        // made before (Resolve has just seen its key exist); else read.
        sqlite3_int64 depth = IsRoot(hKey) ? 0 : -1;
        Impl::Handle* handle = IsRoot(hKey) ? nullptr : m.FindHandle(hKey);
        if (handle != nullptr && handle->checked_epoch == m.epoch) depth = handle->depth;
        if (depth < 0) {
          Use use(m.key_depth);
          use.Int(1, at);
          const int rc = use.Step();
          if (rc == SQLITE_DONE) return ERROR_KEY_DELETED;
          if (rc != SQLITE_ROW) return CodeFromSqlite(rc);
          depth = sqlite3_column_int64(m.key_depth, 0);
          if (handle != nullptr) handle->depth = depth;
        }
        for (std::string_view part : parts) {
          ++depth;
          const std::string upper = registry::UpperName(part);
          sqlite3_int64 child;
          c = m.Child(at, upper, &child);
          if (c == ERROR_FILE_NOT_FOUND) {
            if (depth > static_cast<sqlite3_int64>(MAX_KEY_DEPTH)) return ERROR_INVALID_PARAMETER;
            Use use(m.insert_key);
            use.Int(1, at).Blob(2, part).Blob(3, upper).Int(4, depth);
            const int rc = use.Step();
            if (rc != SQLITE_DONE) return CodeFromSqlite(rc);
            child = sqlite3_last_insert_rowid(m.db);
            m.ForgetChildren(at);
            created = true;
          } else if (c != ERROR_SUCCESS) {
            return c;
          } else {
            created = false;
          }
          at = child;
        }
        found = at;
        if (created) found_depth = depth;
        return ERROR_SUCCESS;
        // Inside a scope the write lock was held since the walk above: one
        // missing key is one insert, checked before it is made.
      },
      Impl::kAdds | (m.in_transaction && parts.size() - known == 1 ? unsigned{Impl::kOneStatement} : 0u));
  if (code != ERROR_SUCCESS) return code;
  *phkResult = m.NewHandle(found, samDesired, found_depth);
  if (lpdwDisposition != nullptr) {
    *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  }
  return ERROR_SUCCESS;
}

LONG HiveRegistry::RegSetValueExA(HKEY hKey, const char* lpValueName, DWORD, DWORD dwType, const BYTE* lpData,
                                  DWORD cbData) {
  if (lpData == nullptr && cbData != 0) return ERROR_INVALID_PARAMETER;
  const std::string_view name = lpValueName ? std::string_view(lpValueName) : std::string_view();
  if (name.size() > kMaxValueNameChars && registry::NameChars(name) > kMaxValueNameChars) {
    return ERROR_INVALID_PARAMETER;
  }
  // The caller's bytes as they are, copied only to add a NUL.
  std::string_view data(reinterpret_cast<const char*>(lpData), lpData ? cbData : 0);
  std::string with_nul;
  if (NeedsNul(dwType, data)) data = with_nul.assign(data).append(1, '\0');
  const std::string upper = registry::UpperName(name);
  Impl& m = *impl_;
  return m.Write(
      [&]() -> LONG {
        sqlite3_int64 key;
        if (const LONG c = m.Resolve(hKey, &key, KEY_SET_VALUE); c != ERROR_SUCCESS) return c;
        m.ForgetValues(key);
        // A new value, or the existing one rewritten in its place.
        Use use(m.set_value);
        use.Int(1, key).Blob(2, name).Blob(3, upper).Int(4, dwType).Blob(5, data);
        const int rc = use.Step();
        return rc == SQLITE_DONE ? ERROR_SUCCESS : CodeFromSqlite(rc);
      },
      Impl::kAdds | Impl::kOneStatement);
}

LONG HiveRegistry::RegDeleteKeyA(HKEY hKey, const char* lpSubKey) {
  if (lpSubKey == nullptr) return ERROR_INVALID_PARAMETER;
  Impl& m = *impl_;
  {
    // The handle before the path, as RegOpenKeyExA does; the write below
    // checks it again under the write lock.
    Impl::CallEnd end{m};
    sqlite3_int64 key;
    if (const LONG code = m.SyncAndResolve(hKey, &key); code != ERROR_SUCCESS) return code;
  }
  std::vector<std::string_view> parts;
  if (const LONG code = ParsePath(lpSubKey, &parts); code != ERROR_SUCCESS) return code;
  return m.Write([&]() -> LONG {
    sqlite3_int64 key;
    LONG c = m.Resolve(hKey, &key);
    if (c != ERROR_SUCCESS || (c = m.Walk(key, parts, &key)) != ERROR_SUCCESS) return c;
    return m.DeleteOne(key);
  });
}

LONG HiveRegistry::DeleteTrees(const std::vector<registry::KeyPath>& keys,
                               const std::function<void(std::size_t keys)>& /*deleted*/) {
  Impl& m = *impl_;
  return m.Write([&]() -> LONG {
    // Every key found before the first deletion, while the caches hold them.
    std::string found = "[";  // their ids, as the statements take them
    for (const auto& [root, path] : keys) {
      std::vector<std::string_view> parts;
      sqlite3_int64 key;
      LONG c = ParsePath(path.c_str(), &parts);
      if (c == ERROR_SUCCESS) c = m.Resolve(root, &key);
      if (c == ERROR_SUCCESS) c = m.Walk(key, parts, &key);
      if (c == ERROR_FILE_NOT_FOUND) continue;
      if (c != ERROR_SUCCESS) return c;
      if (key <= kClassesKey) return ERROR_ACCESS_DENIED;
      found.append(found.size() > 1 ? "," : "").append(std::to_string(key));
    }
    found.push_back(']');
    for (sqlite3_stmt* statement : {m.delete_tree_values, m.delete_tree_keys}) {
      Use use(statement);
      sqlite3_bind_text(*use, 1, found.data(), static_cast<int>(found.size()), SQLITE_STATIC);
      if (const int rc = use.Step(); rc != SQLITE_DONE) return CodeFromSqlite(rc);
    }
    return ERROR_SUCCESS;
  });
}

LONG HiveRegistry::RegDeleteValueA(HKEY hKey, const char* lpValueName) {
  const std::string upper = registry::UpperName(lpValueName ? std::string_view(lpValueName) : std::string_view());
  Impl& m = *impl_;
  return m.Write([&]() -> LONG {
    sqlite3_int64 key;
    if (const LONG c = m.Resolve(hKey, &key, KEY_SET_VALUE); c != ERROR_SUCCESS) return c;
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

namespace {

// Whether UpperName(text) == upper. An ASCII byte upper-cases to one ASCII
// byte and anything else to non-ASCII bytes, so most texts are settled on
// their ASCII start without decoding anything.
bool UpperEquals(std::string_view text, std::string_view upper) {
  std::size_t i = 0;
  for (; i < text.size() && i < upper.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const unsigned char u = static_cast<unsigned char>(upper[i]);
    if (c >= 0x80 || u >= 0x80) {
      if (c < 0x80 || u < 0x80) return false;
      std::string rest;
      registry::AppendUpperName(text.substr(i), &rest);
      return rest == upper.substr(i);
    }
    if ((c >= 'a' && c <= 'z' ? c - 32 : c) != u) return false;
  }
  return text.size() == upper.size();
}

}  // namespace

void HiveRegistry::Impl::NamesTitle(sqlite3_context* context, int, sqlite3_value** argv) {
  // As the plain calls read it: a REG_SZ of at most 4096 bytes, up to one
  // terminating NUL.
  const auto bytes = [](sqlite3_value* value) {
    const auto* p = static_cast<const char*>(sqlite3_value_blob(value));
    return p ? std::string_view(p, static_cast<std::size_t>(sqlite3_value_bytes(value))) : std::string_view();
  };
  std::string_view text = bytes(argv[1]);
  const std::string_view title = bytes(argv[2]);
  bool names = false;
  if (sqlite3_value_int64(argv[0]) == REG_SZ && !text.empty() && text.size() <= 4096) {
    if (text.back() == '\0') text.remove_suffix(1);
    names = UpperEquals(text, title);
  }
  sqlite3_result_int(context, names ? 1 : 0);
}

LONG HiveRegistry::ExtensionsNamingTitle(const char* title, std::vector<std::string>* extensions) {
  extensions->clear();
  Impl& m = *impl_;
  Impl::CallEnd end{m};
  LONG code = m.Sync();
  if (code == ERROR_SUCCESS) code = m.Reading();
  if (code != ERROR_SUCCESS) return code;
  const std::string upper = registry::UpperName(title == nullptr ? "" : title);
  Use use(m.extension_defaults);
  use.Int(1, kClassesKey).Blob(2, upper);
  int rc;
  while ((rc = use.Step()) == SQLITE_ROW) extensions->emplace_back(use.Column(0));
  return rc == SQLITE_DONE ? ERROR_SUCCESS : CodeFromSqlite(rc);
}

}  // namespace zandrel::hive
