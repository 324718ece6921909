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
#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <vector>

#include "regfile/RegParser.h"
#include "text/Utf.h"
#include "text/LargePages.h"

namespace zandrel::regfile {
namespace {

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

bool SameAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Upper(a[i]) != Upper(b[i])) return false;
  }
  return true;
}

}  // namespace

std::string Describe(LONG code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
      return "not found (error 2)";
    case ERROR_ACCESS_DENIED:
#ifdef _WIN32
      // The machine's classes: only an administrator's elevated process may
      // write them, and the tool runs with its prompt's rights.
      return "access denied (error 5): run it from an elevated prompt (Run as administrator)";
#else
      return "access denied (error 5)";
#endif
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

namespace {

// The keys of the section last created, each open: a file lists a key's
// subkeys after it, so the next section is created below its nearest open
// ancestor, one name to look up instead of its whole path.
class OpenPath {
 public:
  explicit OpenPath(IRegistry& registry) : registry_(registry) {}
  ~OpenPath() { Close(0); }

  // Creates root\path; *key is the handle of the key, owned by this object.
  LONG Create(HKEY root, const std::string& path, HKEY* key) {
    std::vector<std::string_view> parts;
    for (std::size_t start = 0;; ) {
      const std::size_t end = std::min(path.find('\\', start), path.size());
      parts.push_back(std::string_view(path).substr(start, end - start));
      if (end == path.size()) break;
      start = end + 1;
    }
    const bool plain = !path.empty() && std::find(parts.begin(), parts.end(), "") == parts.end();
    std::size_t same = 0;
    if (plain && root == root_) {
      while (same < names_.size() && same < parts.size() && names_[same] == parts[same]) ++same;
    }
    Close(same);
    if (!plain) {
      // Empty components, the root itself: created as written, from the root.
      handles_.push_back(0);
      names_.emplace_back();
      const LONG code = registry_.RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                                  KEY_ALL_ACCESS, nullptr, &handles_.back(), nullptr);
      *key = handles_.back();
      root_ = 0;  // nothing below it is reused
      return code;
    }
    root_ = root;
    for (std::size_t i = same; i < parts.size(); ++i) {
      const HKEY parent = i == 0 ? root : handles_[i - 1];
      HKEY sub = 0;
      const std::string name(parts[i]);
      const LONG code = registry_.RegCreateKeyExA(parent, name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                                  KEY_ALL_ACCESS, nullptr, &sub, nullptr);
      if (code != ERROR_SUCCESS) return code;
      handles_.push_back(sub);
      names_.push_back(name);
    }
    *key = handles_.back();
    return ERROR_SUCCESS;
  }

  // Closes the keys below the first `keep` levels.
  void Close(std::size_t keep) {
    while (handles_.size() > keep) {
      if (handles_.back() != 0) registry_.RegCloseKey(handles_.back());
      handles_.pop_back();
      names_.pop_back();
    }
  }

 private:
  IRegistry& registry_;
  HKEY root_ = 0;
  std::vector<std::string> names_;
  std::vector<HKEY> handles_;
};

LONG Apply(IRegistry& registry, const std::deque<RegChange>& ops, const RegChange** failed) {
  OpenPath open(registry);
  HKEY current = 0;
  LONG code = ERROR_SUCCESS;
  for (const RegChange& op : ops) {
    *failed = &op;
    switch (op.kind) {
      case RegChange::kKey:
        current = 0;
        code = open.Create(op.root, std::string(op.path), &current);
        break;
      case RegChange::kDeleteKey:
        current = 0;
        open.Close(0);  // a key of it may go
        code = DeleteKeyTree(registry, op.root, std::string(op.path));
        break;
      case RegChange::kSetValue:
        code = registry.RegSetValueExA(current, std::string(op.name).c_str(), 0, op.type,
                                       reinterpret_cast<const BYTE*>(op.data.data()),
                                       static_cast<DWORD>(op.data.size()));
        break;
      case RegChange::kDeleteValue:
        code = registry.RegDeleteValueA(current, std::string(op.name).c_str());
        if (code == ERROR_FILE_NOT_FOUND) code = ERROR_SUCCESS;
        break;
    }
    if (code != ERROR_SUCCESS) break;
  }
  return code;
}

std::string OpWhat(const RegChange& op) {
  switch (op.kind) {
    case RegChange::kKey:
      return "cannot create the key";
    case RegChange::kDeleteKey:
      return "cannot delete the key";
    case RegChange::kSetValue:
      return "cannot set the value \"" + std::string(op.name) + "\"";
    default:
      return "cannot delete the value \"" + std::string(op.name) + "\"";
  }
}

}  // namespace

