// Key paths as the command line and .reg files give them, and the paths a
// walk hands over.
#include <string>
#include <string_view>

#include "registry/KeyPath.h"
#include "registry/Names.h"
#include "registry/Subtree.h"

namespace zandrel::registry {

bool ParseKeyPath(std::string_view path, HKEY* root, std::string* sub_path) {
  const std::size_t slash = path.find('\\');
  if (!RootFromName(path.substr(0, slash), true, root)) return false;
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

const std::string& WalkPath::Enter(std::size_t depth, std::string_view name) {
  if (depth == 0) {
    path_ = title_;
  } else {
    path_.resize(ends_[depth - 1]);
    path_.push_back('\\');
    path_.append(name);
  }
  ends_.resize(depth + 1);
  ends_[depth] = path_.size();
  return path_;
}

}  // namespace zandrel::registry
