#include "windows/WindowsDesktop.h"

#include <cstdio>
#include <optional>

#include "registry/Key.h"
#include "registry/Names.h"
#include "windows/UserChoice.h"

namespace zandrel::windows {

integration::Followed WindowsDesktop::AfterChange(const std::string&, bool) {
  if (shell_.notifyAssociationsChanged) shell_.notifyAssociationsChanged();
  return {};
}

status::Status WindowsDesktop::Explain(const std::string& extension, std::string* out) {
  const auto show = [&](const char* label, HKEY root, const std::string& path, const std::string& name = "") {
    const std::optional<std::string> text = registry::ReadText(classes_, root, path, name);
    *out += std::string(label) + ": " + registry::RootName(root) + "\\" + path + (name.empty() ? "" : " " + name) +
            " -> " + text.value_or("(none)") + "\n";
    return text.value_or("");
  };
  const std::string machine = show("machine", HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\" + extension);
  if (!machine.empty()) show("machine", HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\" + machine + "\\shell\\open\\command");
  const std::string user = show("user", HKEY_CURRENT_USER, "Software\\Classes\\" + extension);
  if (!user.empty()) show("user", HKEY_CURRENT_USER, "Software\\Classes\\" + user + "\\shell\\open\\command");
  show("user's choice", HKEY_CURRENT_USER,
       "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\" + extension + "\\UserChoice", "ProgId");
  std::string command;
  std::int32_t code = 0;
  if (shell_.openCommand && shell_.openCommand(extension, &command, &code)) {
    *out += "command (AssocQueryStringA, ASSOCSTR_COMMAND): " + command + "\n";
  } else {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08lx", static_cast<unsigned long>(static_cast<std::uint32_t>(code)));
    *out += "command (AssocQueryStringA, ASSOCSTR_COMMAND): none (" + std::string(hex) + ")\n";
  }
  return {};
}

integration::StillDeciding WindowsDesktop::StillDecides(IRegistry& registry, const std::string& extension,
                                                        const std::string& title) {
  return {UsersClassesNote(registry, extension, title) + UserChoiceNote(registry, extension),
          DefaultAppsQuestion(registry, extension)};
}

}  // namespace zandrel::windows
