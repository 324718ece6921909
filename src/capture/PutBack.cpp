#include "capture/PutBack.h"

#include <algorithm>

#include "registry/Key.h"
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

void RestoreValues(IRegistry& registry, HKEY root, const std::string& path, const RecordedValues& values) {
  RecordedValues now;
  bool exists = false;
  if (ReadKeyValues(registry, root, path, &exists, &now) != ERROR_SUCCESS || !exists) return;
  registry::Key opened(registry);
  if (opened.Open(root, path, KEY_READ | KEY_WRITE) != ERROR_SUCCESS) return;
  const HKEY key = opened.Handle();
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
}

void DeleteTree(IRegistry& registry, HKEY root, const std::string& path) {
  registry::Key key(registry);
  if (key.Open(root, path) != ERROR_SUCCESS) return;
  std::vector<std::string> children;
  key.SubKeys(&children);  // those read before a failure still go
  key.Close();             // not held open down the whole depth
  for (const std::string& child : children) DeleteTree(registry, root, path + "\\" + child);
  registry.RegDeleteKeyA(root, path.c_str());
}

void DeleteIfEmpty(IRegistry& registry, HKEY root, const std::string& path) {
  registry::Key key(registry);
  if (key.Open(root, path) != ERROR_SUCCESS) return;
  // Only whether there is a first of each is asked: none is read.
  char name[2];
  DWORD length = sizeof name;
  const bool no_keys =
      registry.RegEnumKeyExA(key.Handle(), 0, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_NO_MORE_ITEMS;
  length = sizeof name;
  const bool no_values =
      registry.RegEnumValueA(key.Handle(), 0, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_NO_MORE_ITEMS;
  key.Close();  // before the key itself goes
  if (no_keys && no_values) registry.RegDeleteKeyA(root, path.c_str());
}

}  // namespace zandrel::capture
