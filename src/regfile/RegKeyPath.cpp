// Key paths as the command line gives them: a root's long or short name,
// then the path below it.
#include <string>
#include <string_view>

#include "regfile/RegFile.h"
#include "registry/Names.h"

namespace zandrel::regfile {

bool ParseKeyPath(std::string_view path, HKEY* root, std::string* sub_path) {
  const std::size_t slash = path.find('\\');
  if (!registry::RootFromName(path.substr(0, slash), true, root)) return false;
  sub_path->clear();
  if (slash == std::string_view::npos) return true;
  std::string_view rest = path.substr(slash + 1);
  while (!rest.empty()) {
    const std::size_t next = rest.find('\\');
    const std::string_view part = rest.substr(0, next);
    if (!part.empty()) {
      if (!sub_path->empty()) sub_path->push_back('\\');
      sub_path->append(part);
    }
    if (next == std::string_view::npos) break;
    rest.remove_prefix(next + 1);
  }
  return true;
}

}  // namespace zandrel::regfile
