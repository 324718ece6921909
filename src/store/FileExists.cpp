#include "store/FileExists.h"

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace zandrel::store {

bool FileExists(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos) return false;
#ifdef _WIN32
  // The path is in the ANSI code page, UTF-8 by the program's manifest. A
  // folder does not open here.
  int fd = ::_open(path.c_str(), _O_RDONLY | _O_BINARY | _O_SEQUENTIAL);
  if (fd < 0) return false;
  struct _stat64 st {};
  bool file = ::_fstat64(fd, &st) == 0 && (st.st_mode & _S_IFDIR) == 0;
  ::_close(fd);
#else
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st {};
  bool file = ::fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
  ::close(fd);
#endif
  return file;
}

}  // namespace zandrel::store
