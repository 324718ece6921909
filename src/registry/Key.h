// An open key that closes itself: the one way code above the registry reads
// a key's values and subkeys whole.
#pragma once

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "registry/Registry.h"
#include "registry/Value.h"

namespace zandrel::registry {

class Key {
 public:
  // Holds no key.
  explicit Key(IRegistry& registry) : registry_(&registry) {}
  // Takes `handle` (0, or a root, which is never closed) to close.
  Key(IRegistry& registry, HKEY handle) : registry_(&registry), handle_(handle) {}
  ~Key() { Close(); }
  Key(Key&& other) noexcept : registry_(other.registry_), handle_(std::exchange(other.handle_, 0)) {}
  Key& operator=(Key&& other) noexcept {
    if (this != &other) {
      Close();
      registry_ = other.registry_;
      handle_ = std::exchange(other.handle_, 0);
    }
    return *this;
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;

  // RegOpenKeyExA of root\path (or below an open key); the key held before
  // is closed first. The call's code.
  LONG Open(HKEY parent, const std::string& path, REGSAM access = KEY_READ);
  // RegCreateKeyExA, likewise; *disposition (when asked for) says whether
  // the key was created or opened.
  LONG Create(HKEY parent, const std::string& path, REGSAM access = KEY_ALL_ACCESS, DWORD* disposition = nullptr);

  HKEY Handle() const { return handle_; }
  explicit operator bool() const { return handle_ != 0; }
  // Closes the key now (not a root); 0 or the close's code.
  LONG Close();

  // ReadValues and ReadSubKeys of the key held.
  LONG Values(std::vector<Value>* values) const;
  LONG SubKeys(std::vector<std::string>* names) const;
  // ValueReader::Find in the key held, for a single look: a loop over many
  // keys keeps a reader.
  LONG Find(std::string_view name, DWORD limit, Value* value) const;

 private:
  IRegistry* registry_;
  HKEY handle_ = 0;
};

// Reads the values of open keys through buffers it keeps from one call to
// the next: a loop over thousands of keys allocates them once.
class ValueReader {
 public:
  explicit ValueReader(IRegistry& registry) : registry_(registry) {}

  // ReadValues.
  LONG Values(HKEY key, std::vector<Value>* values);
  // Each value of the open `key` in enumeration order, however long, handed
  // to visit(name, type, data) as views into the buffers: as ReadValues.
  template <typename Visit>
  LONG EachValue(HKEY key, Visit&& visit) {
    return Each(key, 0, [&](std::string_view name, DWORD type, std::string_view data) {
      visit(name, type, data);
      return true;
    });
  }
  // The first value of the open `key` named `name` (compared as the registry
  // compares names) among those whose data fits in `limit` bytes (any size
  // with 0); a larger one is passed over. 0 with *value set, 2 when there is
  // none, or the first code other than 234 and "no more items".
  LONG Find(HKEY key, std::string_view name, DWORD limit, Value* value);
  // The value at `index` when its data fits in `limit` bytes: the call's code
  // (234 for a larger one), *value set on 0.
  LONG At(HKEY key, DWORD index, DWORD limit, Value* value);

 private:
  // RegEnumValueA from index 0 until visit gives false: data up to `limit`
  // bytes, a larger value passed over; with `limit` 0 every value whole.
  template <typename Visit>
  LONG Each(HKEY key, DWORD limit, Visit&& visit);
  // The largest value name, with its NUL, in bytes of UTF-8.
  static constexpr DWORD kValueNameBytes = 16383 * 4 + 1;
  // Room for the longest name, and for `data` bytes.
  void Reserve(std::size_t data);
  // The name the last call wrote, however long a length it gave.
  std::string_view NameRead(DWORD length) const {
    return std::string_view(name_.get(), std::min<DWORD>(length, kValueNameBytes - 1));
  }

  IRegistry& registry_;
  std::unique_ptr<char[]> name_;
  std::string data_;
};

template <typename Visit>
LONG ValueReader::Each(HKEY key, DWORD limit, Visit&& visit) {
  Reserve(limit == 0 ? std::max<std::size_t>(data_.size(), 1 << 16) : limit);
  for (DWORD index = 0;; ++index) {
    DWORD name_length = kValueNameBytes;
    DWORD type = REG_NONE;
    DWORD size = limit == 0 ? static_cast<DWORD>(data_.size()) : limit;
    const LONG code = registry_.RegEnumValueA(key, index, name_.get(), &name_length, nullptr, &type,
                                              reinterpret_cast<BYTE*>(data_.data()), &size);
    if (code == ERROR_MORE_DATA && limit == 0 && size > data_.size()) {
      data_.resize(size);
      --index;
      continue;
    }
    if (code == ERROR_MORE_DATA && limit != 0) continue;
    if (code == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (code != ERROR_SUCCESS) return code;
    if (!visit(NameRead(name_length), type, std::string_view(data_.data(), std::min<std::size_t>(size, data_.size()))))
      return ERROR_SUCCESS;
  }
}

// Every value of the open `key` in enumeration order into *values, however
// long names and data are: 0, or the first code other than "no more items"
// (what was read by then is kept). A loop over many keys keeps a ValueReader.
LONG ReadValues(IRegistry& registry, HKEY key, std::vector<Value>* values);
// The names of the direct subkeys of the open `key` in enumeration order,
// each cut at its first NUL, likewise; a name that does not fit (234, which
// no name within the registry's limits gives) is passed over.
LONG ReadSubKeys(IRegistry& registry, HKEY key, std::vector<std::string>* names);

// Each direct subkey of the open `key` as ReadSubKeys reads them, handed to
// visit(index, name) with its enumeration index: the walk goes on while
// visit gives 0, else ends with its code. 0 after the last subkey, or the
// first enumeration code other than 0, 234 and "no more items".
template <typename Visit>
LONG EachSubKey(IRegistry& registry, HKEY key, Visit&& visit) {
  char child[MAX_KEY_NAME_CHARS * 4 + 1];
  for (DWORD index = 0;; ++index) {
    DWORD length = sizeof child;
    LONG code = registry.RegEnumKeyExA(key, index, child, &length, nullptr, nullptr, nullptr, nullptr);
    if (code == ERROR_MORE_DATA) continue;
    if (code == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (code == ERROR_SUCCESS) {
      const std::string_view name(child, std::min<DWORD>(length, sizeof child - 1));
      code = visit(index, name.substr(0, name.find('\0')));
    }
    if (code != ERROR_SUCCESS) return code;
  }
}

// The string value `name` (REG_SZ or REG_EXPAND_SZ, up to its first NUL) of
// root\path, whatever its size; null when the key or the value is not there,
// or the value is no string.
std::optional<std::string> ReadText(IRegistry& registry, HKEY root, const std::string& path, std::string_view name);

// Whether `key` is one of the predefined roots, which are never closed.
inline bool IsRootKey(HKEY key) { return key >= HKEY_CLASSES_ROOT && key <= HKEY_USERS; }

}  // namespace zandrel::registry
