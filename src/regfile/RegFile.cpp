#include "regfile/RegFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Windows' C runtime has neither flag, and opens files as text unless told.
#ifdef _WIN32
#define ZANDREL_OPEN_FLAGS (O_RDONLY | O_BINARY)
#else
#define ZANDREL_OPEN_FLAGS (O_RDONLY | O_CLOEXEC | O_NOCTTY)
#endif

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "regfile/RegParser.h"
#include "regfile/RegText.h"

namespace zandrel::hive {
namespace {

constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";

bool IsStringType(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

bool SameAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Upper(a[i]) != Upper(b[i])) return false;
  }
  return true;
}

std::string Utf8ToUtf16Bytes(std::string_view text) {
  const std::u16string units = Utf8ToUtf16(text);
  std::string bytes;
  bytes.reserve(units.size() * 2);
  for (char16_t u : units) {
    bytes.push_back(static_cast<char>(u & 0xFF));
    bytes.push_back(static_cast<char>(u >> 8));
  }
  return bytes;
}

// Deletes a key and everything below it. 0 also when the key is missing.
LONG DeleteTree(IRegistry& registry, HKEY root, const std::string& path) {
  HKEY key = 0;
  LONG code = registry.RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS, &key);
  if (code == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (code != ERROR_SUCCESS) return code;
  while (code == ERROR_SUCCESS) {
    char name[MAX_KEY_NAME_CHARS * 4 + 1];
    DWORD length = sizeof name;
    code = registry.RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (code == ERROR_SUCCESS) code = DeleteTree(registry, root, path + "\\" + name);
  }
  registry.RegCloseKey(key);
  if (code != ERROR_NO_MORE_ITEMS) return code;
  return registry.RegDeleteKeyA(root, path.c_str());
}

std::string Describe(LONG code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
      return "not found (error 2)";
    case ERROR_ACCESS_DENIED:
      return "access denied (error 5)";
    case ERROR_INVALID_PARAMETER:
      return "a name is too long or the key is nested too deep (error 87)";
    case ERROR_DISK_FULL:
      return "the disk is full (error 112)";
    case ERROR_BAD_PATHNAME:
      return "bad key path (error 161)";
    case ERROR_BUSY:
      return "the hive is busy in another process (error 170)";
    case ERROR_BADDB:
      return "the hive is damaged (error 1009)";
    case ERROR_REGISTRY_IO_FAILED:
      return "the hive could not be read or written (error 1016)";
    default:
      return "error " + std::to_string(code);
  }
}

LONG Apply(IRegistry& registry, const std::vector<RegChange>& ops, const RegChange** failed) {
  HKEY current = 0;
  LONG code = ERROR_SUCCESS;
  for (const RegChange& op : ops) {
    *failed = &op;
    switch (op.kind) {
      case RegChange::kKey:
        if (current != 0) registry.RegCloseKey(current);
        current = 0;
        code =
            registry.RegCreateKeyExA(op.root, op.path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                     KEY_ALL_ACCESS, nullptr, &current, nullptr);
        break;
      case RegChange::kDeleteKey:
        if (current != 0) registry.RegCloseKey(current);
        current = 0;
        code = DeleteTree(registry, op.root, op.path);
        break;
      case RegChange::kSetValue:
        code = registry.RegSetValueExA(current, op.name.c_str(), 0, op.type,
                                       reinterpret_cast<const BYTE*>(op.data.data()),
                                       static_cast<DWORD>(op.data.size()));
        break;
      case RegChange::kDeleteValue:
        code = registry.RegDeleteValueA(current, op.name.c_str());
        if (code == ERROR_FILE_NOT_FOUND) code = ERROR_SUCCESS;
        break;
    }
    if (code != ERROR_SUCCESS) break;
  }
  if (current != 0) registry.RegCloseKey(current);
  return code;
}

std::string OpWhat(const RegChange& op) {
  switch (op.kind) {
    case RegChange::kKey:
      return "cannot create the key";
    case RegChange::kDeleteKey:
      return "cannot delete the key";
    case RegChange::kSetValue:
      return "cannot set the value \"" + op.name + "\"";
    default:
      return "cannot delete the value \"" + op.name + "\"";
  }
}

}  // namespace

