#include "store/Titles.h"

#include <array>

#include "registry/Key.h"
#include "store/KeyRoutines.h"

namespace zandrel::store {

namespace {

// Keys of a Windows 10/11 classes store that the shell itself reads for
// things other than one file type: every file, folder, drive, COM class and
// so on. An open command written under one of them reaches far beyond one
// extension.
// clang-format off
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
// clang-format on

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
  registry::Key key(registry);
  registry::Value value;
  return key.Open(HKEY_LOCAL_MACHINE, MachinePath(path)) == ERROR_SUCCESS &&
         key.Find(valueName, 0, &value) == ERROR_SUCCESS;
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

std::string NotAFileType(TitleKind kind) {
  switch (kind) {
    case TitleKind::kExtension: return "начинается с точки, как имя расширения";
    case TitleKind::kShellClass: return "системный раздел Windows, а не тип файлов";
    case TitleKind::kUrlProtocol: return "протокол ссылок, а не тип файлов";
    case TitleKind::kProgramFile: return "тип программ, которые запускаются сами";
    case TitleKind::kFileType: break;
  }
  return "";
}

std::string TitleIsNoFileType(TitleKind kind, const std::string& d) {
  if (kind == TitleKind::kFileType) return "";
  return "Описание " + d + (kind == TitleKind::kExtension ? " " : " — ") + NotAFileType(kind);
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
  registry::Key key(registry);
  if (key.Open(HKEY_LOCAL_MACHINE, MachinePath(path)) != ERROR_SUCCESS) return result;
  // A name or data too long for a title or a command is passed over.
  registry::Value value;
  const LONG code = key.Find("", kValueDataBufferBytes, &value);
  result.opened = code == ERROR_SUCCESS || code == ERROR_FILE_NOT_FOUND;
  if (code != ERROR_SUCCESS || value.data.empty() || (value.type != REG_SZ && value.type != REG_EXPAND_SZ))
    return result;
  result.found = true;
  result.type = value.type;
  result.text = std::move(value.data);
  if (result.text.back() == '\0') result.text.pop_back();
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
