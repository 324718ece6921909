// An open key that closes itself: the one way code above the registry reads
// a key's values and subkeys whole.
#pragma once

#include <string>
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
  // RegCreateKeyExA, likewise.
  LONG Create(HKEY parent, const std::string& path, REGSAM access = KEY_ALL_ACCESS);

  HKEY Handle() const { return handle_; }
  explicit operator bool() const { return handle_ != 0; }
  // Closes the key now (not a root); 0 or the close's code.
  LONG Close();

  // ReadValues and ReadSubKeys of the key held.
  LONG Values(std::vector<Value>* values) const;
  LONG SubKeys(std::vector<std::string>* names) const;

 private:
  IRegistry* registry_;
  HKEY handle_ = 0;
};

// Every value of the open `key` in enumeration order into *values, however
// long names and data are: 0, or the first code other than "no more items"
// (what was read by then is kept).
LONG ReadValues(IRegistry& registry, HKEY key, std::vector<Value>* values);
// The names of the direct subkeys of the open `key` in enumeration order,
// likewise.
LONG ReadSubKeys(IRegistry& registry, HKEY key, std::vector<std::string>* names);

// Whether `key` is one of the predefined roots, which are never closed.
inline bool IsRootKey(HKEY key) { return key >= HKEY_CLASSES_ROOT && key <= HKEY_USERS; }

}  // namespace zandrel::registry
