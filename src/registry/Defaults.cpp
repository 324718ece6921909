// The defaults of IRegistry's bulk operations: each through the calls.
#include <algorithm>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "registry/Defaults.h"
#include "registry/Key.h"
#include "registry/KeyPath.h"

namespace zandrel {
namespace registry {
namespace {

// WalkSubtree's reading, with one reader's buffers for the whole walk.
class CallWalk {
 public:
  CallWalk(IRegistry& registry, SubtreeVisitor& visitor) : registry_(registry), visitor_(visitor), reader_(registry) {}

  LONG Walk(HKEY key, std::size_t depth, std::string_view key_name) {
    visitor_.Key(depth, key_name);
    LONG code = reader_.EachValue(key, [&](std::string_view name, DWORD type, std::string_view data) {
      visitor_.Value(name, type, data);
    });
    std::vector<std::string> children;
    if (code == ERROR_SUCCESS) code = ReadSubKeys(registry_, key, &children);
    for (const std::string& child : children) {
      Key sub(registry_);
      if ((code = sub.Open(key, child)) == ERROR_SUCCESS) code = Walk(sub.Handle(), depth + 1, child);
      if (code != ERROR_SUCCESS) break;
    }
    return code;
  }

 private:
  IRegistry& registry_;
  SubtreeVisitor& visitor_;
  ValueReader reader_;
};

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
    for (std::size_t start = 0;;) {
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
void Announce(IRegistry& registry, const std::deque<Change>& ops, std::size_t from, std::size_t to) {
  std::vector<PlannedWrite> writes;
  const Change* key = nullptr;  // the section the values go to
  for (std::size_t i = from; i < to; ++i) {
    const Change& op = ops[i];
    switch (op.kind) {
      case Change::kKey:
        key = &op;
        writes.push_back({PlannedWrite::Kind::kCreateKey, op.root, std::string(op.path), {}, 0, {}});
        break;
      case Change::kDeleteKey: key = nullptr; break;
      case Change::kSetValue:
      case Change::kDeleteValue:
        if (key == nullptr) break;  // values before the run's first section: their own calls record them
        writes.push_back({op.kind == Change::kSetValue ? PlannedWrite::Kind::kSetValue
                                                       : PlannedWrite::Kind::kDeleteValue,
                          key->root, std::string(key->path), std::string(op.name), op.type, std::string(op.data)});
        break;
    }
  }
  registry.WillWrite(writes);
}

}  // namespace

LONG ApplyThroughCalls(IRegistry& registry, const std::deque<Change>& ops, const Change** failed) {
  OpenPath open(registry);
  HKEY current = 0;
  LONG code = ERROR_SUCCESS;
  for (std::size_t i = 0; i < ops.size(); ++i) {
    if (i % kAnnouncedRun == 0) Announce(registry, ops, i, std::min(ops.size(), i + kAnnouncedRun));
    const Change& op = ops[i];
    *failed = &op;
    switch (op.kind) {
      case Change::kKey:
        current = 0;
        code = open.Create(op.root, std::string(op.path), &current);
        break;
      case Change::kDeleteKey:
        current = 0;
        open.Close(0);  // a key of it may go
        code = DeleteKeyTree(registry, op.root, std::string(op.path));
        break;
      case Change::kSetValue:
        code =
            registry.RegSetValueExA(current, std::string(op.name).c_str(), 0, op.type,
                                    reinterpret_cast<const BYTE*>(op.data.data()), static_cast<DWORD>(op.data.size()));
        break;
      case Change::kDeleteValue:
        code = registry.RegDeleteValueA(current, std::string(op.name).c_str());
        if (code == ERROR_FILE_NOT_FOUND) code = ERROR_SUCCESS;
        break;
    }
    if (code != ERROR_SUCCESS) break;
  }
  return code;
}

LONG WalkThroughCalls(IRegistry& registry, HKEY key, SubtreeVisitor& visitor) {
  return CallWalk(registry, visitor).Walk(key, 0, std::string_view());
}

LONG DeleteKeyTree(IRegistry& registry, HKEY root, const std::string& path,
                   const std::function<void(std::size_t keys)>& deleted) {
  Key key(registry);
  LONG code = key.Open(root, path, KEY_ALL_ACCESS);
  if (code == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (code != ERROR_SUCCESS) return code;
  // A subkey listed under a name that does not open it (a name another
  // program wrote that the code page cannot carry) would come back first
  // forever: the same name twice ends the deletion.
  std::string last;
  while (code == ERROR_SUCCESS) {
    char name[MAX_KEY_NAME_CHARS * 4 + 1];
    DWORD length = sizeof name;
    code = registry.RegEnumKeyExA(key.Handle(), 0, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (code != ERROR_SUCCESS) break;
    if (std::string_view(name, length) == last) return ERROR_CANTOPEN;
    last.assign(name, length);
    code = DeleteKeyTree(registry, root, path + "\\" + last, deleted);
  }
  key.Close();
  if (code != ERROR_NO_MORE_ITEMS) return code;
  code = registry.RegDeleteKeyA(root, path.c_str());
  if (code == ERROR_SUCCESS && deleted) deleted(1);
  return code;
}

}  // namespace registry

LONG IRegistry::WalkSubtree(HKEY hKey, registry::SubtreeVisitor& visitor) {
  return registry::WalkThroughCalls(*this, hKey, visitor);
}

LONG IRegistry::ApplyChanges(const std::deque<registry::Change>& changes, const registry::Change** failed) {
  return registry::ApplyThroughCalls(*this, changes, failed);
}

LONG IRegistry::DeleteTrees(const std::vector<registry::KeyPath>& keys,
                            const std::function<void(std::size_t keys)>& deleted) {
  for (const registry::KeyPath& key : keys)
    if (const LONG code = registry::DeleteKeyTree(*this, key.root, key.path, deleted); code != ERROR_SUCCESS)
      return code;
  return ERROR_SUCCESS;
}

}  // namespace zandrel
