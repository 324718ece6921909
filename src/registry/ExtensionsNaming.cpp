// IRegistry::ExtensionsNamingTitle through the plain calls: what every
// registry without a faster way answers.
#include <string>
#include <vector>

#include "registry/Key.h"
#include "registry/Names.h"
#include "registry/Registry.h"

namespace zandrel {

namespace {

// The largest default value read.
constexpr DWORD kDataBytes = 4096;

}  // namespace

LONG IRegistry::ExtensionsNamingTitle(const char* title, std::vector<std::string>* extensions) {
  extensions->clear();
  const std::string upper = registry::UpperName(title == nullptr ? "" : title);
  registry::Key classes(*this);
  if (const LONG code = classes.Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes"); code != ERROR_SUCCESS) return code;
  registry::ValueReader reader(*this);
  registry::Value value;
  return registry::EachSubKey(*this, classes.Handle(), [&](DWORD, std::string_view name) {
    if (name.empty() || name[0] != '.') return ERROR_SUCCESS;
    registry::Key key(*this);
    if (const LONG opened = key.Open(classes.Handle(), std::string(name)); opened != ERROR_SUCCESS) return opened;
    // A REG_SZ default of at most kDataBytes, up to one terminating NUL.
    const LONG found = reader.Find(key.Handle(), "", kDataBytes, &value);
    if (found != ERROR_SUCCESS) return found == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : found;
    std::string_view text = value.data;
    if (value.type != REG_SZ || text.empty()) return ERROR_SUCCESS;
    if (text.back() == '\0') text.remove_suffix(1);
    if (registry::UpperName(text) == upper) extensions->emplace_back(name);
    return ERROR_SUCCESS;
  });
}

}  // namespace zandrel
