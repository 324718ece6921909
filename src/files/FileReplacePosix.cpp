#include "files/FileReplace.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

namespace zandrel::files {

namespace {

status::Status Failed(int error) {
  return {status::Status::kFailed, std::string("cannot write the file: ") + std::strerror(error)};
}

// Writes all of `bytes` to fd; false with errno set when a write fails.
bool WriteAll(int fd, const std::string& bytes) {
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

int Descriptor(ReplaceSteps::File file) { return static_cast<int>(file); }

int Write(ReplaceSteps::File file, const std::string& bytes) {
  if (WriteAll(Descriptor(file), bytes)) return 0;
  return errno != 0 ? errno : EIO;  // a write that wrote nothing sets none
}

int Flush(ReplaceSteps::File file) { return ::fsync(Descriptor(file)) == 0 ? 0 : errno; }

int Rename(const std::string& temporary, const std::string& path) {
  return ::rename(temporary.c_str(), path.c_str()) == 0 ? 0 : errno;
}

void SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

const ReplaceSteps& SystemReplaceSteps() {
  static const ReplaceSteps steps{Write, Flush, Rename, SyncFolder};
  return steps;
}

status::Status ReplaceFileWhole(const std::string& path, const std::string& bytes) {
  return ReplaceFileWhole(path, bytes, SystemReplaceSteps());
}

status::Status ReplaceFileWhole(const std::string& given, const std::string& bytes, const ReplaceSteps& steps) {
  std::string path = given;
  if (char* real = ::realpath(given.c_str(), nullptr)) {
    path = real;
    std::free(real);
  }
  struct stat st {};
  const bool exists = ::stat(path.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) return {status::Status::kNotAFile, "is a folder, not a file"};
  if (exists && !S_ISREG(st.st_mode)) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return Failed(errno);
    status::Status result = WriteAll(fd, bytes) ? status::Status() : Failed(errno);
    if (::close(fd) != 0 && result.Ok()) result = Failed(errno);
    return result;
  }
  if (exists && ::access(path.c_str(), W_OK) != 0) return Failed(errno);
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  std::string temporary = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + "." +
                          path.substr(slash == std::string::npos ? 0 : slash + 1) + ".zandrel-XXXXXX";
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return Failed(errno);
  const mode_t mask = ::umask(0);
  ::umask(mask);
  const auto file = static_cast<ReplaceSteps::File>(fd);
  // The new file stays its owner's: one the administrator writes for a user
  // must remain that user's to write. Others cannot give a file away, and
  // need not, so a refusal here is no failure. For the same reason a file the
  // administrator makes in a user's folder becomes the folder owner's.
  uid_t owner = ::geteuid();
  gid_t group = ::getegid();
  struct stat in {};
  if (exists) {
    owner = st.st_uid;
    group = st.st_gid;
  } else if (owner == 0 && ::stat(folder.c_str(), &in) == 0 && in.st_uid != 0) {
    owner = in.st_uid;
    group = in.st_gid;
  }
  if ((owner != ::geteuid() || group != ::getegid()) && ::fchown(fd, owner, group) != 0)
    (void)::fchown(fd, static_cast<uid_t>(-1), group);
  int error = ::fchmod(fd, exists ? (st.st_mode & 07777) : (0666 & ~mask)) == 0 ? 0 : errno;
  if (error == 0) error = steps.write(file, bytes);
  if (error == 0) error = steps.flush(file);
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0) error = steps.put(temporary, path);
  if (error != 0) {
    ::unlink(temporary.c_str());
    return Failed(error);
  }
  // The rename is durable only once the folder that holds both names is.
  steps.syncFolder(folder);
  return {};
}

void SweepTemporaries(const std::string& folder, const std::function<bool(const std::string&)>& own) {
  static const std::string kMark = ".zandrel-";
  constexpr std::size_t kRandom = 6;
  constexpr time_t kLeftAfter = 60;  // seconds; no write takes as long
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return;
  std::vector<std::string> left;
  while (const dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name.size() < 2 + kMark.size() + kRandom || name[0] != '.') continue;
    const std::size_t mark = name.size() - kRandom - kMark.size();
    if (name.compare(mark, kMark.size(), kMark) != 0 || !std::all_of(name.end() - kRandom, name.end(), [](char c) {
          return std::isalnum(static_cast<unsigned char>(c));
        }))
      continue;
    struct stat st {};
    if (own(name.substr(1, mark - 1)) && ::stat((folder + "/" + name).c_str(), &st) == 0 &&
        st.st_mtime + kLeftAfter <= ::time(nullptr))
      left.push_back(name);
  }
  ::closedir(dir);
  for (const std::string& name : left) ::unlink((folder + "/" + name).c_str());
}

}  // namespace zandrel::files
