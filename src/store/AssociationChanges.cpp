#include "store/AssociationChanges.h"

#include "store/ChangeRefusal.h"
#include "store/DesktopAnswers.h"
#include "store/KeyRoutines.h"
#include "store/FieldChecks.h"
#include "store/FileExists.h"
#include "store/Titles.h"
#include "registry/Key.h"
#include "registry/Names.h"

namespace zandrel::store {

namespace {

constexpr const char* kCrLf = "\r\n";
constexpr const char* kBlankLine = "\r\n\r\n";

// The explanation about the update box that follows a success when it is ticked.
std::string WithUpdateExplanation(const std::string& first) {
  return first + kBlankLine + "Что увидеть результат в списке нажмите кнопку показать." + kBlankLine +
         "Если у вас стоит галочка в Показать изменнения , то измения" + kBlankLine +
         "будут вам показываться сразу после того как вы нажмёте " + kBlankLine +
         "кнопку Ок. Если вам это не нужно, не забывайте уберать галочку.";
}

// Whether the machine's classes key `path` opens for reading; the key is
// closed again. The user's own classes do not count: no change writes there.
bool KeyExists(IRegistry& registry, const std::string& path) {
  return registry::Key(registry).Open(HKEY_LOCAL_MACHINE, MachinePath(path)) == ERROR_SUCCESS;
}

// Creates root\path, or opens it when it exists, and closes it; *created
// tells which.
bool CreateKey(IRegistry& registry, HKEY root, const std::string& path, bool* created = nullptr) {
  DWORD disposition = 0;
  const LONG code = registry::Key(registry).Create(root, path, KEY_ACCESS_0x3F, &disposition);
  if (created != nullptr) *created = disposition == REG_CREATED_NEW_KEY;
  return code == ERROR_SUCCESS;
}

// The extension field's own checks, stricter for the add: false after
// telling the user what is wrong.
bool ExtensionFieldAccepted(const std::string& e, Prompter& prompter, bool adding) {
  const std::string refusal = ExtensionFieldRefusal(e, adding);
  if (!refusal.empty()) prompter.MsgBox(refusal, MB_OK);
  return refusal.empty();
}
std::string SeparatorInDescription(const std::string& d) { return "Описание не может содержать знак \\: " + d; }
std::string DescriptionTooLong(const std::string& d) {
  return "Описание длиннее " + std::to_string(MAX_KEY_NAME_CHARS) + " знаков (в нём " +
         std::to_string(registry::NameChars(d)) +
         "): такого раздела в реестре быть не может. Введите описание покороче.";
}

enum class Title { kOwn, kOther, kUnread };

// Whether `d` is the title that the extension key `e` names in its default
// value (found as the listing finds it), compared as key names are.
Title TitleCheck(IRegistry& registry, const std::string& e, const std::string& d) {
  const DefaultText title = ReadDefaultText(registry, e);
  if (!title.opened) return Title::kUnread;
  return title.found && title.type == REG_SZ && SameKeyName(title.text, d) ? Title::kOwn : Title::kOther;
}

// Why `d` cannot be an association's title; "" when it can.
std::string TitleRefusal(TitleKind kind, const std::string& d) {
  return kind == TitleKind::kFileType ? std::string() : TitleIsNoFileType(kind, d) + ". Введите другое описание.";
}

// Why the removal left the title `d` of that kind, after the closing message.
std::string TitleKept(TitleKind kind, const std::string& d) {
  if (kind == TitleKind::kFileType) return std::string();
  const char* it = kind == TitleKind::kExtension ? "оно " : "это ";
  return kCrLf + ("Описание " + d + " оставлено: " + it + NotAFileType(kind) + ".");
}

// The second question before removing an extension of the shell's own.
std::string ShellExtensionQuestion(const std::string& e) {
  return std::string("Расширение ") + e + " — файлы, которые Windows запускает сама. Без него они перестанут " +
         "открываться двойным щелчком." + kCrLf + "Всё равно удалить " + e + "?";
}

// Whether `now` names an extension that `asked` did not: another program
// made it name the title after the user was asked.
bool NamesMore(const std::vector<std::string>& now, const std::vector<std::string>& asked) {
  for (const std::string& name : now) {
    bool known = false;
    for (const std::string& a : asked) known = known || SameKeyName(a, name);
    if (!known) return true;
  }
  return false;
}

// The extensions other than `e` naming `d`, read under the change's lock:
// none when D does not exist. False when they could not be read: the change
// must not go on without knowing.
bool NamingUnderLock(IRegistry& registry, const std::string& d, const std::string& e,
                     std::vector<std::string>* naming) {
  naming->clear();
  const LONG code = registry::Key(registry).Open(HKEY_LOCAL_MACHINE, MachinePath(d));
  // None, or a name no key can have (a name or a path too long).
  if (code == ERROR_FILE_NOT_FOUND || code == ERROR_INVALID_PARAMETER || code == ERROR_MORE_DATA) return true;
  if (code != ERROR_SUCCESS) return false;
  return ExtensionsNaming(registry, d, e, naming);
}

std::string NamedMeanwhile(const std::string& d, const std::vector<std::string>& naming, const char* nothing) {
  return "Описание " + d + " тем временем стали называть и другие расширения: " + NameList(naming) + ". " + nothing;
}

// After the failing step's own messages, why the change was refused, when
// the registry said so.
void ExplainRefusal(const RefusalWatch& registry, Prompter& prompter) {
  if (const std::string why = registry.Text(); !why.empty()) prompter.MsgBox(why, MB_OK);
}

}  // namespace

ChangeOutcome CreateAssociation(IRegistry& target, Prompter& prompter, const AssociationFields& fields,
                                integration::Desktop* desktop) {
  RefusalWatch registry(target);
  const std::string e = PrepareExtension(fields.fileExt);
  const std::string d = Trim(fields.titleRef);
  const std::string p = ProgramPath(fields.executableFileSpec);

  if (!ExtensionFieldAccepted(e, prompter, true)) return {};
  if (d.empty()) {
    prompter.MsgBox("Введите описание", MB_OK);
    return {};
  }
  if (HoldsSeparator(d)) {
    prompter.MsgBox(SeparatorInDescription(d), MB_OK);
    return {};
  }
  if (registry::NameChars(d) > MAX_KEY_NAME_CHARS) {
    prompter.MsgBox(DescriptionTooLong(d), MB_OK);
    return {};
  }
  if (ControlIn(d)) {
    prompter.MsgBox(
        "Описание не может содержать управляющие знаки (табуляцию, перевод строки). Введите другое "
        "описание.",
        MB_OK);
    return {};
  }
  if (const std::string refusal = TitleRefusal(TitleKindByName(d), d); !refusal.empty()) {
    prompter.MsgBox(refusal, MB_OK);
    return {};
  }
  if (DesktopsKey(desktop, d)) {
    prompter.MsgBox(DesktopsOwn("Описание " + d, "его", "Ничего не записано."), MB_OK);
    return {};
  }
  // The check above read the view again, so that this is its state now.
  if (const std::string why = ViewError(desktop); !why.empty()) {
    prompter.MsgBox(DesktopUnread(why, "Ничего не записано."), MB_OK);
    return {};
  }
  if (const std::string refusal = ProgramFieldRefusal(p); !refusal.empty()) {
    prompter.MsgBox(refusal, MB_OK);
    return {};
  }
  if (KeyExists(registry, e)) {
    prompter.MsgBox(e + " already in registry", MB_OK);
    return {};
  }
  const std::string command = d + "\\shell\\open\\command";
  const std::string icon = d + "\\DefaultIcon";
  const std::string newCommand = OpenCommand(p);
  // A title in use is reused only when it is a file type's, and when other
  // extensions name it, only once the user has agreed to change them too;
  // a title that already opens files with this command asks nothing.
  std::vector<std::string> naming;
  if (KeyExists(registry, d)) {
    if (const std::string refusal = TitleRefusal(TitleKindOf(registry, d), d); !refusal.empty()) {
      prompter.MsgBox(refusal, MB_OK);
      return {};
    }
    const DefaultText old = ReadDefaultText(registry, command);
    const bool sameCommand = old.found && old.text == newCommand;
    if (!sameCommand &&
        prompter.MsgBox(std::string("Title Ref already in existence in the registery.") + kCrLf + "Proceed still?",
                        MB_YESNO | MB_ICONQUESTION) != IDYES)
      return {};
    ExtensionsNaming(registry, d, e, &naming);  // read again, and checked, under the lock
    if (!naming.empty() && !sameCommand) {
      const std::string change = old.found && !Trim(old.text).empty()
                                     ? "Их команда " + old.text + " будет заменена на " + newCommand + "."
                                     : "Они будут открываться командой " + newCommand + ".";
      if (prompter.MsgBox("Описание " + d + " называют и другие расширения: " + NameList(naming) + "." + kCrLf +
                              change + kCrLf + "Изменить и для них?",
                          MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES)
        return {};
    }
  }
  // Messages wait in `held` until the transaction has ended.
  QueuedPrompter held;
  bool written = false;
  {
    RegistryTransaction transaction(registry);
    const MachineClasses classes(registry, KEY_READ | KEY_CREATE_SUB_KEY);
    std::string failure;
    bool created = false;
    std::vector<std::string> namingNow;
    if (transaction.BeginCode() != ERROR_SUCCESS || !NamingUnderLock(registry, d, e, &namingNow) ||
        !CreateKey(registry, classes.Key(), e, &created))
      failure = "Unable to create " + e;
    else if (NamesMore(namingNow, naming)) failure = NamedMeanwhile(d, namingNow, "Ничего не записано.");
    else if (!created)  // another program made it after the test above
      failure = e + " already in registry";
    else if (!SetKeyValue(registry, held, classes.Key(), e, "", d))
      failure = "Unable to set value of " + d + " to " + e;
    else if (!CreateKey(registry, classes.Key(), d)) failure = "Unable to create " + d;
    else if (!CreateKey(registry, classes.Key(), command)) failure = "Unable to create " + command;
    else if (!SetKeyValue(registry, held, classes.Key(), command, "", newCommand))
      failure = "Unable to set value to " + command;
    else if (!CreateKey(registry, classes.Key(), icon)) failure = "Unable create " + icon;
    else if (!SetKeyValue(registry, held, classes.Key(), icon, "", p + ",1") || transaction.Commit() != ERROR_SUCCESS)
      // A commit that fails leaves the last value unwritten with the rest.
      failure = "Unable to set value to " + icon;
    else written = true;
    if (!written) held.MsgBox(failure, MB_OK);
  }  // rolled back here unless committed
  held.Flush(prompter);
  if (!written) {
    ExplainRefusal(registry, prompter);
    return {};
  }

  ChangeOutcome outcome;
  outcome.committed = true;
  outcome.reloadList = fields.updateList == 1;
  outcome.notifyShell = true;
  // The desktop may keep another program for this user.
  const integration::StillDeciding still = StillDecides(desktop, registry, e, d);
  const std::string done = "Всё прошло успешно." + still.note;
  prompter.MsgBox(outcome.reloadList ? WithUpdateExplanation(done) : done, MB_OK);
  OfferSettings(still, prompter);
  return outcome;
}

ChangeOutcome RemoveAssociation(IRegistry& target, Prompter& prompter, const RemovalFields& fields,
                                integration::Desktop* desktop) {
  RefusalWatch registry(target);
  const std::string e = PrepareExtension(fields.fileExt);
  if (!ExtensionFieldAccepted(e, prompter, false)) return {};
  const std::string d = Trim(fields.titleRef);
  if (HoldsSeparator(d)) {
    prompter.MsgBox(SeparatorInDescription(d), MB_OK);
    return {};
  }

  struct Owned {
    const char* what;
    const char* it;
    const std::string& key;
  };
  for (const Owned& owned : {Owned{"Ассоциация ", "её", e}, Owned{"Описание ", "его", d}}) {
    if (DesktopsKey(desktop, owned.key)) {
      prompter.MsgBox(DesktopsOwn(owned.what + owned.key, owned.it, "Ничего не удалено."), MB_OK);
      return {};
    }
  }
  if (const std::string why = ViewError(desktop); !why.empty()) {
    prompter.MsgBox(DesktopUnread(why, "Ничего не удалено."), MB_OK);
    return {};
  }
  // The question names the keys that will go: the fields, not the list's row.
  std::string question =
      "Удаляется расширенние " + e + kCrLf +
      (d.empty() ? "Хотите удалить расширенние, а описание оставить?" : "Хотите удалить расширенние и описание?");
  if (prompter.MsgBox(question, MB_YESNO | MB_ICONQUESTION) != IDYES) return {};
  if (ShellsOwnExtension(e) &&
      prompter.MsgBox(ShellExtensionQuestion(e), MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES)
    return {};

  registry::Key extensionKey(registry);
  if (extensionKey.Open(HKEY_LOCAL_MACHINE, MachinePath(e)) != ERROR_SUCCESS) {
    prompter.MsgBox(UsersOwnKey(registry, e) ? UsersOwnExtension(e)
                                             : "Unable to open subkey " + e + ".  Pleaser re-check your entry",
                    MB_OK);
    return {};
  }
  if (!d.empty() && registry::Key(registry).Open(HKEY_LOCAL_MACHINE, MachinePath(d)) != ERROR_SUCCESS) {
    extensionKey.Close();
    prompter.MsgBox("Не удалось открыть subkey " + d + ".  Please re-check your entry", MB_OK);
    return {};
  }
  extensionKey.Close();

  // The description is deleted with everything under it, so it must be the
  // title E names, one the add would take (not the shell's own, nor a
  // program's: those stay, E goes alone), named by no extension the user was
  // not told of; read under the lock, so that no other program can change
  // that in between. Other extensions naming it: the transaction ends
  // unchanged, the user is asked, and a second one deletes E alone ("Нет")
  // or both ("Да").
  QueuedPrompter held;
  bool deleted = false, asked = false, keepTitle = d.empty();
  Title title = Title::kOwn;
  TitleKind kind = TitleKind::kFileType;
  std::vector<std::string> naming, namingNow;
  for (;;) {
    bool ask = false;
    {
      RegistryTransaction transaction(registry);
      const MachineClasses classes(registry, KEY_READ);  // keys are deleted through their parents' handles
      bool read = true;
      if (transaction.BeginCode() == ERROR_SUCCESS && !keepTitle) {
        title = TitleCheck(registry, e, d);
        if (title == Title::kOwn) kind = TitleKindOf(registry, d);
        if (title == Title::kOwn && kind == TitleKind::kFileType) read = ExtensionsNaming(registry, d, e, &namingNow);
      }
      const bool dropTitle = !keepTitle && kind == TitleKind::kFileType;
      ask = !asked && read && title == Title::kOwn && !namingNow.empty();
      deleted = !ask && transaction.BeginCode() == ERROR_SUCCESS && classes.Key() != 0 && title == Title::kOwn &&
                read && !NamesMore(namingNow, naming) && DeleteKey(registry, held, classes.Key(), e) &&
                (!dropTitle || DeleteKey(registry, held, classes.Key(), d)) && transaction.Commit() == ERROR_SUCCESS;
    }  // rolled back here unless committed
    if (!ask) break;
    asked = true;
    naming = namingNow;
    keepTitle = prompter.MsgBox("Описание " + d + " называют и другие расширения: " + NameList(naming) + "." + kCrLf +
                                    "Удалить описание и для них? Нет — удалить только расширение " + e + ".",
                                MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES;
    namingNow.clear();
  }
  held.Flush(prompter);
  if (title == Title::kOther) {
    prompter.MsgBox("Описание " + d + " не принадлежит расширению " + e + ". Ничего не удалено.", MB_OK);
    return {};
  }
  if (NamesMore(namingNow, naming)) {
    prompter.MsgBox(NamedMeanwhile(d, namingNow, "Ничего не удалено."), MB_OK);
    return {};
  }

  ChangeOutcome outcome;
  outcome.notifyShell = true;
  outcome.committed = deleted;
  // The desktop may still open them for this user.
  const integration::StillDeciding still =
      deleted ? StillDecides(desktop, registry, e, "") : integration::StillDeciding{};
  const std::string kept =
      (kind != TitleKind::kFileType ? TitleKept(kind, d)
       : keepTitle && !d.empty()    ? kCrLf + ("Описание " + d + " оставлено: его называют и другие расширения.")
                                    : "") +
      still.note;
  if (!deleted) {
    prompter.MsgBox("Не удалось удалить ассоциацию из реестра " + e, MB_OK);
    ExplainRefusal(registry, prompter);
  } else if (fields.updateList == 1) {
    prompter.MsgBox(WithUpdateExplanation("Из реестра удаленно расширенние " + e + kept), MB_OK);
    outcome.reloadList = true;
  } else {
    prompter.MsgBox("Ассоциация удаленна из реестра " + e + kept, MB_OK);
  }
  OfferSettings(still, prompter);
  return outcome;
}

}  // namespace zandrel::store
