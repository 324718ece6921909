// IRegistry::ExtensionsNamingTitle through the plain calls: what every
// registry without a faster way answers.
#include <string>
#include <vector>

#include "registry/Names.h"
#include "registry/Registry.h"

namespace zandrel {

namespace {

// Longest key name in bytes with its NUL; the largest default value read.
constexpr DWORD kNameBytes = MAX_KEY_NAME_CHARS * 4 + 1;
constexpr DWORD kDataBytes = 4096;

// The default value of the open `key` when it is a REG_SZ of at most
// kDataBytes, up to one terminating NUL, into *text: 0 (*found says whether
// there is one), or the failing code.
LONG DefaultString(IRegistry& registry, HKEY key, bool* found, std::string* text) {
  *found = false;
  char name[kNameBytes];
  std::string data(kDataBytes, '\0');
  for (DWORD index = 0;; ++index) {
    DWORD nameLength = sizeof name, size = kDataBytes, type = REG_NONE;
    const LONG code = registry.RegEnumValueA(key, index, name, &nameLength, nullptr, &type,
                                             reinterpret_cast<BYTE*>(data.data()), &size);
    if (code == ERROR_MORE_DATA) continue;
    if (code == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (code != ERROR_SUCCESS) return code;
    if (nameLength != 0 || size == 0) continue;
    *found = type == REG_SZ;
    text->assign(data, 0, data[size - 1] == '\0' ? size - 1 : size);
    return ERROR_SUCCESS;
  }
}

}  // namespace

LONG IRegistry::ExtensionsNamingTitle(const char* title, std::vector<std::string>* extensions) {
  extensions->clear();
  const std::string upper = registry::UpperName(title == nullptr ? "" : title);
  HKEY classes = 0;
  LONG code = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes", 0, KEY_READ, &classes);
  if (code != ERROR_SUCCESS) return code;
  char name[kNameBytes];
  std::string text;
  for (DWORD index = 0;; ++index) {
    DWORD length = sizeof name;
    code = RegEnumKeyExA(classes, index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (code == ERROR_MORE_DATA) continue;  // longer than any key name can be
    if (code != ERROR_SUCCESS) break;
    if (length == 0 || name[0] != '.') continue;
    HKEY key = 0;
    if ((code = RegOpenKeyExA(classes, name, 0, KEY_READ, &key)) != ERROR_SUCCESS) break;
    bool found = false;
    code = DefaultString(*this, key, &found, &text);
    RegCloseKey(key);
    if (code != ERROR_SUCCESS) break;
    if (found && registry::UpperName(text) == upper) extensions->emplace_back(name, length);
  }
  RegCloseKey(classes);
  return code == ERROR_NO_MORE_ITEMS ? ERROR_SUCCESS : code;
}

}  // namespace zandrel
