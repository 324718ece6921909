#include "windows/UserChoice.h"

#include <optional>

#include "registry/Key.h"
#include "registry/Names.h"
#include "text/Trim.h"

namespace zandrel::windows {

namespace {

using registry::SameKeyName;
using text::Trim;

constexpr const char* kFileExts = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\";
constexpr const char* kUsersClasses = "Software\\Classes\\";
constexpr const char* kChangeItThere =
    " Изменить это можно в разделе «Параметры» → «Приложения» → «Приложения по умолчанию».";

std::string TextOrNone(IRegistry& registry, HKEY root, const std::string& path, const char* name) {
  return registry::ReadText(registry, root, path, name).value_or("");
}

// The file name of a command's program: the quoted part, or its first word.
std::string ProgramName(const std::string& command) {
  std::string program = Trim(command);
  if (!program.empty() && program[0] == '"') {
    const std::size_t end = program.find('"', 1);
    program = program.substr(1, end == std::string::npos ? std::string::npos : end - 1);
  } else {
    program = program.substr(0, program.find(' '));
  }
  return program.substr(program.find_last_of("\\/") + 1);
}

bool StartsWith(const std::string& text, const std::string& start) {
  return text.size() >= start.size() && SameKeyName(text.substr(0, start.size()), start);
}

// The name a store app gives itself: AppX…\Application's ApplicationName,
// mostly an indirect string ("@{Package?ms-resource://…}"); "" when neither
// it nor its resolution is there.
std::string AppName(IRegistry& registry, const std::string& progId) {
  const std::string name = TextOrNone(registry, HKEY_CLASSES_ROOT, progId + "\\Application", "ApplicationName");
  if (name.empty() || name[0] != '@') return name;
  std::string resolved;
  return registry.LoadIndirectString(name, &resolved) ? resolved : "";
}

}  // namespace

UserChoice ReadUserChoice(IRegistry& registry, const std::string& e) {
  UserChoice choice;
  const std::string latest = kFileExts + e + "\\UserChoiceLatest";
  const std::string legacy = kFileExts + e + "\\UserChoice";
  // UserChoiceLatest keeps its ProgId as a value, or as the value of its
  // subkey ProgId; where it holds a choice, the older key may be stale.
  std::string progId = TextOrNone(registry, HKEY_CURRENT_USER, latest, "ProgId");
  if (progId.empty()) progId = TextOrNone(registry, HKEY_CURRENT_USER, latest + "\\ProgId", "ProgId");
  std::string hash = TextOrNone(registry, HKEY_CURRENT_USER, latest, "Hash");
  if (progId.empty() || hash.empty()) {
    progId = TextOrNone(registry, HKEY_CURRENT_USER, legacy, "ProgId");
    hash = TextOrNone(registry, HKEY_CURRENT_USER, legacy, "Hash");
  }
  if (Trim(progId).empty() || Trim(hash).empty()) return choice;
  choice.progId = progId;
  choice.usersOwn = StartsWith(progId, "Applications\\");
  if (StartsWith(progId, "AppX")) choice.program = AppName(registry, progId);
  if (choice.program.empty())
    choice.program = ProgramName(TextOrNone(registry, HKEY_CLASSES_ROOT, progId + "\\shell\\open\\command", ""));
  if (choice.program.empty()) choice.program = progId.substr(progId.find_last_of('\\') + 1);
  return choice;
}

std::string UserChoiceNote(IRegistry& registry, const std::string& e) {
  const UserChoice choice = ReadUserChoice(registry, e);
  if (choice.progId.empty()) return "";
  const std::string whose = choice.usersOwn
                                ? "её когда-то выбрали вы сами через «Открыть с помощью»."
                                : "так решает выбор по умолчанию, который Windows хранит для вашей учётной записи.";
  return "\r\n\r\nНо Windows и дальше будет открывать файлы " + e + " программой «" + choice.program + "»: " + whose +
         kChangeItThere;
}

std::string UsersClassesNote(IRegistry& registry, const std::string& e, const std::string& d) {
  // For this user HKEY_CLASSES_ROOT shows the user's key of a name where
  // there is one: the user's `e` names the title in force, and the user's
  // command of that title is the one run.
  const std::string usersTitle = Trim(TextOrNone(registry, HKEY_CURRENT_USER, kUsersClasses + e, ""));
  const std::string title = usersTitle.empty() ? d : usersTitle;
  if (title.empty()) return "";
  const std::string commandPath = title + "\\shell\\open\\command";
  const std::optional<std::string> usersCommand =
      registry::ReadText(registry, HKEY_CURRENT_USER, kUsersClasses + commandPath, "");
  std::string key;
  if (!usersTitle.empty() && !SameKeyName(usersTitle, d)) key = e;
  else if (usersCommand && !Trim(*usersCommand).empty()) key = commandPath;
  else return "";
  const std::string command =
      usersCommand ? *usersCommand : TextOrNone(registry, HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\" + commandPath, "");
  return "\r\n\r\nНо для вас Windows и дальше будет открывать файлы " + e +
         " по вашим личным настройкам (HKEY_CURRENT_USER\\Software\\Classes\\" + key + ")" +
         (Trim(command).empty() ? "" : ": командой " + command) + ". Их Zandrel не меняет.";
}

std::string DefaultAppsQuestion(IRegistry& registry, const std::string& e) {
  if (ReadUserChoice(registry, e).progId.empty()) return "";
  return "Открыть «Приложения по умолчанию» в «Параметрах» Windows?";
}

}  // namespace zandrel::windows
