// The changes of the desktop's own settings: a program for one of its
// extensions, and an application for every type it declares. Each reads the
// files it edits, then, under the projection's lock and inside the classes
// store's transaction, reads them again, hands their lines to the history
// and writes them, each whole; the commit comes last, and a commit that
// fails gives the files back what they held.
#include <algorithm>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "freedesktop/DesktopDefaults.h"
#include "freedesktop/FreedesktopDesktop.h"
#include "registry/Key.h"

namespace zandrel::freedesktop {
namespace {

using capture::FileContent;
using status::Status;

constexpr const char* kNothing = "Ничего не изменено.";

bool IsProgram(const std::string& path) {
  struct stat st {};
  return !path.empty() && path[0] == '/' && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
         ::access(path.c_str(), X_OK) == 0;
}

// The program an Exec's first word names, found in PATH as GIO finds it.
std::string FindProgram(const std::string& word) {
  if (word.find('/') != std::string::npos) return IsProgram(word) ? word : "";
  const char* path = std::getenv("PATH");
  const std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
  for (std::size_t start = 0; start <= dirs.size();) {
    std::size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    if (const std::string candidate = dirs.substr(start, end - start) + "/" + word; IsProgram(candidate))
      return candidate;
    start = end + 1;
  }
  return "";
}

std::string Names(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
  return text;
}

std::vector<std::string> ApplicationFolders(const XdgPaths& paths) {
  std::vector<std::string> folders{paths.dataHome + "/applications"};
  for (const std::string& dir : paths.dataDirs)
    if (std::find(folders.begin(), folders.end(), dir + "/applications") == folders.end())
      folders.push_back(dir + "/applications");
  return folders;
}

// An application chosen for a type: its entry's id and file, and the command
// its Exec runs.
struct Chosen {
  std::string entry;
  std::string text;  // the entry file's text
  std::string command;
};

// The files that may hold the entry `rest` in `folder`: each dash may stand
// for a subfolder's slash, at any depth ("a-b-c.desktop" may be a/b/c.desktop).
void EntryFiles(const std::string& folder, const std::string& rest, std::vector<std::string>* files) {
  files->push_back(folder + "/" + rest);
  for (std::size_t dash = rest.find('-'); dash != std::string::npos; dash = rest.find('-', dash + 1)) {
    const std::string sub = folder + "/" + rest.substr(0, dash);
    struct stat st {};
    if (::stat(sub.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) EntryFiles(sub, rest.substr(dash + 1), files);
  }
}

// The entry of `id` in the application folders, the first found as GIO looks:
// "" with *chosen filled, or the refusal.
std::string FindEntry(const XdgPaths& paths, const std::string& id, Chosen* chosen) {
  bool hidden = false;
  for (const std::string& folder : ApplicationFolders(paths)) {
    std::vector<std::string> files;
    EntryFiles(folder, id, &files);
    for (const std::string& file : files) {
      std::string why;
      const FileContent text = capture::ReadContent(file, &why);
      if (!why.empty()) return "Не удалось прочитать " + why + ". " + kNothing;
      if (!text) continue;
      // A hidden entry stands for one deleted: it hides the id in the folders below too.
      if ((hidden = EntryValue(*text, "Hidden") == "true")) break;
      const std::string exec = EntryValue(*text, "Exec").value_or("");
      EntryFacts facts{FindProgram(ExecProgram(exec)), EntryValue(*text, "Name").value_or(""),
                       EntryValue(*text, "Icon").value_or(""), file};
      chosen->entry = id;
      chosen->text = *text;
      chosen->command = facts.program.empty() ? "" : CommandFromExec(exec, facts);
      if (chosen->command.empty())
        return "Программа рабочего стола " + id + " здесь не запускается: в строке Exec её файла " + facts.file +
               " нет программы этого компьютера. " + kNothing;
      return "";
    }
    if (hidden) break;
  }
  return "Программы рабочего стола " + id + " нет: файла " + id + " нет в папках программ (" +
         Names(ApplicationFolders(paths)) + "). " + kNothing;
}

// The files one change edits, each with what it holds and what it is to hold.
struct Edits {
  capture::FileContents before, after;
  std::string failure;  // why a file could not be read; then nothing else counts

  FileContent Now(const std::string& path) {
    for (std::size_t i = 0; i < after.size(); ++i)
      if (after[i].first == path) return after[i].second;
    std::string why;
    FileContent content = capture::ReadContent(path, &why);
    if (!why.empty() && failure.empty()) failure = "Не удалось прочитать " + why + ". " + kNothing;
    before.emplace_back(path, content);
    after.emplace_back(path, content);
    return content;
  }
  void Set(const std::string& path, FileContent content) {
    Now(path);
    for (auto& [at, text] : after)
      if (at == path) text = std::move(content);
  }
  bool Changes() const { return before != after; }
  capture::FileRecord Record() const {
    capture::FileRecord record;
    for (std::size_t i = 0; i < before.size(); ++i)
      if (before[i] != after[i])
        record.files.push_back(capture::DiffFile(before[i].first, before[i].second, after[i].second));
    return record;
  }
};

// `entry` the default of `types` in the user's mimeapps.list, and in the
// desktop-specific files beside it, which outrank it, where they name a type.
void EditDefaults(const XdgPaths& paths, const std::vector<std::string>& types, const std::string& entry,
                  Edits* edits) {
  const std::string user = paths.configHome + "/mimeapps.list";
  std::string text = edits->Now(user).value_or("");
  for (const std::string& type : types) text = WithDefault(text, type, entry, true);
  edits->Set(user, text);
  std::vector<std::string> desktops = paths.desktops;
  if (std::find(desktops.begin(), desktops.end(), "kde") == desktops.end()) desktops.push_back("kde");
  for (const std::string& desktop : desktops) {
    const std::string file = paths.configHome + "/" + desktop + "-mimeapps.list";
    const FileContent now = edits->Now(file);
    if (!now) continue;
    std::string edited = *now;
    for (const std::string& type : types)
      if (NamesDefault(edited, type)) edited = WithDefault(edited, type, entry, false);
    if (edited != *now) edits->Set(file, edited);
  }
}

// The extensions the MIME databases give `type` by a simple glob, lower-cased.
std::vector<std::string> GlobsOf(const MimeDatabase& mime, const std::string& type) {
  std::vector<std::string> extensions;
  for (const MimeGlob& g : mime.Globs()) {
    if (g.type != type || !IsSuffixGlob(g.pattern) || g.pattern.size() < 3 || g.pattern[1] != '.') continue;
    std::string e = g.pattern.substr(1);
    for (char& c : e)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (std::find(extensions.begin(), extensions.end(), e) == extensions.end()) extensions.push_back(e);
  }
  return extensions;
}

MimeDatabase SystemTypes(const XdgPaths& paths) {
  std::vector<std::string> folders{paths.dataHome + "/mime"};
  for (const std::string& dir : paths.dataDirs) folders.push_back(dir + "/mime");
  return MimeDatabase::Read(folders, kPrivateTypePrefix, nullptr);
}

std::string Unwritten(const std::string& what, LONG code) {
  return what + " не изменена (ошибка реестра " + std::to_string(code) + "). " + kNothing;
}

// Writes `edits` as the change of the open `transaction`: "" or why nothing
// was changed (`what` names it). *wrote: it got as far as writing.
std::string Commit(RegistryTransaction& transaction, const Edits& edits, const FreedesktopDesktop::FileKeeper& keeper,
                   const std::string& what, bool* wrote) {
  if (!keeper) return Unwritten(what, ERROR_INVALID_PARAMETER);
  *wrote = true;
  std::string failure;
  keeper(edits.Record(), edits.after, &failure);
  const LONG code = transaction.Commit();
  if (!failure.empty()) return what + " не изменена: не удалось записать файл (" + failure + "). " + kNothing;
  return code == ERROR_SUCCESS ? "" : Unwritten(what, code);
}

std::string Lowered(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// The projection's lock, held while a change reads and writes the files.
class ConfigLock {
 public:
  // A first change makes the folder, as the projection does, so that two
  // first changes at once still meet on it.
  explicit ConfigLock(const std::string& folder) {
    fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0 && errno == ENOENT && ::mkdir(folder.c_str(), 0700) == 0)
      fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ >= 0) ::flock(fd_, LOCK_EX);
  }
  ~ConfigLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  ConfigLock(const ConfigLock&) = delete;
  ConfigLock& operator=(const ConfigLock&) = delete;

 private:
  int fd_ = -1;
};

}  // namespace

std::shared_ptr<void> FreedesktopDesktop::HoldFiles() const { return std::make_shared<ConfigLock>(paths_.configHome); }

integration::OwnProgramChange FreedesktopDesktop::ChangeOwnProgram(IRegistry& registry, const std::string& e,
                                                                   const std::string& program,
                                                                   const std::string& command, bool everyExtension,
                                                                   bool write) {
  integration::OwnProgramChange change;
  change.handled = true;
  // Read twice when written: first to say what it would do, then under the
  // lock and in the transaction, where it must find the same.
  const auto plan = [&](integration::OwnProgramChange* out, Edits* edits) -> std::string {
    const std::optional<ViewRow> row = classes_.ViewRowFor(e);
    if (!row) return "Ассоциацию " + e + " тем временем изменила другая программа. " + kNothing;
    out->type = row->type;
    out->oldCommand = row->command;
    Chosen chosen;
    const std::string ext = e.substr(1);
    if (command.empty()) {
      if (std::string why = FindEntry(paths_, program, &chosen); !why.empty()) return why;
    } else {
      const std::optional<ParsedCommand> parsed = ParseCommand(command, IsProgram);
      if (!IsProgram(program)) return "Файл " + program + " не исполняемый: им нельзя открывать файлы. " + kNothing;
      // The command quotes the path, which then ends at a quote of its own.
      if (!parsed || parsed->program != program)
        return "В пути к программе " + program + " есть кавычка (\"), её не передать в команде. " + kNothing;
      chosen.entry = kProgramEntryPrefix + ExtensionId(ext) + ".desktop";
      chosen.command = command;
      chosen.text = ExecValue(*parsed);
      if (chosen.text.empty()) return "Команду " + command + " нельзя записать в файл рабочего стола. " + kNothing;
    }
    out->newCommand = chosen.command;
    const MimeDatabase mime = SystemTypes(paths_);
    std::string target = row->type;
    std::vector<std::string> others;
    // The others whose files get the type now: not those given one of their own.
    for (const std::string& other : GlobsOf(mime, row->type))
      if (const std::optional<ViewRow> theirs = classes_.ViewRowFor(other);
          other != Lowered(e) && (!theirs || theirs->type == row->type))
        others.push_back(other);
    Projection own;
    own.extension = e;
    own.description = row->description;
    if (row->type.rfind(kDesktopTypePrefix, 0) != 0) ChooseType(ext, mime, own);
    const bool alone = own.privateType && !everyExtension;
    if (alone) {
      own.mimeType = target = kDesktopTypePrefix + ExtensionId(ext);
      const std::string package = paths_.dataHome + "/mime/packages/" + kDesktopPackageName;
      edits->Set(package, WithDesktopType(edits->Now(package).value_or(""), own));
    } else if (row->type.rfind(kDesktopTypePrefix, 0) != 0) {
      out->sharing = others;
    }
    if (!command.empty()) {
      const std::string name = program.substr(program.rfind('/') + 1);
      edits->Set(paths_.dataHome + "/applications/" + chosen.entry, ProgramEntry(name, chosen.text, target));
    }
    EditDefaults(paths_, {target}, chosen.entry, edits);
    if (!edits->failure.empty()) return edits->failure;
    out->unchanged = !edits->Changes();
    std::vector<std::string>& lines = out->lines;
    if (out->unchanged) {
      lines.push_back("Расширение " + e + " уже открывается программой " + chosen.entry + ". " + kNothing);
      return "";
    }
    lines.push_back("Расширение " + e + ": команда " + row->command + " заменена на " + chosen.command +
                    " (программа " + chosen.entry + ", тип " + target + ").");
    if (alone)
      lines.push_back("Для него сделан свой тип " + target + ", подтип " + row->type +
                      (others.empty() ? "" : ", который остаётся у " + Names(others)) + ".");
    else if (!out->sharing.empty())
      lines.push_back("Тип " + row->type + " общий: той же программой теперь открываются и " + Names(out->sharing) +
                      ".");
    for (std::size_t i = 0; i < edits->before.size(); ++i)
      if (edits->before[i] != edits->after[i])
        lines.push_back((edits->before[i].second ? "Изменён файл " : "Создан файл ") + edits->before[i].first + ".");
    return "";
  };
  Edits edits;
  change.refusal = plan(&change, &edits);
  if (!change.refusal.empty() || change.unchanged || !write) return change;
  const std::string what = "Программа расширения " + e;
  RegistryTransaction transaction(registry);
  integration::OwnProgramChange now;
  Edits again;
  if (transaction.BeginCode() != ERROR_SUCCESS) change.refusal = Unwritten(what, transaction.BeginCode());
  else if (std::string why = plan(&now, &again); !why.empty()) change.refusal = why;
  else if (again.before != edits.before || again.after != edits.after)
    change.refusal = "Ассоциацию " + e + " тем временем изменила другая программа. " + kNothing;
  else change.refusal = Commit(transaction, again, keeper_, what, &change.wrote);
  change.committed = change.refusal.empty();
  return change;
}

Status FreedesktopDesktop::Prefer(IRegistry& registry, const std::string& app, std::vector<std::string>* out) {
  Chosen chosen;
  if (std::string why = FindEntry(paths_, app, &chosen); !why.empty()) return {Status::kFailed, why};
  const std::vector<std::string> types = ListItems(EntryValue(chosen.text, "MimeType").value_or(""));
  if (types.empty())
    return {Status::kFailed,
            "Программа рабочего стола " + app + " не называет ни одного типа файлов (MimeType). " + kNothing};
  const std::string what = "Программа по умолчанию для типов " + app;
  RegistryTransaction transaction(registry);
  if (transaction.BeginCode() != ERROR_SUCCESS) return {Status::kFailed, Unwritten(what, transaction.BeginCode())};
  Edits edits;
  EditDefaults(paths_, types, app, &edits);
  if (!edits.failure.empty()) return {Status::kFailed, edits.failure};
  if (!edits.Changes()) {
    out->push_back("Программа " + app + " уже выбрана для всех своих типов. " + kNothing);
    return {};
  }
  // Each extension of each type, as the view reads it before the change:
  // one whose files get another type, or that Zandrel's own association
  // shadows, keeps its program.
  const MimeDatabase mime = SystemTypes(paths_);
  std::vector<std::string> still;
  for (const std::string& type : types) {
    std::vector<std::string> changed;
    for (const std::string& e : GlobsOf(mime, type)) {
      const std::optional<ViewRow> row = classes_.ViewRowFor(e);
      const std::string own = registry::ReadText(own_, HKEY_CLASSES_ROOT, e, "").value_or("");
      if (!own.empty())
        still.push_back("Расширение " + e + " по-прежнему открывается своей ассоциацией Zandrel (описание " + own +
                        ").");
      else if (row && !row->type.empty() && row->type != type)
        still.push_back("Расширение " + e + " по-прежнему открывается программой " + row->application +
                        ": его файлы получают тип " + row->type + " со своей программой.");
      else changed.push_back(e);
    }
    out->push_back("Тип " + type + ": теперь открывается программой " + app +
                   (changed.empty() ? "." : " — " + Names(changed) + "."));
  }
  out->insert(out->end(), still.begin(), still.end());
  bool wrote = false;
  if (std::string why = Commit(transaction, edits, keeper_, what, &wrote); !why.empty()) {
    out->clear();
    return {Status::kFailed, why};
  }
  return {};
}

}  // namespace zandrel::freedesktop
