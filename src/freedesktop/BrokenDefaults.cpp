// The desktop's own associations that open nothing here: a default line of a
// mimeapps.list naming an entry no application folder holds, an entry whose
// TryExec or Exec program is not here, an entry that needs a terminal when
// none is installed. Each is reported for every extension the MIME database
// gives its type by a simple glob ("*.e"); types with none (link schemes)
// are no extension's. Read as GIO reads them; nothing is written.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>

#include "freedesktop/DesktopDefaults.h"
#include "freedesktop/FreedesktopDesktop.h"
#include "freedesktop/Terminals.h"
#include "registry/Names.h"

namespace zandrel::freedesktop {
namespace {

using integration::BrokenAssociation;

bool IsProgram(const std::string& path) {
  struct stat st {};
  return !path.empty() && path[0] == '/' && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
         ::access(path.c_str(), X_OK) == 0;
}

// Whether the program a TryExec or an Exec's first word names is here, found
// in PATH as GIO finds it; each name asked once.
class Programs {
 public:
  bool Here(const std::string& word) {
    const auto known = known_.find(word);
    if (known != known_.end()) return known->second;
    bool here = false;
    if (word.find('/') != std::string::npos) {
      here = IsProgram(word);
    } else if (!word.empty()) {
      const char* path = std::getenv("PATH");
      const std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
      for (std::size_t start = 0; start <= dirs.size() && !here;) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        here = IsProgram(dirs.substr(start, end - start) + "/" + word);
        start = end + 1;
      }
    }
    return known_.emplace(word, here).first->second;
  }

 private:
  std::map<std::string, bool> known_;
};

std::string Read(const std::string& path) {
  std::string why;
  return capture::ReadContent(path, &why).value_or("");
}

// What an entry found in the application folders says of itself.
struct Entry {
  std::string file;
  std::vector<std::string> types;
  std::string reason;  // "" when it opens files here
  std::string detail;
};

// Every entry of the application folders by id, the first folder's winning
// (the user's), read as GIO reads them; a hidden one stands for one deleted.
std::map<std::string, Entry> ReadEntries(const XdgPaths& paths, Programs& programs) {
  std::vector<std::string> folders{paths.dataHome + "/applications"};
  for (const std::string& dir : paths.dataDirs) folders.push_back(dir + "/applications");
  bool terminal = false;
  for (const auto& [name, option] : kTerminals) terminal = terminal || programs.Here(name);
  std::map<std::string, Entry> entries;
  std::set<std::string> hidden;
  for (const std::string& folder : folders) {
    std::error_code error;
    std::vector<std::filesystem::path> files;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error))
      if (it->path().extension() == ".desktop") files.push_back(it->path());
    std::sort(files.begin(), files.end());
    for (const std::filesystem::path& file : files) {
      std::string id = file.lexically_relative(folder).generic_string();
      std::replace(id.begin(), id.end(), '/', '-');
      if (entries.count(id) != 0 || hidden.count(id) != 0) continue;
      const std::string text = Read(file.string());
      if (EntryValue(text, "Hidden") == "true") {
        hidden.insert(id);
        continue;
      }
      Entry entry{file.string(), ListItems(EntryValue(text, "MimeType").value_or("")), "", ""};
      // Zandrel's own entries follow its store, which is checked as such.
      if (EntryValue(text, "X-Zandrel-Extension")) entry.types.clear();
      const std::optional<std::string> tryExec = EntryValue(text, "TryExec");
      const std::string program = ExecProgram(EntryValue(text, "Exec").value_or(""));
      if (tryExec && !tryExec->empty() && !programs.Here(*tryExec)) {
        entry.reason = integration::kEntryProgramMissing;
        entry.detail = *tryExec + ", " + entry.file;
      } else if (!programs.Here(program)) {
        entry.reason = integration::kEntryProgramMissing;
        entry.detail = (program.empty() ? "Exec" : program) + ", " + entry.file;
      } else if (!terminal && EntryValue(text, "Terminal") == "true") {
        entry.reason = integration::kNoTerminal;
        entry.detail = entry.file;
      }
      entries.emplace(std::move(id), std::move(entry));
    }
  }
  return entries;
}

