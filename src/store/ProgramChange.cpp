#include "store/ProgramChange.h"

#include <utility>

#include "registry/Key.h"
#include "registry/Names.h"
#include "store/ChangeRefusal.h"
#include "store/DesktopAnswers.h"
#include "store/FieldChecks.h"
#include "store/FileExists.h"
#include "store/KeyRoutines.h"
#include "store/Titles.h"

namespace zandrel::store {

namespace {

constexpr const char* kNothing = "Ничего не изменено.";
// How many names ("TITLE.ext", then ".2" and on) a title of its own is
// looked for under before the change gives up.
constexpr int kTitleNames = 100;

std::string CommandOf(const std::string& d) { return d + "\\shell\\open\\command"; }

// A reading that failed: what could not be read, and why when the registry
// said so.
std::string Unread(const RefusalWatch& registry, const std::string& what) {
  const std::string why = registry.Text();
  return "Не удалось прочитать " + what + ". " + kNothing + (why.empty() ? "" : " " + why);
}

enum class Name { kFree, kTaken, kUnread };

// Whether a title may be made under `name`. Taken: a name that is no file
// type's, a key among the machine's or the user's classes (or the
// desktop's), or a name an extension already gives (that extension would
// open with what is made there).
Name NameState(IRegistry& registry, integration::Desktop* desktop, const std::string& name) {
  if (TitleKindByName(name) != TitleKind::kFileType || DesktopsKey(desktop, name)) return Name::kTaken;
  for (const auto& [root, path] :
       {std::pair{HKEY_CLASSES_ROOT, name}, std::pair{HKEY_LOCAL_MACHINE, MachinePath(name)}}) {
    const LONG code = registry::Key(registry).Open(root, path);
    if (code == ERROR_SUCCESS) return Name::kTaken;
    if (code != ERROR_FILE_NOT_FOUND) return Name::kUnread;
  }
  std::vector<std::string> naming;
  if (!ExtensionsNaming(registry, name, "", &naming)) return Name::kUnread;
  return naming.empty() ? Name::kFree : Name::kTaken;
}

// Finds the title of its own for change->extension: "" with
// change->newTitle set, or why there is none.
std::string OwnTitle(RefusalWatch& registry, integration::Desktop* desktop, ProgramChange* change) {
  const std::string base = change->title + "." + change->extension.substr(1);
  for (int n = 1; n <= kTitleNames; ++n) {
    const std::string name = n == 1 ? base : base + "." + std::to_string(n);
    if (registry::NameChars(name) > MAX_KEY_NAME_CHARS) break;
    const Name state = NameState(registry, desktop, name);
    if (state == Name::kUnread) return Unread(registry, "описание " + name);
    if (state == Name::kFree) {
      change->newTitle = name;
      return "";
    }
  }
  return "Для расширения " + change->extension + " не нашлось свободного имени своего описания (" + base +
         " и следующие заняты или слишком длинные). " + kNothing;
}

// The icon a program gives the files it opens, as Windows shows an exe's
// (its first icon); "" for a program that carries none (a script, a Linux
// program).
std::string ProgramIcon(const std::string& p) {
  const std::size_t n = p.size();
  return n > 4 && SameKeyName(p.substr(n - 4), ".exe") ? "\"" + p + "\",0" : "";
}

// The file an icon location ("FILE",N or FILE,N or FILE) is taken from.
std::string IconFile(const std::string& icon) {
  const std::string location = Trim(icon);
  if (!location.empty() && location[0] == '"') return location.substr(1, location.find('"', 1) - 1);
  const std::size_t comma = location.rfind(',');
  if (comma == std::string::npos) return location;
  const std::string index = Trim(location.substr(comma + 1));
  const bool number = !index.empty() && index.find_first_not_of("-0123456789") == std::string::npos;
  return Trim(number ? location.substr(0, comma) : location);
}

// Whether the open command `command` runs the file `file` (quoted or not).
bool Runs(const std::string& command, const std::string& file) {
  const std::string c = Trim(command);
  const auto startsWith = [&](const std::string& s) {
    return c.size() >= s.size() && SameKeyName(c.substr(0, s.size()), s);
  };
  if (file.empty()) return false;
  if (startsWith("\"" + file + "\"")) return true;
  return startsWith(file) && (c.size() == file.size() || c[file.size()] == ' ');
}

// Reads the icon of change->title and decides the one the change writes:
// "", or why it could not be read.
std::string PlanIcon(RefusalWatch& registry, const std::string& p, ProgramChange* change) {
  const std::string path = change->title + "\\DefaultIcon";
  registry::Key key(registry);
  registry::Value value;
  LONG code = key.Open(HKEY_LOCAL_MACHINE, MachinePath(path));
  if (code == ERROR_SUCCESS) code = key.Find("", kValueDataBufferBytes, &value);
  if (code == ERROR_MORE_DATA) return "";  // longer than any location of a program's icon: another icon
  if (code != ERROR_SUCCESS && code != ERROR_FILE_NOT_FOUND) return Unread(registry, "значок " + path);
  const bool text = code == ERROR_SUCCESS && (value.type == REG_SZ || value.type == REG_EXPAND_SZ);
  if (text) change->oldIcon = value.data.substr(0, value.data.find('\0'));
  // A value of another type is an icon too, which is not Zandrel's to replace.
  const bool none = code == ERROR_FILE_NOT_FOUND || value.data.empty() || (text && Trim(change->oldIcon).empty());
  if (none || (text && Runs(change->oldCommand, IconFile(change->oldIcon)))) change->newIcon = ProgramIcon(p);
  return "";
}

// Checks the fields and reads what the change would do into *change: "",
// or why it is refused. With no desktop, the desktop's view is not read
// again (the reading under the lock).
std::string Plan(RefusalWatch& registry, const ProgramChangeFields& fields, integration::Desktop* desktop,
                 ProgramChange* change) {
  const std::string& e = change->extension = PrepareExtension(fields.fileExt);
  const std::string p = ProgramPath(fields.executableFileSpec);
  change->newCommand = OpenCommand(p);
  if (std::string why = ExtensionFieldRefusal(e, false); !why.empty()) return why;
  if (std::string why = ProgramControlRefusal(p); !why.empty()) return why + " " + kNothing;
  if (std::string why = ProgramFieldRefusal(p); !why.empty()) return why;
  // Such types are the desktop's own associations, changed in its settings
  // (mimeapps.list); this change writes only the store's.
  if (DesktopsKey(desktop, e)) return DesktopsOwn("Расширение " + e, "его", kNothing);
  if (std::string why = ViewError(desktop); !why.empty()) return DesktopUnread(why, kNothing);

  const LONG opened = registry::Key(registry).Open(HKEY_LOCAL_MACHINE, MachinePath(e));
  if (opened == ERROR_FILE_NOT_FOUND || opened == ERROR_INVALID_PARAMETER || opened == ERROR_MORE_DATA)
    return UsersOwnKey(registry, e) ? UsersOwnExtension(e) : NoSuchExtension(e);
  const DefaultText title = ReadDefaultText(registry, e);
  if (opened != ERROR_SUCCESS || !title.opened) return Unread(registry, "расширение " + e);
  if (!title.found || title.type != REG_SZ || Trim(title.text).empty())
    return "Расширение " + e + " не называет описания (типа файлов): сменить его программу нельзя. " + kNothing;
  const std::string& d = change->title = title.text;
  // A name that is no key's would reach another key, or none.
  if (HoldsSeparator(d) || d.find('\0') != std::string::npos || registry::NameChars(d) > MAX_KEY_NAME_CHARS)
    return "Расширение " + e + " называет описание " + d + ", которое не может быть именем раздела реестра. " +
           kNothing;
  if (DesktopsKey(desktop, d)) return DesktopsOwn("Описание " + d, "его", kNothing);
  if (const TitleKind kind = TitleKindOf(registry, d); kind != TitleKind::kFileType)
    return TitleIsNoFileType(kind, d) + ": его команду Zandrel не меняет. " + kNothing;

  // A title without a command (or without a key) gets one: the extension
  // names it, so that is where its files' program belongs.
  const DefaultText old = ReadDefaultText(registry, CommandOf(d));
  change->oldCommand = old.found ? old.text : "";
  if (!ExtensionsNaming(registry, d, e, &change->sharing))
    return Unread(registry, "расширения, которые называют описание " + d);
  change->unchanged = old.found && old.text == change->newCommand;
  if (change->unchanged) return "";
  if (std::string why = PlanIcon(registry, p, change); !why.empty()) return why;
  if (change->sharing.empty() || fields.everyExtension) return "";
  return OwnTitle(registry, desktop, change);
}

// Sets the default value of the machine's classes key `path`, created when
// missing, as the add sets it (the text's bytes without a NUL).
LONG SetDefault(IRegistry& registry, const std::string& path, const std::string& text) {
  registry::Key key(registry);
  LONG code = key.Create(HKEY_LOCAL_MACHINE, MachinePath(path), KEY_ACCESS_0x3F);
  if (code == ERROR_SUCCESS)
    code = registry.RegSetValueExA(key.Handle(), "", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.data()),
                                   static_cast<DWORD>(text.size()));
  return code;
}

// Copies the machine's classes key `from` with its values (types and bytes
// as stored) and everything below it to `to`, which must not exist. A
// missing `from` copies nothing.
LONG CopyTree(IRegistry& registry, const std::string& from, const std::string& to, bool top = true) {
  registry::Key source(registry);
  LONG code = source.Open(HKEY_LOCAL_MACHINE, MachinePath(from));
  if (code == ERROR_FILE_NOT_FOUND && top) return ERROR_SUCCESS;
  std::vector<registry::Value> values;
  std::vector<std::string> children;
  if (code == ERROR_SUCCESS) code = source.Values(&values);
  if (code == ERROR_SUCCESS) code = source.SubKeys(&children);
  source.Close();
  registry::Key copy(registry);
  DWORD disposition = 0;
  if (code == ERROR_SUCCESS) code = copy.Create(HKEY_LOCAL_MACHINE, MachinePath(to), KEY_ACCESS_0x3F, &disposition);
  if (code == ERROR_SUCCESS && disposition != REG_CREATED_NEW_KEY) code = ERROR_ACCESS_DENIED;
  for (std::size_t i = 0; code == ERROR_SUCCESS && i < values.size(); ++i) {
    // A byte other than NUL after the data: Windows stores a string's NUL
    // when the byte after it is one, and the copy is to hold what was read.
    const std::string bytes = values[i].data + '\x01';
    code =
        registry.RegSetValueExA(copy.Handle(), values[i].name.c_str(), 0, values[i].type,
                                reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(values[i].data.size()));
  }
  copy.Close();
  for (std::size_t i = 0; code == ERROR_SUCCESS && i < children.size(); ++i)
    code = CopyTree(registry, from + "\\" + children[i], to + "\\" + children[i], false);
  return code;
}

// The writes, in the transaction: the copy of the shared title first, then
// the command, then the extension naming its own title.
LONG Write(IRegistry& registry, const ProgramChange& change) {
  const bool own = !change.newTitle.empty();
  const std::string& d = own ? change.newTitle : change.title;
  LONG code = own ? CopyTree(registry, change.title, change.newTitle) : ERROR_SUCCESS;
  if (code == ERROR_SUCCESS) code = SetDefault(registry, CommandOf(d), change.newCommand);
  if (code == ERROR_SUCCESS && !change.newIcon.empty())
    code = SetDefault(registry, d + "\\DefaultIcon", change.newIcon);
  if (code == ERROR_SUCCESS && own) code = SetDefault(registry, change.extension, change.newTitle);
  return code;
}

// An entry of the desktop's applications rather than a program's path: a
// name ending in ".desktop" with no folder.
bool NamesDesktopEntry(const std::string& typed) {
  const std::string suffix = ".desktop";
  return typed.size() > suffix.size() && typed.compare(typed.size() - suffix.size(), suffix.size(), suffix) == 0 &&
         typed.find_first_of("/\\") == std::string::npos;
}

// The change of an extension of the desktop's own, which the desktop makes
// (with `write`) or reads: false when the extension is not one, or the
// desktop changes none of its own.
bool DesktopsChange(IRegistry& registry, const ProgramChangeFields& fields, integration::Desktop* desktop, bool write,
                    ProgramChange* change) {
  const std::string e = PrepareExtension(fields.fileExt);
  if (!ExtensionFieldRefusal(e, false).empty() || !DesktopsKey(desktop, e)) return false;
  change->extension = e;
  std::string program = NamesDesktopEntry(fields.executableFileSpec) ? fields.executableFileSpec : "";
  std::string command;
  if (program.empty()) {
    program = ProgramPath(fields.executableFileSpec);
    command = OpenCommand(program);
    change->refusal = ProgramControlRefusal(program);
    change->refusal = change->refusal.empty() ? ProgramFieldRefusal(program) : change->refusal + " " + kNothing;
  }
  if (change->refusal.empty()) {
    if (std::string why = ViewError(desktop); !why.empty()) change->refusal = DesktopUnread(why, kNothing);
  }
  if (!change->refusal.empty()) return true;
  integration::OwnProgramChange own =
      desktop->ChangeOwnProgram(registry, e, program, command, fields.everyExtension, write);
  if (!own.handled) {
    change->refusal = DesktopsOwn("Расширение " + e, "его", kNothing);
    return true;
  }
  change->refusal = std::move(own.refusal);
  change->title = std::move(own.type);
  change->oldCommand = std::move(own.oldCommand);
  change->newCommand = std::move(own.newCommand);
  change->sharing = std::move(own.sharing);
  change->desktopLines = std::move(own.lines);
  change->unchanged = own.unchanged;
  change->wrote = own.wrote;
  change->committed = own.committed;
  return true;
}

bool SamePlan(const ProgramChange& a, const ProgramChange& b) {
  return a.title == b.title && a.oldCommand == b.oldCommand && a.sharing == b.sharing && a.newTitle == b.newTitle &&
         a.unchanged == b.unchanged && a.oldIcon == b.oldIcon && a.newIcon == b.newIcon;
}

}  // namespace

