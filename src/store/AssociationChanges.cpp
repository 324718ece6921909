#include "store/AssociationChanges.h"

#include "store/KeyRoutines.h"
#include "store/basZandrel.h"

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

// Whether HKEY_CLASSES_ROOT\path opens for reading; the key is closed again.
bool KeyExists(IRegistry& registry, const std::string& path) {
  HKEY key = 0;
  if (registry.RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  registry.RegCloseKey(key);
  return true;
}

// Creates HKEY_CLASSES_ROOT\path, or opens it when it exists, and closes it;
// *created tells which.
bool CreateKey(IRegistry& registry, const std::string& path, bool* created = nullptr) {
  HKEY key = 0;
  DWORD disposition = 0;
  LONG code = registry.RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, "", REG_OPTION_NON_VOLATILE,
                                       KEY_ACCESS_0x3F, nullptr, &key, &disposition);
  if (code == ERROR_SUCCESS) registry.RegCloseKey(key);
  if (created != nullptr) *created = disposition == REG_CREATED_NEW_KEY;
  return code == ERROR_SUCCESS;
}

// A key name cannot hold the path separator: "a\b" would reach another key.
bool HoldsSeparator(const std::string& name) { return name.find('\\') != std::string::npos; }
std::string SeparatorInExtension(const std::string& e) { return "Расширение не может содержать знак \\: " + e; }
std::string SeparatorInDescription(const std::string& d) { return "Описание не может содержать знак \\: " + d; }

enum class Title { kOwn, kOther, kUnread };

