#include "store/BrokenAssociations.h"

#include <sys/stat.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "registry/Codes.h"
#include "registry/Key.h"
#include "store/AssociationListing.h"
#include "store/DesktopAnswers.h"
#include "store/FieldChecks.h"
#include "store/FileExists.h"
#include "store/KeyRoutines.h"
#include "store/Titles.h"

namespace zandrel::store {

namespace {

#ifdef _WIN32
constexpr char kListSeparator = ';';
constexpr const char* kFolderSeparator = "\\";
#else
constexpr char kListSeparator = ':';
constexpr const char* kFolderSeparator = "/";
#endif

// The folders a name without one is looked for in, in the system's order.
std::vector<std::string> SearchFolders() {
  std::vector<std::string> folders;
#ifdef _WIN32
  if (const char* root = std::getenv("SystemRoot"); root != nullptr && *root != '\0') {
    folders.push_back(std::string(root) + "\\System32");
    folders.push_back(root);
  }
#endif
  const char* path = std::getenv("PATH");
#ifdef _WIN32
  const std::string list = path != nullptr ? path : "";
#else
  // With no PATH a name is run from the system's default folders, as execvp
  // runs it: taking none would find every program missing and clean away
  // associations that work.
  std::string list = path != nullptr ? path : "";
  if (path == nullptr) {
    list.resize(::confstr(_CS_PATH, nullptr, 0));
    if (list.empty() || ::confstr(_CS_PATH, list.data(), list.size()) == 0) list = "/bin:/usr/bin";
    else list.pop_back();  // confstr counts the closing NUL
  }
#endif
  for (std::size_t start = 0; start < list.size();) {
    std::size_t end = list.find(kListSeparator, start);
    if (end == std::string::npos) end = list.size();
    if (end > start) folders.push_back(list.substr(start, end - start));
    start = end + 1;
  }
  return folders;
}

bool HasFolder(const std::string& path) {
#ifdef _WIN32
  return path.find_first_of("\\/") != std::string::npos || (path.size() >= 2 && path[1] == ':');
#else
  return path.find('/') != std::string::npos;
#endif
}

// Whether a path can only be another system's: a drive or a backslash.
bool WindowsPath(const std::string& path) {
#ifdef _WIN32
  (void)path;
  return false;
#else
  return path.find('\\') != std::string::npos ||
         (path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0])));
#endif
}

// The names a program is looked for under: as given, and on Windows with
// ".exe" when its last part has no extension.
std::vector<std::string> Spellings(const std::string& name) {
  std::vector<std::string> names{name};
#ifdef _WIN32
  const std::size_t last = name.find_last_of("\\/:");
  if (name.find('.', last == std::string::npos ? 0 : last + 1) == std::string::npos) names.push_back(name + ".exe");
#endif
  return names;
}

bool EndsWithProgramSuffix(const std::string& run) {
  if (run.size() < 4) return false;
  const std::string end = run.substr(run.size() - 4);
  for (const char* suffix : {".exe", ".com", ".bat", ".cmd"})
    if (SameKeyName(end, suffix)) return true;
  return false;
}

constexpr const char* kClassesPrefix = "SOFTWARE\\Classes\\";

std::string Where(const std::string& path) { return "HKEY_LOCAL_MACHINE\\" + std::string(kClassesPrefix) + path; }

// The default string value of the machine's classes key `path`: the code of
// the key's opening (ERROR_FILE_NOT_FOUND: no key) and its text ("" when it
// has none, or one of another type).
LONG KeyDefault(const registry::Key& key, bool commands, std::string* text) {
  text->clear();
  registry::Value value;
  const LONG code = key.Find("", kValueDataBufferBytes, &value);
  if (code == ERROR_FILE_NOT_FOUND || code == ERROR_MORE_DATA)
    return ERROR_SUCCESS;  // none, or none a title or command holds
  if (code != ERROR_SUCCESS) return code;
  if (value.data.empty() || !(value.type == REG_SZ || (commands && value.type == REG_EXPAND_SZ))) return code;
  *text = value.data.substr(0, value.data.find('\0'));
  if (Trim(*text).empty()) text->clear();
  return code;
}

LONG DefaultString(IRegistry& registry, const std::string& path, bool commands, std::string* text) {
  registry::Key key(registry);
  text->clear();
  const LONG code = key.Open(HKEY_LOCAL_MACHINE, kClassesPrefix + path, kListAccess);
  return code != ERROR_SUCCESS ? code : KeyDefault(key, commands, text);
}

std::string Unreadable(const std::string& path, LONG code) {
  return "Не удалось прочитать " + Where(path) + ": " + registry::DescribeCode(code);
}

