#include "store/KeyRoutines.h"

#include <cstring>

#include "registry/Names.h"
#include "store/AssociationListing.h"

namespace zandrel::store {

std::string Trim(const std::string& text) {
  std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return std::string();
  std::size_t last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

std::string PrepareExtension(const std::string& text) {
  std::string e = Trim(text);
  if (!e.empty() && e[0] == '*') e.erase(0, 1);
  if (e.empty() || e[0] != '.') e.insert(e.begin(), '.');
  return e;
}

bool SameKeyName(const std::string& a, const std::string& b) { return registry::UpperName(a) == registry::UpperName(b); }

std::vector<std::string> SubKeyNames(IRegistry& registry, HKEY key, LONG* failed) {
  std::vector<std::string> names;
  char buffer[kNameBufferBytes];
  for (DWORD index = 0;; ++index) {
    DWORD length = kNameBufferBytes;
    LONG code = registry.RegEnumKeyExA(key, index, buffer, &length, nullptr, nullptr, nullptr, nullptr);
    if (code == ERROR_MORE_DATA) continue;
    if (code != ERROR_SUCCESS) {
      if (failed != nullptr) *failed = code == ERROR_NO_MORE_ITEMS ? ERROR_SUCCESS : code;
      break;
    }
    if (length >= kNameBufferBytes) length = kNameBufferBytes - 1;
    names.emplace_back(buffer, strnlen(buffer, length));
  }
  return names;
}

bool SetKeyValue(IRegistry& registry, Prompter& prompter, HKEY root, const std::string& path,
                 const std::string& valueName, const std::string& value) {
  HKEY key = 0;
  if (registry.RegOpenKeyExA(root, path.c_str(), 0, KEY_WRITE, &key) != ERROR_SUCCESS) return false;
  LONG code = registry.RegSetValueExA(key, valueName.c_str(), 0, REG_SZ,
                                      reinterpret_cast<const BYTE*>(value.data()),
                                      static_cast<DWORD>(value.size()));
  if (code != ERROR_SUCCESS) prompter.MsgBox("Unable to set value of " + value + " to subkey " + valueName, MB_OK);
  registry.RegCloseKey(key);
  return code == ERROR_SUCCESS;
}

bool EnumSubKeys(IRegistry& registry, Prompter& prompter, HKEY root, const std::string& path) {
  HKEY key = 0;
  if (registry.RegOpenKeyExA(root, path.c_str(), 0, kWalkAccess, &key) != ERROR_SUCCESS) {
    prompter.MsgBox("Unable to open " + path, MB_OK);
    return false;
  }
  SubKeyNames(registry, key);
  registry.RegCloseKey(key);
  return true;
}

namespace {

// Deletes root\path after its subkeys, deepest first; true when it is gone.
bool DeleteTree(IRegistry& registry, HKEY root, const std::string& path) {
  HKEY key = 0;
  if (registry.RegOpenKeyExA(root, path.c_str(), 0, kWalkAccess, &key) != ERROR_SUCCESS) return false;
  std::vector<std::string> children = SubKeyNames(registry, key);
  registry.RegCloseKey(key);
  for (const std::string& child : children)
    if (child.empty() || !DeleteTree(registry, root, path + "\\" + child)) return false;

  std::size_t slash = path.rfind('\\');
  if (slash == std::string::npos) return registry.RegDeleteKeyA(root, path.c_str()) == ERROR_SUCCESS;
  HKEY parent = 0;
  if (registry.RegOpenKeyExA(root, path.substr(0, slash).c_str(), 0, kWalkAccess, &parent) != ERROR_SUCCESS)
    return false;
  LONG code = registry.RegDeleteKeyA(parent, path.substr(slash + 1).c_str());
  registry.RegCloseKey(parent);
  return code == ERROR_SUCCESS;
}

}  // namespace

bool DeleteKey(IRegistry& registry, Prompter& prompter, HKEY root, const std::string& path) {
  std::string p = path;
  if (!p.empty() && p.back() == '\\') p.pop_back();
  if (p.empty()) return false;
  if (!EnumSubKeys(registry, prompter, root, p)) return false;
  return DeleteTree(registry, root, p);
}

MachineClasses::MachineClasses(IRegistry& registry, REGSAM access) : registry_(registry) {
  if (registry_.RegOpenKeyExA(HKEY_LOCAL_MACHINE, kClassesPath, 0, access, &key_) != ERROR_SUCCESS)
    key_ = 0;
}

MachineClasses::~MachineClasses() {
  if (key_ != 0) registry_.RegCloseKey(key_);
}

std::string MachinePath(const std::string& path) { return std::string(kClassesPath) + "\\" + path; }

bool UsersOwnKey(IRegistry& registry, const std::string& path) {
  HKEY key = 0;
  if (registry.RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  registry.RegCloseKey(key);
  if (registry.RegOpenKeyExA(HKEY_LOCAL_MACHINE, MachinePath(path).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return true;
  registry.RegCloseKey(key);
  return false;
}

}  // namespace zandrel::store
