#include "desktop/DesktopProjection.h"

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>

#include "files/FileRead.h"
#include "files/FileReplace.h"
#include "desktop/DesktopMapping.h"
#include "store/AssociationListing.h"

extern char** environ;

namespace zandrel::desktop {

namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr ? v : "";
}

using status::Status;

Status Failure(const std::string& what, const std::string& path, int error) {
  return {Status::kFailed, what + " " + path + ": " + std::strerror(error)};
}

bool IsProgram(const std::string& path) {
  struct stat st {};
  return !path.empty() && path[0] == '/' && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
         ::access(path.c_str(), X_OK) == 0;
}

// The whole file; an absent file reads as empty with `exists` false.
Status ReadWhole(const std::string& path, std::string& out, bool& exists) {
  const Status read = files::ReadFileWhole(path, &out);
  exists = read.code != Status::kNotFound;
  if (read.Ok() || !exists) return {};
  return {read.code, path + ": " + read.message};
}

// Creates the folder and its missing parents (0700, as the XDG folders are).
Status MakeFolders(const std::string& path) {
  for (std::size_t at = 1; at <= path.size(); ++at) {
    if (at < path.size() && path[at] != '/') continue;
    const std::string part = path.substr(0, at);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return Failure("cannot create", part, errno);
  }
  return {};
}

// Replaces `path` with `content`: a reader, or a run killed at any point,
// sees the old file or the new one.
Status ReplaceFile(const std::string& path, const std::string& content) {
  if (Status made = MakeFolders(path.substr(0, path.rfind('/'))); !made.Ok()) return made;
  const Status written = files::ReplaceFileWhole(path, content);
  if (written.Ok()) return {};
  return {written.code, path + ": " + written.message};
}

Status RemoveFile(const std::string& path) {
  if (::unlink(path.c_str()) == 0 || errno == ENOENT) return {};
  return Failure("cannot remove", path, errno);
}

// Brings one file to `content`; an empty content removes it. Counts changes.
Status Reconcile(const std::string& path, const std::string& content, std::size_t& changed) {
  std::string current;
  bool exists = false;
  if (Status read = ReadWhole(path, current, exists); !read.Ok()) return read;
  if (content.empty() ? !exists : exists && current == content) return {};
  Status done = content.empty() ? RemoveFile(path) : ReplaceFile(path, content);
  if (done.Ok()) ++changed;
  return done;
}

// The other programs' "*.ext" globs of a globs2 file, the highest weight
// winning (the first file read wins a tie), and Zandrel's own types in it.
void ReadGlobs(const std::string& mimeFolder, std::map<std::string, std::pair<int, std::string>>& globs,
               std::set<std::string>* own) {
  std::string text;
  bool exists = false;
  if (!ReadWhole(mimeFolder + "/globs2", text, exists).Ok()) return;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    const std::size_t a = line.find(':'), b = a == std::string::npos ? a : line.find(':', a + 1);
    if (line.empty() || line[0] == '#' || b == std::string::npos) continue;
    const std::string type = line.substr(a + 1, b - a - 1);
    std::string glob = line.substr(b + 1);
    glob = glob.substr(0, glob.find(':'));
    if (type.rfind(kPrivateTypePrefix, 0) == 0) {
      if (own != nullptr) own->insert(type);
      continue;
    }
    if (glob.size() < 3 || glob.compare(0, 2, "*.") != 0 || glob.find_first_of("*?[", 2) != std::string::npos)
      continue;
    std::string ext = glob.substr(2);
    for (char& c : ext)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    const int weight = std::atoi(line.c_str());
    auto it = globs.find(ext);
    if (it == globs.end() || weight > it->second.first) globs[ext] = {weight, type};
  }
}

// This process's environment with the XDG folders the projection wrote to,
// so that the tools see the folders they update as the desktop's own.
std::vector<std::string> ToolEnvironment(const XdgPaths& paths) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    if (entry.rfind("XDG_DATA_HOME=", 0) != 0 && entry.rfind("XDG_CONFIG_HOME=", 0) != 0 &&
        entry.rfind("XDG_DATA_DIRS=", 0) != 0)
      env.push_back(entry);
  }
  std::string dirs;
  for (const std::string& dir : paths.dataDirs) dirs += (dirs.empty() ? "" : ":") + dir;
  env.push_back("XDG_DATA_HOME=" + paths.dataHome);
  env.push_back("XDG_CONFIG_HOME=" + paths.configHome);
  env.push_back("XDG_DATA_DIRS=" + dirs);
  return env;
}

