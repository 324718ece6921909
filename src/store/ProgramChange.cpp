#include "store/ProgramChange.h"

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

// Checks the fields and reads what the change would do into *change: "",
// or why it is refused. With no desktop, the desktop's view is not read
// again (the reading under the lock).
std::string Plan(RefusalWatch& registry, const ProgramChangeFields& fields, integration::Desktop* desktop,
                 ProgramChange* change) {
  const std::string& e = change->extension = PrepareExtension(fields.fileExt);
  const std::string p = ProgramPath(fields.executableFileSpec);
  change->newCommand = OpenCommand(p);
  if (std::string why = ExtensionFieldRefusal(e, false); !why.empty()) return why;
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
  if (change->unchanged || change->sharing.empty() || fields.everyExtension) return "";
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
  LONG code = own ? CopyTree(registry, change.title, change.newTitle) : ERROR_SUCCESS;
  if (code == ERROR_SUCCESS)
    code = SetDefault(registry, CommandOf(own ? change.newTitle : change.title), change.newCommand);
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
    change->refusal = ProgramFieldRefusal(program);
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
         a.unchanged == b.unchanged;
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
    change.stillNote =
        StillDecides(desktop, registry, change.extension, change.newTitle.empty() ? change.title : change.newTitle)
            .note;
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
  if (!change.newTitle.empty())
    lines.push_back("Для него сделано своё описание " + change.newTitle + " — копия описания " + change.title +
                    ", которое остаётся у " + NameList(change.sharing) + ".");
  else if (!change.sharing.empty())
    lines.push_back("Описание " + change.title + " общее: той же командой теперь открываются и " +
                    NameList(change.sharing) + ".");
  if (const std::size_t at = change.stillNote.find_first_not_of("\r\n"); at != std::string::npos)
    lines.push_back(change.stillNote.substr(at));
  return lines;
}

}  // namespace zandrel::store
