// What the view is computed from and by: fingerprints of the desktop's
// files, which tell when it must be computed again, and the helper program
// that computes it.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "freedesktop/DesktopClasses.h"
#include "files/FileRead.h"

extern char** environ;

namespace zandrel::freedesktop {

std::string StatLine(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return path + " -\n";
  return path + " " + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + " " + std::to_string(st.st_size) +
         " " + std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec) + " " +
         std::to_string(st.st_ctim.tv_sec) + "." + std::to_string(st.st_ctim.tv_nsec) + "\n";
}

namespace {

// A folder and everything in it, subfolders too (desktop entries may lie in
// subfolders), to a bounded depth; mimeapps.list files are followed by their
// lines instead.
void StampFolder(const std::string& folder, int depth, std::string& out) {
  out += StatLine(folder);
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return;
  std::vector<std::string> names;
  while (const dirent* e = ::readdir(dir))
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    const std::string path = folder + "/" + name;
    struct stat st {};
    const bool lists = name.size() >= 13 && name.compare(name.size() - 13, 13, "mimeapps.list") == 0;
    if (depth > 0 && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) StampFolder(path, depth - 1, out);
    else if (!lists) out += StatLine(path);
  }
}

}  // namespace

std::string MimeStamp(const XdgPaths& paths) {
  std::string out;
  out += StatLine(paths.dataHome + "/mime/mime.cache") + StatLine(paths.dataHome + "/mime/globs2");
  for (const std::string& dir : paths.dataDirs)
    out += StatLine(dir + "/mime/mime.cache") + StatLine(dir + "/mime/globs2");
  return out;
}

std::string ApplicationsStamp(const XdgPaths& paths) {
  std::string out;
  StampFolder(paths.dataHome + "/applications", 4, out);
  for (const std::string& dir : paths.dataDirs) StampFolder(dir + "/applications", 4, out);
  return out;
}

std::set<std::string> MimeAppsLines(const XdgPaths& paths) {
  std::set<std::string> lines;
  for (const auto& [file, desktopSpecific] : MimeAppsFiles(paths)) {
    std::string text;
    files::ReadFileWhole(file, &text);  // a file that cannot be read has no lines
    std::string section;
    for (std::size_t start = 0; start < text.size();) {
      const std::size_t end = std::min(text.find('\n', start), text.size());
      std::string line = text.substr(start, end - start);
      start = end + 1;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (!line.empty() && line[0] == '[') section = line;
      else if (!line.empty() && line[0] != '#' && line.find('=') != std::string::npos)
        lines.insert(file + "\n" + section + "\n" + line);
    }
  }
  return lines;
}

bool RunHelper(const std::string& helper, const std::vector<std::string>& args, const std::string& input,
               std::string* out, std::string* error) {
  out->clear();
  int pipeFds[2], inputFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
    *error = "cannot run " + helper + ": " + std::strerror(errno);
    return false;
  }
  if (::pipe2(inputFds, O_CLOEXEC) != 0) {
    *error = "cannot run " + helper + ": " + std::strerror(errno);
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, inputFds[0], STDIN_FILENO);
  std::vector<char*> argv{const_cast<char*>(helper.c_str())};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = ::posix_spawn(&pid, helper.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  ::close(inputFds[0]);
  // A helper that hangs, or leaves a child holding its output open, must
  // not hang the program: it gets kHelperSeconds, then it is killed.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kHelperSeconds);
  const auto late = [&deadline] { return std::chrono::steady_clock::now() > deadline; };
  // A helper that ends before it reads raises SIGPIPE here: held, then taken.
  sigset_t sigpipe, previous;
  sigemptyset(&sigpipe);
  sigaddset(&sigpipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &sigpipe, &previous);
  ::fcntl(inputFds[1], F_SETFL, O_NONBLOCK);
  for (std::size_t done = 0; spawned == 0 && done < input.size() && !late();) {
    pollfd ready{inputFds[1], POLLOUT, 0};
    if (::poll(&ready, 1, 100) <= 0) continue;
    const ssize_t n = ::write(inputFds[1], input.data() + done, input.size() - done);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  ::close(inputFds[1]);
  const timespec now{0, 0};
  while (sigtimedwait(&sigpipe, nullptr, &now) > 0) {
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  int status = 0;
  bool ended = false, killed = false;
  char buffer[65536];
  while (spawned == 0) {
    pollfd ready{pipeFds[0], POLLIN, 0};
    const int polled = ::poll(&ready, 1, 100);
    if (polled < 0 && errno != EINTR) break;
    if (polled > 0) {
      const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      out->append(buffer, static_cast<std::size_t>(n));
      continue;
    }
    // Nothing to read for now: a helper that has ended said all it will.
    if (::waitpid(pid, &status, WNOHANG) == pid) {
      ended = true;
      break;
    }
    if (late()) {
      ::kill(pid, SIGKILL);
      killed = true;
      break;
    }
  }
  ::close(pipeFds[0]);
  if (spawned != 0) {
    *error = "cannot run " + helper + ": " + std::strerror(spawned);
    return false;
  }
  while (!ended && ::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (killed) {
    *error = helper + " gave no answer in " + std::to_string(kHelperSeconds) + " s";
    return false;
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
  *error = helper + " failed";
  return false;
}

ViewReader HelperReader(const std::string& helper) {
  return [helper](const ViewRequest& request, std::string* error) -> std::optional<std::vector<ViewRow>> {
    std::string input, bytes;
    for (const std::string& type : request.described) input += "d" + type + '\0';
    if (request.changed)
      for (const std::string& type : *request.changed) input += "k" + type + '\0';
    if (!RunHelper(helper, {"--request"}, input, &bytes, error)) return std::nullopt;
    std::optional<std::vector<ViewRow>> rows = DecodeRows(bytes);
    if (!rows) *error = helper + ": output is not a list of rows";
    return rows;
  };
}

std::string HelperBesideProgram() {
  char self[4096];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  std::string path = n > 0 ? std::string(self, static_cast<std::size_t>(n)) : std::string();
  return path.substr(0, path.rfind('/') + 1) + "zandrel-desktop-view";
}

}  // namespace zandrel::freedesktop
