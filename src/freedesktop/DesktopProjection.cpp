#include "freedesktop/DesktopProjection.h"

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <set>

#include "files/FileRead.h"
#include "files/FileReplace.h"
#include "freedesktop/DesktopDefaults.h"
#include "freedesktop/DesktopMapping.h"
#include "freedesktop/MimeDatabase.h"

extern char** environ;

namespace zandrel::freedesktop {

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

std::vector<std::string> MimeFolders(const XdgPaths& paths) {
  std::vector<std::string> folders{paths.dataHome + "/mime"};
  for (const std::string& dir : paths.dataDirs) folders.push_back(dir + "/mime");
  return folders;
}

// This process's environment with the XDG folders the projection wrote to,
// so that the tools see the folders they update as the desktop's own.
std::vector<std::string> ToolEnvironment(const XdgPaths& paths) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    if (entry.rfind("XDG_DATA_HOME=", 0) != 0 && entry.rfind("XDG_CONFIG_HOME=", 0) != 0 &&
        entry.rfind("XDG_DATA_DIRS=", 0) != 0 && entry.rfind("PKGSYSTEM_ENABLE_FSYNC=", 0) != 0)
      env.push_back(entry);
  }
  std::string dirs;
  for (const std::string& dir : paths.dataDirs) dirs += (dirs.empty() ? "" : ":") + dir;
  env.push_back("XDG_DATA_HOME=" + paths.dataHome);
  env.push_back("XDG_CONFIG_HOME=" + paths.configHome);
  env.push_back("XDG_DATA_DIRS=" + dirs);
  // The tools' files are derived from the package files and entries; a run
  // that a crash cut short is made again, as the next projection finds the
  // compiled types or the index unlike its own. Without this, the MIME tool
  // flushes each type's file to disk on its own, about a second for a
  // hundred types.
  env.push_back("PKGSYSTEM_ENABLE_FSYNC=0");
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
  std::map<std::string, std::string> globs;
  const MimeDatabase mime = MimeDatabase::Read(MimeFolders(paths), kPrivateTypePrefix, own);
  for (const MimeGlob& g : mime.Globs()) {
    if (!IsSuffixGlob(g.pattern) || g.pattern.size() < 3 || g.pattern[1] != '.') continue;
    std::string ext = g.pattern.substr(2);
    for (char& c : ext)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    globs.emplace(ext, g.type);
  }
  return globs;
}

