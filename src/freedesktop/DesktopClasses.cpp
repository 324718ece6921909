// The calls of the classes store merged over the desktop's view, and its
// whole-subtree walk.
#include "freedesktop/DesktopClassesImpl.h"

#include <algorithm>
#include <cstring>

#include "registry/Defaults.h"
#include "registry/Codes.h"
#include "registry/Names.h"

namespace zandrel::freedesktop {

namespace {

LONG CopyName(const std::string& name, char* lpName, DWORD* lpcchName) {
  if (name.size() >= *lpcchName) return ERROR_MORE_DATA;
  std::memcpy(lpName, name.data(), name.size());
  lpName[name.size()] = '\0';
  *lpcchName = static_cast<DWORD>(name.size());
  return ERROR_SUCCESS;
}

}  // namespace

DesktopClasses::DesktopClasses(IRegistry& own, XdgPaths paths, ViewReader reader)
    : impl_(std::make_unique<Impl>(own, std::move(paths), std::move(reader))) {}

DesktopClasses::~DesktopClasses() {
  for (auto& [h, handle] : impl_->handles)
    if (handle.own != 0) impl_->own.RegCloseKey(handle.own);
}

LONG DesktopClasses::RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD ulOptions, REGSAM samDesired,
                                   HKEY* phkResult) {
  Impl& m = *impl_;
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  Handle parent;
  if (!m.Get(hKey, &parent)) return ERROR_INVALID_HANDLE;
  if (parent.kind == Kind::kView) {
    const Node* node = parent.node;
    for (const std::string& part : Components(lpSubKey)) {
      node = node->Child(registry::UpperName(part));
      if (node == nullptr) return ERROR_FILE_NOT_FOUND;
    }
    *phkResult = m.Add(Handle{Kind::kView, 0, 0, samDesired, parent.view, node});
    return ERROR_SUCCESS;
  }
  const Place place = m.Locate(parent, lpSubKey);
  if (place.classes && place.below.empty()) m.Refresh();  // on failure, the hive's keys alone
  if (place.classes && !place.below.empty()) {
    if (const Node* node = m.ViewKey(m.ViewRoot(), place.below)) {
      *phkResult = m.Add(Handle{Kind::kView, 0, 0, samDesired, m.view, node});
      return ERROR_SUCCESS;
    }
  }
  HKEY key = 0;
  const LONG code = m.own.RegOpenKeyExA(parent.own, lpSubKey, ulOptions, samDesired, &key);
  if (code != ERROR_SUCCESS) return code;
  Handle handle = m.OwnHandle(parent, lpSubKey, key);
  handle.access = samDesired;
  *phkResult = m.Add(std::move(handle));
  return ERROR_SUCCESS;
}

