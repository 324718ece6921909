#include "store/AssociationChanges.h"

#include "store/ChangeRefusal.h"
#include "store/KeyRoutines.h"
#include "store/Titles.h"
#include "store/UserChoice.h"
#include "store/FileExists.h"

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
  HKEY key = 0;
  if (registry.RegOpenKeyExA(HKEY_LOCAL_MACHINE, MachinePath(path).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  registry.RegCloseKey(key);
  return true;
}

// Creates root\path, or opens it when it exists, and closes it; *created
// tells which.
bool CreateKey(IRegistry& registry, HKEY root, const std::string& path, bool* created = nullptr) {
  HKEY key = 0;
  DWORD disposition = 0;
  LONG code = registry.RegCreateKeyExA(root, path.c_str(), 0, "", REG_OPTION_NON_VOLATILE,
                                       KEY_ACCESS_0x3F, nullptr, &key, &disposition);
  if (code == ERROR_SUCCESS) registry.RegCloseKey(key);
  if (created != nullptr) *created = disposition == REG_CREATED_NEW_KEY;
  return code == ERROR_SUCCESS;
}

// A key name cannot hold the path separator: "a\b" would reach another key.
bool HoldsSeparator(const std::string& name) { return name.find('\\') != std::string::npos; }
std::string SeparatorInExtension(const std::string& e) { return "Расширение не может содержать знак \\: " + e; }

// The extension field's own checks, shared by the add and the removal: false
// after telling the user what is wrong.
bool ExtensionFieldAccepted(const std::string& e, Prompter& prompter) {
  if (e.size() == 1) {
    prompter.MsgBox("Введите имя расширенния", MB_OK);
    return false;
  }
  if (HoldsSeparator(e)) {
    prompter.MsgBox(SeparatorInExtension(e), MB_OK);
    return false;
  }
  return true;
}
std::string SeparatorInDescription(const std::string& d) { return "Описание не может содержать знак \\: " + d; }
std::string UsersOwnExtension(const std::string& e) {
  return "Расширение " + e + " зарегистрировано только в ваших личных настройках (HKEY_CURRENT_USER\\Software\\Classes), "
         "поэтому в списке его нет. Такую запись Zandrel не меняет.";
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
  const std::string again = " Введите другое описание.";
  switch (kind) {
    case TitleKind::kExtension: return "Описание " + d + " начинается с точки, как имя расширения." + again;
    case TitleKind::kShellClass: return "Описание " + d + " — системный раздел Windows, а не тип файлов." + again;
    case TitleKind::kUrlProtocol: return "Описание " + d + " — протокол ссылок, а не тип файлов." + again;
    case TitleKind::kProgramFile: return "Описание " + d + " — тип программ, которые запускаются сами." + again;
    case TitleKind::kFileType: break;
  }
  return std::string();
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
  HKEY key = 0;
  const LONG code = registry.RegOpenKeyExA(HKEY_LOCAL_MACHINE, MachinePath(d).c_str(), 0, KEY_READ, &key);
  // None, or a name no key can have (a name or a path too long).
  if (code == ERROR_FILE_NOT_FOUND || code == ERROR_INVALID_PARAMETER || code == ERROR_MORE_DATA) return true;
  if (code != ERROR_SUCCESS) return false;
  registry.RegCloseKey(key);
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

ChangeOutcome CreateAssociation(IRegistry& target, Prompter& prompter, const AssociationFields& fields) {
  RefusalWatch registry(target);
  const std::string e = PrepareExtension(fields.fileExt);
  const std::string d = Trim(fields.titleRef);
  const std::string p = Trim(fields.executableFileSpec);

  if (!ExtensionFieldAccepted(e, prompter)) return {};
  if (d.empty()) {
    prompter.MsgBox("Введите описание", MB_OK);
    return {};
  }
  if (HoldsSeparator(d)) {
    prompter.MsgBox(SeparatorInDescription(d), MB_OK);
    return {};
  }
  if (const std::string refusal = TitleRefusal(TitleKindByName(d), d); !refusal.empty()) {
    prompter.MsgBox(refusal, MB_OK);
    return {};
  }
  if (p.empty()) {
    prompter.MsgBox("Не тормози!Выбери программу для ассациации.", MB_OK);
    return {};
  }
  if (!FileExists(p)) {
    prompter.MsgBox(p + " где ты его видишь?Ламер.", MB_OK);
    return {};
  }
  if (KeyExists(registry, e)) {
    prompter.MsgBox(e + " already in registry", MB_OK);
    return {};
  }
  const std::string command = d + "\\shell\\open\\command";
  const std::string icon = d + "\\DefaultIcon";
  const std::string newCommand = "\"" + p + "\" \"%1\"";
  // A title in use is reused only when it is a file type's, and when other
  // extensions name it, only once the user has agreed to change them too.
  std::vector<std::string> naming;
  if (KeyExists(registry, d)) {
    if (const std::string refusal = TitleRefusal(TitleKindOf(registry, d), d); !refusal.empty()) {
      prompter.MsgBox(refusal, MB_OK);
      return {};
    }
    if (prompter.MsgBox(std::string("Title Ref already in existence in the registery.") + kCrLf + "Proceed still?",
                        MB_YESNO | MB_ICONQUESTION) != IDYES)
      return {};
    ExtensionsNaming(registry, d, e, &naming);  // read again, and checked, under the lock
    if (!naming.empty()) {
      const DefaultText old = ReadDefaultText(registry, command);
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
    else if (NamesMore(namingNow, naming))
      failure = NamedMeanwhile(d, namingNow, "Ничего не записано.");
    else if (!created)  // another program made it after the test above
      failure = e + " already in registry";
    else if (!SetKeyValue(registry, held, classes.Key(), e, "", d))
      failure = "Unable to set value of " + d + " to " + e;
    else if (!CreateKey(registry, classes.Key(), d))
      failure = "Unable to create " + d;
    else if (!CreateKey(registry, classes.Key(), command))
      failure = "Unable to create " + command;
    else if (!SetKeyValue(registry, held, classes.Key(), command, "", newCommand))
      failure = "Unable to set value to " + command;
    else if (!CreateKey(registry, classes.Key(), icon))
      failure = "Unable create " + icon;
    else if (!SetKeyValue(registry, held, classes.Key(), icon, "", p + ",1") ||
             transaction.Commit() != ERROR_SUCCESS)
      // A commit that fails leaves the last value unwritten with the rest.
      failure = "Unable to set value to " + icon;
    else
      written = true;
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
  // Windows may keep another program for this user.
  const std::string done = "Всё прошло успешно." + UsersClassesNote(registry, e, d) + UserChoiceNote(registry, e);
  prompter.MsgBox(outcome.reloadList ? WithUpdateExplanation(done) : done, MB_OK);
  OfferDefaultApps(registry, prompter, e);
  return outcome;
}

ChangeOutcome RemoveAssociation(IRegistry& target, Prompter& prompter, const RemovalFields& fields) {
  RefusalWatch registry(target);
  const std::string e = PrepareExtension(fields.fileExt);
  if (!ExtensionFieldAccepted(e, prompter)) return {};
  const std::string d = Trim(fields.titleRef);
  if (HoldsSeparator(d)) {
    prompter.MsgBox(SeparatorInDescription(d), MB_OK);
    return {};
  }

  if (registry.KeyOnlyInDesktopView(HKEY_CLASSES_ROOT, e.c_str())) {
    prompter.MsgBox("Ассоциация " + e + " принадлежит рабочему столу. Измените её в настройках рабочего стола " +
                        "или командой xdg-mime default. Ничего не удалено.", MB_OK);
    return {};
  }
  // The question names the keys that will go: the fields, not the list's row.
  std::string question = "Удаляется расширенние " + e + kCrLf +
                         (d.empty() ? "Хотите удалить расширенние, а описание оставить?"
                                    : "Хотите удалить расширенние и описание?");
  if (prompter.MsgBox(question, MB_YESNO | MB_ICONQUESTION) != IDYES) return {};

  HKEY extensionKey = 0;
  if (registry.RegOpenKeyExA(HKEY_LOCAL_MACHINE, MachinePath(e).c_str(), 0, KEY_READ, &extensionKey) !=
      ERROR_SUCCESS) {
    prompter.MsgBox(UsersOwnKey(registry, e) ? UsersOwnExtension(e)
                                             : "Unable to open subkey " + e + ".  Pleaser re-check your entry",
                    MB_OK);
    return {};
  }
  if (!d.empty()) {
    HKEY titleKey = 0;
    if (registry.RegOpenKeyExA(HKEY_LOCAL_MACHINE, MachinePath(d).c_str(), 0, KEY_READ, &titleKey) !=
        ERROR_SUCCESS) {
      registry.RegCloseKey(extensionKey);
      prompter.MsgBox("Не удалось открыть subkey " + d + ".  Please re-check your entry", MB_OK);
      return {};
    }
    registry.RegCloseKey(titleKey);
  }
  registry.RegCloseKey(extensionKey);

  // The description is deleted with everything under it, so it must be the
  // title E names, named by no extension the user was not told of; read under
  // the lock, so that no other program can change that in between. Other
  // extensions naming it: the transaction ends unchanged, the user is asked,
  // and a second one deletes E alone ("Нет") or both ("Да").
  QueuedPrompter held;
  bool deleted = false, asked = false, keepTitle = d.empty();
  Title title = Title::kOwn;
  std::vector<std::string> naming, namingNow;
  for (;;) {
    bool ask = false;
    {
      RegistryTransaction transaction(registry);
      const MachineClasses classes(registry, KEY_READ);  // keys are deleted through their parents' handles
      bool read = true;
      if (transaction.BeginCode() == ERROR_SUCCESS && !keepTitle) {
        title = TitleCheck(registry, e, d);
        if (title == Title::kOwn) read = ExtensionsNaming(registry, d, e, &namingNow);
      }
      ask = !asked && read && title == Title::kOwn && !namingNow.empty();
      deleted = !ask && transaction.BeginCode() == ERROR_SUCCESS && classes.Key() != 0 && title == Title::kOwn &&
                read && !NamesMore(namingNow, naming) && DeleteKey(registry, held, classes.Key(), e) &&
                (keepTitle || DeleteKey(registry, held, classes.Key(), d)) &&
                transaction.Commit() == ERROR_SUCCESS;
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
  // Windows may still open them for this user.
  const std::string kept =
      (keepTitle && !d.empty() ? kCrLf + ("Описание " + d + " оставлено: его называют и другие расширения.") : "") +
      (deleted ? UsersClassesNote(registry, e, "") + UserChoiceNote(registry, e) : "");
  if (!deleted) {
    prompter.MsgBox("Не удалось удалить ассоциацию из реестра " + e, MB_OK);
    ExplainRefusal(registry, prompter);
  } else if (fields.updateList == 1) {
    prompter.MsgBox(WithUpdateExplanation("Из реестра удаленно расширенние " + e + kept), MB_OK);
    outcome.reloadList = true;
  } else {
    prompter.MsgBox("Ассоциация удаленна из реестра " + e + kept, MB_OK);
  }
  if (deleted) OfferDefaultApps(registry, prompter, e);
  return outcome;
}

}  // namespace zandrel::store
