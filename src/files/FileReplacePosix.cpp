#include "files/FileReplace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

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

int Rename(const std::string& temporary, const std::string& path) {
  return ::rename(temporary.c_str(), path.c_str()) == 0 ? 0 : errno;
}

// The rename is durable only once the folder that holds both names is.
void SyncFolder(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

status::Status ReplaceFileWhole(const std::string& path, const std::string& bytes) {
  return ReplaceFileWhole(path, bytes, Rename);
}

status::Status ReplaceFileWhole(const std::string& given, const std::string& bytes, PutInPlace put) {
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
  std::string temporary = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + "." +
                          path.substr(slash == std::string::npos ? 0 : slash + 1) + ".zandrel-XXXXXX";
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return Failed(errno);
  const mode_t mask = ::umask(0);
  ::umask(mask);
  int error = 0;
  if (::fchmod(fd, exists ? (st.st_mode & 07777) : (0666 & ~mask)) != 0 || !WriteAll(fd, bytes) || ::fsync(fd) != 0)
    error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0) error = put(temporary, path);
  if (error != 0) {
    ::unlink(temporary.c_str());
    return Failed(error);
  }
  SyncFolder(path);
  return {};
}

}  // namespace zandrel::files