// Runs a database tool on a folder. A tool that is not installed is passed
// over.
Status RunTool(const char* tool, const std::string& folder, const XdgPaths& paths) {
  std::vector<std::string> env = ToolEnvironment(paths);
  std::vector<char*> envp;
  for (std::string& entry : env) envp.push_back(entry.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  char* argv[] = {const_cast<char*>(tool), const_cast<char*>(folder.c_str()), nullptr};
  pid_t pid = 0;
  const int spawned = ::posix_spawnp(&pid, tool, &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned == ENOENT) return {};
  if (spawned != 0) return {Status::kFailed, std::string("cannot run ") + tool + ": " + std::strerror(spawned)};
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return {};
  // posix_spawnp may report a missing tool through the child's status 127.
  if (WIFEXITED(status) && WEXITSTATUS(status) == 127) return {};
  return {Status::kFailed, std::string(tool) + " " + folder + " failed"};
}

// The zandrel- entries that update-desktop-database has indexed.
std::set<std::string> IndexedEntries(const std::string& applications) {
  std::set<std::string> ids;
  std::string text;
  bool exists = false;
  if (!ReadWhole(applications + "/mimeinfo.cache", text, exists).Ok()) return ids;
  for (std::size_t at = text.find(kEntryPrefix); at != std::string::npos; at = text.find(kEntryPrefix, at + 1)) {
    if (at > 0 && text[at - 1] != '=' && text[at - 1] != ';') continue;
    ids.insert(text.substr(at, text.find_first_of(";\n", at) - at));
  }
  return ids;
}

}  // namespace

std::map<std::string, std::string> ReadSystemGlobs(const XdgPaths& paths, std::set<std::string>* own) {
  std::map<std::string, std::pair<int, std::string>> weighted;
  ReadGlobs(paths.dataHome + "/mime", weighted, own);
  for (const std::string& dir : paths.dataDirs) ReadGlobs(dir + "/mime", weighted, nullptr);
  std::map<std::string, std::string> globs;
  for (const auto& [ext, typed] : weighted) globs.emplace(ext, typed.second);
  return globs;
}

std::vector<std::pair<std::string, bool>> MimeAppsFiles(const XdgPaths& paths) {
  std::vector<std::pair<std::string, bool>> files;
  auto level = [&](const std::string& folder) {
    for (const std::string& desktop : paths.desktops) files.emplace_back(folder + "/" + desktop + "-mimeapps.list", true);
    files.emplace_back(folder + "/mimeapps.list", false);
  };
  level(paths.configHome);
  for (const std::string& dir : paths.configDirs) level(dir);
  level(paths.dataHome + "/applications");
  for (const std::string& dir : paths.dataDirs) level(dir + "/applications");
  return files;
}

XdgPaths XdgPaths::FromEnvironment() {
  XdgPaths paths;
  const std::string home = Env("HOME");
  // Relative values are invalid and are ignored, as the base directory rules say.
  auto base = [&](const char* name, const char* fallback) {
    const std::string v = Env(name);
    if (!v.empty() && v[0] == '/') return v;
    return home.empty() ? std::string() : home + fallback;
  };
  paths.dataHome = base("XDG_DATA_HOME", "/.local/share");
  paths.configHome = base("XDG_CONFIG_HOME", "/.config");
  auto list = [](const char* name, const char* fallback, bool absolute) {
    std::string text = Env(name);
    if (text.empty()) text = fallback;
    std::vector<std::string> parts;
    for (std::size_t start = 0; start <= text.size();) {
      std::size_t end = text.find(':', start);
      if (end == std::string::npos) end = text.size();
      const std::string part = text.substr(start, end - start);
      if (!part.empty() && (!absolute || part[0] == '/')) parts.push_back(part);
      start = end + 1;
    }
    return parts;
  };
  paths.dataDirs = list("XDG_DATA_DIRS", "/usr/local/share/:/usr/share/", true);
  paths.configDirs = list("XDG_CONFIG_DIRS", "/etc/xdg", true);
  paths.desktops = list("XDG_CURRENT_DESKTOP", "", false);
  for (std::string& desktop : paths.desktops)
    for (char& c : desktop)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return paths;
}

