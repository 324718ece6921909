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
  bool loads = true;    // GIO takes it when a default names it (its programs are here), to open or fail
  bool hidden = false;  // Hidden=true: GIO (2.74) still takes it by its id, and it opens nothing
};

// Every entry of the application folders by id, the first folder's winning
// (the user's), read as GIO reads them; a hidden one stands for one deleted.
std::map<std::string, Entry> ReadEntries(const XdgPaths& paths, Programs& programs) {
  std::vector<std::string> folders{paths.dataHome + "/applications"};
  for (const std::string& dir : paths.dataDirs) folders.push_back(dir + "/applications");
  // Where Flatpak, Snap and Nix put their entries, last: a shell whose
  // XDG_DATA_DIRS lacks them (ssh, cron, an IDE's terminal) must not take
  // the desktop session's working defaults for missing ones, and remove them.
  const char* home = std::getenv("HOME");
  for (const std::string& folder :
       {paths.dataHome + "/flatpak/exports/share/applications",
        std::string("/var/lib/flatpak/exports/share/applications"), std::string("/var/lib/snapd/desktop/applications"),
        (home != nullptr ? std::string(home) : std::string("/nonexistent")) + "/.nix-profile/share/applications",
        std::string("/run/current-system/sw/share/applications")})
    if (std::find(folders.begin(), folders.end(), folder) == folders.end()) folders.push_back(folder);
  bool terminal = false;
  for (const auto& [name, option] : kTerminals) terminal = terminal || programs.Here(name);
  std::map<std::string, Entry> entries;
  for (const std::string& folder : folders) {
    std::error_code error;
    std::vector<std::filesystem::path> files;
    // GIO goes into linked folders too, and past those it cannot read: an
    // entry missed here would make the defaults naming it look broken. A
    // folder met again (a link back up) is not gone into twice.
    std::set<std::pair<dev_t, ino_t>> walked;
    if (struct stat st{}; ::stat(folder.c_str(), &st) == 0) walked.insert({st.st_dev, st.st_ino});
    const auto options = std::filesystem::directory_options::follow_directory_symlink |
                         std::filesystem::directory_options::skip_permission_denied;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, options, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
      struct stat st {};
      if (it->is_directory(error) && ::stat(it->path().c_str(), &st) == 0 &&
          !walked.insert({st.st_dev, st.st_ino}).second)
        it.disable_recursion_pending();
      else if (it->path().extension() == ".desktop") files.push_back(it->path());
      error.clear();
    }
    std::sort(files.begin(), files.end());
    for (const std::filesystem::path& file : files) {
      std::string id = file.lexically_relative(folder).generic_string();
      std::replace(id.begin(), id.end(), '/', '-');
      // An entry GIO cannot take (its programs not here) does not hide one of
      // the same id further on: GIO looks on to the next folder.
      const auto known = entries.find(id);
      if (known != entries.end() && known->second.loads) continue;
      const std::string text = Read(file.string());
      if (EntryValue(text, "Hidden") == "true") {
        Entry deleted{file.string(), {}, integration::kEntryMissing, "", true, true};
        entries.insert_or_assign(std::move(id), std::move(deleted));
        continue;
      }
      Entry entry{file.string(), ListItems(EntryValue(text, "MimeType").value_or("")), "", ""};
      // Zandrel's own entries follow its store, which is checked as such.
      if (EntryValue(text, "X-Zandrel-Extension")) entry.types.clear();
      const std::optional<std::string> tryExec = EntryValue(text, "TryExec");
      const std::string exec = EntryValue(text, "Exec").value_or("");
      const std::string program = ExecProgram(exec);
      if (tryExec && !tryExec->empty() && !programs.Here(*tryExec)) {
        entry.reason = integration::kEntryProgramMissing;
        entry.detail = *tryExec + ", " + entry.file;
        entry.loads = false;
      } else if (exec.empty() && EntryValue(text, "DBusActivatable") == "true") {
        // Started by its D-Bus name, with no command line to run.
      } else if (!programs.Here(program)) {
        entry.reason = integration::kEntryProgramMissing;
        entry.detail = (program.empty() ? "Exec" : program) + ", " + entry.file;
        entry.loads = exec.empty();  // GIO takes an entry with no Exec, then fails to start it
      } else if (!terminal && EntryValue(text, "Terminal") == "true") {
        entry.reason = integration::kNoTerminal;
        entry.detail = entry.file;
      }
      if (known == entries.end() || entry.loads) entries.insert_or_assign(std::move(id), std::move(entry));
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
  // A link from the user's folder to a file that is not the user's, or that
  // is one of the system's lists, leads to what others read: not the user's
  // own to edit.
  std::set<std::pair<dev_t, ino_t>> others;
  for (const auto& [file, own] : lists)
    if (struct stat st{}; !own && ::stat(file.c_str(), &st) == 0) others.insert({st.st_dev, st.st_ino});
  for (auto& [file, own] : lists)
    if (struct stat st{}; own && ::stat(file.c_str(), &st) == 0)
      own = st.st_uid == ::geteuid() && !others.count({st.st_dev, st.st_ino});
  return lists;
}

// The lines of a mimeapps.list's `section` ("[Default Applications]"): type,
// entries. A type given twice keeps its last line, and blanks before a line
// and after a header do not count, as GIO's key file reader reads them.
std::vector<std::pair<std::string, std::vector<std::string>>> SectionLines(const std::string& text,
                                                                           const std::string& section) {
  std::vector<std::pair<std::string, std::vector<std::string>>> lines;
  std::map<std::string, std::size_t> at;
  bool defaults = false;
  for (std::string line : DataLines(text)) {
    line.erase(0, line.find_first_not_of(" \t"));
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      defaults = line.substr(0, line.find_last_not_of(" \t") + 1) == section;
      continue;
    }
    const std::size_t eq = line.find('=');
    if (!defaults || eq == std::string::npos) continue;
    std::string type = line.substr(0, line.find_last_not_of(" \t", eq - 1) + 1);
    const auto [place, added] = at.emplace(type, lines.size());
    if (added) lines.emplace_back(std::move(type), ListItems(line.substr(eq + 1)));
    else lines[place->second].second = ListItems(line.substr(eq + 1));
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
  std::map<std::string, std::size_t> at;  // each finding once, however many lines repeat it
  const auto add = [&](const std::string& type, const char* reason, const std::string& detail, const std::string& where,
                       bool removable, const std::string& id) {
    const auto known = named.find(type);
    if (known == named.end()) return;
    for (const std::string& e : known->second) {
      BrokenAssociation b{e, reason, detail, where, removable};
      const auto [same, added] = at.emplace(e + '\0' + reason + '\0' + detail + '\0' + where, found.size());
      if (added) found.push_back({std::move(b), {type}, id});
      else if (!id.empty()) found[same->second].types.push_back(type);
    }
  };
  Programs programs;
  const std::map<std::string, Entry> entries = ReadEntries(paths, programs);
  std::set<std::string> defaulted;                               // types a default GIO can take decides
  std::set<std::string> opens;                                   // types something here opens
  std::set<std::pair<std::string, std::string>> added, removed;  // type, entry: the lists' other sections
  for (const auto& [file, own] : MimeAppsLists(paths)) {
    const std::string text = Read(file);
    for (const auto& [type, ids] : SectionLines(text, "[Added Associations]"))
      for (const std::string& id : ids) added.emplace(type, id);
    for (const auto& [type, ids] : SectionLines(text, "[Removed Associations]"))
      for (const std::string& id : ids) removed.emplace(type, id);
    for (const auto& [type, ids] : SectionLines(text, "[Default Applications]")) {
      // GIO passes over the entries of a line it cannot take and opens with
      // the first it can: those before it are findings only when none is.
      const auto taken = std::find_if(ids.begin(), ids.end(), [&](const std::string& id) {
        const auto entry = entries.find(id);
        return entry != entries.end() && entry->second.loads;
      });
      // The first file (in GIO's order) whose line has one decides; a line
      // below it names what is never taken, and only its missing entries count.
      const bool decides = taken != ids.end() && defaulted.insert(type).second;
      if (decides && entries.at(*taken).reason.empty()) opens.insert(type);
      const auto last = taken == ids.end() ? ids.end() : taken + 1;
      for (auto id = taken == ids.end() ? ids.begin() : taken; id != last; ++id) {
        const auto entry = entries.find(*id);
        if (entry == entries.end() || entry->second.hidden)
          add(type, integration::kEntryMissing, *id + ", " + file, file, own, *id);
        else if (!entry->second.reason.empty() && (decides || taken == ids.end()))
          add(type, entry->second.reason.c_str(), entry->second.detail, entry->second.file, false, "");
      }
    }
  }
  // With no default, GIO opens with an entry associated with the type (it
  // declares it or a list adds it, and no list removes it): one that cannot
  // is a finding only when none that can is there.
  std::vector<std::pair<std::string, const Entry*>> associated;
  for (const auto& [id, entry] : entries) {
    for (const std::string& type : entry.types)
      if (!removed.count({type, id})) associated.emplace_back(type, &entry);
  }
  for (const auto& [type, id] : added)
    if (const auto entry = entries.find(id); entry != entries.end() && !removed.count({type, id}))
      associated.emplace_back(type, &entry->second);
  for (const auto& [type, entry] : associated)
    if (entry->loads && entry->reason.empty() && !defaulted.count(type)) opens.insert(type);
  for (const auto& [type, entry] : associated)
    if (!entry->reason.empty() && !defaulted.count(type) && !opens.count(type))
      add(type, entry->reason.c_str(), entry->detail, entry->file, false, "");
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
