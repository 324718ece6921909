// What Windows keeps beside the machine's classes that names a ProgID that
// is not there: a value of an extension's OpenWithProgids (the machine's or
// the user's), the user's choice (UserChoice). Explorer offers or opens
// nothing through them. Only the machine's OpenWithProgids are Zandrel's to
// remove; the user's classes and choice are the user's.
#include <algorithm>
#include <tuple>

#include "registry/Key.h"
#include "registry/Names.h"
#include "windows/UserChoice.h"
#include "windows/WindowsDesktop.h"

namespace zandrel::windows {
namespace {

using integration::BrokenAssociation;

constexpr const char* kMachineClasses = "SOFTWARE\\Classes\\";
constexpr const char* kUsersClasses = "Software\\Classes\\";
constexpr const char* kFileExts = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts";

bool Opens(IRegistry& registry, HKEY root, const std::string& path) {
  return registry::Key(registry).Open(root, path) == ERROR_SUCCESS;
}

// Whether HKEY_CLASSES_ROOT shows the ProgID: among the user's or the machine's classes.
bool ProgIdHere(IRegistry& registry, const std::string& progId) {
  return !progId.empty() && progId.find('\\') != 0 &&
         (Opens(registry, HKEY_LOCAL_MACHINE, kMachineClasses + progId) ||
          Opens(registry, HKEY_CURRENT_USER, kUsersClasses + progId));
}

void ExtensionsUnder(IRegistry& registry, HKEY root, const std::string& path, std::vector<std::string>* out) {
  registry::Key key(registry);
  std::vector<std::string> names;
  if (key.Open(root, path, KEY_READ) != ERROR_SUCCESS || key.SubKeys(&names) != ERROR_SUCCESS) return;
  for (std::string& name : names)
    if (!name.empty() && name[0] == '.' &&
        std::none_of(out->begin(), out->end(), [&](const std::string& e) { return registry::SameKeyName(e, name); }))
      out->push_back(std::move(name));
}

}  // namespace

std::vector<BrokenAssociation> WindowsDesktop::FindBroken(const std::vector<std::string>& extensions) {
  std::vector<std::string> names = extensions;
  if (names.empty()) {
    ExtensionsUnder(classes_, HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes", &names);
    ExtensionsUnder(classes_, HKEY_CURRENT_USER, "Software\\Classes", &names);
    ExtensionsUnder(classes_, HKEY_CURRENT_USER, kFileExts, &names);
  }
  std::vector<BrokenAssociation> broken;
  for (const std::string& e : names) {
    for (const auto& [root, rootName, classes, removable] :
         {std::tuple{HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE\\", kMachineClasses, true},
          std::tuple{HKEY_CURRENT_USER, "HKEY_CURRENT_USER\\", kUsersClasses, false}}) {
      const std::string path = classes + e + "\\OpenWithProgids";
      registry::Key key(classes_);
      std::vector<registry::Value> values;
      if (key.Open(root, path, KEY_READ) != ERROR_SUCCESS || key.Values(&values) != ERROR_SUCCESS) continue;
      for (const registry::Value& value : values)
        if (!value.name.empty() && !ProgIdHere(classes_, value.name))
          broken.push_back({e, integration::kProgIdMissing, value.name, rootName + path, removable});
    }
    const UserChoice choice = ReadUserChoice(classes_, e);
    if (!choice.progId.empty() && !ProgIdHere(classes_, choice.progId))
      broken.push_back({e, integration::kProgIdMissing, choice.progId,
                        std::string("HKEY_CURRENT_USER\\") + kFileExts + "\\" + e + "\\UserChoice", false});
  }
  return broken;
}

integration::BrokenRemoval WindowsDesktop::RemoveBroken(IRegistry& registry,
                                                        const std::vector<BrokenAssociation>& broken,
                                                        std::string* fileFailure) {
  (void)fileFailure;  // no file is written
  integration::BrokenRemoval removal;
  std::vector<std::string> extensions;
  for (const BrokenAssociation& b : broken)
    if (b.removable) extensions.push_back(b.extension);
  // Read again in the caller's transaction.
  const std::vector<BrokenAssociation> now =
      extensions.empty() ? std::vector<BrokenAssociation>{} : FindBroken(extensions);
  const std::string machine = "HKEY_LOCAL_MACHINE\\";
  for (const BrokenAssociation& b : broken) {
    if (!b.removable || b.where.rfind(machine, 0) != 0) {
      removal.kept.push_back(b);
      continue;
    }
    if (std::find(now.begin(), now.end(), b) == now.end()) {
      removal.mended.push_back(b);
      continue;
    }
    registry::Key key(registry);
    LONG code = key.Open(HKEY_LOCAL_MACHINE, b.where.substr(machine.size()), KEY_SET_VALUE);
    if (code == ERROR_SUCCESS) code = registry.RegDeleteValueA(key.Handle(), b.detail.c_str());
    if (code != ERROR_SUCCESS) {
      removal.failure = "Не удалось удалить значение " + b.detail + " из " + b.where + " (ошибка реестра " +
                        std::to_string(code) + ").";
      return removal;
    }
    removal.removed.push_back(b);
  }
  return removal;
}

}  // namespace zandrel::windows
