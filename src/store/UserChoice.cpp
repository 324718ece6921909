#include "store/UserChoice.h"

#include <algorithm>

#include "store/KeyRoutines.h"

namespace zandrel::store {

namespace {

constexpr const char* kFileExts = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\";

// The REG_SZ value `name` of root\path, "" when there is none.
std::string ReadText(IRegistry& registry, HKEY root, const std::string& path, const char* name) {
  HKEY key = 0;
  if (registry.RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return "";
  std::string text;
  char value[kNameBufferBytes];
  std::string data(kValueDataBufferBytes, '\0');
  for (DWORD index = 0;; ++index) {
    DWORD valueLength = sizeof value;
    DWORD size = kValueDataBufferBytes;
    DWORD type = REG_NONE;
    const LONG code = registry.RegEnumValueA(key, index, value, &valueLength, nullptr, &type,
                                             reinterpret_cast<BYTE*>(data.data()), &size);
    if (code == ERROR_MORE_DATA) continue;
    if (code != ERROR_SUCCESS) break;
    if (!SameKeyName(std::string(value, valueLength), name)) continue;
    if (type == REG_SZ || type == REG_EXPAND_SZ) text = data.substr(0, std::min<std::size_t>(data.find('\0'), size));
    break;
  }
  registry.RegCloseKey(key);
  return text;
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

}  // namespace

std::string UserChoiceProgram(IRegistry& registry, const std::string& e) {
  const std::string progId = ReadText(registry, HKEY_CURRENT_USER, kFileExts + e + "\\UserChoice", "ProgId");
  if (progId.empty()) return "";
  const std::string fromCommand =
      ProgramName(ReadText(registry, HKEY_CLASSES_ROOT, progId + "\\shell\\open\\command", ""));
  return fromCommand.empty() ? progId.substr(progId.find_last_of('\\') + 1) : fromCommand;
}

std::string UserChoiceNote(IRegistry& registry, const std::string& e) {
  const std::string program = UserChoiceProgram(registry, e);
  if (program.empty()) return "";
  return "\r\n\r\nНо Windows и дальше будет открывать файлы " + e + " программой «" + program +
         "»: её когда-то выбрали вы сами через «Открыть с помощью». Изменить это можно в разделе "
         "«Параметры» → «Приложения» → «Приложения по умолчанию».";
}

}  // namespace zandrel::store