ProjectionReport ProjectAssociations(IRegistry& registry, const XdgPaths& paths) {
  ProjectionReport report;
  if (paths.dataHome.empty() || paths.configHome.empty()) {
    report.status = {Status::kNotFound, "neither XDG_DATA_HOME and XDG_CONFIG_HOME nor HOME is set"};
    return report;
  }
  Status& status = report.status;
  if (status = MakeFolders(paths.configHome); !status.Ok()) return report;
  // One projection at a time (the window and zandrel-reg may both run one),
  // the store read under the lock too: a run that read an older store must
  // not write after one that read a newer. The lock goes with the descriptor.
  const int lock = ::open(paths.configHome.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (lock >= 0) ::flock(lock, LOCK_EX);
  struct Unlock {
    int fd;
    ~Unlock() {
      if (fd >= 0) ::close(fd);
    }
  } unlock{lock};

  const store::ListingResult listing = store::AssociationListing(registry).List();
  const std::vector<store::AssociationRow>& rows = listing.rows;
  if (!listing.classesKeyOpened) {
    status = {Status::kFailed, "the classes store cannot be read"};
    return report;
  }

  std::set<std::string> ownTypes;
  const std::string mimeFolder = paths.dataHome + "/mime";
  const SystemGlobs globs = ReadSystemGlobs(paths, &ownTypes);

  const std::vector<Projection> projections = MapAssociations(rows, globs, IsProgram);
  report.projected = projections.size();
  report.skipped = rows.size() - projections.size();

  const std::size_t before = report.filesChanged;
  status = Reconcile(mimeFolder + "/packages/" + kPackageFileName, MimePackage(projections), report.filesChanged);
  if (!status.Ok()) return report;
  std::set<std::string> privateTypes;
  for (const Projection& p : projections)
    if (p.privateType) privateTypes.insert(p.mimeType);
  const bool mimeStale = report.filesChanged != before || privateTypes != ownTypes;

  const std::string applications = paths.dataHome + "/applications";
  const std::size_t entriesBefore = report.filesChanged;
  std::set<std::string> entries;
  for (const Projection& p : projections) {
    entries.insert(p.entryId);
    if (status = Reconcile(applications + "/" + p.entryId, DesktopEntry(p), report.filesChanged); !status.Ok())
      return report;
  }
  if (DIR* dir = ::opendir(applications.c_str())) {
    std::vector<std::string> withdrawn;
    while (const dirent* e = ::readdir(dir)) {
      const std::string name = e->d_name;
      if (name.rfind(kEntryPrefix, 0) != 0 || name.size() < 8 || name.substr(name.size() - 8) != ".desktop" ||
          entries.count(name) != 0)
        continue;
      std::string text;
      bool exists = false;
      // Only entries that carry Zandrel's key are its own.
      if (ReadWhole(applications + "/" + name, text, exists).Ok() &&
          text.find("\nX-Zandrel-Extension=") != std::string::npos)
        withdrawn.push_back(name);
    }
    ::closedir(dir);
    for (const std::string& name : withdrawn) {
      if (status = RemoveFile(applications + "/" + name); !status.Ok()) return report;
      ++report.filesChanged;
    }
  }
  const bool desktopStale = report.filesChanged != entriesBefore || IndexedEntries(applications) != entries;

  const std::string mimeapps = paths.configHome + "/mimeapps.list";
  std::string old;
  bool exists = false;
  if (status = ReadWhole(mimeapps, old, exists); !status.Ok()) return report;
  const std::string merged = MergeMimeApps(old, projections);
  if (merged != old) {
    status = merged.empty() ? RemoveFile(mimeapps) : ReplaceFile(mimeapps, merged);
    if (!status.Ok()) return report;
    ++report.filesChanged;
  }

  struct stat st {};
  if (mimeStale && ::stat((mimeFolder + "/packages").c_str(), &st) == 0)
    status = RunTool("update-mime-database", mimeFolder, paths);
  if (status.Ok() && desktopStale && ::stat(applications.c_str(), &st) == 0)
    status = RunTool("update-desktop-database", applications, paths);
  return report;
}

}  // namespace zandrel::desktop