LONG DeleteKeyTree(IRegistry& registry, HKEY root, const std::string& path) {
  HKEY key = 0;
  LONG code = registry.RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS, &key);
  if (code == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (code != ERROR_SUCCESS) return code;
  while (code == ERROR_SUCCESS) {
    char name[MAX_KEY_NAME_CHARS * 4 + 1];
    DWORD length = sizeof name;
    code = registry.RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (code == ERROR_SUCCESS) code = DeleteKeyTree(registry, root, path + "\\" + name);
  }
  registry.RegCloseKey(key);
  if (code != ERROR_NO_MORE_ITEMS) return code;
  return registry.RegDeleteKeyA(root, path.c_str());
}

RegImportResult ImportRegText(IRegistry& registry, std::string_view bytes,
                              const std::string& file_name, const ChangesApply& apply) {
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
  const std::deque<RegChange>& ops = parse.changes;

  RegistryTransaction transaction(registry);
  if (transaction.BeginCode() != ERROR_SUCCESS) {
    return fail(0, "cannot start the import: " + Describe(transaction.BeginCode()));
  }
  const RegChange* failed = nullptr;
  const LONG code = apply ? apply(ops, &failed) : Apply(registry, ops, &failed);
  if (code != ERROR_SUCCESS) {
    std::string what = OpWhat(*failed);
    if (failed->kind == RegChange::kKey || failed->kind == RegChange::kDeleteKey) {
      what += " \"" + std::string(RootName(failed->root)) +
              (failed->path.empty() ? "" : "\\" + std::string(failed->path)) + "\"";
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
  // Read straight into the text, sized by the file's size when it tells
  // one; it grows as needed (a pipe, a file still being written).
  std::size_t used = 0;
  bytes->reserve(std::min<std::size_t>(S_ISREG(st.st_mode) ? static_cast<std::size_t>(st.st_size) + 1 : 0,
                                       kMaxRegFileBytes + 1) + (1 << 16));
  text::AdviseLargePages(bytes->data(), bytes->capacity());
  bytes->resize(bytes->capacity());
  while (ok) {
    if (used == bytes->size()) bytes->resize(std::min(2 * bytes->size(), kMaxRegFileBytes + (1 << 16)));
    const ssize_t n = ::read(fd, bytes->data() + used, bytes->size() - used);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = std::string("cannot read the file: ") + std::strerror(errno);
      ok = false;
    } else if (n == 0) {
      break;
    } else if ((used += static_cast<std::size_t>(n)) > kMaxRegFileBytes) {
      *error = "larger than 256 MB, too large for a .reg file";
      ok = false;
    }
  }
  bytes->resize(std::min(used, bytes->size()));
  ::close(fd);
  return ok;
}

}  // namespace

RegImportResult ImportRegFile(IRegistry& registry, const std::string& path, const ChangesApply& apply) {
  std::string bytes;
  std::string error;
  if (!ReadRegFile(path, &bytes, &error)) {
    RegImportResult result;
    result.message = path + ": " + error;
    return result;
  }
  return ImportRegText(registry, bytes, path, apply);
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

}  // namespace zandrel::regfile
