#include "support/MemoryRegistry.h"

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <locale.h>
#include <wctype.h>

namespace zandrel::testing {

namespace {

locale_t Utf8Locale() {
  static locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  return locale;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

bool IsRoot(HKEY h) { return h >= HKEY_CLASSES_ROOT && h <= HKEY_USERS; }

}  // namespace

std::string MemoryRegistry::Upper(const std::string& name) {
  std::string out;
  out.reserve(name.size());
  const auto* s = reinterpret_cast<const unsigned char*>(name.data());
  std::size_t i = 0, n = name.size();
  while (i < n) {
    unsigned char b = s[i];
    std::size_t len = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 0;
    bool valid = len > 0 && i + len <= n;
    for (std::size_t k = 1; valid && k < len; ++k) valid = (s[i + k] & 0xC0) == 0x80;
    if (!valid || len == 1) {
      // ASCII, or a byte that starts no valid sequence: only a-z change.
      out += static_cast<char>(b >= 'a' && b <= 'z' ? b - 32 : b);
      ++i;
      continue;
    }
    char32_t c = len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
    for (std::size_t k = 1; k < len; ++k) c = (c << 6) | (s[i + k] & 0x3F);
    AppendUtf8(out, static_cast<char32_t>(towupper_l(static_cast<wint_t>(c), Utf8Locale())));
    i += len;
  }
  return out;
}

MemoryRegistry::MemoryRegistry() {
  tree_.hklm = std::make_unique<Key>();
  tree_.hkcu = std::make_unique<Key>();
  tree_.hku = std::make_unique<Key>();
  for (Key* k : {tree_.hklm.get(), tree_.hkcu.get(), tree_.hku.get()}) k->id = next_id_++;
  HKEY classes = 0;
  RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes", 0, "", 0, KEY_ALL_ACCESS, nullptr, &classes,
                  nullptr);
  RegCloseKey(classes);
}

MemoryRegistry::~MemoryRegistry() = default;

std::unique_ptr<MemoryRegistry::Key> MemoryRegistry::Clone(const Key& key) {
  auto copy = std::make_unique<Key>();
  copy->id = key.id;
  copy->name = key.name;
  copy->upper = key.upper;
  copy->values = key.values;
  for (const auto& child : key.children) copy->children.push_back(Clone(*child));
  return copy;
}

MemoryRegistry::Key* MemoryRegistry::Child(Key& parent, const std::string& upper) {
  auto it = std::lower_bound(parent.children.begin(), parent.children.end(), upper,
                             [](const std::unique_ptr<Key>& k, const std::string& u) { return k->upper < u; });
  return it != parent.children.end() && (*it)->upper == upper ? it->get() : nullptr;
}

MemoryRegistry::Key* MemoryRegistry::RootKey(HKEY root, const std::vector<std::string>** prefix) {
  static const std::vector<std::string> kNoPrefix;
  static const std::vector<std::string> kClassesPrefix = {"SOFTWARE", "CLASSES"};
  if (prefix != nullptr) *prefix = root == HKEY_CLASSES_ROOT ? &kClassesPrefix : &kNoPrefix;
  switch (root) {
    case HKEY_LOCAL_MACHINE: return tree_.hklm.get();
    case HKEY_CURRENT_USER: return tree_.hkcu.get();
    case HKEY_USERS: return tree_.hku.get();
    case HKEY_CLASSES_ROOT: {
      Key* software = Child(*tree_.hklm, "SOFTWARE");
      Key* classes = software != nullptr ? Child(*software, "CLASSES") : nullptr;
      return classes;
    }
    default: return nullptr;
  }
}

MemoryRegistry::Resolved MemoryRegistry::Resolve(HKEY hKey) {
  Resolved r;
  if (IsRoot(hKey)) {
    r.key = RootKey(hKey, &r.path);
    r.root = hKey == HKEY_CLASSES_ROOT ? HKEY_LOCAL_MACHINE : hKey;
    r.access = KEY_ALL_ACCESS;
    if (r.key == nullptr) r.code = ERROR_INVALID_HANDLE;
    return r;
  }
  auto it = handles_.find(hKey);
  if (it == handles_.end()) {
    r.code = ERROR_INVALID_HANDLE;
    return r;
  }
  const Handle& h = it->second;
  r.root = h.root;
  r.path = &h.path;
  r.access = h.access;
  Key* key = RootKey(h.root, nullptr);
  for (const std::string& name : h.path) {
    if (key == nullptr) break;
    key = Child(*key, name);
  }
  if (key == nullptr || key->id != h.id) {
    r.code = ERROR_KEY_DELETED;
    return r;
  }
  r.key = key;
  return r;
}

// Splits a relative path into its names: empty names (a trailing "\" or
// "\\" inside) are skipped; a leading "\" is 161, a name over 255 characters 87.
LONG MemoryRegistry::SplitPath(const char* subKey, std::vector<std::string>* names) {
  names->clear();
  if (subKey == nullptr || *subKey == '\0') return ERROR_SUCCESS;
  std::string path(subKey);
  if (path[0] == '\\') return ERROR_BAD_PATHNAME;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    std::string name = path.substr(start, end - start);
    if (!name.empty()) {
      std::size_t chars = 0;
      for (unsigned char c : name) chars += (c & 0xC0) != 0x80;
      if (chars > MAX_KEY_NAME_CHARS) return ERROR_INVALID_PARAMETER;
      names->push_back(std::move(name));
    }
    start = end + 1;
  }
  return ERROR_SUCCESS;
}

