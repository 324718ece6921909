// Import: a file's changes made through the registry calls (or the
// registry's own bulk application) inside one transaction.
#include <algorithm>
#include <deque>
#include <string>
#include <vector>

#include "files/FileRead.h"
#include "regfile/RegFile.h"
#include "regfile/RegParser.h"
#include "registry/Codes.h"
#include "registry/Names.h"

namespace zandrel::regfile {
namespace {

using registry::DescribeCode;

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

// Announces the writes of ops [from, to): the keys the file names, the
// values under them. A tree's deletion is left to its own calls.
void Announce(IRegistry& registry, const std::deque<RegChange>& ops, std::size_t from, std::size_t to) {
  std::vector<PlannedWrite> writes;
  const RegChange* key = nullptr;  // the section the values go to
  for (std::size_t i = from; i < to; ++i) {
    const RegChange& op = ops[i];
    switch (op.kind) {
      case RegChange::kKey:
        key = &op;
        writes.push_back({PlannedWrite::Kind::kCreateKey, op.root, std::string(op.path), {}, 0, {}});
        break;
      case RegChange::kDeleteKey:
        key = nullptr;
        break;
      case RegChange::kSetValue:
      case RegChange::kDeleteValue:
        if (key == nullptr) break;  // values before the run's first section: their own calls record them
        writes.push_back({op.kind == RegChange::kSetValue ? PlannedWrite::Kind::kSetValue
                                                          : PlannedWrite::Kind::kDeleteValue,
                          key->root, std::string(key->path), std::string(op.name), op.type, std::string(op.data)});
        break;
    }
  }
  registry.WillWrite(writes);
}

}  // namespace

LONG ApplyThroughCalls(IRegistry& registry, const std::deque<RegChange>& ops, const RegChange** failed) {
  OpenPath open(registry);
  HKEY current = 0;
  LONG code = ERROR_SUCCESS;
  for (std::size_t i = 0; i < ops.size(); ++i) {
    if (i % kAnnouncedRun == 0) Announce(registry, ops, i, std::min(ops.size(), i + kAnnouncedRun));
    const RegChange& op = ops[i];
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

namespace {

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

namespace {

// ImportRegText's work. `owner` (when given) holds `bytes`, and is emptied
// as soon as nothing points into it: a large file's text, its parse and
// the commit's own work are never all in memory at once.
status::Status Import(IRegistry& registry, std::string_view bytes, std::string* owner, const std::string& file_name,
                      std::vector<std::string>* notes, const ChangesApply& apply) {
  const auto release = [owner] {
    if (owner != nullptr) std::string().swap(*owner);
  };
  auto fail = [&](int line, const std::string& what, status::Status::Code code = status::Status::kFailed) {
    return status::Status(code, line > 0 ? file_name + ", line " + std::to_string(line) + ": " + what
                                         : file_name + ": " + what);
  };
  RegParse parse = ParseRegText(bytes);
  if (!parse.points_into_bytes) release();
  if (notes != nullptr)
    for (const RegNote& note : parse.notes)
      notes->push_back(file_name + ", line " + std::to_string(note.line) + ": " + note.what);
  if (!parse.ok) return fail(parse.line, parse.what, status::Status::kInvalid);
  const std::deque<RegChange>& ops = parse.changes;

  RegistryTransaction transaction(registry);
  if (transaction.BeginCode() != ERROR_SUCCESS) {
    return fail(0, "cannot start the import: " + DescribeCode(transaction.BeginCode()));
  }
  const RegChange* failed = nullptr;
  const LONG code = apply ? apply(ops, &failed) : ApplyThroughCalls(registry, ops, &failed);
  if (code != ERROR_SUCCESS) {
    std::string what = OpWhat(*failed);
    if (failed->kind == RegChange::kKey || failed->kind == RegChange::kDeleteKey) {
      what += " \"" + std::string(registry::RootName(failed->root)) +
              (failed->path.empty() ? "" : "\\" + std::string(failed->path)) + "\"";
    }
    return fail(failed->line, what + ": " + DescribeCode(code));
  }
  std::deque<RegChange>().swap(parse.changes);
  parse.text = text::Arena();
  release();
  const LONG commit = transaction.Commit();
  if (commit != ERROR_SUCCESS) return fail(0, "cannot commit the import: " + DescribeCode(commit));
  return {};
}

}  // namespace

status::Status ImportRegText(IRegistry& registry, std::string_view bytes, const std::string& file_name,
                             std::vector<std::string>* notes, const ChangesApply& apply) {
  return Import(registry, bytes, nullptr, file_name, notes, apply);
}

// A .reg file read whole; larger ones are refused rather than read into
// memory (a pipe that never ends, a mistaken argument).
constexpr std::size_t kMaxRegFileBytes = std::size_t{256} << 20;

status::Status ImportRegFile(IRegistry& registry, const std::string& path, std::vector<std::string>* notes,
                             const ChangesApply& apply) {
  std::string bytes;
  const status::Status read = files::ReadFileWhole(path, &bytes, kMaxRegFileBytes);
  if (!read.Ok()) {
    return {read.code, path + ": " + (read.code == status::Status::kTooLarge
                                          ? "larger than 256 MB, too large for a .reg file"
                                          : read.message)};
  }
  return Import(registry, bytes, &bytes, path, notes, apply);
}

}  // namespace zandrel::regfile
