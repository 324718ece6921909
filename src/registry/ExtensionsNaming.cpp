// IRegistry::ExtensionsNamingTitle through the plain calls: what every
// registry without a faster way answers.
#include <string>
#include <vector>

#include "registry/Key.h"
#include "registry/Names.h"
#include "registry/Registry.h"

namespace zandrel {

namespace {

// Longest key name in bytes with its NUL; the largest default value read.
constexpr DWORD kNameBytes = MAX_KEY_NAME_CHARS * 4 + 1;
constexpr DWORD kDataBytes = 4096;

}  // namespace

LONG IRegistry::ExtensionsNamingTitle(const char* title, std::vector<std::string>* extensions) {
  extensions->clear();
  const std::string upper = registry::UpperName(title == nullptr ? "" : title);
  registry::Key classes(*this);
  LONG code = classes.Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes");
  if (code != ERROR_SUCCESS) return code;
  registry::ValueReader reader(*this);
  registry::Value value;
  char name[kNameBytes];
  for (DWORD index = 0;; ++index) {
    DWORD length = sizeof name;
    code = RegEnumKeyExA(classes.Handle(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (code == ERROR_MORE_DATA) continue;  // longer than any key name can be
    if (code != ERROR_SUCCESS) break;
    if (length == 0 || name[0] != '.') continue;
    registry::Key key(*this);
    if ((code = key.Open(classes.Handle(), name)) != ERROR_SUCCESS) break;
    // A REG_SZ default of at most kDataBytes, up to one terminating NUL.
    code = reader.Find(key.Handle(), "", kDataBytes, &value);
    if (code == ERROR_FILE_NOT_FOUND) continue;
    if (code != ERROR_SUCCESS) break;
    std::string_view text = value.data;
    if (value.type != REG_SZ || text.empty()) continue;
    if (text.back() == '\0') text.remove_suffix(1);
    if (registry::UpperName(text) == upper) extensions->emplace_back(name, length);
  }
  return code == ERROR_NO_MORE_ITEMS ? ERROR_SUCCESS : code;
}

}  // namespace zandrel