HKEY MemoryRegistry::NewHandle(const Resolved& base, const std::vector<std::string>& names, Key* key,
                               REGSAM access) {
  Handle h;
  h.root = base.root;
  h.path = *base.path;
  for (const std::string& n : names) h.path.push_back(Upper(n));
  h.id = key->id;
  h.access = access;
  HKEY handle = next_handle_;
  next_handle_ += 4;
  handles_[handle] = std::move(h);
  return handle;
}

LONG MemoryRegistry::RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD, REGSAM samDesired,
                                   HKEY* phkResult) {
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  *phkResult = 0;
  Resolved base = Resolve(hKey);
  if (base.code != ERROR_SUCCESS) return base.code;
  std::vector<std::string> names;
  if (LONG code = SplitPath(lpSubKey, &names); code != ERROR_SUCCESS) return code;
  if (names.empty() && IsRoot(hKey)) {
    *phkResult = hKey;
    return ERROR_SUCCESS;
  }
  Key* key = base.key;
  for (const std::string& n : names) {
    key = Child(*key, Upper(n));
    if (key == nullptr) return ERROR_FILE_NOT_FOUND;
  }
  *phkResult = NewHandle(base, names, key, samDesired);
  return ERROR_SUCCESS;
}

LONG MemoryRegistry::RegEnumKeyExA(HKEY hKey, DWORD dwIndex, char* lpName, DWORD* lpcchName, DWORD*,
                                   char* lpClass, DWORD* lpcchClass, FILETIME* lpftLastWriteTime) {
  Resolved r = Resolve(hKey);
  if (r.code != ERROR_SUCCESS) return r.code;
  if ((r.access & KEY_ENUMERATE_SUB_KEYS) == 0) return ERROR_ACCESS_DENIED;
  if (lpName == nullptr || lpcchName == nullptr) return ERROR_INVALID_PARAMETER;
  if (dwIndex >= r.key->children.size()) return ERROR_NO_MORE_ITEMS;
  const std::string& name = r.key->children[dwIndex]->name;
  if (name.size() + 1 > *lpcchName) return ERROR_MORE_DATA;
  std::memcpy(lpName, name.c_str(), name.size() + 1);
  *lpcchName = static_cast<DWORD>(name.size());
  if (lpcchClass != nullptr) {
    if (lpClass != nullptr && *lpcchClass > 0) lpClass[0] = '\0';
    *lpcchClass = 0;
  }
  if (lpftLastWriteTime != nullptr) *lpftLastWriteTime = FILETIME{};
  return ERROR_SUCCESS;
}

LONG MemoryRegistry::RegEnumValueA(HKEY hKey, DWORD dwIndex, char* lpValueName, DWORD* lpcchValueName,
                                   DWORD*, DWORD* lpType, BYTE* lpData, DWORD* lpcbData) {
  Resolved r = Resolve(hKey);
  if (r.code != ERROR_SUCCESS) return r.code;
  if ((r.access & KEY_QUERY_VALUE) == 0) return ERROR_ACCESS_DENIED;
  if (lpValueName == nullptr || lpcchValueName == nullptr) return ERROR_INVALID_PARAMETER;
  if (dwIndex >= r.key->values.size()) return ERROR_NO_MORE_ITEMS;
  const Value& v = r.key->values[dwIndex];
  if (v.name.size() + 1 > *lpcchValueName) return ERROR_MORE_DATA;
  if (lpData != nullptr && (lpcbData == nullptr || v.data.size() > *lpcbData)) {
    if (lpcbData != nullptr) *lpcbData = static_cast<DWORD>(v.data.size());
    return ERROR_MORE_DATA;
  }
  std::memcpy(lpValueName, v.name.c_str(), v.name.size() + 1);
  *lpcchValueName = static_cast<DWORD>(v.name.size());
  if (lpType != nullptr) *lpType = v.type;
  if (lpData != nullptr) std::memcpy(lpData, v.data.data(), v.data.size());
  if (lpcbData != nullptr) *lpcbData = static_cast<DWORD>(v.data.size());
  return ERROR_SUCCESS;
}