// The command of the verb a double click runs, as Windows picks it: the
// first of the verbs the title's `shell` key names (a list, by commas or
// spaces) that is there, else "open", else its first verb. A verb handled by
// a COM object (DelegateExecute) runs without a command line: *command is
// then "%1", which runs. *path gets the command key read, for a failure.
LONG VerbCommand(IRegistry& registry, const std::string& title, std::string* command, std::string* path) {
  const std::string shell = title + "\\shell";
  command->clear();
  *path = shell;
  registry::Key key(registry);
  LONG code = key.Open(HKEY_LOCAL_MACHINE, kClassesPrefix + shell, kListAccess);
  if (code == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  std::string named;
  std::vector<std::string> verbs;
  if (code != ERROR_SUCCESS || (code = KeyDefault(key, false, &named)) != ERROR_SUCCESS ||
      (code = key.SubKeys(&verbs)) != ERROR_SUCCESS)
    return code;
  std::vector<std::string> order;
  for (std::size_t at = 0; (at = named.find_first_not_of(", ", at)) != std::string::npos;) {
    const std::size_t end = named.find_first_of(", ", at);
    order.push_back(named.substr(at, end == std::string::npos ? end : end - at));
    at = end;
  }
  order.push_back("open");
  if (!verbs.empty()) order.push_back(verbs.front());
  for (const std::string& verb : order) {
    const auto there =
        std::find_if(verbs.begin(), verbs.end(), [&](const std::string& v) { return SameKeyName(v, verb); });
    if (there == verbs.end()) continue;
    *path = shell + "\\" + *there + "\\command";
    registry::Key verbKey(registry);
    if ((code = verbKey.Open(HKEY_LOCAL_MACHINE, kClassesPrefix + *path, kListAccess)) == ERROR_FILE_NOT_FOUND)
      return ERROR_SUCCESS;
    if (code != ERROR_SUCCESS || (code = KeyDefault(verbKey, true, command)) != ERROR_SUCCESS || !command->empty())
      return code;
    registry::Value delegate;
    code = verbKey.Find("DelegateExecute", kValueDataBufferBytes, &delegate);
    if (code == ERROR_SUCCESS || code == ERROR_MORE_DATA) *command = "%1";
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_MORE_DATA ? ERROR_SUCCESS : code;
  }
  return ERROR_SUCCESS;
}

// Checks the association of `e`: a finding into *result, or its failure.
// False when `e` names no title (no association to check).
bool CheckExtension(IRegistry& registry, const std::string& e, integration::Desktop* desktop, ProgramProbe& probe,
                    CheckResult* result) {
  std::string title, command;
  LONG code = DefaultString(registry, e, false, &title);
  if (code != ERROR_SUCCESS && code != ERROR_FILE_NOT_FOUND) result->failure = Unreadable(e, code);
  if (code != ERROR_SUCCESS || title.empty()) return false;
  // The shell's own extensions (.lnk, .exe) stay whatever they name: without them those files stop opening.
  BrokenAssociation broken{e, "", "", Where(e), !ShellsOwnExtension(e)};
  code = DefaultString(registry, title, false, &command);
  if (code == ERROR_FILE_NOT_FOUND) {
    broken.reason = kTitleMissing;
    broken.detail = title;
  } else if (code == ERROR_SUCCESS) {
    std::string path;
    if (code = VerbCommand(registry, title, &command, &path); code != ERROR_SUCCESS) {
      result->failure = Unreadable(path, code);
      return true;
    }
    if (command.empty()) {
      broken.reason = kNoOpenCommand;
      broken.detail = title;
    } else if (const CommandProgram program = ReadCommandProgram(command, probe);
               program.state != ProgramState::kRuns) {
      broken.reason = program.state == ProgramState::kMissing ? kProgramMissing : kProgramNotExecutable;
      broken.detail = program.program;
    }
  } else {
    result->failure = Unreadable(title, code);
    return true;
  }
  // The desktop's own keys are its to check (FindBroken), as it reads them.
  if (!broken.reason.empty() && !DesktopsKey(desktop, e)) result->broken.push_back(std::move(broken));
  return true;
}

}  // namespace

ProgramState ProgramProbe::FileState(const std::string& file) {
  if (const auto known = files_.find(file); known != files_.end()) return known->second;
  ++asked_;
  ProgramState state = ProgramState::kMissing;
#ifdef _WIN32
  if (FileExists(file)) state = ProgramState::kRuns;
#else
  struct stat st {};
  if (::stat(file.c_str(), &st) == 0)
    state =
        S_ISREG(st.st_mode) && ::access(file.c_str(), X_OK) == 0 ? ProgramState::kRuns : ProgramState::kNotExecutable;
#endif
  files_.emplace(file, state);
  return state;
}

