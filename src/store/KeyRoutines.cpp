#include "store/KeyRoutines.h"

#include <locale.h>

#include <cstring>
#include <cwctype>

namespace zandrel::store {

std::string Trim(const std::string& text) {
  std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return std::string();
  std::size_t last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

std::string PrepareExtension(const std::string& text) {
  std::string e = Trim(text);
  if (e.empty() || e[0] != '.') e.insert(e.begin(), '.');
  return e;
}

namespace {

// The name as the registry compares it: each well-formed UTF-8 character
// replaced by its simple upper case (from glibc's C.UTF-8, whatever the
// process locale), never mapping non-ASCII onto ASCII; other bytes as they are.
#ifdef _WIN32
// Windows' C runtime maps case in the user's locale (its "C" locale maps ASCII
// only); every Windows locale has Unicode's simple upper case for the BMP.
char32_t UpperChar(char32_t c) {
  static const _locale_t locale = _create_locale(LC_CTYPE, "");
  if (!locale || c > 0xFFFF) return c;
  return static_cast<char32_t>(_towupper_l(static_cast<wint_t>(c), locale));
}
#else
char32_t UpperChar(char32_t c) {
  static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  return locale ? static_cast<char32_t>(towupper_l(static_cast<wint_t>(c), locale)) : c;
}
#endif

std::u32string ComparedName(const std::string& name) {
  std::u32string out;
  const auto* s = reinterpret_cast<const unsigned char*>(name.data());
  for (std::size_t i = 0, n = name.size(); i < n;) {
    const unsigned char b = s[i];
    const std::size_t len = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 0;
    bool valid = len > 1 && i + len <= n;
    char32_t c = len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
    for (std::size_t k = 1; valid && k < len; ++k) {
      valid = (s[i + k] & 0xC0) == 0x80;
      c = (c << 6) | (s[i + k] & 0x3F);
    }
    // Overlong forms and surrogates are not well-formed characters either.
    const char32_t least = len == 2 ? 0x80 : len == 3 ? 0x800 : 0x10000;
    valid = valid && c >= least && c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF);
    if (!valid) {
      // ASCII, or a byte that starts no well-formed character (kept apart
      // from any character by an offset past the Unicode range).
      out += b < 0x80 ? static_cast<char32_t>(b >= 'a' && b <= 'z' ? b - 32 : b) : 0x110000 + b;
      ++i;
      continue;
    }
    const char32_t upper = UpperChar(c);
    out += upper < 0x80 ? c : upper;
    i += len;
  }
  return out;
}

}  // namespace

bool SameKeyName(const std::string& a, const std::string& b) { return ComparedName(a) == ComparedName(b); }

std::vector<std::string> SubKeyNames(IRegistry& registry, HKEY key) {
  std::vector<std::string> names;
  char buffer[kNameBufferBytes];
  for (DWORD index = 0;; ++index) {
    DWORD length = kNameBufferBytes;
    LONG code = registry.RegEnumKeyExA(key, index, buffer, &length, nullptr, nullptr, nullptr, nullptr);
    if (code == ERROR_MORE_DATA) continue;
    if (code != ERROR_SUCCESS) break;
    if (length >= kNameBufferBytes) length = kNameBufferBytes - 1;
    names.emplace_back(buffer, strnlen(buffer, length));
  }
  return names;
}

bool SetKeyValue(IRegistry& registry, Prompter& prompter, HKEY root, const std::string& path,
                 const std::string& valueName, const std::string& value) {
  HKEY key = 0;
  if (registry.RegOpenKeyExA(root, path.c_str(), 0, KEY_WRITE, &key) != ERROR_SUCCESS) return false;
  LONG code = registry.RegSetValueExA(key, valueName.c_str(), 0, REG_SZ,
                                      reinterpret_cast<const BYTE*>(value.data()),
                                      static_cast<DWORD>(value.size()));
  if (code != ERROR_SUCCESS) prompter.MsgBox("Unable to set value of " + value + " to subkey " + valueName, MB_OK);
  registry.RegCloseKey(key);
  return code == ERROR_SUCCESS;
}

bool EnumSubKeys(IRegistry& registry, Prompter& prompter, HKEY root, const std::string& path) {
  HKEY key = 0;
  if (registry.RegOpenKeyExA(root, path.c_str(), 0, kWalkAccess, &key) != ERROR_SUCCESS) {
    prompter.MsgBox("Unable to open " + path, MB_OK);
    return false;
  }
  SubKeyNames(registry, key);
  registry.RegCloseKey(key);
  return true;
}

namespace {

// Deletes root\path after its subkeys, deepest first; true when it is gone.
bool DeleteTree(IRegistry& registry, HKEY root, const std::string& path) {
  HKEY key = 0;
  if (registry.RegOpenKeyExA(root, path.c_str(), 0, kWalkAccess, &key) != ERROR_SUCCESS) return false;
  std::vector<std::string> children = SubKeyNames(registry, key);
  registry.RegCloseKey(key);
  for (const std::string& child : children)
    if (child.empty() || !DeleteTree(registry, root, path + "\\" + child)) return false;

  std::size_t slash = path.rfind('\\');
  if (slash == std::string::npos) return registry.RegDeleteKeyA(root, path.c_str()) == ERROR_SUCCESS;
  HKEY parent = 0;
  if (registry.RegOpenKeyExA(root, path.substr(0, slash).c_str(), 0, kWalkAccess, &parent) != ERROR_SUCCESS)
    return false;
  LONG code = registry.RegDeleteKeyA(parent, path.substr(slash + 1).c_str());
  registry.RegCloseKey(parent);
  return code == ERROR_SUCCESS;
}

}  // namespace

bool DeleteKey(IRegistry& registry, Prompter& prompter, HKEY root, const std::string& path) {
  std::string p = path;
  if (!p.empty() && p.back() == '\\') p.pop_back();
  if (p.empty()) return false;
  if (!EnumSubKeys(registry, prompter, root, p)) return false;
  return DeleteTree(registry, root, p);
}

}  // namespace zandrel::store
