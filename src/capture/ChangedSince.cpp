#include "capture/ChangedSince.h"

#include <algorithm>
#include <map>
#include <string_view>

#include "registry/Names.h"

namespace zandrel::capture {
namespace {

using registry::UpperName;

// Whether an entry's write deleted a value of its key.
bool Deletes(const RecordEntry& entry) {
  return std::any_of(entry.before.begin(), entry.before.end(),
                     [&entry](const registry::Value& value) { return !FindValue(entry.after, UpperName(value.name)); });
}

// Whether the record's entries for one key, in order, explain what the key
// holds now (`exists`, `now`), whatever point its writer or any number of
// replays (each from the end, any of them killed) reached.
bool Explained(const std::vector<const RecordEntry*>& entries, bool exists, const RecordedValues& now) {
  using Kind = RecordEntry::Kind;
  if (!exists)
    return std::any_of(entries.begin(), entries.end(),
                       [](const RecordEntry* entry) { return entry->kind != Kind::kValues; });
  bool may_lack = false;
  std::vector<std::string> names;
  for (const registry::Value& value : now) names.push_back(UpperName(value.name));
  for (const RecordEntry* entry : entries) {
    may_lack = may_lack || entry->kind != Kind::kValues || Deletes(*entry);
    for (const registry::Value& value : entry->before) names.push_back(UpperName(value.name));
    for (const registry::Value& value : entry->after) names.push_back(UpperName(value.name));
  }
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  for (const std::string& name : names) {
    const registry::Value* held = FindValue(now, name);
    // The state of `name` is explained by `known`, null for no such value.
    auto explains = [held](const registry::Value* known) {
      return held && known ? SameData(*held, *known) : held == known;
    };
    bool explained = !held && may_lack;
    for (const RecordEntry* entry : entries) {
      if (explained) break;
      if (entry->kind == Kind::kCreated) continue;
      explained = explains(FindValue(entry->before, name)) ||
                  (entry->kind == Kind::kValues && explains(FindValue(entry->after, name)));
    }
    if (!explained) return false;
  }
  return true;
}

LONG UnfinishedChanged(IRegistry& registry, const std::vector<RecordEntry>& entries, std::string* key) {
  // Every entry for a key, whatever its spelling, in the order of the record.
  std::map<std::pair<HKEY, std::string>, std::vector<const RecordEntry*>> by_key;
  std::vector<const std::vector<const RecordEntry*>*> order;
  for (const RecordEntry& entry : entries) {
    auto [at, inserted] = by_key.try_emplace({entry.root, UpperName(entry.path)});
    if (inserted) order.push_back(&at->second);
    at->second.push_back(&entry);
  }
  for (const std::vector<const RecordEntry*>* group : order) {
    const RecordEntry& first = *group->front();
    bool exists = false;
    RecordedValues now;
    if (ReadKeyValues(registry, first.root, first.path, &exists, &now) != ERROR_SUCCESS) continue;
    if (!Explained(*group, exists, now)) {
      *key = KeyName(first.root, first.path);
      break;
    }
  }
  return ERROR_SUCCESS;
}

LONG FinishedChanged(IRegistry& registry, const std::vector<RecordEntry>& entries, std::string* key) {
  // The created subtrees as they are now, read together (an import's are many).
  std::vector<RecordedTree> now(entries.size());
  std::vector<SubtreeRead> reads;
  for (std::size_t i = 0; i < entries.size(); ++i)
    if (const RecordEntry& entry = entries[i]; entry.kind == RecordEntry::Kind::kCreated)
      reads.push_back(SubtreeRead{entry.root, &entry.path, &now[i]});
  if (LONG code = ReadSubtrees(registry, reads); code != ERROR_SUCCESS) return code;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const RecordEntry& entry = entries[i];
    if (entry.kind == RecordEntry::Kind::kKept) continue;
    if (entry.kind == RecordEntry::Kind::kCreated) {
      if (now[i].Empty()) {
        *key = KeyName(entry.root, entry.path);
        return ERROR_SUCCESS;
      }
      if (now[i] == entry.subtree) continue;
      const std::vector<RecordedKey> subtree = now[i].Decode(), recorded = entry.subtree.Decode();
      const auto [left, right] = std::mismatch(subtree.begin(), subtree.end(), recorded.begin(), recorded.end());
      *key = KeyName(entry.root, SubPath(entry.path, left != subtree.end() ? left->path : right->path));
      return ERROR_SUCCESS;
    }
    bool exists = false;
    RecordedValues values;
    if (LONG code = ReadKeyValues(registry, entry.root, entry.path, &exists, &values); code != ERROR_SUCCESS)
      return code;
    const bool gone = entry.kind == RecordEntry::Kind::kDeleted || entry.kind == RecordEntry::Kind::kDeletedTree;
    if (gone ? exists : !exists || values != entry.after) {
      *key = KeyName(entry.root, entry.path);
      return ERROR_SUCCESS;
    }
  }
  return ERROR_SUCCESS;
}

}  // namespace

LONG FirstChanged(IRegistry& registry, const std::vector<RecordEntry>& entries, Since since, std::string* key) {
  key->clear();
  return since == Since::kFinished ? FinishedChanged(registry, entries, key)
                                   : UnfinishedChanged(registry, entries, key);
}

}  // namespace zandrel::capture
