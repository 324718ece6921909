#include "store/FileExists.h"

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <cstdlib>

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

namespace {

#ifdef _WIN32
// Replaces %NAME% by NAME's value; the CRT looks names up as Windows does,
// in any case.
std::string ExpandVariables(const std::string& text) {
  std::string out;
  std::size_t pos = 0;
  for (;;) {
    const std::size_t open = text.find('%', pos);
    const std::size_t close = open == std::string::npos ? open : text.find('%', open + 1);
    if (close == std::string::npos) return out + text.substr(pos);
    const std::string name = text.substr(open + 1, close - open - 1);
    const char* value = name.empty() ? nullptr : std::getenv(name.c_str());
    if (value == nullptr) {  // kept, and its closing "%" may open the next
      out += text.substr(pos, close - pos);
      pos = close;
      continue;
    }
    out += text.substr(pos, open - pos) + value;
    pos = close + 1;
  }
}
#endif

}  // namespace

std::string ProgramPath(const std::string& typed) {
  const std::size_t first = typed.find_first_not_of(' ');
  if (first == std::string::npos) return std::string();
  std::string path = typed.substr(first, typed.find_last_not_of(' ') - first + 1);
  if (path.size() >= 2 && path.front() == '"' && path.back() == '"') {
    // Blanks inside the quotes are no part of a path a user meant to give.
    path = path.substr(1, path.size() - 2);
    const std::size_t from = path.find_first_not_of(' ');
    path = from == std::string::npos ? std::string() : path.substr(from, path.find_last_not_of(' ') - from + 1);
  }
#ifdef _WIN32
  path = ExpandVariables(path);
#endif
  return path;
}

}  // namespace zandrel::store
