// Where a change goes: the key an open handle leads to, by its root and its
// path below it, and the identity by which the capture layers know a key
// (names compared as the registry compares them, registry::UpperName).
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "registry/Registry.h"

namespace zandrel::capture {

inline bool IsRoot(HKEY key) { return key >= HKEY_CLASSES_ROOT && key <= HKEY_USERS; }

// Appends the parts of the path `sub` to *path, skipping empty ones as the
// registry does ("a\\b\" is a\b).
void AppendPath(std::string* path, std::string_view sub);

// The path of `sub` below `path`, either of them "".
inline std::string SubPath(const std::string& path, const std::string& sub) {
  return sub.empty() ? path : path.empty() ? sub : path + "\\" + sub;
}

// "HKEY_LOCAL_MACHINE\path", as messages name a key.
std::string KeyName(HKEY root, const std::string& path);

// A key's identity: its root's number, then each part of its path
// upper-cased after a backslash, so that a parent's identity is its child's
// up to the last backslash.
std::string Identity(HKEY root, std::string_view path);
void IdentityInto(HKEY root, std::string_view path, std::string* id);
// Appends the parts of `sub` to the identity *id.
void AppendIdentity(std::string_view sub, std::string* id);
inline std::string_view ParentIdentity(std::string_view id) { return id.substr(0, id.rfind('\\')); }
// Whether `below` names a key below the one `id` names.
inline bool IdentityBelow(std::string_view below, std::string_view id) {
  return below.size() > id.size() && below[id.size()] == '\\' && below.starts_with(id);
}

struct Place {
  HKEY root = 0;
  std::string path;
};

// The places of the handles a wrapper saw opened, so that a write through a
// handle is known by the key it reaches.
class KeyPlaces {
 public:
  // With `classes_in_machine`, HKEY_CLASSES_ROOT is known as the machine's
  // classes (HKEY_LOCAL_MACHINE\SOFTWARE\Classes), as the store writes them.
  explicit KeyPlaces(bool classes_in_machine = false) : classes_in_machine_(classes_in_machine) {}

  // The place of key\sub (sub may be null); false for a handle not seen.
  bool Resolve(HKEY key, const char* sub, Place* place) const;
  // Keeps where the handle an open or a create gave (`code`) leads; returns
  // `code`. `known`: whether Resolve knew its place.
  LONG Opened(LONG code, bool known, const HKEY* handle, Place place);
  void Closed(HKEY handle) { places_.erase(handle); }
  // RegOpenKeyExA of key\sub through `inner`, keeping where the handle leads.
  LONG Open(IRegistry& inner, HKEY key, const char* sub, DWORD options, REGSAM access, HKEY* handle) {
    Place place;
    const bool known = Resolve(key, sub, &place);
    return Opened(inner.RegOpenKeyExA(key, sub, options, access, handle), known, handle, std::move(place));
  }

 private:
  bool classes_in_machine_;
  std::unordered_map<HKEY, Place> places_;
};

}  // namespace zandrel::capture