ProgramChange PlanProgramChange(IRegistry& target, const ProgramChangeFields& fields, integration::Desktop* desktop) {
  RefusalWatch registry(target);
  ProgramChange change;
  if (!DesktopsChange(target, fields, desktop, false, &change))
    change.refusal = Plan(registry, fields, desktop, &change);
  return change;
}

ProgramChange ChangeProgram(IRegistry& target, const ProgramChangeFields& fields, integration::Desktop* desktop) {
  RefusalWatch registry(target);
  ProgramChange change;
  if (DesktopsChange(target, fields, desktop, true, &change)) return change;
  change.refusal = Plan(registry, fields, desktop, &change);
  if (!change.refusal.empty() || change.unchanged) return change;
  LONG code = ERROR_SUCCESS;
  {
    RegistryTransaction transaction(registry);
    code = transaction.BeginCode();
    ProgramChange now;  // read again under the lock, so that nothing moves between the reading and the writes
    if (code == ERROR_SUCCESS) now.refusal = Plan(registry, fields, nullptr, &now);
    if (code == ERROR_SUCCESS && now.refusal.empty() && SamePlan(change, now)) {
      change.wrote = true;
      code = Write(registry, change);
      if (code == ERROR_SUCCESS) code = transaction.Commit();
      change.committed = code == ERROR_SUCCESS;
    } else if (code == ERROR_SUCCESS) {
      change.refusal = !now.refusal.empty()
                           ? now.refusal
                           : "Ассоциацию " + change.extension + " тем временем изменила другая программа. " + kNothing;
    }
  }  // rolled back here unless committed
  if (change.committed) {
    integration::StillDeciding still =
        StillDecides(desktop, registry, change.extension, change.newTitle.empty() ? change.title : change.newTitle);
    change.stillNote = std::move(still.note);
    change.stillQuestion = std::move(still.question);
  } else if (change.refusal.empty()) {
    const std::string why = registry.Text();
    change.refusal = "Программа расширения " + change.extension + " не изменена (ошибка реестра " +
                     std::to_string(code) + "). " + kNothing + (why.empty() ? "" : " " + why);
  }
  return change;
}

