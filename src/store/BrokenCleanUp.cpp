#include "store/BrokenCleanUp.h"

#include <algorithm>

#include "registry/Names.h"
#include "store/BrokenAssociations.h"
#include "store/ChangeRefusal.h"
#include "store/DesktopAnswers.h"
#include "store/FieldChecks.h"
#include "store/KeyRoutines.h"
#include "store/Titles.h"

namespace zandrel::store {

namespace {

constexpr const char* kNothing = "Ничего не удалено.";

bool StoresOwn(const BrokenAssociation& b) {
  return b.reason == kTitleMissing || b.reason == kNoOpenCommand || b.reason == kProgramMissing ||
         b.reason == kProgramNotExecutable;
}

// The words after a failing step: why, when the registry said so.
std::string Failed(const RefusalWatch& registry, const std::string& what) {
  const std::string why = registry.Text();
  return what + " " + kNothing + (why.empty() ? "" : " " + why);
}

// Passes every call on and keeps the first code of a reading that failed
// (any but found, not found, no more, more data): a reading that failed
// must not decide what is deleted, as a title that seems named by no one.
class ReadWatch : public ForwardingRegistry {
 public:
  using ForwardingRegistry::ForwardingRegistry;
  LONG Code() const { return code_; }

  LONG RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD ulOptions, REGSAM samDesired, HKEY* phkResult) override {
    return Note(ForwardingRegistry::RegOpenKeyExA(hKey, lpSubKey, ulOptions, samDesired, phkResult));
  }
  LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, char* lpName, DWORD* lpcchName, DWORD* lpReserved, char* lpClass,
                     DWORD* lpcchClass, FILETIME* lpftLastWriteTime) override {
    return Note(ForwardingRegistry::RegEnumKeyExA(hKey, dwIndex, lpName, lpcchName, lpReserved, lpClass, lpcchClass,
                                                  lpftLastWriteTime));
  }
  LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, char* lpValueName, DWORD* lpcchValueName, DWORD* lpReserved,
                     DWORD* lpType, BYTE* lpData, DWORD* lpcbData) override {
    return Note(ForwardingRegistry::RegEnumValueA(hKey, dwIndex, lpValueName, lpcchValueName, lpReserved, lpType,
                                                  lpData, lpcbData));
  }
  LONG ExtensionsNamingTitle(const char* title, std::vector<std::string>* extensions) override {
    return Note(ForwardingRegistry::ExtensionsNamingTitle(title, extensions));
  }

 private:
  LONG Note(LONG code) {
    if (code_ == ERROR_SUCCESS && code != ERROR_SUCCESS && code != ERROR_FILE_NOT_FOUND &&
        code != ERROR_NO_MORE_ITEMS && code != ERROR_MORE_DATA)
      code_ = code;
    return code;
  }
  LONG code_ = ERROR_SUCCESS;
};

// Removes the store's extension `found` (read again under the lock) as the
// remover removes it: the key with everything below it, then its title when
// the remover's rules let it go. "" or why the change must roll back.
std::string RemoveExtension(const RefusalWatch& refusals, IRegistry& registry, HKEY classes,
                            const BrokenAssociation& found, integration::Desktop* desktop, CleanUp* result) {
  const std::string& e = found.extension;
  const DefaultText title = ReadDefaultText(registry, e);
  const std::string d = title.found && title.type == REG_SZ ? title.text : "";
  QueuedPrompter unused;  // the failure below says it in full
  if (!DeleteKey(registry, unused, classes, e)) return Failed(refusals, "Не удалось удалить " + found.where + ".");
  // A title that is no key's name (a "\" would reach another key), that is
  // gone already, or the desktop's own, is not the remover's to delete.
  if (d.empty() || found.reason == kTitleMissing || HoldsSeparator(d) || d.find('\0') != std::string::npos ||
      registry::NameChars(d) > MAX_KEY_NAME_CHARS || DesktopsKey(desktop, d))
    return "";
  if (const TitleKind kind = TitleKindOf(registry, d); kind != TitleKind::kFileType) {
    result->titles.push_back("Описание " + d + " оставлено: " + NotAFileType(kind) + ".");
    return "";
  }
  std::vector<std::string> naming;
  if (!ExtensionsNaming(registry, d, e, &naming))
    return Failed(refusals, "Не удалось прочитать расширения, которые называют описание " + d + ".");
  if (!naming.empty()) {
    result->titles.push_back("Описание " + d + " оставлено: его называют и другие расширения: " + NameList(naming) +
                             ".");
    return "";
  }
  if (!DeleteKey(registry, unused, classes, d))
    return Failed(refusals, "Не удалось удалить описание " + d + " (" + MachinePath(d) + ").");
  result->titles.push_back("Описание " + d + " удалено: его не называет ни одно другое расширение.");
  return "";
}

