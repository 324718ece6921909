// A registered application made the default for every extension it
// declares. An installer declares what its application opens under
//   HKEY_LOCAL_MACHINE\SOFTWARE\RegisteredApplications  NAME = the path of its Capabilities key (under HKLM)
//   ...\Capabilities\FileAssociations                     .ext = ProgID
// or, installed for one user, the same under HKEY_CURRENT_USER, which Windows
// looks at first. The machine's classes key .ext naming the ProgID is what
// every user without a choice of their own opens .ext files with, whoever
// registered the application: that is what changes. All the extensions
// change in one transaction, read under its lock, so that a change made
// meanwhile is not undone by half.
#include <algorithm>
#include <optional>

#include "registry/Key.h"
#include "registry/Names.h"
#include "store/FieldChecks.h"
#include "store/Titles.h"
#include "text/Trim.h"
#include "windows/UserChoice.h"
#include "windows/WindowsDesktop.h"

namespace zandrel::windows {

namespace {

using text::Trim;

constexpr const char* kRegistered = "SOFTWARE\\RegisteredApplications";
constexpr const char* kUsersRegistered = "Software\\RegisteredApplications";
constexpr const char* kClasses = "SOFTWARE\\Classes\\";
constexpr const char* kNothing = "Ничего не изменено.";

// What the application declares, and what becomes of each extension.
struct Declared {
  std::string extension, progId;
  std::string old;  // the title the extension names now; "" none
  enum class Fate { kChange, kSame, kNoTitle, kNotAFileType } fate = Fate::kChange;
  std::string why;  // kNotAFileType: why it is passed over
};

bool IsExtension(const std::string& name) {
  if (name.size() < 2 || name[0] != '.' || name.find('\\') != std::string::npos) return false;
  for (const unsigned char c : name)
    if (c < 32 || c == 127) return false;
  return true;
}

status::Status Refused(const std::string& why) { return {status::Status::kFailed, why + " " + kNothing}; }

// root\path as the messages name it.
std::string Full(HKEY root, const std::string& path) { return std::string(registry::RootName(root)) + "\\" + path; }

// Why root\path could not be opened, when that is not its absence; "".
std::string Unread(LONG code, HKEY root, const std::string& path) {
  if (code == ERROR_SUCCESS || code == ERROR_FILE_NOT_FOUND) return "";
  return "Не удалось прочитать " + Full(root, path) + " (ошибка реестра " + std::to_string(code) + ").";
}

// Why an extension naming `old`, to name `progId`, is passed over: the
// shell's own extensions, and titles that are no file type's (a declaration
// naming exefile would have the files run themselves); "" when it is not.
std::string PassedOver(IRegistry& registry, const Declared& one) {
  if (store::ShellsOwnExtension(one.extension))
    return "это расширение самой Windows: его файлы запускаются сами или ведут к программе";
  // A name that is no key's would reach another key (CLSID\{...}), or none.
  if (store::HoldsSeparator(one.progId) || registry::NameChars(one.progId) > MAX_KEY_NAME_CHARS)
    return "описание " + one.progId + " не может быть именем раздела реестра";
  for (const std::string& d : {one.old, one.progId})
    if (const store::TitleKind kind = store::TitleKindOf(registry, d);
        !d.empty() && kind != store::TitleKind::kFileType)
      return "описание " + d + (kind == store::TitleKind::kExtension ? " " : " — ") + store::NotAFileType(kind);
  return "";
}

// Reads the declaration of `app` into *declared: "" or why there is none.
std::string ReadDeclared(IRegistry& registry, const std::string& app, std::vector<Declared>* declared) {
  // The user's registration first, its capabilities in the user's keys.
  HKEY root = HKEY_CURRENT_USER;
  std::string capabilities = Trim(registry::ReadText(registry, root, kUsersRegistered, app).value_or(""));
  if (capabilities.empty()) {
    root = HKEY_LOCAL_MACHINE;
    capabilities = Trim(registry::ReadText(registry, root, kRegistered, app).value_or(""));
  }
  if (capabilities.empty())
    return "Приложение " + app + " не зарегистрировано в Windows (" + Full(HKEY_CURRENT_USER, kUsersRegistered) + ", " +
           Full(HKEY_LOCAL_MACHINE, kRegistered) + ").";
  registry::Key key(registry);
  LONG code = key.Open(root, capabilities);
  if (std::string why = Unread(code, root, capabilities); !why.empty()) return why;
  if (code != ERROR_SUCCESS)
    return "У приложения " + app + " нет раздела возможностей " + Full(root, capabilities) + ".";
  const std::string associations = capabilities + "\\FileAssociations";
  std::vector<registry::Value> values;
  code = key.Open(root, associations);
  if (std::string why = Unread(code, root, associations); !why.empty()) return why;
  if (code == ERROR_SUCCESS && (code = key.Values(&values)) != ERROR_SUCCESS) return Unread(code, root, associations);
  for (const registry::Value& value : values) {
    if (value.type != REG_SZ && value.type != REG_EXPAND_SZ) continue;
    Declared one;
    one.extension = value.name;
    one.progId = Trim(value.data.substr(0, value.data.find('\0')));
    if (!IsExtension(one.extension) || one.progId.empty()) continue;
    one.old = Trim(registry::ReadText(registry, HKEY_LOCAL_MACHINE, kClasses + one.extension, "").value_or(""));
    code = registry::Key(registry).Open(HKEY_LOCAL_MACHINE, kClasses + one.progId);
    if (std::string why = Unread(code, HKEY_LOCAL_MACHINE, kClasses + one.progId); !why.empty()) return why;
    if (code != ERROR_SUCCESS) {
      one.fate = Declared::Fate::kNoTitle;
    } else if (registry::SameKeyName(one.old, one.progId)) {
      one.fate = Declared::Fate::kSame;
    } else if (one.why = PassedOver(registry, one); !one.why.empty()) {
      one.fate = Declared::Fate::kNotAFileType;
    }
    declared->push_back(std::move(one));
  }
  if (declared->empty())
    return "Приложение " + app + " не объявляет ни одного расширения (" + Full(root, associations) + ").";
  // In name order, as the registry compares names: registries enumerate values in orders of their own.
  std::stable_sort(declared->begin(), declared->end(), [](const Declared& a, const Declared& b) {
    return registry::UpperName(a.extension) < registry::UpperName(b.extension);
  });
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
        break;
      case Declared::Fate::kNotAFileType: out->push_back("Расширение " + e + " пропущено: " + one.why + ".");
    }
  }
  if (!changes) out->push_back(kNothing);
  // Where the user's own classes or choice still decide, the machine's
  // default changed nothing for this user.
  for (const Declared& one : declared) {
    if (one.fate == Declared::Fate::kNoTitle || one.fate == Declared::Fate::kNotAFileType) continue;
    for (std::string& line : integration::NoteLines(UsersClassesNote(registry, one.extension, one.progId) +
                                                    UserChoiceNote(registry, one.extension)))
      out->push_back(std::move(line));
  }
  return {};
}

}  // namespace zandrel::windows
