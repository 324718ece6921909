#include "bench/StoreShape.h"

#include <cstdint>
#include <cstdio>

#include "regfile/RegParser.h"
#include "text/Utf.h"

namespace zandrel::bench {
namespace {

// splitmix64: the same sequence on every machine and compiler.
class Rng {
 public:
  explicit Rng(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // 0 .. n-1
  std::size_t Below(std::size_t n) { return static_cast<std::size_t>(Next() % n); }
  // True with the given percentage.
  bool Percent(int p) { return Below(100) < static_cast<std::size_t>(p); }
  // 0 .. n-1, the low end far more likely: a few titles are shared by many
  // extensions, most by one or two.
  std::size_t Skewed(std::size_t n) {
    const double u = static_cast<double>(Next() >> 11) / 9007199254740992.0;
    return static_cast<std::size_t>(u * u * static_cast<double>(n));
  }

 private:
  std::uint64_t state_;
};

std::string Base36(std::size_t v) {
  static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::string s;
  do {
    s.insert(s.begin(), kDigits[v % 36]);
    v /= 36;
  } while (v != 0);
  return s;
}

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

GenValue Sz(std::string name, const std::string& text) {
  return GenValue{std::move(name), REG_SZ, text + std::string(1, '\0')};
}

GenValue ExpandSz(std::string name, const std::string& text) {
  return GenValue{std::move(name), REG_EXPAND_SZ, text + std::string(1, '\0')};
}

GenValue Dword(std::string name, std::uint32_t v) {
  std::string data(4, '\0');
  for (int i = 0; i < 4; ++i) data[static_cast<std::size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
  return GenValue{std::move(name), REG_DWORD, data};
}

std::string Guid(Rng& rng, std::size_t index) {
  char buffer[48];
  const std::uint64_t a = rng.Next();
  const std::uint64_t b = rng.Next();
  // The index in the first group keeps every GUID of one store distinct.
  std::snprintf(buffer, sizeof buffer, "{%08zX-%04X-%04X-%04X-%012llX}", index, static_cast<unsigned>(a & 0xFFFF),
                static_cast<unsigned>((a >> 16) & 0xFFFF), static_cast<unsigned>((a >> 32) & 0xFFFF),
                static_cast<unsigned long long>(b & 0xFFFFFFFFFFFFull));
  return buffer;
}

const char* const kVendors[] = {"Microsoft", "Adobe", "Mozilla", "VideoLAN", "Яндекс", "Kaspersky",
                                "Oracle",    "Corel", "7-Zip",   "WinRAR",   "ABBYY",  "1С"};
const char* const kPrograms[] = {"app.exe",    "viewer.exe",  "editor.exe",  "Программа.exe",
                                 "player.exe", "winword.exe", "notepad.exe", "reader.exe"};
const char* const kContentTypes[] = {"text/plain", "image/png", "application/zip",
                                     "audio/mpeg", "video/mp4", "application/x-msdownload"};
const char* const kPerceived[] = {"text", "image", "compressed", "audio", "video", "document"};

std::string ProgramPath(Rng& rng, std::size_t vendor) {
  const char* v = kVendors[vendor % std::size(kVendors)];
  return std::string("C:\\Program Files\\") + v + "\\" + kPrograms[rng.Below(std::size(kPrograms))];
}

struct Title {
  std::string name;
  bool hasCommand = true;  // whether the listing finds a command for it
};

}  // namespace

GeneratedStore GenerateStore(const StoreSize& size) {
  GeneratedStore out;
  out.size = size;
  Rng rng(0x5A4E44524C000000ull ^ static_cast<std::uint64_t>(size.directKeys) * 1000003u ^
          static_cast<std::uint64_t>(size.extensions));
  std::vector<GenKey>& keys = out.keys;
  auto add = [&keys](std::string path, std::vector<GenValue> values = {}) {
    keys.push_back(GenKey{std::move(path), std::move(values)});
  };

  const std::size_t extensions = static_cast<std::size_t>(size.extensions);
  const std::size_t titleCount = extensions * 11 / 20;
  const char* const fixed[] = {"*",      "AllFilesystemObjects", "CLSID", "Directory", "Drive", "Folder", "Interface",
                               "TypeLib"};
  const std::size_t progIds = static_cast<std::size_t>(size.directKeys) - extensions - titleCount - std::size(fixed);

  // Title keys: description, icon, verbs. A few have no open command, or a
  // command key whose first value is a named one; a few command keys carry a
  // subkey of their own that the walk descends into.
  std::vector<Title> titles;
  titles.reserve(titleCount);
  for (std::size_t i = 0; i < titleCount; ++i) {
    Title t;
    const std::size_t vendor = rng.Below(std::size(kVendors));
    switch (rng.Below(10)) {
      case 0: t.name = "Документ." + Base36(i); break;
      case 1: t.name = Base36(i) + "file"; break;
      case 2: t.name = std::string(kVendors[vendor]) + " Document " + Base36(i); break;
      default: t.name = std::string(kVendors[vendor]) + "." + "Document." + Base36(i); break;
    }
    const std::string program = ProgramPath(rng, vendor);
    std::vector<GenValue> values = {Sz("", "Файл типа " + Base36(i))};
    if (rng.Percent(40))
      values.push_back(ExpandSz("FriendlyTypeName",
                                "@%SystemRoot%\\system32\\shell32.dll,-" + std::to_string(10000 + i)));
    if (rng.Percent(30)) values.push_back(Dword("EditFlags", 0x10000));
    add(t.name, std::move(values));
    add(t.name + "\\DefaultIcon", {Sz("", program + "," + std::to_string(rng.Below(8)))});
    add(t.name + "\\shell", {Sz("", "open")});
    const int kind = static_cast<int>(rng.Below(100));
    if (kind < 4) {
      t.hasCommand = false;  // no open verb at all
      add(t.name + "\\shell\\edit");
      add(t.name + "\\shell\\edit\\command", {Sz("", program + " /edit \"%1\"")});
    } else {
      add(t.name + "\\shell\\open",
          rng.Percent(30) ? std::vector<GenValue>{Sz("MUIVerb", "Открыть")} : std::vector<GenValue>{});
      if (kind < 7) {
        t.hasCommand = false;  // the first value is a named one
        add(t.name + "\\shell\\open\\command",
            {Sz("DelegateExecute", Guid(rng, i)), Sz("", "\"" + program + "\" \"%1\"")});
      } else {
        add(t.name + "\\shell\\open\\command", {Sz("", "\"" + program + "\" \"%1\"")});
        if (kind < 9) add(t.name + "\\shell\\open\\command\\ddeexec", {Sz("", "\"" + program + "\" /dde \"%1\"")});
      }
      if (rng.Percent(25)) {
        add(t.name + "\\shell\\print");
        add(t.name + "\\shell\\print\\command", {Sz("", "\"" + program + "\" /p \"%1\"")});
      }
    }
    titles.push_back(std::move(t));
  }

  // Extension keys.
  for (std::size_t i = 0; i < extensions; ++i) {
    std::string name;
    switch (rng.Below(20)) {
      case 0: name = ".д" + Base36(i); break;
      case 1:
      case 2: name = "." + Upper("x" + Base36(i)); break;
      default: name = ".x" + Base36(i); break;
    }
    std::string titleName;
    const Title* title = nullptr;
    if (rng.Percent(6)) {
      titleName = "Missing.Title." + Base36(i);  // names a title key that is not there
    } else {
      title = &titles[rng.Skewed(titles.size())];
      titleName = title->name;
    }
    std::vector<GenValue> named;
    if (rng.Percent(50)) named.push_back(Sz("Content Type", kContentTypes[rng.Below(std::size(kContentTypes))]));
    if (rng.Percent(40)) named.push_back(Sz("PerceivedType", kPerceived[rng.Below(std::size(kPerceived))]));
    std::vector<GenValue> values;
    bool row = true;
    const int kind = static_cast<int>(rng.Below(100));
    if (kind < 62) {  // default first
      values.push_back(Sz("", titleName));
      values.insert(values.end(), named.begin(), named.end());
    } else if (kind < 90) {  // default after the named values
      values = named;
      values.push_back(Sz("", titleName));
    } else if (kind < 94) {  // no default value
      values = named;
      values.push_back(GenValue{"NullFile", REG_SZ, std::string(1, '\0')});
      row = false;
    } else if (kind < 96) {  // a default of another type
      values.push_back(ExpandSz("", titleName));
      row = false;
    } else if (kind < 98) {  // a blank default
      values.push_back(Sz("", "   "));
      row = false;
    } else {  // an empty default (size 0)
      values.push_back(GenValue{"", REG_SZ, std::string()});
      row = false;
    }
    add(name, std::move(values));
    if (rng.Percent(30)) {
      add(name + "\\OpenWithProgids", {GenValue{titleName, REG_NONE, std::string()},
                                       GenValue{"Applications." + Base36(i), REG_NONE, std::string()}});
    }
    if (rng.Percent(10)) add(name + "\\ShellNew", {Sz("NullFile", "")});
    if (rng.Percent(5)) add(name + "\\PersistentHandler", {Sz("", Guid(rng, i))});
    if (row) {
      ++out.rowsAfterExtensionPass;
      if (title != nullptr && title->hasCommand) ++out.listedRows;
    }
  }

  // ProgIDs and other classes that no extension names.
  for (std::size_t i = 0; i < progIds; ++i) {
    const std::size_t vendor = rng.Below(std::size(kVendors));
    std::string name =
        rng.Percent(5) ? "Программа." + Base36(i) : std::string(kVendors[vendor]) + ".Component." + Base36(i);
    add(name, {Sz("", "Component " + Base36(i))});
    if (rng.Percent(50)) add(name + "\\CLSID", {Sz("", Guid(rng, i))});
    if (rng.Percent(30)) add(name + "\\CurVer", {Sz("", name + ".1")});
    if (rng.Percent(15)) {
      add(name + "\\shell");
      add(name + "\\shell\\open");
      add(name + "\\shell\\open\\command", {Sz("", "\"" + ProgramPath(rng, vendor) + "\" \"%1\"")});
    }
  }

  // The fixed classes with their trees.
  for (const char* f : fixed) add(f);
  add("*\\shellex");
  add("*\\shellex\\ContextMenuHandlers");
  add("Directory\\shell");
  add("Folder\\shell");
  const std::size_t clsids = static_cast<std::size_t>(size.directKeys) / 5;
  for (std::size_t i = 0; i < clsids; ++i) {
    const std::string g = "CLSID\\" + Guid(rng, i);
    add(g, {Sz("", "Component class " + Base36(i))});
    add(g + "\\InprocServer32", {ExpandSz("", "%SystemRoot%\\system32\\c" + Base36(i) + ".dll"),
                                 Sz("ThreadingModel", rng.Percent(70) ? "Apartment" : "Both")});
    if (rng.Percent(40)) add(g + "\\ProgID", {Sz("", "Component." + Base36(i) + ".1")});
    if (rng.Percent(20)) {
      add(g + "\\Implemented Categories");
      add(g + "\\Implemented Categories\\" + Guid(rng, i));
    }
  }
  for (std::size_t i = 0; i < static_cast<std::size_t>(size.directKeys) / 20; ++i) {
    const std::string g = "Interface\\" + Guid(rng, i);
    add(g, {Sz("", "IComponent" + Base36(i))});
    add(g + "\\ProxyStubClsid32", {Sz("", Guid(rng, i))});
  }
  for (std::size_t i = 0; i < static_cast<std::size_t>(size.directKeys) / 50; ++i) {
    const std::string g = "TypeLib\\" + Guid(rng, i);
    add(g);
    add(g + "\\1.0", {Sz("", "Type library " + Base36(i))});
    add(g + "\\1.0\\0");
    add(g + "\\1.0\\0\\win32", {Sz("", "C:\\Windows\\system32\\t" + Base36(i) + ".tlb")});
  }
  return out;
}

namespace {

std::string EscapeRegString(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out;
}

// hex(N): bytes, wrapped near 80 columns as regedit does.
void AppendHex(std::string& out, std::size_t lineStart, const std::string& bytes) {
  static const char kHex[] = "0123456789abcdef";
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    out += kHex[b >> 4];
    out += kHex[b & 15];
    if (i + 1 < bytes.size()) {
      out += ',';
      if (out.size() - lineStart > 76) {
        out += "\\\r\n  ";
        lineStart = out.size() - 2;
      }
    }
  }
}

}  // namespace

std::string ToRegText(const GeneratedStore& store) {
  std::string text = std::string(regfile::kHeader5) + "\r\n\r\n";
  for (const GenKey& key : store.keys) {
    text += "[HKEY_CLASSES_ROOT\\" + key.path + "]\r\n";
    for (const GenValue& v : key.values) {
      const std::size_t lineStart = text.size();
      if (v.name.empty()) {
        text += '@';
      } else {
        text += '"';
        text += EscapeRegString(v.name);
        text += '"';
      }
      text += '=';
      if (v.type == REG_SZ && !v.data.empty()) {
        text += '"';
        text += EscapeRegString(v.data.substr(0, v.data.size() - 1));
        text += '"';
      } else if (v.type == REG_DWORD && v.data.size() == 4) {
        std::uint32_t d = 0;
        for (int i = 3; i >= 0; --i) d = (d << 8) | static_cast<unsigned char>(v.data[static_cast<std::size_t>(i)]);
        char buffer[16];
        std::snprintf(buffer, sizeof buffer, "dword:%08x", d);
        text += buffer;
      } else {
        std::string bytes = v.data;
        if (v.type == REG_EXPAND_SZ || v.type == REG_MULTI_SZ) {
          // String types written as hex are UTF-16LE in a Version 5.00 file.
          const std::u16string wide = text::Utf8ToUtf16(v.data);
          bytes.clear();
          for (char16_t c : wide) {
            bytes += static_cast<char>(c & 0xFF);
            bytes += static_cast<char>(c >> 8);
          }
        }
        text += "hex(" + std::to_string(v.type) + "):";
        AppendHex(text, lineStart, bytes);
      }
      text += "\r\n";
    }
    text += "\r\n";
  }
  const std::u16string wide = text::Utf8ToUtf16(text);
  std::string bytes = "\xFF\xFE";
  bytes.reserve(2 + wide.size() * 2);
  for (char16_t c : wide) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  return bytes;
}

LONG WriteStore(IRegistry& registry, const GeneratedStore& store) {
  RegistryTransaction transaction(registry);
  if (transaction.BeginCode() != ERROR_SUCCESS) return transaction.BeginCode();
  for (const GenKey& key : store.keys) {
    HKEY h = 0;
    LONG code = registry.RegCreateKeyExA(HKEY_CLASSES_ROOT, key.path.c_str(), 0, "", REG_OPTION_NON_VOLATILE,
                                         KEY_ALL_ACCESS, nullptr, &h, nullptr);
    if (code != ERROR_SUCCESS) return code;
    for (const GenValue& v : key.values) {
      code = registry.RegSetValueExA(h, v.name.c_str(), 0, v.type, reinterpret_cast<const BYTE*>(v.data.data()),
                                     static_cast<DWORD>(v.data.size()));
      if (code != ERROR_SUCCESS) break;
    }
    registry.RegCloseKey(h);
    if (code != ERROR_SUCCESS) return code;
  }
  return transaction.Commit();
}

}  // namespace zandrel::bench