std::vector<std::pair<std::string, bool>> MimeAppsFiles(const XdgPaths& paths) {
  std::vector<std::pair<std::string, bool>> files;
  auto level = [&](const std::string& folder) {
    for (const std::string& desktop : paths.desktops)
      files.emplace_back(folder + "/" + desktop + "-mimeapps.list", true);
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

std::string FailureMessage(const ProjectionReport& report, const std::string& extension) {
  std::string ext = extension.empty() || extension[0] == '.' ? std::string() : std::string(1, '.');
  ext += extension;
  const auto folded = [](std::string s) {
    for (char& c : s)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
  };
  const std::string subject = ext.empty() ? "Изменение" : "Изменение " + ext;
  for (const ProjectionFailure& f : report.failures)
    if (!ext.empty() && folded(f.extension) == folded(ext))
      return subject + " не перенесено на рабочий стол: " + f.reason + ".";
  if (!report.shared.Ok()) return subject + " не перенесено на рабочий стол: " + report.shared.message + ".";
  return "";
}

ProjectionReport ProjectAssociations(IRegistry& registry, const StoreRows& storeRows, const XdgPaths& paths) {
  ProjectionReport report;
  if (paths.dataHome.empty() || paths.configHome.empty()) {
    report.status = report.shared = {Status::kNotFound, "neither XDG_DATA_HOME and XDG_CONFIG_HOME nor HOME is set"};
    return report;
  }
  Status& status = report.status;
  if (status = MakeFolders(paths.configHome); !status.Ok()) {
    report.shared = status;
    return report;
  }
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

  files::SweepTemporaries(paths.dataHome + "/applications", [](const std::string& name) {
    return name.rfind(kEntryPrefix, 0) == 0 && name.size() > 8 && name.compare(name.size() - 8, 8, ".desktop") == 0;
  });
  files::SweepTemporaries(paths.dataHome + "/mime/packages",
                          [](const std::string& name) { return name == kPackageFileName; });
  // The user's file and the desktop-specific ones beside it ("GNOME-mimeapps.list").
  files::SweepTemporaries(paths.configHome, [](const std::string& name) {
    return name.size() >= 13 && name.compare(name.size() - 13, 13, "mimeapps.list") == 0;
  });

  const std::optional<std::vector<StoreRow>> listed = storeRows(registry);
  if (!listed) {
    status = report.shared = {Status::kFailed, "the classes store cannot be read"};
    return report;
  }

  const std::vector<StoreRow>& rows = *listed;
  std::set<std::string> ownTypes;
  const std::string mimeFolder = paths.dataHome + "/mime";
  const MimeDatabase mime = MimeDatabase::Read(MimeFolders(paths), kPrivateTypePrefix, &ownTypes);

  bool exists = false;
  const std::vector<Projection> projections = MapAssociations(rows, mime, IsProgram, &report.failures);
  report.projected = projections.size();
  report.skipped = rows.size() - projections.size();
  // A file that cannot be written fails the associations it carries; the
  // others are projected all the same.
  const auto failed = [&report](const Status& why, const std::string& path, const std::string& extension) {
    if (report.status.Ok()) report.status = why;
    report.failures.push_back({extension, "не удаётся записать " + path + " (" + why.message + ")"});
  };

  const std::size_t before = report.filesChanged;
  const std::string package = mimeFolder + "/packages/" + kPackageFileName;
  if (Status written = Reconcile(package, MimePackage(projections), report.filesChanged); !written.Ok())
    for (const Projection& p : projections)
      if (p.privateType) failed(written, package, p.extension);
  std::set<std::string> privateTypes;
  for (const Projection& p : projections)
    if (p.privateType) privateTypes.insert(p.mimeType);
  // The types of the desktop's own settings (DesktopDefaults.h) are Zandrel's too.
  std::string settings;
  if (ReadWhole(mimeFolder + "/packages/" + kDesktopPackageName, settings, exists).Ok())
    for (const std::string& type : DeclaredTypes(settings))
      if (type.rfind(kDesktopTypePrefix, 0) == 0) privateTypes.insert(type);
  const bool mimeStale = report.filesChanged != before || privateTypes != ownTypes;

  const std::string applications = paths.dataHome + "/applications";
  const std::size_t entriesBefore = report.filesChanged;
  std::set<std::string> entries;
  for (const Projection& p : projections) {
    entries.insert(p.entryId);
    const std::string entry = applications + "/" + p.entryId;
    if (Status written = Reconcile(entry, DesktopEntry(p), report.filesChanged); !written.Ok())
      failed(written, entry, p.extension);
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
      if (Status removed = RemoveFile(applications + "/" + name); !removed.Ok()) {
        if (report.shared.Ok()) report.shared = removed;
        if (status.Ok()) status = removed;
        continue;
      }
      ++report.filesChanged;
    }
  }
  const bool desktopStale = report.filesChanged != entriesBefore || IndexedEntries(applications) != entries;

  const std::string mimeapps = paths.configHome + "/mimeapps.list";
  std::string old;
  Status defaults = ReadWhole(mimeapps, old, exists);
  const std::string merged = defaults.Ok() ? MergeMimeApps(old, projections) : old;
  if (defaults.Ok() && merged != old) {
    defaults = merged.empty() ? RemoveFile(mimeapps) : ReplaceFile(mimeapps, merged);
    if (defaults.Ok()) ++report.filesChanged;
  }
  if (!defaults.Ok())
    for (const Projection& p : projections) failed(defaults, mimeapps, p.extension);

  struct stat st {};
  Status tool;
  if (mimeStale && ::stat((mimeFolder + "/packages").c_str(), &st) == 0)
    tool = RunTool("update-mime-database", mimeFolder, paths);
  if (tool.Ok() && desktopStale && ::stat(applications.c_str(), &st) == 0)
    tool = RunTool("update-desktop-database", applications, paths);
  if (!tool.Ok() && report.shared.Ok()) report.shared = tool;
  if (!tool.Ok() && status.Ok()) status = tool;
  return report;
}

}  // namespace zandrel::freedesktop
