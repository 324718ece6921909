// What a change did to the registry, kept so that it can be undone: the
// keys it created (each created subtree whole, as it left it), the keys it
// deleted with their values in order, the keys whose values it changed with
// their values before and after, and the keys it wrote but left as it found
// them (which a later undo must not take from under it). The crash journal
// keeps the same entries an unfinished write at a time (UndoRecord.h): a key
// it created, deleted, or whose values one write changes.
//
// The history stores a record as bytes, little-endian, a string as its u32
// size and bytes:
//   "ZHR1" u32 count, then per entry
//     u8 kind (1 created, 2 deleted, 3 values, 4 deleted subtree, 5 kept)  u32 root
//     string path
//     created, deleted subtree: u32 keys, per key: string path below the
//              entry's key ("" for itself, parents before children)  values
//     deleted: values (before)      values: values (before) values (after)
//     kept: nothing more
//   values: u32 count, per value: string name  u32 type  string data
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "capture/Places.h"
#include "registry/Registry.h"
#include "registry/Value.h"

namespace zandrel::capture {

using RecordedValues = std::vector<registry::Value>;

struct RecordedKey {
  std::string path;  // below the created key; "" for that key itself
  RecordedValues values;
  bool operator==(const RecordedKey&) const = default;
};

// A subtree as a record keeps it, in the record's own bytes (one string for
// the whole subtree, however many keys): each key, parents before children,
// as its path below the subtree's key and its values in order.
class RecordedTree {
 public:
  std::size_t Keys() const { return keys_; }
  bool Empty() const { return keys_ == 0; }
  const std::string& Bytes() const { return bytes_; }
  bool operator==(const RecordedTree& other) const { return bytes_ == other.bytes_; }
  // Adds a key, then each of its values.
  void AddKey(std::string_view path);
  void AddValue(std::string_view name, DWORD type, std::string_view data);
  // Empty again, keeping its room.
  void Clear();
  std::vector<RecordedKey> Decode() const;
  // Takes `keys` keys from the front of *bytes; false when they are not whole.
  bool Take(std::uint32_t keys, std::string_view* bytes);

 private:
  std::string bytes_;
  std::size_t keys_ = 0;
  std::size_t count_at_ = 0;       // where the last key's count of values is
  std::uint32_t last_values_ = 0;  // and that count
};

struct RecordEntry {
  // kKept: written, or opened to create it, and left as it was; an undo
  // puts nothing back there.
  enum class Kind { kCreated = 1, kDeleted = 2, kValues = 3, kDeletedTree = 4, kKept = 5 };
  Kind kind = Kind::kValues;
  HKEY root = 0;
  std::string path;
  // kCreated: the subtree as the change left it; kDeletedTree: as it found it.
  RecordedTree subtree;
  RecordedValues before;  // kDeleted, kValues
  // kValues: as the change left them (a history's), or as the one write
  // left them (a journal's).
  RecordedValues after;
};

// The entry of one write of a value of root\path, which holds `before`: the
// value `change` set or, with `deleting`, the value of its name deleted.
RecordEntry WriteEntry(HKEY root, std::string path, RecordedValues before, const registry::Value& change,
                       bool deleting);
// `values` as that write leaves them: a value set in the place of the one
// of its name (keeping that one's spelling), or after the others.
void ApplyWrite(RecordedValues* values, const registry::Value& change, bool deleting);
// Whether two values hold the same, names aside, as a registry reads them
// back (a string set without its final NUL may read with one).
bool SameData(const registry::Value& a, const registry::Value& b);
// The value of that upper-cased name among `values`, or null.
const registry::Value* FindValue(const RecordedValues& values, std::string_view upper);

struct ChangeRecord {
  std::vector<RecordEntry> entries;
  // How many keys the change touched: a created or deleted subtree counts
  // each of its keys; a key kept counts none.
  std::size_t KeyCount() const;
};

std::string EncodeChangeRecord(const ChangeRecord& record);
// False for bytes that are not a whole record.
bool DecodeChangeRecord(std::string_view bytes, ChangeRecord* record);

// The values of root\path in order; *exists false (and 0) when there is no
// such key. With `subkeys`, also how many direct subkeys it has.
LONG ReadKeyValues(IRegistry& registry, HKEY root, const std::string& path, bool* exists, RecordedValues* values,
                   std::size_t* subkeys = nullptr);

// The subtree of the existing key root\path as it is now, parents before
// children.
LONG ReadSubtree(IRegistry& registry, HKEY root, const std::string& path, RecordedTree* tree);

// A subtree to read: root\path's, into *tree, which stays empty when there
// is no such key.
struct SubtreeRead {
  HKEY root;
  const std::string* path;
  RecordedTree* tree;
};
// Reads the subtrees as ReadSubtree does: many below one parent in one walk
// of it when the registry's walk reads the whole store at once
// (IRegistry::WalkReadsWholeFirst), the others each through the calls.
LONG ReadSubtrees(IRegistry& registry, const std::vector<SubtreeRead>& reads);

}  // namespace zandrel::capture
