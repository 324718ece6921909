// zandrel-reg: the registry's command-line tool, with reg.exe's verbs over the
// default hive (ZANDREL_HIVE names another file), or in the Windows build over
// the machine's registry (an import is all or nothing there too).
//   zandrel-reg import FILE        .reg file in, all or nothing
//   zandrel-reg export KEY FILE    subtree out, Version 5.00, UTF-16LE
//   zandrel-reg query KEY [/s]     values (and with /s the subtree), reg.exe layout
//   zandrel-reg desktop            brings the desktop's associations in line with the store (Linux)
// Exit status 0 on success, 1 on any error with one line on stderr.
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#ifdef _WIN32
#include "platform/win32/Win32Registry.h"
#else
#include "platform/hive/Hive.h"
#endif
#include "files/FileReplace.h"
#include "regfile/RegFile.h"
#ifdef ZANDREL_HAVE_DESKTOP
#include "platform/desktop/DesktopProjection.h"
#endif

namespace {

using namespace zandrel;

#ifdef ZANDREL_HAVE_DESKTOP
constexpr const char* kUsage = "usage: zandrel-reg import FILE | export KEY FILE | query KEY [/s] | desktop";
#else
constexpr const char* kUsage = "usage: zandrel-reg import FILE | export KEY FILE | query KEY [/s]";
#endif

int Fail(const std::string& message) {
  std::cerr << "zandrel-reg: " << message << "\n";
  return 1;
}

const char* TypeName(DWORD type) {
  switch (type) {
    case REG_NONE:
      return "REG_NONE";
    case REG_SZ:
      return "REG_SZ";
    case REG_EXPAND_SZ:
      return "REG_EXPAND_SZ";
    case REG_BINARY:
      return "REG_BINARY";
    case REG_DWORD:
      return "REG_DWORD";
    case REG_DWORD_BIG_ENDIAN:
      return "REG_DWORD_BIG_ENDIAN";
    case REG_LINK:
      return "REG_LINK";
    case REG_MULTI_SZ:
      return "REG_MULTI_SZ";
    case REG_QWORD:
      return "REG_QWORD";
    default:
      return "REG_UNKNOWN";
  }
}

std::string FormatData(DWORD type, const std::string& data) {
  char buffer[32];
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
      return data.substr(0, data.find('\0'));
    case REG_MULTI_SZ: {
      // Strings separated by \0, as reg.exe shows them.
      std::string out;
      std::size_t start = 0;
      while (start < data.size()) {
        const std::size_t end = data.find('\0', start);
        const std::string item = data.substr(start, end == std::string::npos ? end : end - start);
        if (item.empty()) break;
        if (!out.empty()) out += "\\0";
        out += item;
        if (end == std::string::npos) break;
        start = end + 1;
      }
      return out;
    }
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN:
      if (data.size() == 4) {
        unsigned long v = 0;
        for (int i = 0; i < 4; ++i) {
          const int at = type == REG_DWORD ? 3 - i : i;
          v = (v << 8) | static_cast<unsigned char>(data[at]);
        }
        std::snprintf(buffer, sizeof buffer, "0x%lx", v);
        return buffer;
      }
      break;
    case REG_QWORD:
      if (data.size() == 8) {
        unsigned long long v = 0;
        for (int i = 7; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(data[i]);
        std::snprintf(buffer, sizeof buffer, "0x%llx", v);
        return buffer;
      }
      break;
    default:
      break;
  }
  std::string out;
  for (unsigned char c : data) {
    std::snprintf(buffer, sizeof buffer, "%02X", c);
    out += buffer;
  }
  return out;
}

// Prints one key in reg.exe's layout; with recurse, its subtree after it.
LONG QueryKey(IRegistry& registry, HKEY key, const std::string& title, bool recurse,
              std::string* out) {
  std::vector<hive::KeyValue> values;
  std::vector<std::string> children;
  if (LONG code = hive::ReadKeyContents(registry, key, &values, &children); code != ERROR_SUCCESS)
    return code;
  *out += "\n" + title + "\n";
  for (const hive::KeyValue& value : values)
    *out += "    " + (value.name.empty() ? std::string("(Default)") : value.name) + "    " +
            TypeName(value.type) + "    " + FormatData(value.type, value.data) + "\n";
  if (!recurse) {
    if (!children.empty()) *out += "\n";
    for (const std::string& child : children) *out += title + "\\" + child + "\n";
    return ERROR_SUCCESS;
  }
  for (const std::string& child : children) {
    HKEY sub = 0;
    LONG code = registry.RegOpenKeyExA(key, child.c_str(), 0, KEY_READ, &sub);
    if (code != ERROR_SUCCESS) return code;
    code = QueryKey(registry, sub, title + "\\" + child, true, out);
    registry.RegCloseKey(sub);
    if (code != ERROR_SUCCESS) return code;
  }
  return ERROR_SUCCESS;
}

// After a successful import, lines whose value regedit leaves out too are
// named on stderr. The first kShownNotes are shown, then their count.
constexpr std::size_t kShownNotes = 20;

int Import(IRegistry& registry, const std::string& file) {
  const hive::RegImportResult result = hive::ImportRegFile(registry, file);
  if (!result.ok) return Fail(result.message);
  for (std::size_t i = 0; i < result.notes.size() && i < kShownNotes; ++i)
    std::cerr << "zandrel-reg: " << result.notes[i] << "\n";
  if (result.notes.size() > kShownNotes)
    std::cerr << "zandrel-reg: " << file << ": " << result.notes.size() - kShownNotes << " more lines not imported\n";
  return 0;
}


int Export(IRegistry& registry, const std::string& key, const std::string& file) {
  std::string bytes;
  std::string error;
  if (hive::ExportRegText(registry, key, &bytes, &error) != ERROR_SUCCESS) return Fail(error);
  error = files::ReplaceFileWhole(file, bytes);
  if (!error.empty()) return Fail(file + ": " + error);
  return 0;
}

int Query(IRegistry& registry, const std::string& key_path, bool recurse) {
  HKEY root = 0;
  std::string sub;
  if (!hive::ParseKeyPath(key_path, &root, &sub)) {
    return Fail("unknown root key in \"" + key_path + "\"");
  }
  HKEY key = 0;
  LONG code = registry.RegOpenKeyExA(root, sub.c_str(), 0, KEY_READ, &key);
  if (code == ERROR_FILE_NOT_FOUND) return Fail("the key \"" + key_path + "\" does not exist");
  if (code != ERROR_SUCCESS) {
    return Fail("cannot open the key \"" + key_path + "\" (error " + std::to_string(code) + ")");
  }
  std::string out;
  code =
      QueryKey(registry, key, std::string(hive::RootName(root)) + (sub.empty() ? "" : "\\" + sub),
               recurse, &out);
  if (key != root) registry.RegCloseKey(key);
  if (code != ERROR_SUCCESS) {
    return Fail("cannot read the key \"" + key_path + "\" (error " + std::to_string(code) + ")");
  }
  std::cout << out;
  std::cout.flush();
  return std::cout ? 0 : Fail("cannot write the output");
}

#ifdef ZANDREL_HAVE_DESKTOP
int Desktop(IRegistry& registry) {
  const desktop::ProjectionReport report =
      desktop::ProjectAssociations(registry, desktop::XdgPaths::FromEnvironment());
  if (!report.error.empty()) return Fail(report.error);
  std::cout << report.projected << " associations open files on this desktop, " << report.skipped
            << " have no program here; " << report.filesChanged << " files changed\n";
  std::cout.flush();
  return std::cout ? 0 : Fail("cannot write the output");
}
#endif

int Run(const std::vector<std::string>& args) {
  const std::string verb = args.empty() ? "" : args[0];
  bool recurse = false;
  if (verb == "query" && args.size() == 3) {
    if (args[2] != "/s" && args[2] != "/S") return Fail(kUsage);
    recurse = true;
  }
  const bool shape_ok = (verb == "import" && args.size() == 2) ||
                        (verb == "export" && args.size() == 3) ||
                        (verb == "query" && (args.size() == 2 || args.size() == 3));
#ifdef ZANDREL_HAVE_DESKTOP
  if (verb == "desktop" && args.size() == 1) {
    std::string error;
    auto registry = zandrel::hive::OpenDefaultHive(&error);
    return registry ? Desktop(*registry) : Fail(error);
  }
#endif
  if (!shape_ok) return Fail(kUsage);
  std::string error;
#ifdef _WIN32
  auto registry = zandrel::win32::OpenWindowsRegistry(zandrel::win32::DefaultUndoPlace(), &error);
#else
  auto registry = zandrel::hive::OpenDefaultHive(&error);
#endif
  if (!registry) return Fail(error);
  if (verb == "import") return Import(*registry, args[1]);
  if (verb == "export") return Export(*registry, args[1], args[2]);
  return Query(*registry, args[1], recurse);
}

}  // namespace

int main(int argc, char** argv) {
  // Nothing is expected to throw; should anything (memory), it ends as one
  // line and status 1 rather than an abort.
  try {
    return Run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::exception& e) {
    return Fail(e.what());
  }
}
