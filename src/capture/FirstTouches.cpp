#include "capture/FirstTouches.h"

#include <algorithm>

namespace zandrel::capture {
Note* FirstTouches::Lookup(std::string_view id, bool* below_missing) {
  *below_missing = false;
  for (std::size_t end = id.size(); end != std::string_view::npos; end = id.rfind('\\', end - 1)) {
    Note* at = Find(id.substr(0, end));
    if (at == nullptr) continue;
    if (at->tree) {
      Expand(*at);
      return Lookup(id, below_missing);
    }
    if (end == id.size()) return at;
    *below_missing = !at->exists;
    return nullptr;
  }
  return nullptr;
}

void FirstTouches::Expand(Note& note) {
  const std::vector<RecordedKey> tree = note.tree->Decode();
  note.tree.reset();
  note.values = tree.front().values;
  for (std::size_t i = 1; i < tree.size(); ++i) {
    const std::string full = note.path + "\\" + tree[i].path;
    Add(Identity(note.root, full), Note{note.root, full, true, tree[i].values, true});
  }
}

Note& FirstTouches::Add(std::string id, Note note) {
  const auto [at, added] = notes_.try_emplace(std::move(id), std::move(note));
  if (added) order_.push_back(&at->second);
  return at->second;
}

Note* FirstTouches::Find(std::string_view id) {
  if (parent_ != nullptr && id == parent_id_) return parent_;
  const auto found = notes_.find(id);
  return found == notes_.end() ? nullptr : &found->second;
}

LONG FirstTouches::Read(const Place& place, std::string id, Note** noted) {
  Note note{place.root, place.path, false, {}};
  const LONG code = ReadKeyValues(registry_, place.root, place.path, &note.exists, &note.values);
  if (code != ERROR_SUCCESS) return code;
  Note& added = Add(std::move(id), std::move(note));
  if (noted != nullptr) *noted = &added;
  return ERROR_SUCCESS;
}

bool FirstTouches::BelowLastMissing(std::string_view id) const {
  return !last_missing_.empty() && IdentityBelow(id, last_missing_);
}

LONG FirstTouches::Written(const Place& place, std::string id, const Note** taken) {
  if (taken != nullptr) *taken = nullptr;
  if (BelowLastMissing(id)) return ERROR_SUCCESS;
  bool below_missing = false;
  if (Note* noted = Lookup(id, &below_missing)) {
    noted->gone = false;
    return ERROR_SUCCESS;
  }
  if (below_missing) return ERROR_SUCCESS;
  Note* noted = nullptr;
  const LONG code = Read(place, std::move(id), &noted);
  if (taken != nullptr) *taken = noted;
  return code;
}

LONG FirstTouches::Creating(Place place, std::string_view key) {
  // Below the key last noted missing: missing too, and in that one's
  // subtree (most keys of an import, which follow their parents).
  if (BelowLastMissing(key)) return ERROR_SUCCESS;
  bool below_missing = false;
  if (Note* noted = Lookup(key, &below_missing)) {
    // Made again, with each parent the change deleted.
    for (std::string_view at = key; noted != nullptr && noted->gone; at = ParentIdentity(at)) {
      noted->gone = false;
      noted = Find(ParentIdentity(at));
    }
    return ERROR_SUCCESS;
  }
  if (below_missing) return ERROR_SUCCESS;
  // The key is read, and each missing parent up to one that exists; a
  // missing key below a missing parent is in that one's subtree.
  std::string id(key);
  Note* below = nullptr;  // the key noted one level down, when it was missing
  std::size_t below_size = 0;
  for (;;) {
    Note* noted = nullptr;
    if (LONG code = Read(place, id, &noted); code != ERROR_SUCCESS) return code;
    if (below != nullptr && !noted->exists) below->nested = true;
    if (!noted->exists) {
      below = noted;
      below_size = id.size();
    }
    if (noted->exists || place.path.empty()) break;
    const std::size_t cut = place.path.rfind('\\');
    place.path.resize(cut == std::string::npos ? 0 : cut);
    id.resize(ParentIdentity(id).size());
    if (Note* parent = Find(id)) {
      // The next key created is most often this one's sibling.
      parent_ = parent;
      parent_id_ = id;
      parent->gone = false;
      if (!parent->exists) {
        below->nested = true;
        below = parent;
        below_size = id.size();
      }
      break;
    }
  }
  if (below != nullptr) last_missing_.assign(key.substr(0, below_size));
  return ERROR_SUCCESS;
}

LONG FirstTouches::Subtree(const Place& place) {
  bool below_missing = false;
  Lookup(Identity(place.root, place.path), &below_missing);  // a deleted subtree above it noted key by key
  RecordedTree tree;
  const LONG code = ReadSubtree(registry_, place.root, place.path, &tree);
  if (code == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (code != ERROR_SUCCESS) return code;
  for (RecordedKey& key : tree.Decode()) {
    const std::string full = SubPath(place.path, key.path);
    Add(Identity(place.root, full), Note{place.root, full, true, std::move(key.values)});
  }
  return ERROR_SUCCESS;
}

void FirstTouches::DeletingWhole(HKEY root, const std::string& path, RecordedTree tree) {
  Note note{root, path, true, {}, true};
  note.tree = std::make_unique<RecordedTree>(std::move(tree));
  Add(Identity(root, path), std::move(note));
}

void FirstTouches::DeletingKeys(HKEY root, const std::string& path, const std::vector<RecordedKey>& keys) {
  for (const RecordedKey& key : keys) {
    const std::string full = SubPath(path, key.path);
    Add(Identity(root, full), Note{root, full, true, key.values}).gone = true;
  }
}

void FirstTouches::Clear() {
  notes_.clear();
  order_.clear();
  last_missing_.clear();
  parent_ = nullptr;
  parent_id_.clear();
}

LONG FirstTouches::Entries(std::vector<RecordEntry>* entries) {
  // In the order the change first touched the keys (an import's, its
  // file's), so that a record does not depend on how the notes are kept.
  std::vector<SubtreeRead> created;  // keys missing before, read as they are now
  for (Note* note : order_) {
    if (note->nested) continue;
    if (note->tree) {
      entries->push_back(
          RecordEntry{RecordEntry::Kind::kDeletedTree, note->root, note->path, std::move(*note->tree), {}, {}});
      continue;
    }
    if (!note->exists) {
      entries->push_back(RecordEntry{RecordEntry::Kind::kCreated, note->root, note->path, {}, {}, {}});
      continue;
    }
    bool exists = false;
    RecordedValues after;
    if (!note->gone)
      if (LONG code = ReadKeyValues(registry_, note->root, note->path, &exists, &after); code != ERROR_SUCCESS)
        return code;
    RecordEntry entry{RecordEntry::Kind::kValues, note->root, note->path, {}, note->values, std::move(after)};
    if (!exists) {
      entry.kind = RecordEntry::Kind::kDeleted;
      entry.after.clear();
    } else if (entry.before == entry.after) {
      entry = RecordEntry{RecordEntry::Kind::kKept, note->root, note->path, {}, {}, {}};
    }
    entries->push_back(std::move(entry));
  }
  for (RecordEntry& entry : *entries)
    if (entry.kind == RecordEntry::Kind::kCreated)
      created.push_back(SubtreeRead{entry.root, &entry.path, &entry.subtree});
  if (LONG code = ReadSubtrees(registry_, created); code != ERROR_SUCCESS) return code;
  // A key created and deleted again by the change is left out.
  std::erase_if(*entries, [](const RecordEntry& entry) {
    return entry.kind == RecordEntry::Kind::kCreated && entry.subtree.Empty();
  });
  return ERROR_SUCCESS;
}

}  // namespace zandrel::capture
