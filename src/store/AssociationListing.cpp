#include "store/AssociationListing.h"

#include "store/KeyRoutines.h"

namespace zandrel::store {

AssociationListing::ValueBuffers::ValueBuffers()
    : name(new char[kNameBufferBytes]), data(new BYTE[kValueDataBufferBytes]) {}

namespace {

struct ValueRead {
  LONG code = ERROR_SUCCESS;
  std::string name;
  DWORD type = REG_NONE;
  std::string data;  // exactly the reported size
};

// Reads the value at `index`, the buffer sizes set afresh for the call: names
// up to 255 characters, data up to kValueDataBufferBytes; a larger one answers
// 234. `buffers` only saves allocating them for every call.
ValueRead ReadValue(IRegistry& registry, HKEY key, DWORD index, AssociationListing::ValueBuffers& buffers) {
  DWORD nameLength = kNameBufferBytes;
  DWORD size = kValueDataBufferBytes;
  ValueRead v;
  v.code = registry.RegEnumValueA(key, index, buffers.name.get(), &nameLength, nullptr, &v.type,
                                  buffers.data.get(), &size);
  if (v.code != ERROR_SUCCESS) return v;
  if (nameLength >= kNameBufferBytes) nameLength = kNameBufferBytes - 1;
  if (size > kValueDataBufferBytes) size = kValueDataBufferBytes;
  v.name.assign(buffers.name.get(), nameLength);
  v.data.assign(reinterpret_cast<const char*>(buffers.data.get()), size);
  return v;
}

// A string value's text: its first size - 1 bytes, decoded as one UTF-8 text.
std::string StringText(const ValueRead& v) { return v.data.substr(0, v.data.size() - 1); }

}  // namespace

HKEY AssociationListing::OpenClassesKey() {
  HKEY key = 0;
  if (registry_.RegOpenKeyExA(HKEY_LOCAL_MACHINE, kClassesPath, 0, kListAccess, &key) != ERROR_SUCCESS) key = 0;
  latest_classes_ = key;
  return key;
}

std::vector<std::string> AssociationListing::CollectExtensionNames(HKEY classes) {
  std::vector<std::string> names;
  for (std::string& name : SubKeyNames(registry_, classes))
    if (!name.empty() && name[0] == '.') names.push_back(std::move(name));
  return names;
}

void AssociationListing::CloseClassesKey(HKEY classes) {
  registry_.RegCloseKey(classes);
  if (classes == latest_classes_) latest_classes_ = 0;
}

void AssociationListing::CloseClassesKey() {
  if (latest_classes_ != 0) CloseClassesKey(latest_classes_);
}

void AssociationListing::AddExtensionRow(HKEY root, const std::string& path) {
  HKEY key = 0;
  if (registry_.RegOpenKeyExA(root, path.c_str(), 0, kListAccess, &key) != ERROR_SUCCESS) return;
  std::size_t slash = path.rfind('\\');
  std::string rowName = slash == std::string::npos ? path : path.substr(slash + 1);
  for (DWORD index = 0;; ++index) {
    ValueRead v = ReadValue(registry_, key, index, buffers_);
    if (v.code == ERROR_MORE_DATA) continue;
    if (v.code != ERROR_SUCCESS) break;
    if (!v.name.empty() || v.data.empty()) continue;
    if (v.type != REG_SZ) break;
    std::string text = StringText(v);
    if (!Trim(text).empty()) rows.push_back(AssociationRow{rowName, std::move(text), std::string()});
    break;
  }
  registry_.RegCloseKey(key);
}

void AssociationListing::WalkCommandKey(HKEY root, const std::string& path) {
  HKEY key = 0;
  if (registry_.RegOpenKeyExA(root, path.c_str(), 0, kListAccess, &key) != ERROR_SUCCESS) {
    walkStopped = true;
    return;
  }
  ReadCommandValue(root, path);
  std::vector<std::string> children;
  for (std::string& name : SubKeyNames(registry_, key))
    if (!Trim(name).empty()) children.push_back(std::move(name));
  registry_.RegCloseKey(key);
  for (const std::string& child : children) {
    if (walkStopped) break;
    WalkCommandKey(root, path + "\\" + child);
  }
}

void AssociationListing::ReadCommandValue(HKEY root, const std::string& path) {
  HKEY key = 0;
  if (registry_.RegOpenKeyExA(root, path.c_str(), 0, kListAccess, &key) != ERROR_SUCCESS) return;
  ValueRead v = ReadValue(registry_, key, 0, buffers_);
  if (v.code == ERROR_SUCCESS && v.name.empty() && !v.data.empty() && v.type == REG_SZ && currentRow >= 1 &&
      currentRow <= rows.size()) {
    std::string text = StringText(v);
    rows[currentRow - 1].command = Trim(text).empty() ? std::string() : std::move(text);
  }
  registry_.RegCloseKey(key);
}

void AssociationListing::ReadCommands() {
  std::string prefix = std::string(kClassesPath) + "\\";
  for (std::size_t h = 1; h <= rows.size(); ++h) {
    currentRow = h;
    WalkCommandKey(HKEY_LOCAL_MACHINE, prefix + rows[h - 1].description + "\\" + "Shell\\Open\\Command");
  }
}

bool AssociationListing::DropRowsWithoutCommand() {
  std::vector<AssociationRow> kept;
  kept.reserve(rows.size());
  bool dropped = false;
  for (AssociationRow& row : rows) {
    if (Trim(row.command).empty())
      dropped = true;
    else
      kept.push_back(std::move(row));
  }
  rows = std::move(kept);
  return dropped;
}

}  // namespace zandrel::store
