#include "capture/Places.h"

#include <algorithm>

#include "registry/Names.h"

namespace zandrel::capture {
namespace {

// Hands each part of the path `sub` to `part`, empty ones dropped as the
// calls drop them.
template <typename Part>
void ForEachPart(std::string_view sub, Part part) {
  for (std::string_view rest(sub); !rest.empty();) {
    const std::size_t end = std::min(rest.find('\\'), rest.size());
    if (end > 0) part(rest.substr(0, end));
    rest.remove_prefix(std::min(end + 1, rest.size()));
  }
}

}  // namespace

void AppendPath(std::string* path, std::string_view sub) {
  ForEachPart(sub, [path](std::string_view part) { path->append(path->empty() ? "" : "\\").append(part); });
}

std::string KeyName(HKEY root, const std::string& path) {
  return std::string(registry::RootName(root)) + (path.empty() ? "" : "\\" + path);
}

void AppendIdentity(std::string_view sub, std::string* id) {
  ForEachPart(sub, [id](std::string_view part) { registry::AppendUpperName(part, &id->append(1, '\\')); });
}

void IdentityInto(HKEY root, std::string_view path, std::string* id) {
  id->assign(1, static_cast<char>('0' + (root - HKEY_CLASSES_ROOT)));
  AppendIdentity(path, id);
}

std::string Identity(HKEY root, std::string_view path) {
  std::string id;
  IdentityInto(root, path, &id);
  return id;
}

bool KeyPlaces::Resolve(HKEY key, const char* sub, Place* place) const {
  if (key == HKEY_CLASSES_ROOT && classes_in_machine_) {
    *place = Place{HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes"};
  } else if (IsRoot(key)) {
    *place = Place{key, ""};
  } else {
    const auto found = places_.find(key);
    if (found == places_.end()) return false;
    *place = found->second;
  }
  if (sub != nullptr) AppendPath(&place->path, sub);
  return true;
}

LONG KeyPlaces::Opened(LONG code, bool known, const HKEY* handle, Place place) {
  if (code == ERROR_SUCCESS && known && handle != nullptr && !IsRoot(*handle)) places_[*handle] = std::move(place);
  return code;
}

}  // namespace zandrel::capture
