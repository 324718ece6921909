#include "store/AssociationListing.h"

#include "registry/Key.h"
#include "store/KeyRoutines.h"

namespace zandrel::store {

// One reader and one value for all the keys a listing reads.
struct AssociationListing::ValueBuffers {
  explicit ValueBuffers(IRegistry& registry) : reader(registry) {}
  registry::ValueReader reader;
  registry::Value value;
};

namespace {

// A string value's text: its first size - 1 bytes, decoded as one UTF-8 text.
std::string StringText(const registry::Value& v) { return v.data.substr(0, v.data.size() - 1); }

}  // namespace

AssociationListing::AssociationListing(IRegistry& registry, integration::Desktop* desktop)
    : registry_(registry), desktop_(desktop), buffers_(std::make_unique<ValueBuffers>(registry)) {}

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
  registry::Key classes(registry_);
  if (classes.Open(HKEY_LOCAL_MACHINE, kClassesPath, kListAccess) != ERROR_SUCCESS) return result;
  result.classesKeyOpened = true;
  if (desktop_ != nullptr) result.viewError = desktop_->ViewError();
  steps.ClassesKeyOpened();
  walk_stopped_ = false;

  std::vector<std::string> names;
  for (std::string& name : SubKeyNames(registry_, classes.Handle()))
    if (!name.empty() && name[0] == '.') names.push_back(std::move(name));
  steps.ExtensionNamesCollected();
  rows_.clear();
  const std::string prefix = std::string(kClassesPath) + "\\";
  for (const std::string& name : names) AddExtensionRow(HKEY_LOCAL_MACHINE, prefix + name);
  classes.Close();
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
  registry::Key key(registry_);
  if (key.Open(root, path, kListAccess) != ERROR_SUCCESS) return;
  const std::size_t slash = path.rfind('\\');
  std::string rowName = slash == std::string::npos ? path : path.substr(slash + 1);
  registry::Value& v = buffers_->value;
  if (buffers_->reader.Find(key.Handle(), "", kValueDataBufferBytes, &v) != ERROR_SUCCESS || v.data.empty() ||
      v.type != REG_SZ)
    return;
  std::string text = StringText(v);
  if (!Trim(text).empty()) rows_.push_back(AssociationRow{rowName, std::move(text), std::string()});
}

void AssociationListing::WalkCommandKey(HKEY root, const std::string& path) {
  registry::Key key(registry_);
  if (key.Open(root, path, kListAccess) != ERROR_SUCCESS) {
    walk_stopped_ = true;
    return;
  }
  ReadCommandValue(root, path);
  std::vector<std::string> children;
  for (std::string& name : SubKeyNames(registry_, key.Handle()))
    if (!Trim(name).empty()) children.push_back(std::move(name));
  key.Close();
  for (const std::string& child : children) {
    if (walk_stopped_) break;
    WalkCommandKey(root, path + "\\" + child);
  }
}

void AssociationListing::ReadCommandValue(HKEY root, const std::string& path) {
  registry::Key key(registry_);
  if (key.Open(root, path, kListAccess) != ERROR_SUCCESS) return;
  registry::Value& v = buffers_->value;
  // Windows keeps most of its own commands as REG_EXPAND_SZ
  // ("%SystemRoot%\system32\NOTEPAD.EXE %1"): listed as stored.
  if (buffers_->reader.At(key.Handle(), 0, kValueDataBufferBytes, &v) == ERROR_SUCCESS && v.name.empty() &&
      !v.data.empty() && (v.type == REG_SZ || v.type == REG_EXPAND_SZ) && current_row_ >= 1 &&
      current_row_ <= rows_.size()) {
    std::string text = StringText(v);
    rows_[current_row_ - 1].command = Trim(text).empty() ? std::string() : std::move(text);
  }
}

void AssociationListing::DropRowsWithoutCommand() {
  std::vector<AssociationRow> kept;
  kept.reserve(rows_.size());
  for (AssociationRow& row : rows_)
    if (!Trim(row.command).empty()) kept.push_back(std::move(row));
  rows_ = std::move(kept);
}

}  // namespace zandrel::store
