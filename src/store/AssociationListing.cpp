#include "store/AssociationListing.h"

#include "store/KeyRoutines.h"

namespace zandrel::store {

// Room for one value's name and data, reused from call to call.
struct AssociationListing::ValueBuffers {
  std::unique_ptr<char[]> name{new char[kNameBufferBytes]};
  std::unique_ptr<BYTE[]> data{new BYTE[kValueDataBufferBytes]};
};

namespace {

struct ValueRead {
  LONG code = ERROR_SUCCESS;
  std::string name;
  DWORD type = REG_NONE;
  std::string data;  // exactly the reported size
};

// Reads the value at `index`, the buffer sizes set afresh for the call: names
// up to 255 characters, data up to kValueDataBufferBytes; a larger one answers
// 234. The buffers only save allocating them for every call.
ValueRead ReadValue(IRegistry& registry, HKEY key, DWORD index, char* name, BYTE* data) {
  DWORD nameLength = kNameBufferBytes;
  DWORD size = kValueDataBufferBytes;
  ValueRead v;
  v.code = registry.RegEnumValueA(key, index, name, &nameLength, nullptr, &v.type, data, &size);
  if (v.code != ERROR_SUCCESS) return v;
  if (nameLength >= kNameBufferBytes) nameLength = kNameBufferBytes - 1;
  if (size > kValueDataBufferBytes) size = kValueDataBufferBytes;
  v.name.assign(name, nameLength);
  v.data.assign(reinterpret_cast<const char*>(data), size);
  return v;
}

// A string value's text: its first size - 1 bytes, decoded as one UTF-8 text.
std::string StringText(const ValueRead& v) { return v.data.substr(0, v.data.size() - 1); }

}  // namespace

AssociationListing::AssociationListing(IRegistry& registry, integration::Desktop* desktop)
    : registry_(registry), desktop_(desktop), buffers_(std::make_unique<ValueBuffers>()) {}

AssociationListing::~AssociationListing() = default;

ListingResult AssociationListing::List() {
  ListingSteps none;
  return List(none);
}

// The steps are called between registry calls, never while this object holds
// a reference into its own state: a step that lets the window process its
// messages may run another listing on the same object.
ListingResult AssociationListing::List(ListingSteps& steps) {
  ListingResult result;
  HKEY classes = 0;
  if (registry_.RegOpenKeyExA(HKEY_LOCAL_MACHINE, kClassesPath, 0, kListAccess, &classes) != ERROR_SUCCESS)
    return result;
  result.classesKeyOpened = true;
  if (desktop_ != nullptr) result.viewError = desktop_->ViewError();
  steps.ClassesKeyOpened();
  walk_stopped_ = false;

  std::vector<std::string> names;
  for (std::string& name : SubKeyNames(registry_, classes))
    if (!name.empty() && name[0] == '.') names.push_back(std::move(name));
  steps.ExtensionNamesCollected();
  rows_.clear();
  const std::string prefix = std::string(kClassesPath) + "\\";
  for (const std::string& name : names) AddExtensionRow(HKEY_LOCAL_MACHINE, prefix + name);
  registry_.RegCloseKey(classes);
  result.extensionRows = rows_.size();
  steps.ExtensionPassDone();
  if (rows_.empty()) return result;

  for (std::size_t h = 1; h <= rows_.size(); ++h) {
    current_row_ = h;
    WalkCommandKey(HKEY_LOCAL_MACHINE, prefix + rows_[h - 1].description + "\\" + "Shell\\Open\\Command");
  }
  DropRowsWithoutCommand();
  result.rows = std::move(rows_);
  rows_.clear();
  return result;
}

void AssociationListing::AddExtensionRow(HKEY root, const std::string& path) {
  HKEY key = 0;
  if (registry_.RegOpenKeyExA(root, path.c_str(), 0, kListAccess, &key) != ERROR_SUCCESS) return;
  std::size_t slash = path.rfind('\\');
  std::string rowName = slash == std::string::npos ? path : path.substr(slash + 1);
  for (DWORD index = 0;; ++index) {
    ValueRead v = ReadValue(registry_, key, index, buffers_->name.get(), buffers_->data.get());
    if (v.code == ERROR_MORE_DATA) continue;
    if (v.code != ERROR_SUCCESS) break;
    if (!v.name.empty() || v.data.empty()) continue;
    if (v.type != REG_SZ) break;
    std::string text = StringText(v);
    if (!Trim(text).empty()) rows_.push_back(AssociationRow{rowName, std::move(text), std::string()});
    break;
  }
  registry_.RegCloseKey(key);
}

void AssociationListing::WalkCommandKey(HKEY root, const std::string& path) {
  HKEY key = 0;
  if (registry_.RegOpenKeyExA(root, path.c_str(), 0, kListAccess, &key) != ERROR_SUCCESS) {
    walk_stopped_ = true;
    return;
  }
  ReadCommandValue(root, path);
  std::vector<std::string> children;
  for (std::string& name : SubKeyNames(registry_, key))
    if (!Trim(name).empty()) children.push_back(std::move(name));
  registry_.RegCloseKey(key);
  for (const std::string& child : children) {
    if (walk_stopped_) break;
    WalkCommandKey(root, path + "\\" + child);
  }
}

void AssociationListing::ReadCommandValue(HKEY root, const std::string& path) {
  HKEY key = 0;
  if (registry_.RegOpenKeyExA(root, path.c_str(), 0, kListAccess, &key) != ERROR_SUCCESS) return;
  ValueRead v = ReadValue(registry_, key, 0, buffers_->name.get(), buffers_->data.get());
  // Windows keeps most of its own commands as REG_EXPAND_SZ
  // ("%SystemRoot%\system32\NOTEPAD.EXE %1"): listed as stored.
  const bool text = v.type == REG_SZ || v.type == REG_EXPAND_SZ;
  if (v.code == ERROR_SUCCESS && v.name.empty() && !v.data.empty() && text && current_row_ >= 1 &&
      current_row_ <= rows_.size()) {
    std::string text = StringText(v);
    rows_[current_row_ - 1].command = Trim(text).empty() ? std::string() : std::move(text);
  }
  registry_.RegCloseKey(key);
}

void AssociationListing::DropRowsWithoutCommand() {
  std::vector<AssociationRow> kept;
  kept.reserve(rows_.size());
  for (AssociationRow& row : rows_)
    if (!Trim(row.command).empty()) kept.push_back(std::move(row));
  rows_ = std::move(kept);
}

}  // namespace zandrel::store
