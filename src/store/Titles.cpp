#include "store/Titles.h"

#include <array>

#include "store/KeyRoutines.h"

namespace zandrel::store {

namespace {

// Keys of a Windows 10/11 classes store that the shell itself reads for
// things other than one file type: every file, folder, drive, COM class and
// so on. An open command written under one of them reaches far beyond one
// extension.
constexpr std::array<const char*, 39> kShellClasses = {
    "*",           "ActivatableClasses",   "AllFilesystemObjects", "AllProtocols",   "AppID",
    "Applications", "AudioCD",             "CID",               "CLSID",           "Component Categories",
    "DesktopBackground", "DeviceDisplayObject", "Directory",    "DirectShow",      "Drive",
    "DVD",         "Extensions",           "Folder",            "Installer",       "Interface",
    "LibraryFolder", "Licenses",           "Local Settings",    "Media Type",      "MediaFoundation",
    "MIME",        "Network",              "NetServer",         "NetShare",        "PackagedCom",
    "Printers",    "PropertySystem",       "Protocols",         "Record",          "SystemFileAssociations",
    "TypeLib",     "Unknown",              "UserLibraryFolder", "Wow6432Node",
};

// Titles of files that are programs or start one; their commands ("%1" %*)
// also come with no key at all on a store where they were never written.
constexpr std::array<const char*, 7> kProgramFiles = {"batfile", "cmdfile", "comfile", "exefile",
                                                      "lnkfile", "piffile", "scrfile"};

// Their extensions: without one of these keys such files stop starting.
constexpr std::array<const char*, 7> kShellExtensions = {".bat", ".cmd", ".com", ".exe", ".lnk", ".pif", ".scr"};

template <std::size_t N>
bool Among(const std::array<const char*, N>& names, const std::string& d) {
  for (const char* name : names)
    if (SameKeyName(name, d)) return true;
  return false;
}

bool HasValue(IRegistry& registry, const std::string& path, const std::string& valueName) {
  HKEY key = 0;
  if (registry.RegOpenKeyExA(HKEY_LOCAL_MACHINE, MachinePath(path).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  char name[kNameBufferBytes];
  bool found = false;
  for (DWORD index = 0; !found; ++index) {
    DWORD length = sizeof name;
    const LONG code = registry.RegEnumValueA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (code == ERROR_MORE_DATA) continue;
    if (code != ERROR_SUCCESS) break;
    found = SameKeyName(std::string(name, length), valueName);
  }
  registry.RegCloseKey(key);
  return found;
}

}  // namespace

bool ShellsOwnExtension(const std::string& e) { return Among(kShellExtensions, e); }

TitleKind TitleKindByName(const std::string& d) {
  if (!d.empty() && d[0] == '.') return TitleKind::kExtension;
  if (Among(kShellClasses, d)) return TitleKind::kShellClass;
  if (Among(kProgramFiles, d)) return TitleKind::kProgramFile;
  return TitleKind::kFileType;
}

TitleKind TitleKindOf(IRegistry& registry, const std::string& d) {
  const TitleKind byName = TitleKindByName(d);
  if (byName != TitleKind::kFileType) return byName;
  if (HasValue(registry, d, "URL Protocol")) return TitleKind::kUrlProtocol;
  const DefaultText command = ReadDefaultText(registry, d + "\\shell\\open\\command");
  if (command.found && RunsTheFileItself(command.text)) return TitleKind::kProgramFile;
  return TitleKind::kFileType;
}

bool RunsTheFileItself(const std::string& command) {
  const std::size_t start = command.find_first_not_of(" \t");
  if (start == std::string::npos) return false;
  std::string program;
  if (command[start] == '"') {
    const std::size_t end = command.find('"', start + 1);
    program = command.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1);
  } else {
    program = command.substr(start, command.find_first_of(" \t", start) - start);
  }
  program = Trim(program);
  // %0 is the shell's other name for %1.
  return program == "%1" || program == "%0" || program == "%L" || program == "%l";
}

DefaultText ReadDefaultText(IRegistry& registry, const std::string& path) {
  DefaultText result;
  HKEY key = 0;
  if (registry.RegOpenKeyExA(HKEY_LOCAL_MACHINE, MachinePath(path).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return result;
  result.opened = true;
  char name[kNameBufferBytes];
  std::string data(kValueDataBufferBytes, '\0');
  for (DWORD index = 0;; ++index) {
    DWORD nameLength = sizeof name;
    DWORD size = kValueDataBufferBytes;
    DWORD type = REG_NONE;
    const LONG code = registry.RegEnumValueA(key, index, name, &nameLength, nullptr, &type,
                                             reinterpret_cast<BYTE*>(data.data()), &size);
    if (code == ERROR_MORE_DATA) continue;  // a name or data too long for a title or a command
    if (code != ERROR_SUCCESS) {
      if (code != ERROR_NO_MORE_ITEMS) result.opened = false;
      break;
    }
    if (nameLength != 0 || size == 0) continue;
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
      result.found = true;
      result.type = type;
      result.text = data.substr(0, data[size - 1] == '\0' ? size - 1 : size);
    }
    break;
  }
  registry.RegCloseKey(key);
  return result;
}

bool ExtensionsNaming(IRegistry& registry, const std::string& d, const std::string& except,
                      std::vector<std::string>* naming) {
  std::vector<std::string> all;
  const LONG code = registry.ExtensionsNamingTitle(d.c_str(), &all);
  naming->clear();
  for (std::string& extension : all)
    if (!SameKeyName(extension, except)) naming->push_back(std::move(extension));
  return code == ERROR_SUCCESS;
}

std::string NameList(const std::vector<std::string>& names) {
  constexpr std::size_t kShown = 5;
  std::string list;
  for (std::size_t i = 0; i < names.size() && i < kShown; ++i) list += (i == 0 ? "" : ", ") + names[i];
  if (names.size() > kShown) list += " и ещё " + std::to_string(names.size() - kShown);
  return list;
}

}  // namespace zandrel::store
