#include "capture/ChangeRecord.h"

#include <map>
#include <algorithm>

#include "registry/Defaults.h"
#include "registry/Key.h"
#include "registry/Names.h"

namespace zandrel::capture {
namespace {

constexpr std::string_view kMagic = "ZHR1";

void SetU32(std::uint32_t v, char* out) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
void PutU32(std::uint32_t v, std::string* out) {
  char bytes[4];
  SetU32(v, bytes);
  out->append(bytes, 4);
}
void PutString(std::string_view s, std::string* out) {
  PutU32(static_cast<std::uint32_t>(s.size()), out);
  out->append(s);
}
void PutValues(const RecordedValues& values, std::string* out) {
  PutU32(static_cast<std::uint32_t>(values.size()), out);
  for (const registry::Value& v : values) {
    PutString(v.name, out);
    PutU32(v.type, out);
    PutString(v.data, out);
  }
}

// Reads from the front of `in`; false once the bytes run out.
struct Reader {
  std::string_view in;
  bool U32(std::uint32_t* v) {
    if (in.size() < 4) return false;
    *v = 0;
    for (int i = 3; i >= 0; --i) *v = (*v << 8) | static_cast<unsigned char>(in[i]);
    in.remove_prefix(4);
    return true;
  }
  bool View(std::string_view* s) {
    std::uint32_t size = 0;
    if (!U32(&size) || in.size() < size) return false;
    *s = in.substr(0, size);
    in.remove_prefix(size);
    return true;
  }
  bool String(std::string* s) {
    std::string_view view;
    if (!View(&view)) return false;
    s->assign(view);
    return true;
  }
  bool Values(RecordedValues* values) {
    std::uint32_t count = 0;
    if (!U32(&count) || count > in.size() / 12) return false;
    values->resize(count);
    for (registry::Value& v : *values)
      if (!String(&v.name) || !U32(&v.type) || !String(&v.data)) return false;
    return true;
  }
};

// Collects a walk as keys with paths below the walk's start; with
// `wanted`, the subtrees of the start's children it names instead, each
// into its own tree.
class Collector : public registry::SubtreeVisitor {
 public:
  // By upper-case name, sorted.
  using Wanted = std::vector<std::pair<std::string, RecordedTree*>>;
  explicit Collector(RecordedTree* tree) : tree_(tree) {}
  explicit Collector(const Wanted& wanted) : wanted_(&wanted) {}
  // Hands over the last wanted tree, after the walk.
  void Finish() { HandOver(); }
  void Key(std::size_t depth, std::string_view name) override {
    if (wanted_ != nullptr) {
      if (depth <= 1) HandOver();
      if (depth == 1) {
        upper_.clear();
        registry::AppendUpperName(name, &upper_);
        if ((wanted_tree_ = FindWanted(upper_)) != nullptr) tree_ = &scratch_;
      }
      if (tree_ == nullptr) return;
      --depth;
    }
    ends_.resize(depth + 1);
    if (depth == 0) {
      path_.clear();
    } else {
      path_.resize(ends_[depth - 1]);
      if (depth > 1) path_.push_back('\\');
      path_.append(name);
    }
    ends_[depth] = path_.size();
    tree_->AddKey(path_);
  }
  void Value(std::string_view name, DWORD type, std::string_view data) override {
    if (tree_ != nullptr) tree_->AddValue(name, type, data);
  }

 private:
  // Each wanted tree is made in one buffer, kept for the next, and handed
  // over at its size: thousands of small trees, not grown each by copies.
  void HandOver() {
    if (wanted_tree_ != nullptr) *wanted_tree_ = scratch_;  // a copy in room of its size
    scratch_.Clear();
    wanted_tree_ = nullptr;
    tree_ = nullptr;
  }

  // The tree named `upper`, or null. A walk hands a key's children over
  // in the order of their upper-case names, so each is found by moving on
  // from the one before (`at_`, where the one before would be), not by a
  // search: a search each would miss the cache over thousands of names.
  // A child out of that order is searched for afresh.
  RecordedTree* FindWanted(std::string_view upper) {
    const auto below = [](const Wanted::value_type& w, std::string_view name) { return w.first < name; };
    if (upper < last_) at_ = std::lower_bound(wanted_->begin(), wanted_->end(), upper, below) - wanted_->begin();
    while (at_ < wanted_->size() && (*wanted_)[at_].first < upper) ++at_;
    last_.assign(upper);
    return at_ < wanted_->size() && (*wanted_)[at_].first == upper ? (*wanted_)[at_].second : nullptr;
  }