// The store's findings of `own`, each read again: removed, or found mended.
std::string RemoveStores(RefusalWatch& refusals, const std::vector<BrokenAssociation>& own,
                         integration::Desktop* desktop, CleanUp* result) {
  ReadWatch registry(refusals);
  const MachineClasses classes(registry, KEY_READ);  // keys are deleted through their parents' handles
  if (classes.Key() == 0) return Failed(refusals, "Не удалось открыть HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes.");
  ProgramProbe probe;  // asked afresh: a program may be back since the check
  for (const BrokenAssociation& b : own) {
    const CheckResult now = FindBrokenAssociations(registry, {b.extension}, nullptr, probe);
    if (!now.failure.empty()) return now.failure + ". " + kNothing;
    // Gone from the store since, it may show the desktop's own key of that name, which is not the store's.
    if (now.broken.empty() || DesktopsKey(desktop, b.extension)) {
      result->mended.push_back(b);
      continue;
    }
    if (std::string why = RemoveExtension(refusals, registry, classes.Key(), now.broken.front(), desktop, result);
        !why.empty())
      return why;
    if (registry.Code() != ERROR_SUCCESS)
      return Failed(refusals, "Не удалось прочитать ассоциацию " + b.extension + " (ошибка реестра " +
                                  std::to_string(registry.Code()) + ").");
    result->removed.push_back(now.broken.front());
  }
  return "";
}

}  // namespace

CleanUp RemoveBrokenAssociations(IRegistry& target, const std::vector<BrokenAssociation>& broken,
                                 integration::Desktop* desktop) {
  RefusalWatch registry(target);
  CleanUp result;
  std::vector<BrokenAssociation> own, desktops;
  const auto keep = [&result](const BrokenAssociation& b, std::string why) {
    result.kept.push_back(b);
    result.keptWhy.push_back(std::move(why));
  };
  for (const BrokenAssociation& b : broken) {
    if (!StoresOwn(b)) {
      if (desktop != nullptr) desktops.push_back(b);
      else keep(b, "");
    } else if (ShellsOwnExtension(b.extension)) {
      keep(b, "это файлы, которые Windows запускает сама, без него они перестанут открываться");
    } else if (!b.removable) {
      keep(b, "");
    } else {
      own.push_back(b);
    }
  }
  if (own.empty() && std::none_of(desktops.begin(), desktops.end(), [](const auto& b) { return b.removable; })) {
    for (const BrokenAssociation& b : desktops) keep(b, "");
    return result;
  }
  // Unseen, the desktop's own keys could be taken for the store's.
  if (std::string why = ViewError(desktop); !why.empty() && !own.empty()) {
    result.failure = DesktopUnread(why, kNothing);
    return result;
  }

  std::string fileFailure;  // the desktop's files are written by the commit: it lives past it
  {
    RegistryTransaction transaction(registry);
    LONG code = transaction.BeginCode();
    if (code != ERROR_SUCCESS) {
      result.failure = Failed(registry, "Не удалось начать изменение (ошибка реестра " + std::to_string(code) + ").");
    } else {
      // The desktop's first: on Windows they lie below the extension keys the store's removal deletes.
      if (!desktops.empty()) {
        integration::BrokenRemoval removal = desktop->RemoveBroken(registry, desktops, &fileFailure);
        if (!removal.failure.empty()) result.failure = Failed(registry, removal.failure);
        result.removed = std::move(removal.removed);
        for (const BrokenAssociation& b : removal.kept) keep(b, "");
        for (BrokenAssociation& b : removal.mended) result.mended.push_back(std::move(b));
      }
      if (result.failure.empty()) result.failure = RemoveStores(registry, own, desktop, &result);
      if (result.failure.empty() && !result.removed.empty() && (code = transaction.Commit()) != ERROR_SUCCESS)
        result.failure = !fileFailure.empty()
                             ? "Не удалось записать файл (" + fileFailure + "). " + kNothing
                             : Failed(registry, "Изменение не записано (ошибка реестра " + std::to_string(code) + ").");
    }
  }  // rolled back here unless committed
  if (!result.failure.empty()) {
    result.removed.clear();
    result.mended.clear();
    result.titles.clear();
    result.kept = broken;
    result.keptWhy.assign(broken.size(), "");
  }
  return result;
}

std::string RemovedLine(const BrokenAssociation& broken) { return BrokenLine(broken) + " — удалено: " + broken.where; }

std::string KeptLine(const BrokenAssociation& broken, const std::string& why) {
  return BrokenLine(broken) + " — оставлено, " + (why.empty() ? "это не Zandrel удалять" : why) + ": " + broken.where;
}

std::string MendedLine(const BrokenAssociation& broken) {
  return BrokenLine(broken) + " — тем временем исправлено, оставлено как есть: " + broken.where;
}

}  // namespace zandrel::store