RegImportResult ImportRegText(IRegistry& registry, std::string_view bytes,
                              const std::string& file_name) {
  RegImportResult result;
  auto fail = [&](int line, const std::string& what) {
    result.ok = false;
    result.line = line;
    result.message = line > 0 ? file_name + ", line " + std::to_string(line) + ": " + what
                              : file_name + ": " + what;
    return result;
  };
  RegParse parse = ParseRegText(bytes);
  for (const RegNote& note : parse.notes)
    result.notes.push_back(file_name + ", line " + std::to_string(note.line) + ": " + note.what);
  if (!parse.ok) return fail(parse.line, parse.what);
  const std::vector<RegChange>& ops = parse.changes;

  RegistryTransaction transaction(registry);
  if (transaction.BeginCode() != ERROR_SUCCESS) {
    return fail(0, "cannot start the import: " + Describe(transaction.BeginCode()));
  }
  const RegChange* failed = nullptr;
  const LONG code = Apply(registry, ops, &failed);
  if (code != ERROR_SUCCESS) {
    std::string what = OpWhat(*failed);
    if (failed->kind == RegChange::kKey || failed->kind == RegChange::kDeleteKey) {
      what += " \"" + std::string(RootName(failed->root)) +
              (failed->path.empty() ? "" : "\\" + failed->path) + "\"";
    }
    return fail(failed->line, what + ": " + Describe(code));
  }
  const LONG commit = transaction.Commit();
  if (commit != ERROR_SUCCESS) return fail(0, "cannot commit the import: " + Describe(commit));
  result.ok = true;
  return result;
}

namespace {

// A .reg file read whole; larger ones are refused rather than read into
// memory (a pipe that never ends, a mistaken argument).
constexpr std::size_t kMaxRegFileBytes = std::size_t{256} << 20;

// Reads the file at `path` into *bytes. False with *error set to what went
// wrong, for a message: a folder or a device is refused before reading.
bool ReadRegFile(const std::string& path, std::string* bytes, std::string* error) {
  const int fd = ::open(path.c_str(), ZANDREL_OPEN_FLAGS);
  if (fd < 0) {
    *error = std::string("cannot read the file: ") + std::strerror(errno);
    return false;
  }
  struct stat st {};
  bool ok = true;
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    *error = "is a folder, not a file";
    ok = false;
  } else if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) {
    *error = "is a device, not a file";
    ok = false;
  }
  char buffer[1 << 16];
  while (ok) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = std::string("cannot read the file: ") + std::strerror(errno);
      ok = false;
    } else if (n == 0) {
      break;
    } else if (bytes->size() + static_cast<std::size_t>(n) > kMaxRegFileBytes) {
      *error = "larger than 256 MB, too large for a .reg file";
      ok = false;
    } else {
      bytes->append(buffer, static_cast<std::size_t>(n));
    }
  }
  ::close(fd);
  return ok;
}

}  // namespace

RegImportResult ImportRegFile(IRegistry& registry, const std::string& path) {
  std::string bytes;
  std::string error;
  if (!ReadRegFile(path, &bytes, &error)) {
    RegImportResult result;
    result.message = path + ": " + error;
    return result;
  }
  return ImportRegText(registry, bytes, path);
}

const char* RootName(HKEY root) {
  switch (root) {
    case HKEY_CLASSES_ROOT:
      return "HKEY_CLASSES_ROOT";
    case HKEY_CURRENT_USER:
      return "HKEY_CURRENT_USER";
    case HKEY_LOCAL_MACHINE:
      return "HKEY_LOCAL_MACHINE";
    case HKEY_USERS:
      return "HKEY_USERS";
    default:
      return "";
  }
}

bool ParseKeyPath(std::string_view path, HKEY* root, std::string* sub_path) {
  const std::size_t slash = path.find('\\');
  const std::string_view head = path.substr(0, slash);
  static const struct {
    const char* long_name;
    const char* short_name;
    HKEY root;
  } kRoots[] = {
      {"HKEY_CLASSES_ROOT", "HKCR", HKEY_CLASSES_ROOT},
      {"HKEY_CURRENT_USER", "HKCU", HKEY_CURRENT_USER},
      {"HKEY_LOCAL_MACHINE", "HKLM", HKEY_LOCAL_MACHINE},
      {"HKEY_USERS", "HKU", HKEY_USERS},
  };
  for (const auto& r : kRoots) {
    if (SameAscii(head, r.long_name) || SameAscii(head, r.short_name)) {
      *root = r.root;
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
  }
  return false;
}

namespace {

std::string Escape(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

// Whether REG_SZ data is plain text with one terminating NUL, so that it
// reads back the same from a quoted string.
bool IsPlainString(const std::string& data) {
  if (data.empty() || data.back() != '\0') return false;
  for (std::size_t i = 0; i + 1 < data.size(); ++i) {
    const char c = data[i];
    if (c == '\0' || c == '\r' || c == '\n') return false;
  }
  return Utf16ToUtf8(Utf8ToUtf16(data)) == data;
}

// Appends a value line (without its line end; wrapped lines end in "\r\n").
// Line lengths are counted in UTF-16 units, as the file holds them.
void AppendValue(std::string* out, const std::string& name, DWORD type, const std::string& data) {
  std::string line = name.empty() ? "@=" : std::string("\"").append(Escape(name)).append("\"=");
  if (type == REG_SZ && data.empty()) {
    *out += line + "\"\"";  // as regedit writes it; it reads back with its NUL
    return;
  }
  if (type == REG_SZ && IsPlainString(data)) {
    *out += line + "\"" + Escape(std::string_view(data).substr(0, data.size() - 1)) + "\"";
    return;
  }
  if (type == REG_DWORD && data.size() == 4) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(data[i]);
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "dword:%08x", v);
    *out += line + buffer;
    return;
  }
  if (type == REG_BINARY) {
    line += "hex:";
  } else {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "hex(%x):", type);
    line += buffer;
  }
  const std::string bytes = IsStringType(type) ? Utf8ToUtf16Bytes(data) : data;
  std::size_t column = Utf8ToUtf16(line).size();
  *out += line;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    char buffer[4];
    std::snprintf(buffer, sizeof buffer, "%02x", static_cast<unsigned char>(bytes[i]));
    *out += buffer;
    column += 2;
    if (i + 1 == bytes.size()) break;
    *out += ',';
    ++column;
    // Wrap so that no line, with its "\", passes 80 columns.
    if (column > 76) {
      *out += "\\\r\n  ";
      column = 2;
    }
  }
}

