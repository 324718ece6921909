#include "registry/Names.h"

#include <locale.h>

#include <clocale>
#include <cwctype>

#include "text/Utf.h"

namespace zandrel::registry {
namespace {

#ifdef _WIN32
// The C runtime maps case in the user's locale (its "C" locale maps ASCII
// only); every Windows locale has Unicode's simple upper case for the BMP.
long UpperChar(long cp) {
  static const _locale_t locale = _create_locale(LC_CTYPE, "");
  if (!locale || cp > 0xFFFF) return cp;
  return static_cast<long>(_towupper_l(static_cast<wint_t>(cp), locale));
}
#else
// Case mappings come from glibc's built-in C.UTF-8 locale, whatever locale
// the process runs in, so that two processes always agree on name identity.
long UpperChar(long cp) {
  static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  return locale ? static_cast<long>(towupper_l(static_cast<wint_t>(cp), locale)) : cp;
}
#endif

constexpr struct {
  HKEY root;
  std::string_view long_name;
  std::string_view short_name;
} kRoots[] = {
    {HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT", "HKCR"},
    {HKEY_CURRENT_USER, "HKEY_CURRENT_USER", "HKCU"},
    {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", "HKLM"},
    {HKEY_USERS, "HKEY_USERS", "HKU"},
};

bool SameAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const char c = a[i] >= 'a' && a[i] <= 'z' ? static_cast<char>(a[i] - 32) : a[i];
    if (c != b[i]) return false;
  }
  return true;
}

}  // namespace

std::string UpperName(std::string_view name) {
  std::string out;
  AppendUpperName(name, &out);
  return out;
}

bool SameKeyName(std::string_view a, std::string_view b) { return UpperName(a) == UpperName(b); }

void AppendUpperName(std::string_view name, std::string* out) {
  const std::size_t start = out->size();
  out->resize(start + name.size());
  char* to = out->data() + start;
  std::size_t pos = 0;
  // ASCII names, by far the most common, need no decoding.
  for (; pos < name.size(); ++pos) {
    const char c = name[pos];
    if (static_cast<unsigned char>(c) >= 0x80) break;
    to[pos] = c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
  }
  if (pos == name.size()) return;
  out->resize(start + pos);
  while (pos < name.size()) {
    long cp;
    const std::size_t len = text::DecodeUtf8(name, pos, &cp);
    if (cp < 0) {
      out->push_back(name[pos]);
    } else if (cp < 0x80) {
      out->push_back(static_cast<char>(cp >= 'a' && cp <= 'z' ? cp - 32 : cp));
    } else {
      long upper = UpperChar(cp);
      // Never let a mapping leave the scalar range or turn non-ASCII into ASCII
      // (Windows keeps e.g. U+0131 and U+017F apart from I and S).
      if (upper < 0x80 || upper > 0x10FFFF || (upper >= 0xD800 && upper <= 0xDFFF)) upper = cp;
      text::AppendUtf8(upper, out);
    }
    pos += len;
  }
}

std::size_t NameChars(std::string_view name) {
  std::size_t count = 0;
  for (std::size_t pos = 0; pos < name.size();) {
    long cp;
    pos += text::DecodeUtf8(name, pos, &cp);
    count += cp > 0xFFFF ? 2 : 1;  // a surrogate pair
  }
  return count;
}

const char* RootName(HKEY root) {
  for (const auto& r : kRoots)
    if (r.root == root) return r.long_name.data();
  return "";
}

bool RootFromName(std::string_view name, bool short_too, HKEY* root) {
  for (const auto& r : kRoots) {
    if (SameAscii(name, r.long_name) || (short_too && SameAscii(name, r.short_name))) {
      *root = r.root;
      return true;
    }
  }
  return false;
}

}  // namespace zandrel::registry
