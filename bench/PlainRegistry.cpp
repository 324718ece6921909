#include "bench/PlainRegistry.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <unordered_map>

#include "registry/Names.h"

namespace zandrel::bench {

namespace {
constexpr HKEY kFirstHandle = 0x100;
}  // namespace

struct PlainRegistry::Node {
  std::string name;
  std::string upper;
  std::vector<Node*> children;   // ordered by `upper`, as the hive enumerates them
  std::vector<GenValue> values;  // in creation order
};

PlainRegistry::PlainRegistry(const GeneratedStore& store) {
  auto make = [this](std::string name) {
    auto node = std::make_unique<Node>();
    node->upper = registry::UpperName(name);
    node->name = std::move(name);
    nodes_.push_back(std::move(node));
    return nodes_.back().get();
  };
  Node* machine = make("HKEY_LOCAL_MACHINE");
  Node* software = make("SOFTWARE");
  Node* classes = make("Classes");
  machine->children.push_back(software);
  software->children.push_back(classes);

  // Parents come before their children in a generated store: find each
  // parent by its path, append, and sort every child list once at the end.
  std::unordered_map<std::string, Node*> byPath;
  byPath.reserve(store.keys.size());
  for (const GenKey& key : store.keys) {
    const std::size_t slash = key.path.rfind('\\');
    Node* parent = classes;
    if (slash != std::string::npos) parent = byPath.at(registry::UpperName(key.path.substr(0, slash)));
    Node* node = make(slash == std::string::npos ? key.path : key.path.substr(slash + 1));
    node->values = key.values;
    parent->children.push_back(node);
    byPath.emplace(registry::UpperName(key.path), node);
  }
  for (auto& node : nodes_)
    std::sort(node->children.begin(), node->children.end(),
              [](const Node* a, const Node* b) { return a->upper < b->upper; });
}

PlainRegistry::~PlainRegistry() = default;

PlainRegistry::Node* PlainRegistry::Resolve(HKEY h) const {
  if (h == HKEY_LOCAL_MACHINE) return nodes_[0].get();
  if (h == HKEY_CLASSES_ROOT) return nodes_[2].get();
  if (h < kFirstHandle) return nullptr;
  const std::size_t slot = h - kFirstHandle;
  return slot < handles_.size() ? handles_[slot] : nullptr;
}

LONG PlainRegistry::RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD, REGSAM, HKEY* phkResult) {
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  *phkResult = 0;
  Node* node = Resolve(hKey);
  if (node == nullptr) return ERROR_INVALID_HANDLE;
  std::string_view path = lpSubKey ? lpSubKey : "";
  while (!path.empty()) {
    const std::size_t end = std::min(path.find('\\'), path.size());
    if (end > 0) {
      const std::string upper = registry::UpperName(path.substr(0, end));
      auto it = std::lower_bound(node->children.begin(), node->children.end(), upper,
                                 [](const Node* n, const std::string& u) { return n->upper < u; });
      if (it == node->children.end() || (*it)->upper != upper) return ERROR_FILE_NOT_FOUND;
      node = *it;
    }
    path.remove_prefix(std::min(end + 1, path.size()));
  }
  std::size_t slot;
  if (!free_.empty()) {
    slot = free_.back();
    free_.pop_back();
    handles_[slot] = node;
  } else {
    slot = handles_.size();
    handles_.push_back(node);
  }
  *phkResult = kFirstHandle + static_cast<HKEY>(slot);
  return ERROR_SUCCESS;
}

LONG PlainRegistry::RegEnumKeyExA(HKEY hKey, DWORD dwIndex, char* lpName, DWORD* lpcchName, DWORD*, char*,
                                  DWORD* lpcchClass, FILETIME*) {
  const Node* node = Resolve(hKey);
  if (node == nullptr) return ERROR_INVALID_HANDLE;
  if (dwIndex >= node->children.size()) return ERROR_NO_MORE_ITEMS;
  const std::string& name = node->children[dwIndex]->name;
  if (name.size() >= *lpcchName) return ERROR_MORE_DATA;
  std::memcpy(lpName, name.c_str(), name.size() + 1);
  *lpcchName = static_cast<DWORD>(name.size());
  if (lpcchClass != nullptr) *lpcchClass = 0;
  return ERROR_SUCCESS;
}

LONG PlainRegistry::RegEnumValueA(HKEY hKey, DWORD dwIndex, char* lpValueName, DWORD* lpcchValueName, DWORD*,
                                  DWORD* lpType, BYTE* lpData, DWORD* lpcbData) {
  const Node* node = Resolve(hKey);
  if (node == nullptr) return ERROR_INVALID_HANDLE;
  if (dwIndex >= node->values.size()) return ERROR_NO_MORE_ITEMS;
  const GenValue& v = node->values[dwIndex];
  if (v.name.size() >= *lpcchValueName) return ERROR_MORE_DATA;
  if (lpData != nullptr && v.data.size() > *lpcbData) {
    *lpcbData = static_cast<DWORD>(v.data.size());
    return ERROR_MORE_DATA;
  }
  std::memcpy(lpValueName, v.name.c_str(), v.name.size() + 1);
  *lpcchValueName = static_cast<DWORD>(v.name.size());
  if (lpType != nullptr) *lpType = v.type;
  if (lpData != nullptr && !v.data.empty()) std::memcpy(lpData, v.data.data(), v.data.size());
  if (lpcbData != nullptr) *lpcbData = static_cast<DWORD>(v.data.size());
  return ERROR_SUCCESS;
}

LONG PlainRegistry::RegCreateKeyExA(HKEY, const char*, DWORD, const char*, DWORD, REGSAM, const void*, HKEY* phkResult,
                                    DWORD*) {
  if (phkResult != nullptr) *phkResult = 0;
  return ERROR_ACCESS_DENIED;
}

LONG PlainRegistry::RegSetValueExA(HKEY, const char*, DWORD, DWORD, const BYTE*, DWORD) { return ERROR_ACCESS_DENIED; }

LONG PlainRegistry::RegDeleteKeyA(HKEY, const char*) { return ERROR_ACCESS_DENIED; }

LONG PlainRegistry::RegDeleteValueA(HKEY, const char*) { return ERROR_ACCESS_DENIED; }

LONG PlainRegistry::BeginTransaction() { return ERROR_SUCCESS; }
LONG PlainRegistry::CommitTransaction() { return ERROR_SUCCESS; }
void PlainRegistry::RollbackTransaction() {}

LONG PlainRegistry::RegCloseKey(HKEY hKey) {
  if (hKey == HKEY_LOCAL_MACHINE || hKey == HKEY_CLASSES_ROOT) return ERROR_SUCCESS;
  if (Resolve(hKey) == nullptr) return ERROR_INVALID_HANDLE;
  const std::size_t slot = hKey - kFirstHandle;
  handles_[slot] = nullptr;
  free_.push_back(slot);
  return ERROR_SUCCESS;
}

}  // namespace zandrel::bench