  const Wanted* wanted_ = nullptr;
  std::size_t at_ = 0;  // where the last name is, or would be, among the wanted
  std::string last_;
  RecordedTree scratch_;
  RecordedTree* wanted_tree_ = nullptr;
  RecordedTree* tree_ = nullptr;
  std::string upper_;  // a name upper-cased, kept for its room
  std::string path_;
  std::vector<std::size_t> ends_;
};

bool HasSubtree(RecordEntry::Kind kind) {
  return kind == RecordEntry::Kind::kCreated || kind == RecordEntry::Kind::kDeletedTree;
}

}  // namespace

void RecordedTree::AddKey(std::string_view path) {
  PutString(path, &bytes_);
  count_at_ = bytes_.size();
  last_values_ = 0;
  PutU32(0, &bytes_);
  ++keys_;
}

void RecordedTree::AddValue(std::string_view name, DWORD type, std::string_view data) {
  SetU32(++last_values_, bytes_.data() + count_at_);
  PutString(name, &bytes_);
  PutU32(type, &bytes_);
  PutString(data, &bytes_);
}

void RecordedTree::Clear() {
  bytes_.clear();
  keys_ = 0;
  count_at_ = 0;
  last_values_ = 0;
}

std::vector<RecordedKey> RecordedTree::Decode() const {
  std::vector<RecordedKey> keys(keys_);
  Reader reader{bytes_};
  for (RecordedKey& key : keys)
    if (!reader.String(&key.path) || !reader.Values(&key.values)) break;  // Take checked them whole
  return keys;
}

bool RecordedTree::Take(std::uint32_t keys, std::string_view* bytes) {
  Clear();
  Reader reader{*bytes};
  std::string_view skipped;
  std::uint32_t number = 0;
  for (std::uint32_t key = 0; key < keys; ++key) {
    std::uint32_t values = 0;
    if (!reader.View(&skipped) || !reader.U32(&values) || values > reader.in.size() / 12) return false;
    for (std::uint32_t value = 0; value < values; ++value)
      if (!reader.View(&skipped) || !reader.U32(&number) || !reader.View(&skipped)) return false;
  }
  bytes_.assign(bytes->substr(0, bytes->size() - reader.in.size()));
  keys_ = keys;
  *bytes = reader.in;
  return true;
}

std::size_t ChangeRecord::KeyCount() const {
  std::size_t count = 0;
  for (const RecordEntry& entry : entries)
    count += HasSubtree(entry.kind) ? entry.subtree.Keys() : entry.kind == RecordEntry::Kind::kKept ? 0 : 1;
  return count;
}

std::string EncodeChangeRecord(const ChangeRecord& record) {
  // Sized first: an import's record is megabytes, better not copied as it grows.
  const auto values_size = [](const RecordedValues& values) {
    std::size_t size = 4;
    for (const registry::Value& v : values) size += 12 + v.name.size() + v.data.size();
    return size;
  };
  std::size_t size = kMagic.size() + 4;
  for (const RecordEntry& entry : record.entries)
    size += 9 + entry.path.size() +
            (HasSubtree(entry.kind) ? 4 + entry.subtree.Bytes().size()
                                    : values_size(entry.before) + values_size(entry.after));
  std::string out;
  out.reserve(size);
  out.append(kMagic);
  PutU32(static_cast<std::uint32_t>(record.entries.size()), &out);
  for (const RecordEntry& entry : record.entries) {
    out.push_back(static_cast<char>(entry.kind));
    PutU32(entry.root, &out);
    PutString(entry.path, &out);
    if (HasSubtree(entry.kind)) {
      PutU32(static_cast<std::uint32_t>(entry.subtree.Keys()), &out);
      out.append(entry.subtree.Bytes());
    } else if (entry.kind != RecordEntry::Kind::kKept) {
      PutValues(entry.before, &out);
      if (entry.kind == RecordEntry::Kind::kValues) PutValues(entry.after, &out);
    }
  }
  return out;
}

bool DecodeChangeRecord(std::string_view bytes, ChangeRecord* record) {
  if (bytes.substr(0, kMagic.size()) != kMagic) return false;
  Reader reader{bytes.substr(kMagic.size())};
  std::uint32_t count = 0;
  if (!reader.U32(&count) || count > reader.in.size() / 9) return false;
  record->entries.assign(count, RecordEntry{});
  for (RecordEntry& entry : record->entries) {
    if (reader.in.empty()) return false;
    const int kind = static_cast<unsigned char>(reader.in[0]);
    reader.in.remove_prefix(1);
    if (kind < 1 || kind > 5) return false;
    entry.kind = static_cast<RecordEntry::Kind>(kind);
    if (!reader.U32(&entry.root) || !reader.String(&entry.path)) return false;
    if (HasSubtree(entry.kind)) {
      std::uint32_t keys = 0;
      if (!reader.U32(&keys) || keys > reader.in.size() / 8 || !entry.subtree.Take(keys, &reader.in)) return false;
    } else if (entry.kind != RecordEntry::Kind::kKept &&
               (!reader.Values(&entry.before) ||
                (entry.kind == RecordEntry::Kind::kValues && !reader.Values(&entry.after)))) {
      return false;
    }
  }
  return reader.in.empty();
}

const registry::Value* FindValue(const RecordedValues& values, std::string_view upper) {
  for (const registry::Value& value : values)
    if (registry::UpperName(value.name) == upper) return &value;
  return nullptr;
}

bool SameData(const registry::Value& a, const registry::Value& b) {
  // A string set without its NUL may read back with one.
  auto data = [](const registry::Value& v) {
    const bool text = v.type == REG_SZ || v.type == REG_EXPAND_SZ;
    return text && !v.data.empty() && v.data.back() == '\0' ? std::string_view(v.data).substr(0, v.data.size() - 1)
                                                            : std::string_view(v.data);
  };
  return a.type == b.type && data(a) == data(b);
}

void ApplyWrite(RecordedValues* values, const registry::Value& change, bool deleting) {
  const std::string upper = registry::UpperName(change.name);
  const auto same = std::find_if(values->begin(), values->end(), [&](const registry::Value& value) {
    return registry::UpperName(value.name) == upper;
  });
  if (deleting) {
    if (same != values->end()) values->erase(same);
  } else if (same != values->end()) {
    same->type = change.type;
    same->data = change.data;
  } else {
    values->push_back(change);
  }
}

RecordEntry WriteEntry(HKEY root, std::string path, RecordedValues before, const registry::Value& change,
                       bool deleting) {
  RecordEntry entry{RecordEntry::Kind::kValues, root, std::move(path), {}, std::move(before), {}};
  entry.after = entry.before;
  ApplyWrite(&entry.after, change, deleting);
  return entry;
}

LONG ReadKeyValues(IRegistry& registry, HKEY root, const std::string& path, bool* exists, RecordedValues* values,
                   std::size_t* subkeys) {
  values->clear();
  registry::Key key(registry);
  const LONG code = key.Open(root, path);
  *exists = code == ERROR_SUCCESS;
  if (code != ERROR_SUCCESS) return code == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : code;
  if (const LONG read = key.Values(values); read != ERROR_SUCCESS || subkeys == nullptr) return read;
  std::vector<std::string> names;
  const LONG read = key.SubKeys(&names);
  *subkeys = names.size();
  return read;
}

LONG ReadSubtree(IRegistry& registry, HKEY root, const std::string& path, RecordedTree* tree) {
  tree->Clear();
  registry::Key key(registry);
  if (LONG code = key.Open(root, path); code != ERROR_SUCCESS) return code;
  Collector collector(tree);
  return registry::WalkThroughCalls(registry, key.Handle(), collector);
}

LONG ReadSubtrees(IRegistry& registry, const std::vector<SubtreeRead>& reads) {
  // A walk of the parent reads its whole subtree (the fast walk, the whole
  // store): worth it only for many keys below it.
  constexpr std::size_t kOneWalk = 16;
  std::map<std::pair<HKEY, std::string>, std::vector<const SubtreeRead*>> by_parent;
  std::vector<const SubtreeRead*>* filling = nullptr;
  std::string_view last;  // the parent of the read before, which the next often shares
  for (const SubtreeRead& read : reads) {
    const std::size_t at = read.path->rfind('\\');
    const std::string_view parent =
        at == std::string::npos ? std::string_view() : std::string_view(*read.path).substr(0, at);
    if (filling == nullptr || parent != last || read.root != filling->front()->root)
      filling = &by_parent[{read.root, registry::UpperName(parent)}];
    filling->push_back(&read);
    last = parent;
  }
  const bool whole = registry.WalkReadsWholeFirst();
  for (const auto& [parent, group] : by_parent) {
    if (group.size() < kOneWalk || !whole) {
      for (const SubtreeRead* read : group)
        if (LONG code = ReadSubtree(registry, read->root, *read->path, read->tree);
            code != ERROR_SUCCESS && code != ERROR_FILE_NOT_FOUND)
          return code;
      continue;
    }
    Collector::Wanted wanted;
    wanted.reserve(group.size());
    for (const SubtreeRead* read : group) {
      read->tree->Clear();
      const std::string_view name = std::string_view(*read->path).substr(read->path->rfind('\\') + 1);
      wanted.emplace_back(registry::UpperName(name), read->tree);
    }
    std::sort(wanted.begin(), wanted.end());
    registry::Key key(registry);  // by its upper-case path: names are case-blind
    LONG code = key.Open(parent.first, parent.second);
    if (code == ERROR_FILE_NOT_FOUND) continue;
    if (code != ERROR_SUCCESS) return code;
    Collector collector(wanted);
    code = registry.WalkSubtree(key.Handle(), collector);
    collector.Finish();
    if (code != ERROR_SUCCESS) return code;
  }
  return ERROR_SUCCESS;
}

}  // namespace zandrel::capture