// The mimeapps.list files in the order GIO reads them, each with whether it
// is the user's own (in $XDG_CONFIG_HOME).
std::vector<std::pair<std::string, bool>> MimeAppsLists(const XdgPaths& paths) {
  std::vector<std::pair<std::string, bool>> lists;
  const auto level = [&](const std::string& folder, bool own) {
    for (const std::string& desktop : paths.desktops)
      lists.emplace_back(folder + "/" + desktop + "-mimeapps.list", own);
    lists.emplace_back(folder + "/mimeapps.list", own);
  };
  level(paths.configHome, true);
  for (const std::string& dir : paths.configDirs) level(dir, false);
  level(paths.dataHome + "/applications", false);
  for (const std::string& dir : paths.dataDirs) level(dir + "/applications", false);
  return lists;
}

// The [Default Applications] lines of a mimeapps.list: type, entries.
std::vector<std::pair<std::string, std::vector<std::string>>> DefaultLines(const std::string& text) {
  std::vector<std::pair<std::string, std::vector<std::string>>> lines;
  bool defaults = false;
  for (const std::string& line : DataLines(text)) {
    if (line[0] == '[') {
      defaults = line == "[Default Applications]";
      continue;
    }
    const std::size_t eq = line.find('=');
    if (defaults && eq != std::string::npos)
      lines.emplace_back(line.substr(0, line.find_last_not_of(" \t", eq - 1) + 1), ListItems(line.substr(eq + 1)));
  }
  return lines;
}

}  // namespace

std::vector<BrokenAssociation> FreedesktopDesktop::FindBroken(const std::vector<std::string>& extensions) {
  std::vector<std::string> folders{paths_.dataHome + "/mime"};
  for (const std::string& dir : paths_.dataDirs) folders.push_back(dir + "/mime");
  const MimeDatabase mime = MimeDatabase::Read(folders, kPrivateTypePrefix, nullptr);
  std::map<std::string, std::vector<std::string>> named;  // type -> its extensions asked about
  for (const MimeGlob& glob : mime.Globs()) {
    if (!IsSuffixGlob(glob.pattern) || glob.pattern.size() < 3 || glob.pattern[1] != '.') continue;
    const std::string e = glob.pattern.substr(1);
    const bool asked = extensions.empty() || std::any_of(extensions.begin(), extensions.end(),
                                                         [&](const auto& x) { return registry::SameKeyName(x, e); });
    std::vector<std::string>& list = named[glob.type];
    if (asked && std::find(list.begin(), list.end(), e) == list.end()) list.push_back(e);
  }
  std::vector<BrokenAssociation> broken;
  const auto add = [&](const std::string& type, const char* reason, const std::string& detail, const std::string& where,
                       bool removable) {
    const auto found = named.find(type);
    if (found == named.end()) return;
    for (const std::string& e : found->second) {
      BrokenAssociation b{e, reason, detail, where, removable};
      if (std::find(broken.begin(), broken.end(), b) == broken.end()) broken.push_back(std::move(b));
    }
  };
  Programs programs;
  const std::map<std::string, Entry> entries = ReadEntries(paths_, programs);
  for (const auto& [file, own] : MimeAppsLists(paths_)) {
    for (const auto& [type, ids] : DefaultLines(Read(file))) {
      for (const std::string& id : ids) {
        const auto entry = entries.find(id);
        if (entry == entries.end()) add(type, integration::kEntryMissing, id + ", " + file, file, own);
        else if (!entry->second.reason.empty())
          add(type, entry->second.reason.c_str(), entry->second.detail, entry->second.file, false);
      }
    }
  }
  for (const auto& [id, entry] : entries)
    for (const std::string& type : entry.types)
      if (!entry.reason.empty()) add(type, entry.reason.c_str(), entry.detail, entry.file, false);
  std::stable_sort(broken.begin(), broken.end(),
                   [](const BrokenAssociation& a, const BrokenAssociation& b) { return a.extension < b.extension; });
  return broken;
}

}  // namespace zandrel::freedesktop