LONG MemoryRegistry::RegCreateKeyExA(HKEY hKey, const char* lpSubKey, DWORD, const char*, DWORD, REGSAM samDesired,
                                     const void*, HKEY* phkResult, DWORD* lpdwDisposition) {
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  *phkResult = 0;
  Resolved base = Resolve(hKey);
  if (base.code != ERROR_SUCCESS) return base.code;
  std::vector<std::string> names;
  if (LONG code = SplitPath(lpSubKey, &names); code != ERROR_SUCCESS) return code;
  Key* key = base.key;
  DWORD disposition = REG_OPENED_EXISTING_KEY;
  for (const std::string& n : names) {
    std::string upper = Upper(n);
    Key* child = Child(*key, upper);
    if (child == nullptr) {
      auto fresh = std::make_unique<Key>();
      fresh->id = next_id_++;
      fresh->name = n;
      fresh->upper = upper;
      child = fresh.get();
      auto at = std::lower_bound(key->children.begin(), key->children.end(), upper,
                                 [](const std::unique_ptr<Key>& k, const std::string& u) { return k->upper < u; });
      key->children.insert(at, std::move(fresh));
      disposition = REG_CREATED_NEW_KEY;
    } else {
      disposition = REG_OPENED_EXISTING_KEY;
    }
    key = child;
  }
  if (names.empty() && IsRoot(hKey)) {
    *phkResult = hKey;
  } else {
    *phkResult = NewHandle(base, names, key, samDesired);
  }
  if (lpdwDisposition != nullptr) *lpdwDisposition = disposition;
  return ERROR_SUCCESS;
}

LONG MemoryRegistry::RegSetValueExA(HKEY hKey, const char* lpValueName, DWORD, DWORD dwType, const BYTE* lpData,
                                    DWORD cbData) {
  Resolved r = Resolve(hKey);
  if (r.code != ERROR_SUCCESS) return r.code;
  if ((r.access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
  if (lpData == nullptr && cbData > 0) return ERROR_INVALID_PARAMETER;
  std::string name = lpValueName != nullptr ? lpValueName : "";
  std::string data(reinterpret_cast<const char*>(lpData), lpData != nullptr ? cbData : 0);
  if (dwType == REG_SZ && !data.empty() && data.back() != '\0') data += '\0';
  std::string upper = Upper(name);
  for (Value& v : r.key->values) {
    if (Upper(v.name) == upper) {
      v.type = dwType;
      v.data = std::move(data);
      return ERROR_SUCCESS;
    }
  }
  r.key->values.push_back(Value{std::move(name), dwType, std::move(data)});
  return ERROR_SUCCESS;
}

LONG MemoryRegistry::RegDeleteKeyA(HKEY hKey, const char* lpSubKey) {
  Resolved base = Resolve(hKey);
  if (base.code != ERROR_SUCCESS) return base.code;
  std::vector<std::string> names;
  if (LONG code = SplitPath(lpSubKey, &names); code != ERROR_SUCCESS) return code;
  if (names.empty()) return ERROR_ACCESS_DENIED;  // the key of the handle itself is not deleted through it
  Key* parent = base.key;
  for (std::size_t i = 0; i + 1 < names.size(); ++i) {
    parent = Child(*parent, Upper(names[i]));
    if (parent == nullptr) return ERROR_FILE_NOT_FOUND;
  }
  std::string upper = Upper(names.back());
  Key* key = Child(*parent, upper);
  if (key == nullptr) return ERROR_FILE_NOT_FOUND;
  if (!key->children.empty()) return ERROR_ACCESS_DENIED;
  parent->children.erase(std::find_if(parent->children.begin(), parent->children.end(),
                                      [&](const std::unique_ptr<Key>& k) { return k.get() == key; }));
  return ERROR_SUCCESS;
}

LONG MemoryRegistry::RegCloseKey(HKEY hKey) {
  if (IsRoot(hKey)) return ERROR_SUCCESS;
  return handles_.erase(hKey) == 1 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LONG MemoryRegistry::RegDeleteValueA(HKEY hKey, const char* lpValueName) {
  Resolved r = Resolve(hKey);
  if (r.code != ERROR_SUCCESS) return r.code;
  if ((r.access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
  std::string upper = Upper(lpValueName != nullptr ? lpValueName : "");
  auto it = std::find_if(r.key->values.begin(), r.key->values.end(),
                         [&](const Value& v) { return Upper(v.name) == upper; });
  if (it == r.key->values.end()) return ERROR_FILE_NOT_FOUND;
  r.key->values.erase(it);
  return ERROR_SUCCESS;
}

LONG MemoryRegistry::BeginTransaction() {
  if (snapshot_ != nullptr) return ERROR_INVALID_PARAMETER;
  snapshot_ = std::make_unique<Tree>();
  snapshot_->hklm = Clone(*tree_.hklm);
  snapshot_->hkcu = Clone(*tree_.hkcu);
  snapshot_->hku = Clone(*tree_.hku);
  return ERROR_SUCCESS;
}

LONG MemoryRegistry::CommitTransaction() {
  if (snapshot_ == nullptr) return ERROR_INVALID_PARAMETER;
  snapshot_.reset();
  return ERROR_SUCCESS;
}

void MemoryRegistry::RollbackTransaction() {
  if (snapshot_ == nullptr) return;
  tree_ = std::move(*snapshot_);
  snapshot_.reset();
}

}  // namespace zandrel::testing
