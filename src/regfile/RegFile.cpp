#include "regfile/RegFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "regfile/RegText.h"

namespace zandrel::hive {
namespace {

constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kHeader4 = "REGEDIT4";

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

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  return s;
}

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
    s.remove_suffix(1);
  }
  return s;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string Utf16BytesToUtf8(std::string_view bytes) {
  std::u16string units(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                     (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  }
  return Utf16ToUtf8(units);
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

// One change read from the file, applied in file order.
struct Op {
  enum Kind { kKey, kDeleteKey, kSetValue, kDeleteValue };
  Op(Kind k, int l) : kind(k), line(l) {}
  Kind kind;
  int line;
  HKEY root = 0;
  std::string path;  // for kKey, kDeleteKey
  std::string name;  // for values
  DWORD type = REG_NONE;
  std::string data;
};

class Parser {
 public:
  Parser(std::string_view text, bool unicode) : text_(text), unicode_(unicode) {}

  // Fills ops; on a fault returns false with line_ and what_ set.
  bool Run(std::vector<Op>* ops, int first_line) {
    line_ = first_line;
    bool have_key = false;
    while (NextLine()) {
      std::string_view s = TrimLeft(TrimRight(current_));
      if (s.empty() || s.front() == ';') continue;
      if (s.front() == '[') {
        if (s.back() != ']') return Fail("a key line must end with \"]\"");
        std::string_view inner = s.substr(1, s.size() - 2);
        const bool remove = !inner.empty() && inner.front() == '-';
        if (remove) inner.remove_prefix(1);
        Op op{remove ? Op::kDeleteKey : Op::kKey, line_};
        if (inner.empty()) return Fail("the key name is missing");
        if (!ParseKeyPath(inner, &op.root, &op.path)) {
          std::string_view root = inner.substr(0, inner.find('\\'));
          return Fail("unknown root key \"" + std::string(root) + "\"");
        }
        if (remove && op.path.empty()) return Fail("a root key cannot be deleted");
        have_key = !remove;
        ops->push_back(std::move(op));
        continue;
      }
      if (s.front() != '@' && s.front() != '"') {
        return Fail("expected a key in brackets, @= or \"name\"=");
      }
      if (!have_key) return Fail("a value outside a key section");
      const int value_line = line_;
      std::string logical(s);
      // Hex data continues on the next line after a trailing "\".
      while (!logical.empty() && logical.back() == '\\' && IsHexValueLine(logical)) {
        logical.pop_back();
        if (!NextLine()) break;
        logical.append(TrimLeft(TrimRight(current_)));
      }
      Op op{Op::kSetValue, value_line};
      if (!ParseValue(logical, &op)) {
        line_ = value_line;
        return false;
      }
      ops->push_back(std::move(op));
    }
    return true;
  }

  int line() const { return line_; }
  const std::string& what() const { return what_; }

 private:
  bool NextLine() {
    if (pos_ > text_.size()) return false;
    if (started_) ++line_;
    started_ = true;
    std::size_t end = text_.find('\n', pos_);
    if (end == std::string_view::npos) end = text_.size();
    current_ = text_.substr(pos_, end - pos_);
    pos_ = end + 1;
    return true;
  }

  // Whether a line is a hex value, where "\" at the end continues the data
  // (in a string it is just a character, and would have been escaped).
  static bool IsHexValueLine(std::string_view s) {
    const std::size_t eq = s.find("=hex");
    if (eq == std::string_view::npos) return false;
    const std::size_t quote = s.rfind('"');
    return quote == std::string_view::npos || quote < eq;
  }

  bool Fail(std::string what) {
    what_ = std::move(what);
    return false;
  }

  bool ParseQuoted(std::string_view s, std::size_t* pos, std::string* out) {
    ++*pos;  // opening quote
    while (*pos < s.size()) {
      const char c = s[*pos];
      if (c == '"') {
        ++*pos;
        return true;
      }
      if (c == '\\') {
        if (*pos + 1 >= s.size()) break;
        const char next = s[*pos + 1];
        if (next != '\\' && next != '"') {
          return Fail(std::string("unknown escape \"\\") + next + "\" in a quoted text");
        }
        out->push_back(next);
        *pos += 2;
        continue;
      }
      out->push_back(c);
      ++*pos;
    }
    return Fail("a quoted text has no closing quote");
  }

  bool ParseValue(std::string_view s, Op* op) {
    std::size_t pos = 0;
    if (s[0] == '@') {
      pos = 1;
    } else if (!ParseQuoted(s, &pos, &op->name)) {
      return false;
    }
    if (pos >= s.size() || s[pos] != '=') return Fail("expected \"=\" after the value name");
    std::string_view rest = TrimRight(s.substr(pos + 1));
    if (rest == "-") {
      op->kind = Op::kDeleteValue;
      return true;
    }
    if (!rest.empty() && rest.front() == '"') {
      std::size_t p = 0;
      std::string text;
      if (!ParseQuoted(rest, &p, &text)) return false;
      if (!TrimLeft(rest.substr(p)).empty()) return Fail("unexpected text after the closing quote");
      op->type = REG_SZ;
      op->data = std::move(text);
      op->data.push_back('\0');
      return true;
    }
    if (rest.substr(0, 6) == "dword:") {
      std::string_view digits = rest.substr(6);
      if (digits.empty() || digits.size() > 8) return Fail("a dword needs 1 to 8 hex digits");
      std::uint32_t v = 0;
      for (char c : digits) {
        const int d = HexDigit(c);
        if (d < 0) return Fail("a dword needs 1 to 8 hex digits");
        v = (v << 4) | static_cast<std::uint32_t>(d);
      }
      op->type = REG_DWORD;
      for (int i = 0; i < 4; ++i) op->data.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
      return true;
    }
    if (rest.substr(0, 3) == "hex") {
      std::string_view h = rest.substr(3);
      DWORD type = REG_BINARY;
      if (!h.empty() && h.front() == '(') {
        const std::size_t close = h.find(')');
        if (close == std::string_view::npos || close == 1 || close > 9) {
          return Fail("a hex type must read hex(N) with N in hex");
        }
        type = 0;
        for (char c : h.substr(1, close - 1)) {
          const int d = HexDigit(c);
          if (d < 0) return Fail("a hex type must read hex(N) with N in hex");
          type = (type << 4) | static_cast<DWORD>(d);
        }
        h.remove_prefix(close + 1);
      }
      if (h.empty() || h.front() != ':') return Fail("expected \":\" after hex");
      h.remove_prefix(1);
      std::string bytes;
      while (true) {
        h = TrimLeft(h);
        if (h.empty()) break;
        std::size_t n = 0;
        int v = 0;
        // Counts every digit but adds up only two: a longer run is refused
        // below and must not overflow on the way.
        for (; n < h.size() && HexDigit(h[n]) >= 0; ++n) {
          if (n < 2) v = v * 16 + HexDigit(h[n]);
        }
        if (n == 0 || n > 2)
          return Fail("hex data must be bytes of two hex digits separated by commas");
        bytes.push_back(static_cast<char>(v));
        h = TrimLeft(h.substr(n));
        if (h.empty()) break;
        if (h.front() != ',')
          return Fail("hex data must be bytes of two hex digits separated by commas");
        h.remove_prefix(1);
      }
      if (unicode_ && IsStringType(type)) {
        if (bytes.size() % 2 != 0) return Fail("UTF-16 text data has an odd number of bytes");
        bytes = Utf16BytesToUtf8(bytes);
      }
      op->type = type;
      op->data = std::move(bytes);
      return true;
    }
    return Fail("unknown value data \"" + std::string(rest.substr(0, 20)) + "\"");
  }

  std::string_view text_;
  bool unicode_;
  std::size_t pos_ = 0;
  bool started_ = false;
  std::string_view current_;
  int line_ = 1;
  std::string what_;
};

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

LONG Apply(IRegistry& registry, const std::vector<Op>& ops, const Op** failed) {
  HKEY current = 0;
  LONG code = ERROR_SUCCESS;
  for (const Op& op : ops) {
    *failed = &op;
    switch (op.kind) {
      case Op::kKey:
        if (current != 0) registry.RegCloseKey(current);
        current = 0;
        code =
            registry.RegCreateKeyExA(op.root, op.path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                     KEY_ALL_ACCESS, nullptr, &current, nullptr);
        break;
      case Op::kDeleteKey:
        if (current != 0) registry.RegCloseKey(current);
        current = 0;
        code = DeleteTree(registry, op.root, op.path);
        break;
      case Op::kSetValue:
        code = registry.RegSetValueExA(current, op.name.c_str(), 0, op.type,
                                       reinterpret_cast<const BYTE*>(op.data.data()),
                                       static_cast<DWORD>(op.data.size()));
        break;
      case Op::kDeleteValue:
        code = registry.RegDeleteValueA(current, op.name.c_str());
        if (code == ERROR_FILE_NOT_FOUND) code = ERROR_SUCCESS;
        break;
    }
    if (code != ERROR_SUCCESS) break;
  }
  if (current != 0) registry.RegCloseKey(current);
  return code;
}

std::string OpWhat(const Op& op) {
  switch (op.kind) {
    case Op::kKey:
      return "cannot create the key";
    case Op::kDeleteKey:
      return "cannot delete the key";
    case Op::kSetValue:
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
  std::string decoded;
  std::string_view text = bytes;
  bool utf16 = false;
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    if (bytes.size() % 2 != 0) return fail(0, "UTF-16 file with an odd number of bytes");
    decoded = Utf16BytesToUtf8(bytes.substr(2));
    text = decoded;
    utf16 = true;
  } else if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    text.remove_prefix(3);
  }
  const std::size_t eol = text.find('\n');
  const std::string_view header = TrimRight(text.substr(0, eol));
  bool unicode;
  if (header == kHeader5) {
    unicode = true;
  } else if (header == kHeader4) {
    unicode = false;
  } else {
    return fail(1, "not a registry file: the first line must be \"" + std::string(kHeader5) +
                       "\" or \"" + std::string(kHeader4) + "\"");
  }
  (void)utf16;
  std::vector<Op> ops;
  Parser parser(eol == std::string_view::npos ? std::string_view() : text.substr(eol + 1), unicode);
  if (!parser.Run(&ops, 2)) return fail(parser.line(), parser.what());

  RegistryTransaction transaction(registry);
  if (transaction.BeginCode() != ERROR_SUCCESS) {
    return fail(0, "cannot start the import: " + Describe(transaction.BeginCode()));
  }
  const Op* failed = nullptr;
  const LONG code = Apply(registry, ops, &failed);
  if (code != ERROR_SUCCESS) {
    std::string what = OpWhat(*failed);
    if (failed->kind == Op::kKey || failed->kind == Op::kDeleteKey) {
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
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
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