LONG DesktopClasses::RegEnumKeyExA(HKEY hKey, DWORD dwIndex, char* lpName, DWORD* lpcchName, DWORD* lpReserved,
                                   char* lpClass, DWORD* lpcchClass, FILETIME* lpftLastWriteTime) {
  Impl& m = *impl_;
  if (lpName == nullptr || lpcchName == nullptr) return ERROR_INVALID_PARAMETER;
  Handle handle;
  if (!m.Get(hKey, &handle)) return ERROR_INVALID_HANDLE;
  auto viewAnswer = [&](const Node& child) {
    if (!(handle.access & KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
    const LONG code = CopyName(child.name, lpName, lpcchName);
    if (code != ERROR_SUCCESS) return code;
    if (lpClass != nullptr && lpcchClass != nullptr && *lpcchClass > 0) lpClass[0] = '\0';
    if (lpcchClass != nullptr) *lpcchClass = 0;
    if (lpftLastWriteTime != nullptr) *lpftLastWriteTime = FILETIME{};
    return ERROR_SUCCESS;
  };
  if (handle.kind == Kind::kView) {
    if (!(handle.access & KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
    if (dwIndex >= handle.node->children.size()) return ERROR_NO_MORE_ITEMS;
    return viewAnswer(handle.node->children[dwIndex].node);
  }
  if (handle.kind != Kind::kClassesRoot || handle.node == nullptr)
    return m.own.RegEnumKeyExA(handle.own, dwIndex, lpName, lpcchName, lpReserved, lpClass, lpcchClass,
                               lpftLastWriteTime);
  // The merged names are taken at index 0, as a walk begins.
  Merged& merged = m.merged[hKey];
  if (dwIndex == 0 || merged.names.empty()) {
    if (const LONG code = m.Merge(handle, merged); code != ERROR_SUCCESS) return code;
  }
  if (dwIndex >= merged.names.size()) return ERROR_NO_MORE_ITEMS;
  const auto& [upper, ownIndex] = merged.names[dwIndex];
  if (ownIndex >= 0)
    return m.own.RegEnumKeyExA(handle.own, static_cast<DWORD>(ownIndex), lpName, lpcchName, lpReserved, lpClass,
                               lpcchClass, lpftLastWriteTime);
  return viewAnswer(*handle.node->Child(upper));
}

LONG DesktopClasses::RegEnumValueA(HKEY hKey, DWORD dwIndex, char* lpValueName, DWORD* lpcchValueName,
                                   DWORD* lpReserved, DWORD* lpType, BYTE* lpData, DWORD* lpcbData) {
  Impl& m = *impl_;
  if (lpValueName == nullptr || lpcchValueName == nullptr) return ERROR_INVALID_PARAMETER;
  if (lpData != nullptr && lpcbData == nullptr) return ERROR_INVALID_PARAMETER;
  Handle handle;
  if (!m.Get(hKey, &handle)) return ERROR_INVALID_HANDLE;
  if (handle.kind != Kind::kView)
    return m.own.RegEnumValueA(handle.own, dwIndex, lpValueName, lpcchValueName, lpReserved, lpType, lpData, lpcbData);
  if (!(handle.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  if (dwIndex >= handle.node->values.size()) return ERROR_NO_MORE_ITEMS;
  const Value& value = handle.node->values[dwIndex];
  if (value.name.size() >= *lpcchValueName || (lpData != nullptr && value.data.size() > *lpcbData)) {
    // As the hive: the type and the data's size are told all the same.
    if (lpType != nullptr) *lpType = value.type;
    if (lpcbData != nullptr) *lpcbData = static_cast<DWORD>(value.data.size());
    return ERROR_MORE_DATA;
  }
  CopyName(value.name, lpValueName, lpcchValueName);
  if (lpType != nullptr) *lpType = value.type;
  if (lpData != nullptr) std::memcpy(lpData, value.data.data(), value.data.size());
  if (lpcbData != nullptr) *lpcbData = static_cast<DWORD>(value.data.size());
  return ERROR_SUCCESS;
}

LONG DesktopClasses::RegCreateKeyExA(HKEY hKey, const char* lpSubKey, DWORD Reserved, const char* lpClass,
                                     DWORD dwOptions, REGSAM samDesired, const void* lpSecurityAttributes,
                                     HKEY* phkResult, DWORD* lpdwDisposition) {
  Impl& m = *impl_;
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  Handle parent;
  if (!m.Get(hKey, &parent)) return ERROR_INVALID_HANDLE;
  if (m.ChangeRefused(parent, lpSubKey) != ERROR_SUCCESS) return ERROR_ACCESS_DENIED;
  HKEY key = 0;
  const LONG code = m.own.RegCreateKeyExA(parent.own, lpSubKey, Reserved, lpClass, dwOptions, samDesired,
                                          lpSecurityAttributes, &key, lpdwDisposition);
  if (code != ERROR_SUCCESS) return code;
  Handle handle = m.OwnHandle(parent, lpSubKey, key);
  handle.access = samDesired;
  *phkResult = m.Add(std::move(handle));
  return ERROR_SUCCESS;
}

LONG DesktopClasses::RegSetValueExA(HKEY hKey, const char* lpValueName, DWORD Reserved, DWORD dwType,
                                    const BYTE* lpData, DWORD cbData) {
  Handle handle;
  if (!impl_->Get(hKey, &handle)) return ERROR_INVALID_HANDLE;
  if (handle.kind == Kind::kView) return ERROR_ACCESS_DENIED;
  return impl_->own.RegSetValueExA(handle.own, lpValueName, Reserved, dwType, lpData, cbData);
}

LONG DesktopClasses::RegDeleteKeyA(HKEY hKey, const char* lpSubKey) {
  Handle parent;
  if (!impl_->Get(hKey, &parent)) return ERROR_INVALID_HANDLE;
  if (impl_->ChangeRefused(parent, lpSubKey) != ERROR_SUCCESS) return ERROR_ACCESS_DENIED;
  return impl_->own.RegDeleteKeyA(parent.own, lpSubKey);
}

LONG DesktopClasses::RegCloseKey(HKEY hKey) {
  Impl& m = *impl_;
  if ((hKey & 0x80000000u) != 0) return m.own.RegCloseKey(hKey);
  auto it = m.handles.find(hKey);
  if (it == m.handles.end()) return ERROR_INVALID_HANDLE;
  const HKEY own = it->second.own;
  m.handles.erase(it);
  m.merged.erase(hKey);
  return own != 0 ? m.own.RegCloseKey(own) : ERROR_SUCCESS;
}

LONG DesktopClasses::RegDeleteValueA(HKEY hKey, const char* lpValueName) {
  Handle handle;
  if (!impl_->Get(hKey, &handle)) return ERROR_INVALID_HANDLE;
  if (handle.kind == Kind::kView) return ERROR_ACCESS_DENIED;
  return impl_->own.RegDeleteValueA(handle.own, lpValueName);
}

LONG DesktopClasses::BeginTransaction() {
  impl_->Refresh();
  return impl_->own.BeginTransaction();
}

LONG DesktopClasses::CommitTransaction() { return impl_->own.CommitTransaction(); }

void DesktopClasses::RollbackTransaction() { impl_->own.RollbackTransaction(); }

LONG DesktopClasses::QueryChangeCounter(std::uint64_t* counter) { return impl_->own.QueryChangeCounter(counter); }

bool DesktopClasses::WalkReadsWholeFirst() { return impl_->own.WalkReadsWholeFirst(); }

bool DesktopClasses::KeyOnlyInDesktopView(HKEY hKey, const char* lpSubKey) {
  Impl& m = *impl_;
  Handle parent;
  if (!m.Refresh() || !m.Get(hKey, &parent)) return false;
  if (parent.kind == Kind::kView) return true;
  const Place place = m.Locate(parent, lpSubKey);
  return place.classes && m.ViewKey(m.ViewRoot(), place.below) != nullptr;
}

LONG DesktopClasses::ExtensionsNamingTitle(const char* title, std::vector<std::string>* extensions) {
  Impl& m = *impl_;
  extensions->clear();
  const Node* root = m.Refresh() ? m.ViewRoot() : nullptr;
  if (root == nullptr) return ERROR_READ_FAULT;
  std::vector<std::string> own;
  if (const LONG code = m.own.ExtensionsNamingTitle(title, &own); code != ERROR_SUCCESS) return code;
  const std::string upper = registry::UpperName(title == nullptr ? "" : title);
  std::vector<std::pair<std::string, std::string>> named;  // upper-cased name, name
  for (std::string& name : own) named.emplace_back(registry::UpperName(name), std::move(name));
  for (const auto& [childUpper, child] : root->children) {
    if (childUpper.empty() || childUpper[0] != '.') continue;
    const auto value = std::find_if(child.values.begin(), child.values.end(),
                                    [](const Value& v) { return v.name.empty() && !v.data.empty(); });
    if (value == child.values.end() || value->type != REG_SZ || value->data.size() > 4096) continue;
    const std::string& data = value->data;
    if (registry::UpperName(data.back() == '\0' ? data.substr(0, data.size() - 1) : data) != upper) continue;
    if (!m.OwnHas(child.name)) named.emplace_back(childUpper, child.name);
  }
  std::stable_sort(named.begin(), named.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  for (auto& entry : named) extensions->push_back(std::move(entry.second));
  return ERROR_SUCCESS;
}

namespace {

// Hands the view's key `node` and its subtree to `visitor`, `node` at `depth`.
void VisitViewKey(const Node& node, std::size_t depth, registry::SubtreeVisitor& visitor) {
  visitor.Key(depth, node.name);
  for (const Value& value : node.values) visitor.Value(value.name, value.type, value.data);
  for (const auto& [upper, child] : node.children) VisitViewKey(child, depth + 1, visitor);
}

void CountViewKey(const Node& node, std::size_t* keys, std::size_t* values, std::size_t* bytes) {
  ++*keys;
  *bytes += node.name.size();
  for (const Value& value : node.values) {
    ++*values;
    *bytes += value.name.size() + value.data.size();
  }
  for (const auto& [upper, child] : node.children) CountViewKey(child, keys, values, bytes);
}

// Passes the hive's walk of the classes root on, putting each of the view's
// top-level keys (those the hive does not hold) before the first of the
// hive's that sorts after it.
class MergingVisitor : public registry::SubtreeVisitor {
 public:
  MergingVisitor(registry::SubtreeVisitor& out, std::vector<const Node*> view) : out_(out), view_(std::move(view)) {}
  void Key(std::size_t depth, std::string_view name) override {
    if (depth == 1) Flush(registry::UpperName(name));
    out_.Key(depth, name);
  }
  void Value(std::string_view name, DWORD type, std::string_view data) override { out_.Value(name, type, data); }
  void Expect(std::size_t keys, std::size_t values, std::size_t bytes) override {
    for (const Node* node : view_) CountViewKey(*node, &keys, &values, &bytes);
    out_.Expect(keys, values, bytes);
  }
  // The view's keys sorting before `upper`; all that are left without it.
  void Flush(const std::string& upper = std::string()) {
    for (; next_ < view_.size(); ++next_) {
      if (!upper.empty() && !(registry::UpperName(view_[next_]->name) < upper)) break;
      VisitViewKey(*view_[next_], 1, out_);
    }
  }

 private:
  registry::SubtreeVisitor& out_;
  std::vector<const Node*> view_;  // in the registry's order
  std::size_t next_ = 0;
};

}  // namespace

LONG DesktopClasses::WalkSubtree(HKEY key, registry::SubtreeVisitor& visitor) {
  Impl& m = *impl_;
  Handle handle;
  if (!m.Get(key, &handle)) return ERROR_INVALID_HANDLE;
  const bool hivesAlone = handle.kind == Kind::kOther || handle.kind == Kind::kOwn ||
                          (handle.kind == Kind::kClassesRoot && handle.node == nullptr);
  if (hivesAlone) return m.own.WalkSubtree(handle.own, visitor);
  if (handle.kind != Kind::kClassesRoot) return registry::WalkThroughCalls(*this, key, visitor);
  std::vector<const Node*> view;
  for (const auto& [upper, child] : handle.node->children)
    if (!m.OwnHas(child.name)) view.push_back(&child);
  MergingVisitor merging(visitor, std::move(view));
  const LONG code = m.own.WalkSubtree(handle.own, merging);
  if (code == ERROR_SUCCESS) merging.Flush();
  return code;
}

LONG DesktopClasses::RefuseViewKeys(const std::deque<registry::Change>& changes, const registry::Change** failed) {
  Impl& m = *impl_;
  for (const registry::Change& change : changes) {
    if (change.kind != registry::Change::kKey && change.kind != registry::Change::kDeleteKey) continue;
    Handle root;
    if (!m.Get(change.root, &root)) continue;
    if (const LONG code = m.ChangeRefused(root, std::string(change.path).c_str()); code != ERROR_SUCCESS) {
      *failed = &change;
      return code;
    }
  }
  return ERROR_SUCCESS;
}

std::size_t DesktopClasses::ViewBuilds() const { return impl_->builds; }

const std::string& DesktopClasses::ViewError() const { return impl_->error; }

std::optional<ViewRow> DesktopClasses::ViewRowFor(const std::string& extension) {
  Impl& m = *impl_;
  if (!m.Refresh()) return std::nullopt;
  const std::string upper = registry::UpperName(extension);
  for (const ViewRow& row : m.rows)
    if (registry::UpperName(row.extension) == upper) return row;
  return std::nullopt;
}

}  // namespace zandrel::freedesktop
