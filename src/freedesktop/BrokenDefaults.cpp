// The desktop's own associations that open nothing here: a default line of a
// mimeapps.list naming an entry no application folder holds, an entry whose
// TryExec or Exec program is not here, an entry that needs a terminal when
// none is installed. Each is reported for every extension the MIME database
// gives its type by a simple glob ("*.e"); types with none (link schemes)
// are no extension's. Read as GIO reads them; the clean-up takes the missing
// entries out of the user's own default lines, and writes nothing else.
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

// A finding, with the default line it comes from when it is one naming an
// entry that is not here: the type of each such line, and the entry's id.
struct Found {
  BrokenAssociation broken;
  std::vector<std::string> types;
  std::string id;
};

std::vector<Found> Findings(const XdgPaths& paths, const std::vector<std::string>& extensions) {
  std::vector<std::string> folders{paths.dataHome + "/mime"};
  for (const std::string& dir : paths.dataDirs) folders.push_back(dir + "/mime");
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
  std::vector<Found> found;
  const auto add = [&](const std::string& type, const char* reason, const std::string& detail, const std::string& where,
                       bool removable, const std::string& id) {
    const auto known = named.find(type);
    if (known == named.end()) return;
    for (const std::string& e : known->second) {
      BrokenAssociation b{e, reason, detail, where, removable};
      const auto same = std::find_if(found.begin(), found.end(), [&](const Found& f) { return f.broken == b; });
      if (same == found.end()) found.push_back({std::move(b), {type}, id});
      else if (!id.empty()) same->types.push_back(type);
    }
  };
  Programs programs;
  const std::map<std::string, Entry> entries = ReadEntries(paths, programs);
  for (const auto& [file, own] : MimeAppsLists(paths)) {
    for (const auto& [type, ids] : DefaultLines(Read(file))) {
      for (const std::string& id : ids) {
        const auto entry = entries.find(id);
        if (entry == entries.end()) add(type, integration::kEntryMissing, id + ", " + file, file, own, id);
        else if (!entry->second.reason.empty())
          add(type, entry->second.reason.c_str(), entry->second.detail, entry->second.file, false, "");
      }
    }
  }
  for (const auto& [id, entry] : entries)
    for (const std::string& type : entry.types)
      if (!entry.reason.empty()) add(type, entry.reason.c_str(), entry.detail, entry.file, false, "");
  std::stable_sort(found.begin(), found.end(),
                   [](const Found& a, const Found& b) { return a.broken.extension < b.broken.extension; });
  return found;
}

}  // namespace

std::vector<BrokenAssociation> FreedesktopDesktop::FindBroken(const std::vector<std::string>& extensions) {
  std::vector<BrokenAssociation> broken;
  for (Found& found : Findings(paths_, extensions)) broken.push_back(std::move(found.broken));
  return broken;
}

integration::BrokenRemoval FreedesktopDesktop::RemoveBroken(IRegistry& registry,
                                                            const std::vector<BrokenAssociation>& broken,
                                                            std::string* fileFailure) {
  (void)registry;  // no key of the store's changes: the files go with its commit
  integration::BrokenRemoval removal;
  std::vector<std::string> extensions;
  for (const BrokenAssociation& b : broken)
    if (b.removable) extensions.push_back(b.extension);
  // Read again under the lock the history's transaction holds over the files.
  const std::vector<Found> now = extensions.empty() ? std::vector<Found>{} : Findings(paths_, extensions);
  capture::FileContents before, after;  // each file edited, in the order met
  for (const BrokenAssociation& b : broken) {
    const auto found = std::find_if(now.begin(), now.end(), [&](const Found& f) { return f.broken == b; });
    if (!b.removable) {
      removal.kept.push_back(b);
      continue;
    }
    if (found == now.end() || found->id.empty()) {
      removal.mended.push_back(b);
      continue;
    }
    auto at = std::find_if(after.begin(), after.end(), [&](const auto& file) { return file.first == b.where; });
    if (at == after.end()) {
      std::string why;
      before.emplace_back(b.where, capture::ReadContent(b.where, &why));
      if (!why.empty()) {
        removal.failure = "Не удалось прочитать " + why + ".";
        return removal;
      }
      at = after.insert(after.end(), before.back());
    }
    capture::FileContent& text = at->second;
    for (const std::string& type : found->types) text = WithoutDefault(text.value_or(""), type, found->id);
    removal.removed.push_back(b);
  }
  capture::FileRecord record;
  capture::FileContents contents;
  for (std::size_t i = 0; i < before.size(); ++i) {
    if (before[i] == after[i]) continue;
    record.files.push_back(capture::DiffFile(before[i].first, before[i].second, after[i].second));
    contents.push_back(after[i]);
  }
  if (record.Empty()) return removal;
  if (!keeper_) {
    removal.failure = "Файлы рабочего стола некуда записать вместе с изменением.";
    return removal;
  }
  keeper_(std::move(record), std::move(contents), fileFailure);
  return removal;
}

}  // namespace zandrel::freedesktop
