// A registered application made the default for every extension it
// declares. An installer declares what its application opens under
//   HKEY_LOCAL_MACHINE\SOFTWARE\RegisteredApplications  NAME = the path of its Capabilities key (under HKLM)
//   ...\Capabilities\FileAssociations                     .ext = ProgID
// and the machine's classes key .ext naming the ProgID is what every user
// without a choice of their own opens .ext files with. All the extensions
// change in one transaction, read under its lock, so that a change made
// meanwhile is not undone by half.
#include <optional>

#include "registry/Key.h"
#include "registry/Names.h"
#include "text/Trim.h"
#include "windows/UserChoice.h"
#include "windows/WindowsDesktop.h"

namespace zandrel::windows {

namespace {

using text::Trim;

constexpr const char* kRegistered = "SOFTWARE\\RegisteredApplications";
constexpr const char* kMachine = "HKEY_LOCAL_MACHINE\\";
constexpr const char* kClasses = "SOFTWARE\\Classes\\";
constexpr const char* kNothing = "Ничего не изменено.";

// What the application declares, and what becomes of each extension.
struct Declared {
  std::string extension, progId;
  std::string old;  // the title the extension names now; "" none
  enum class Fate { kChange, kSame, kNoTitle } fate = Fate::kChange;
};

bool IsExtension(const std::string& name) {
  if (name.size() < 2 || name[0] != '.' || name.find('\\') != std::string::npos) return false;
  for (const unsigned char c : name)
    if (c < 32 || c == 127) return false;
  return true;
}

status::Status Refused(const std::string& why) { return {status::Status::kFailed, why + " " + kNothing}; }

// Reads the declaration of `app` into *declared: "" or why there is none.
std::string ReadDeclared(IRegistry& registry, const std::string& app, std::vector<Declared>* declared) {
  const std::optional<std::string> found = registry::ReadText(registry, HKEY_LOCAL_MACHINE, kRegistered, app);
  const std::string capabilities = Trim(found.value_or(""));
  if (capabilities.empty())
    return "Приложение " + app + " не зарегистрировано в Windows (" + kMachine + kRegistered + ").";
  registry::Key key(registry);
  if (key.Open(HKEY_LOCAL_MACHINE, capabilities) != ERROR_SUCCESS)
    return "У приложения " + app + " нет раздела возможностей " + kMachine + capabilities + ".";
  const std::string associations = capabilities + "\\FileAssociations";
  std::vector<registry::Value> values;
  if (key.Open(HKEY_LOCAL_MACHINE, associations) == ERROR_SUCCESS) key.Values(&values);
  for (const registry::Value& value : values) {
    if (value.type != REG_SZ && value.type != REG_EXPAND_SZ) continue;
    Declared one;
    one.extension = value.name;
    one.progId = Trim(value.data.substr(0, value.data.find('\0')));
    if (!IsExtension(one.extension) || one.progId.empty()) continue;
    one.old = Trim(registry::ReadText(registry, HKEY_LOCAL_MACHINE, kClasses + one.extension, "").value_or(""));
    if (registry::Key(registry).Open(HKEY_LOCAL_MACHINE, kClasses + one.progId) != ERROR_SUCCESS)
      one.fate = Declared::Fate::kNoTitle;
    else if (registry::SameKeyName(one.old, one.progId)) one.fate = Declared::Fate::kSame;
    declared->push_back(std::move(one));
  }
  if (declared->empty())
    return "Приложение " + app + " не объявляет ни одного расширения (" + kMachine + associations + ").";
  return "";
}

// Names `progId` the default of the machine's `extension`, created when missing.
LONG Name(IRegistry& registry, const Declared& one) {
  registry::Key key(registry);
  LONG code = key.Create(HKEY_LOCAL_MACHINE, kClasses + one.extension, KEY_ACCESS_0x3F);
  if (code == ERROR_SUCCESS)
    code = registry.RegSetValueExA(key.Handle(), "", 0, REG_SZ, reinterpret_cast<const BYTE*>(one.progId.data()),
                                   static_cast<DWORD>(one.progId.size()));
  return code;
}

}  // namespace

status::Status WindowsDesktop::Prefer(IRegistry& registry, const std::string& app, std::vector<std::string>* out) {
  std::vector<Declared> declared;
  bool changes = false;
  {
    RegistryTransaction transaction(registry);
    if (const LONG begun = transaction.BeginCode(); begun != ERROR_SUCCESS)
      return Refused("Не удалось начать изменение (ошибка реестра " + std::to_string(begun) + ").");
    if (const std::string why = ReadDeclared(registry, app, &declared); !why.empty()) return Refused(why);
    LONG code = ERROR_SUCCESS;
    for (const Declared& one : declared) {
      if (one.fate != Declared::Fate::kChange) continue;
      changes = true;
      if (code == ERROR_SUCCESS) code = Name(registry, one);
    }
    if (changes && code == ERROR_SUCCESS) code = transaction.Commit();
    if (code != ERROR_SUCCESS)
      return Refused("Приложение " + app + " не стало основным (ошибка реестра " + std::to_string(code) + ").");
  }  // rolled back here unless committed
  for (const Declared& one : declared) {
    const std::string& e = one.extension;
    switch (one.fate) {
      case Declared::Fate::kChange:
        out->push_back("Расширение " + e + ": " + (one.old.empty() ? "(не было)" : one.old) + " → " + one.progId + ".");
        break;
      case Declared::Fate::kSame:
        out->push_back("Расширение " + e + " уже открывается через " + one.progId + ".");
        break;
      case Declared::Fate::kNoTitle:
        out->push_back("Расширение " + e + " пропущено: описания " + one.progId + " нет в реестре.");
    }
  }
  if (!changes) out->push_back(kNothing);
  // Where the user's own classes or choice still decide, the machine's
  // default changed nothing for this user.
  for (const Declared& one : declared) {
    if (one.fate == Declared::Fate::kNoTitle) continue;
    const std::string note =
        UsersClassesNote(registry, one.extension, one.progId) + UserChoiceNote(registry, one.extension);
    for (std::size_t at = 0; (at = note.find_first_not_of("\r\n", at)) != std::string::npos;) {
      const std::size_t end = note.find("\r\n", at);
      out->push_back(note.substr(at, end == std::string::npos ? std::string::npos : end - at));
      at = end;
    }
  }
  return {};
}

}  // namespace zandrel::windows
