#include "store/basZandrel.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zandrel::store {

bool FileExists(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos) return false;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st {};
  bool file = ::fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
  ::close(fd);
  return file;
}

}  // namespace zandrel::store
