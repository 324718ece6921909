#include "files/FileRead.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "text/LargePages.h"

// Windows' C runtime has neither flag, and opens files as text unless told.
#ifdef _WIN32
#define ZANDREL_READ_FLAGS (O_RDONLY | O_BINARY)
#else
#define ZANDREL_READ_FLAGS (O_RDONLY | O_CLOEXEC | O_NOCTTY)
#endif

namespace zandrel::files {

namespace {

using status::Status;

constexpr std::size_t kStep = std::size_t{1} << 16;

std::size_t Plus(std::size_t a, std::size_t b) { return a > SIZE_MAX - b ? SIZE_MAX : a + b; }

Status Failed(int error) {
  return {error == ENOENT || error == ENOTDIR ? Status::kNotFound : Status::kFailed,
          std::string("cannot read the file: ") + std::strerror(error)};
}

}  // namespace

Status ReadFileWhole(const std::string& path, std::string* bytes, std::size_t limit) {
  bytes->clear();
  const int fd = ::open(path.c_str(), ZANDREL_READ_FLAGS);
  if (fd < 0) return Failed(errno);
  struct stat st {};
  Status result;
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    result = {Status::kNotAFile, "is a folder, not a file"};
  } else if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) {
    result = {Status::kNotAFile, "is a device, not a file"};
  }
  // Read straight into the text, sized by the file's size when it tells
  // one; it grows as needed (a pipe, a file still being written), to a
  // little past the limit, which shows a file too large.
  const std::size_t most = Plus(limit, kStep);
  const std::size_t told = S_ISREG(st.st_mode) ? static_cast<std::size_t>(st.st_size) + 1 : 0;
  std::size_t used = 0;
  if (result.Ok()) {
    bytes->reserve(std::min(Plus(std::min(told, Plus(limit, 1)), kStep), most));
    text::AdviseLargePages(bytes->data(), bytes->capacity());
    bytes->resize(bytes->capacity());
  }
  while (result.Ok()) {
    if (used == bytes->size()) bytes->resize(std::min(2 * bytes->size(), most));
    const ssize_t n = ::read(fd, bytes->data() + used, bytes->size() - used);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      result = Failed(errno);
    } else if (n == 0) {
      break;
    } else if ((used += static_cast<std::size_t>(n)) > limit) {
      result = {Status::kTooLarge, "larger than " + std::to_string(limit) + " bytes"};
    }
  }
  bytes->resize(std::min(used, bytes->size()));
  ::close(fd);
  return result;
}

}  // namespace zandrel::files