ProgramState ProgramProbe::State(const std::string& path, std::string* found) {
  auto known = names_.find(path);
  if (known == names_.end()) {
    Known k{ProgramState::kMissing, ""};
    std::vector<std::string> places;
    if (path.empty() || path.find('\0') != std::string::npos || WindowsPath(path)) {
    } else if (HasFolder(path)) {
      places = Spellings(path);
    } else {
      for (const std::string& folder : SearchFolders())
        for (const std::string& name : Spellings(path)) places.push_back(folder + kFolderSeparator + name);
    }
    // The first that runs wins; else the first that is there at all.
    for (const std::string& place : places) {
      const ProgramState state = FileState(place);
      if (state == ProgramState::kRuns) {
        k = {state, place};
        break;
      }
      if (state == ProgramState::kNotExecutable && k.state == ProgramState::kMissing) k = {state, place};
    }
    known = names_.emplace(path, std::move(k)).first;
  }
  if (found != nullptr) *found = known->second.file;
  return known->second.state;
}

CommandProgram ReadCommandProgram(const std::string& command, ProgramProbe& probe) {
  if (RunsTheFileItself(command)) return {"", ProgramState::kRuns};
  const std::size_t start = command.find_first_not_of(" \t");
  if (start == std::string::npos) return {"", ProgramState::kMissing};
  if (command[start] == '"') {
    const std::size_t close = command.find('"', start + 1);
    std::string program = command.substr(start + 1, close == std::string::npos ? close : close - start - 1);
    const ProgramState state = probe.State(ProgramPath(program));
    return {std::move(program), state};
  }
  // Each blank that ends a word is a place where the program may end.
  std::string first, suffixed;
  for (std::size_t end = start + 1; end <= command.size(); ++end) {
    if (end < command.size() &&
        !((command[end] == ' ' || command[end] == '\t') && command[end - 1] != ' ' && command[end - 1] != '\t'))
      continue;
    if (end == command.size() && (command[end - 1] == ' ' || command[end - 1] == '\t')) break;
    std::string run = command.substr(start, end - start);
    const ProgramState state = probe.State(ProgramPath(run));
    if (state != ProgramState::kMissing) return {std::move(run), state};
    if (first.empty()) first = run;
    if (suffixed.empty() && EndsWithProgramSuffix(run)) suffixed = run;
  }
  return {suffixed.empty() ? first : suffixed, ProgramState::kMissing};
}

CheckResult FindBrokenAssociations(IRegistry& registry, const std::vector<std::string>& extensions,
                                   integration::Desktop* desktop, ProgramProbe& probe) {
  CheckResult result;
  std::vector<std::string> names;
  if (extensions.empty()) {
    registry::Key classes(registry);
    const LONG opened = classes.Open(HKEY_LOCAL_MACHINE, kClassesPath, kListAccess);
    LONG failed = ERROR_SUCCESS;
    if (opened == ERROR_SUCCESS) {
      for (std::string& name : SubKeyNames(registry, classes.Handle(), &failed))
        if (!name.empty() && name[0] == '.') names.push_back(std::move(name));
    }
    if (opened != ERROR_SUCCESS && opened != ERROR_FILE_NOT_FOUND) failed = opened;
    if (failed != ERROR_SUCCESS) {
      result.failure = "Не удалось прочитать HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes: " + registry::DescribeCode(failed);
      return result;
    }
  } else {
    for (const std::string& e : extensions) names.push_back(PrepareExtension(e));
  }
  std::vector<std::string> unnamed;  // named extensions with no association of the store's
  for (const std::string& e : names) {
    const bool associated = !HoldsSeparator(e) && CheckExtension(registry, e, desktop, probe, &result);
    if (!result.failure.empty()) return result;
    if (!associated && !extensions.empty()) unnamed.push_back(e);
  }
  if (desktop != nullptr) {
    std::vector<BrokenAssociation> own = desktop->FindBroken(extensions.empty() ? extensions : names);
    for (const std::string& e : unnamed) {
      bool found = false;
      for (const BrokenAssociation& broken : own) found = found || SameKeyName(broken.extension, e);
      if (!found) result.unknown.push_back(e);
    }
    for (BrokenAssociation& broken : own) result.broken.push_back(std::move(broken));
  } else {
    result.unknown = std::move(unnamed);
  }
  return result;
}

std::string BrokenLine(const BrokenAssociation& broken) {
  const std::string& r = broken.reason;
  const std::string why = r == kTitleMissing ? "описания, которое называет расширение, нет"
                          : r == kNoOpenCommand  ? "у описания нет команды открытия"
                          : r == kProgramMissing ? "программы нет"
                          : r == kProgramNotExecutable ? "программа не запускается: файл не исполняемый"
                          : r == integration::kEntryMissing ? "программы рабочего стола по умолчанию нет"
                          : r == integration::kEntryProgramMissing
                              ? "программы, которую запускает файл рабочего стола, нет"
                          : r == integration::kNoTerminal ? "программе нужен эмулятор терминала, его нет"
                          : r == integration::kProgIdMissing ? "описания (ProgID), которое называет выбор, нет"
                                                             : r;
  return broken.extension + ": " + why + " (" + broken.detail + ")";
}

std::string NoAssociation(const std::string& e) {
  return "Расширение " + e + " ни с чем не связано: проверять нечего.";
}

}  // namespace zandrel::store
