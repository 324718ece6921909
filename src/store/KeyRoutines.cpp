#include "store/KeyRoutines.h"

#include "registry/Key.h"
#include "store/AssociationListing.h"

namespace zandrel::store {

std::string PrepareExtension(const std::string& text) {
  std::string e = Trim(text);
  if (!e.empty() && e[0] == '*') e.erase(0, 1);
  if (e.empty() || e[0] != '.') e.insert(e.begin(), '.');
  return e;
}

std::vector<std::string> SubKeyNames(IRegistry& registry, HKEY key, LONG* failed) {
  std::vector<std::string> names;
  const LONG code = registry::ReadSubKeys(registry, key, &names);
  if (failed != nullptr) *failed = code;
  return names;
}

bool SetKeyValue(IRegistry& registry, Prompter& prompter, HKEY root, const std::string& path,
                 const std::string& valueName, const std::string& value) {
  registry::Key key(registry);
  if (key.Open(root, path, KEY_WRITE) != ERROR_SUCCESS) return false;
  const LONG code =
      registry.RegSetValueExA(key.Handle(), valueName.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.data()),
                              static_cast<DWORD>(value.size()));
  if (code != ERROR_SUCCESS) prompter.MsgBox("Unable to set value of " + value + " to subkey " + valueName, MB_OK);
  return code == ERROR_SUCCESS;
}

bool EnumSubKeys(IRegistry& registry, Prompter& prompter, HKEY root, const std::string& path) {
  registry::Key key(registry);
  if (key.Open(root, path, kWalkAccess) != ERROR_SUCCESS) {
    prompter.MsgBox("Unable to open " + path, MB_OK);
    return false;
  }
  SubKeyNames(registry, key.Handle());
  return true;
}

namespace {

// Deletes root\path after its subkeys, deepest first; true when it is gone.
bool DeleteTree(IRegistry& registry, HKEY root, const std::string& path) {
  registry::Key key(registry);
  if (key.Open(root, path, kWalkAccess) != ERROR_SUCCESS) return false;
  const std::vector<std::string> children = SubKeyNames(registry, key.Handle());
  key.Close();
  for (const std::string& child : children)
    if (child.empty() || !DeleteTree(registry, root, path + "\\" + child)) return false;

  const std::size_t slash = path.rfind('\\');
  if (slash == std::string::npos) return registry.RegDeleteKeyA(root, path.c_str()) == ERROR_SUCCESS;
  registry::Key parent(registry);
  return parent.Open(root, path.substr(0, slash), kWalkAccess) == ERROR_SUCCESS &&
         registry.RegDeleteKeyA(parent.Handle(), path.substr(slash + 1).c_str()) == ERROR_SUCCESS;
}

}  // namespace

bool DeleteKey(IRegistry& registry, Prompter& prompter, HKEY root, const std::string& path) {
  std::string p = path;
  if (!p.empty() && p.back() == '\\') p.pop_back();
  if (p.empty()) return false;
  if (!EnumSubKeys(registry, prompter, root, p)) return false;
  return DeleteTree(registry, root, p);
}

MachineClasses::MachineClasses(IRegistry& registry, REGSAM access) : key_(registry) {
  key_.Open(HKEY_LOCAL_MACHINE, kClassesPath, access);
}

std::string MachinePath(const std::string& path) { return std::string(kClassesPath) + "\\" + path; }

bool UsersOwnKey(IRegistry& registry, const std::string& path) {
  registry::Key key(registry);
  return key.Open(HKEY_CLASSES_ROOT, path) == ERROR_SUCCESS &&
         key.Open(HKEY_LOCAL_MACHINE, MachinePath(path)) != ERROR_SUCCESS;
}

std::string UsersOwnExtension(const std::string& e) {
  return "Расширение " + e +
         " зарегистрировано только в ваших личных настройках (HKEY_CURRENT_USER\\Software\\Classes), "
         "поэтому в списке его нет. Такую запись Zandrel не меняет.";
}

}  // namespace zandrel::store