std::string NoSuchExtension(const std::string& e) { return "Расширения " + e + " нет в реестре. " + kNothing; }

std::vector<std::string> ProgramChangeLines(const ProgramChange& change) {
  if (!change.desktopLines.empty()) return change.desktopLines;
  const std::string& e = change.extension;
  if (change.unchanged) return {"Расширение " + e + " уже открывается командой " + change.newCommand + ". " + kNothing};
  std::vector<std::string> lines = {
      change.oldCommand.empty()
          ? "Расширение " + e + ": записана команда " + change.newCommand + " (прежней не было)."
          : "Расширение " + e + ": команда " + change.oldCommand + " заменена на " + change.newCommand + "."};
  if (!change.newIcon.empty())
    lines.push_back(change.oldIcon.empty() ? "Значок: записан " + change.newIcon + " (прежнего не было)."
                                           : "Значок " + change.oldIcon + " заменён на " + change.newIcon + ".");
  if (!change.newTitle.empty())
    lines.push_back("Для него сделано своё описание " + change.newTitle + " — копия описания " + change.title +
                    ", которое остаётся у " + NameList(change.sharing) + ".");
  else if (!change.sharing.empty())
    lines.push_back("Описание " + change.title + " общее: той же командой теперь открываются и " +
                    NameList(change.sharing) + ".");
  // Each note of what still decides on a line of its own.
  for (std::string& line : integration::NoteLines(change.stillNote)) lines.push_back(std::move(line));
  return lines;
}

}  // namespace zandrel::store
