#include "capture/PutBack.h"

#include <algorithm>

#include "registry/Names.h"

namespace zandrel::capture {

using registry::UpperName;

LONG SetValues(IRegistry& registry, HKEY key, const RecordedValues& values) {
  for (const registry::Value& value : values)
    if (LONG code = registry.RegSetValueExA(key, value.name.c_str(), 0, value.type,
                                            reinterpret_cast<const BYTE*>(value.data.data()),
                                            static_cast<DWORD>(value.data.size()));
        code != ERROR_SUCCESS)
      return code;
  return ERROR_SUCCESS;
}

void RestoreValues(IRegistry& registry, HKEY root, const std::string& path,
                   const RecordedValues& values) {
  RecordedValues now;
  bool exists = false;
  if (ReadKeyValues(registry, root, path, &exists, &now) != ERROR_SUCCESS || !exists) return;
  HKEY key = 0;
  if (registry.RegOpenKeyExA(root, path.c_str(), 0, KEY_READ | KEY_WRITE, &key) != ERROR_SUCCESS) return;
  std::vector<std::string> upper;
  for (const registry::Value& value : values) upper.push_back(UpperName(value.name));
  std::erase_if(now, [&](const registry::Value& value) {
    const auto at = std::find(upper.begin(), upper.end(), UpperName(value.name));
    if (at != upper.end() && values[at - upper.begin()].name == value.name) return false;
    registry.RegDeleteValueA(key, value.name.c_str());
    return true;
  });
  // A value added while one after it is there lands out of order.
  std::size_t end_of_present = 0;  // one past the last of `values` there now
  for (std::size_t i = 0; i < values.size(); ++i)
    if (FindValue(now, upper[i])) end_of_present = i + 1;
  bool out_of_order = false;
  for (std::size_t i = 0; i < values.size(); ++i) {
    const registry::Value* was = FindValue(now, upper[i]);
    if (was && SameData(*was, values[i])) continue;
    if (!was && i < end_of_present) out_of_order = true;
    SetValues(registry, key, {values[i]});
  }
  // Those from the first out of place on are made again, in order.
  if (out_of_order && ReadKeyValues(registry, root, path, &exists, &now) == ERROR_SUCCESS && exists) {
    std::size_t same = 0;
    while (same < now.size() && same < values.size() && UpperName(now[same].name) == upper[same]) ++same;
    for (std::size_t i = same; i < now.size(); ++i) registry.RegDeleteValueA(key, now[i].name.c_str());
    for (std::size_t i = same; i < values.size(); ++i) SetValues(registry, key, {values[i]});
  }
  if (key != root) registry.RegCloseKey(key);
}

void DeleteTree(IRegistry& registry, HKEY root, const std::string& path) {
  HKEY key = 0;
  if (registry.RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  std::vector<std::string> children;
  std::vector<char> name(4 * MAX_KEY_NAME_CHARS + 1);
  for (DWORD index = 0;; ++index) {
    DWORD length = static_cast<DWORD>(name.size());
    if (registry.RegEnumKeyExA(key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    children.emplace_back(name.data(), length);
  }
  if (key != root) registry.RegCloseKey(key);
  for (const std::string& child : children) DeleteTree(registry, root, path + "\\" + child);
  registry.RegDeleteKeyA(root, path.c_str());
}

void DeleteIfEmpty(IRegistry& registry, HKEY root, const std::string& path) {
  HKEY key = 0;
  if (registry.RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  char name[2];
  DWORD length = sizeof name;
  const bool no_keys =
      registry.RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_NO_MORE_ITEMS;
  length = sizeof name;
  const bool no_values =
      registry.RegEnumValueA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_NO_MORE_ITEMS;
  if (key != root) registry.RegCloseKey(key);
  if (no_keys && no_values) registry.RegDeleteKeyA(root, path.c_str());
}

}  // namespace zandrel::capture