// Whether `d` is the title that the extension key `e` names in its default
// value (found as the listing finds it), compared as key names are.
Title TitleCheck(IRegistry& registry, const std::string& e, const std::string& d) {
  HKEY key = 0;
  if (registry.RegOpenKeyExA(HKEY_CLASSES_ROOT, e.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return Title::kUnread;
  char name[kNameBufferBytes];
  std::string data(kValueDataBufferBytes, '\0');
  Title title = Title::kOther;
  for (DWORD index = 0;; ++index) {
    DWORD nameLength = sizeof name;
    DWORD size = kValueDataBufferBytes;
    DWORD type = REG_NONE;
    const LONG code = registry.RegEnumValueA(key, index, name, &nameLength, nullptr, &type,
                                             reinterpret_cast<BYTE*>(data.data()), &size);
    if (code == ERROR_MORE_DATA) continue;  // too long to be a key name
    if (code != ERROR_SUCCESS) {
      if (code != ERROR_NO_MORE_ITEMS) title = Title::kUnread;
      break;
    }
    if (nameLength != 0 || size == 0) continue;
    if (type == REG_SZ && SameKeyName(data.substr(0, size - 1), d)) title = Title::kOwn;
    break;
  }
  registry.RegCloseKey(key);
  return title;
}

}  // namespace

ChangeOutcome CreateAssociation(IRegistry& registry, Prompter& prompter, const AssociationFields& fields) {
  const std::string e = PrepareExtension(fields.fileExt);
  const std::string d = Trim(fields.titleRef);
  const std::string p = Trim(fields.executableFileSpec);

  if (e.size() == 1) {
    prompter.MsgBox("Введите имя расширенния", MB_OK);
    return {};
  }
  if (HoldsSeparator(e)) {
    prompter.MsgBox(SeparatorInExtension(e), MB_OK);
    return {};
  }
  if (d.empty()) {
    prompter.MsgBox("Введите описание", MB_OK);
    return {};
  }
  if (HoldsSeparator(d)) {
    prompter.MsgBox(SeparatorInDescription(d), MB_OK);
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
  if (KeyExists(registry, d) &&
      prompter.MsgBox(std::string("Title Ref already in existence in the registery.") + kCrLf + "Proceed still?",
                      MB_YESNO | MB_ICONQUESTION) != IDYES)
    return {};

  const std::string command = d + "\\shell\\open\\command";
  const std::string icon = d + "\\DefaultIcon";
  // Messages wait in `held` until the transaction has ended.
  QueuedPrompter held;
  bool written = false;
  {
    RegistryTransaction transaction(registry);
    std::string failure;
    bool created = false;
    if (transaction.BeginCode() != ERROR_SUCCESS || !CreateKey(registry, e, &created))
      failure = "Unable to create " + e;
    else if (!created)  // another program made it after the test above
      failure = e + " already in registry";
    else if (!SetKeyValue(registry, held, HKEY_CLASSES_ROOT, e, "", d))
      failure = "Unable to set value of " + d + " to " + e;
    else if (!CreateKey(registry, d))
      failure = "Unable to create " + d;
    else if (!CreateKey(registry, command))
      failure = "Unable to create " + command;
    else if (!SetKeyValue(registry, held, HKEY_CLASSES_ROOT, command, "", "\"" + p + "\" \"%1\""))
      failure = "Unable to set value to " + command;
    else if (!CreateKey(registry, icon))
      failure = "Unable create " + icon;
    else if (!SetKeyValue(registry, held, HKEY_CLASSES_ROOT, icon, "", p + ",1") ||
             transaction.Commit() != ERROR_SUCCESS)
      // A commit that fails leaves the last value unwritten with the rest.
      failure = "Unable to set value to " + icon;
    else
      written = true;
    if (!written) held.MsgBox(failure, MB_OK);
  }  // rolled back here unless committed
  held.Flush(prompter);
  if (!written) return {};

  ChangeOutcome outcome;
  outcome.committed = true;
  outcome.reloadList = fields.updateList == 1;
  prompter.MsgBox(outcome.reloadList ? WithUpdateExplanation("Всё прошло успешно.") : "Всё прошло успешно.", MB_OK);
  return outcome;
}

ChangeOutcome RemoveAssociation(IRegistry& registry, Prompter& prompter, const RemovalFields& fields) {
  const std::string e = PrepareExtension(fields.fileExt);
  if (e.size() == 1) {
    prompter.MsgBox("Введите имя расширенния", MB_OK);
    return {};
  }
  if (HoldsSeparator(e)) {
    prompter.MsgBox(SeparatorInExtension(e), MB_OK);
    return {};
  }
  const std::string d = Trim(fields.titleRef);
  if (HoldsSeparator(d)) {
    prompter.MsgBox(SeparatorInDescription(d), MB_OK);
    return {};
  }

  // The question names the keys that will go: the fields, not the list's row.
  std::string question = "Удаляется расширенние " + e + kCrLf +
                         (d.empty() ? "Хотите удалить расширенние, а описание оставить?"
                                    : "Хотите удалить расширенние и описание?");
  if (prompter.MsgBox(question, MB_YESNO | MB_ICONQUESTION) != IDYES) return {};

  HKEY extensionKey = 0;
  if (registry.RegOpenKeyExA(HKEY_CLASSES_ROOT, e.c_str(), 0, KEY_READ, &extensionKey) != ERROR_SUCCESS) {
    prompter.MsgBox("Unable to open subkey " + e + ".  Pleaser re-check your entry", MB_OK);
    return {};
  }
  if (!d.empty()) {
    HKEY titleKey = 0;
    if (registry.RegOpenKeyExA(HKEY_CLASSES_ROOT, d.c_str(), 0, KEY_READ, &titleKey) != ERROR_SUCCESS) {
      registry.RegCloseKey(extensionKey);
      prompter.MsgBox("Не удалось открыть subkey " + d + ".  Please re-check your entry", MB_OK);
      return {};
    }
    registry.RegCloseKey(titleKey);
  }
  registry.RegCloseKey(extensionKey);

  QueuedPrompter held;
  bool deleted = false;
  Title title = Title::kOwn;
  {
    RegistryTransaction transaction(registry);
    // The description is deleted with everything under it, so it must be the
    // title E names; checked under the lock, so that no other program can
    // change E's value in between.
    if (transaction.BeginCode() == ERROR_SUCCESS && !d.empty()) title = TitleCheck(registry, e, d);
    deleted = transaction.BeginCode() == ERROR_SUCCESS && title == Title::kOwn &&
              DeleteKey(registry, held, HKEY_CLASSES_ROOT, e) &&
              (d.empty() || DeleteKey(registry, held, HKEY_CLASSES_ROOT, d)) &&
              transaction.Commit() == ERROR_SUCCESS;
  }  // rolled back here unless committed
  held.Flush(prompter);
  if (title == Title::kOther) {
    prompter.MsgBox("Описание " + d + " не принадлежит расширению " + e + ". Ничего не удалено.", MB_OK);
    return {};
  }

  ChangeOutcome outcome;
  outcome.notifyShell = true;
  outcome.committed = deleted;
  if (!deleted) {
    prompter.MsgBox("Не удалось удалить ассоциацию из реестра " + e, MB_OK);
  } else if (fields.updateList == 1) {
    prompter.MsgBox(WithUpdateExplanation("Из реестра удаленно расширенние " + e), MB_OK);
    outcome.reloadList = true;
  } else {
    prompter.MsgBox("Ассоциация удаленна из реестра " + e, MB_OK);
  }
  return outcome;
}

}  // namespace zandrel::store