LONG ExportKey(IRegistry& registry, HKEY key, const std::string& title, std::string* out) {
  std::vector<KeyValue> values;
  std::vector<std::string> children;
  if (LONG code = ReadKeyContents(registry, key, &values, &children); code != ERROR_SUCCESS) return code;
  *out += "[" + title + "]\r\n";
  for (const KeyValue& value : values) {
    AppendValue(out, value.name, value.type, value.data);
    *out += "\r\n";
  }
  *out += "\r\n";
  for (const std::string& child : children) {
    HKEY sub = 0;
    LONG code = registry.RegOpenKeyExA(key, child.c_str(), 0, KEY_READ, &sub);
    if (code != ERROR_SUCCESS) return code;
    code = ExportKey(registry, sub, title + "\\" + child, out);
    registry.RegCloseKey(sub);
    if (code != ERROR_SUCCESS) return code;
  }
  return ERROR_SUCCESS;
}

}  // namespace

LONG ReadKeyContents(IRegistry& registry, HKEY key, std::vector<KeyValue>* values,
                     std::vector<std::string>* children) {
  std::vector<char> name(16384 * 4 + 1);
  std::vector<BYTE> data(1 << 16);
  for (DWORD index = 0;; ++index) {
    DWORD name_length = static_cast<DWORD>(name.size());
    DWORD type = 0;
    DWORD size = static_cast<DWORD>(data.size());
    const LONG code = registry.RegEnumValueA(key, index, name.data(), &name_length, nullptr, &type,
                                             data.data(), &size);
    if (code == ERROR_MORE_DATA && size > data.size()) {
      data.resize(size);
      --index;
      continue;
    }
    if (code == ERROR_NO_MORE_ITEMS) break;
    if (code != ERROR_SUCCESS) return code;
    values->push_back(KeyValue{std::string(name.data(), name_length), type,
                               std::string(reinterpret_cast<const char*>(data.data()), size)});
  }
  for (DWORD index = 0;; ++index) {
    char child[MAX_KEY_NAME_CHARS * 4 + 1];
    DWORD length = sizeof child;
    const LONG code =
        registry.RegEnumKeyExA(key, index, child, &length, nullptr, nullptr, nullptr, nullptr);
    if (code == ERROR_NO_MORE_ITEMS) break;
    if (code != ERROR_SUCCESS) return code;
    children->emplace_back(child, length);
  }
  return ERROR_SUCCESS;
}

LONG ExportRegText(IRegistry& registry, const std::string& key_path, std::string* bytes,
                   std::string* error) {
  HKEY root = 0;
  std::string sub;
  if (!ParseKeyPath(key_path, &root, &sub)) {
    if (error) *error = "unknown root key in \"" + key_path + "\"";
    return ERROR_BAD_PATHNAME;
  }
  HKEY key = 0;
  LONG code = registry.RegOpenKeyExA(root, sub.c_str(), 0, KEY_READ, &key);
  if (code != ERROR_SUCCESS) {
    if (error) *error = "cannot open the key \"" + key_path + "\": " + Describe(code);
    return code;
  }
  std::string text = std::string(kHeader5) + "\r\n\r\n";
  code = ExportKey(registry, key, std::string(RootName(root)) + (sub.empty() ? "" : "\\" + sub),
                   &text);
  if (key != root) registry.RegCloseKey(key);
  if (code != ERROR_SUCCESS) {
    if (error) *error = "cannot read the key \"" + key_path + "\": " + Describe(code);
    return code;
  }
  *bytes = "\xFF\xFE" + Utf8ToUtf16Bytes(text);
  return ERROR_SUCCESS;
}

}  // namespace zandrel::hive
