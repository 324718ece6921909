// The state of each key before a change first touches it, noted just before
// that first write: its values, or that it was missing. A key created below
// a missing one was missing too, and is in that one's subtree: it is not
// noted (most keys of an import). A subtree about to be deleted is noted
// whole, and key by key only once the change touches a key of it again.
// The journal and the history note alike: the journal's first entry for a
// key holds its note, the history's record holds each noted key against
// its state at commit.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "capture/ChangeRecord.h"
#include "capture/Places.h"

namespace zandrel::capture {

struct Note {
  HKEY root = 0;
  std::string path;
  bool exists = false;
  RecordedValues values;
  bool gone = false;                        // deleted with a subtree, and not touched since
  bool nested = false;                      // missing, below a key that was missing too
  std::unique_ptr<RecordedTree> tree = {};  // deleted whole: its subtree before
};

class FirstTouches {
 public:
  // The notes are read from `registry`.
  explicit FirstTouches(IRegistry& registry) : registry_(registry) {}

  // Notes the key at `place`, known as `id` (Identity), before a write of
  // its values or its deletion, unless noted already or below a key noted
  // missing. *taken (when given): the note this call took, or null.
  LONG Written(const Place& place, std::string id, const Note** taken = nullptr);
  // Notes a key about to be created, and each missing parent up to one that
  // exists or is noted.
  LONG Creating(Place place, std::string_view id);
  // Whether the key known as `id` is below the key last noted missing: the
  // callers' shortcut for the keys of an import.
  bool BelowLastMissing(std::string_view id) const;
  const std::string& LastMissing() const { return last_missing_; }
  // Notes each key of root\path's subtree, about to be deleted.
  LONG Subtree(const Place& place);
  // Notes a subtree about to be deleted whole: as one note, taking `tree`
  // (its keys now), for notes that knew nothing when its deletion began; or
  // key by key (`keys`, decoded), each noted gone.
  void DeletingWhole(HKEY root, const std::string& path, RecordedTree tree);
  void DeletingKeys(HKEY root, const std::string& path, const std::vector<RecordedKey>& keys);
  bool Empty() const { return notes_.empty(); }
  void Clear();

  // What the change did: each key noted, in the order first touched,
  // against its state now; keys it left as they were as kept, keys it
  // created and deleted again left out. Takes the notes' subtrees.
  LONG Entries(std::vector<RecordEntry>* entries);

 private:
  // The note of the key known as `id`, or null, and whether a key above it
  // is noted missing; a deleted subtree noted whole at or above it is first
  // noted key by key.
  Note* Lookup(std::string_view id, bool* below_missing);
  void Expand(Note& note);
  // Notes a key unless noted already; the note it has.
  Note& Add(std::string id, Note note);
  // Reads and notes the state of a key not noted yet.
  LONG Read(const Place& place, std::string id, Note** noted = nullptr);
  Note* Find(std::string_view id);

  IRegistry& registry_;
  struct IdentityHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view id) const { return std::hash<std::string_view>{}(id); }
  };
  // By identity, found also by a part of one.
  std::unordered_map<std::string, Note, IdentityHash, std::equal_to<>> notes_;
  std::vector<Note*> order_;  // the notes in the order they were taken
  std::string last_missing_;  // the identity of the key last noted missing
  Note* parent_ = nullptr;    // the parent last found noted, and its identity
  std::string parent_id_;
};

}  // namespace zandrel::capture
