#include "registry/hive/HiveImpl.h"

#include "registry/Names.h"

namespace zandrel::hive {

void HiveRegistry::Impl::ClearNodes() {
  node_index.Clear();
  nodes.clear();
}

void HiveRegistry::Impl::DropCaches() {
  ClearNodes();
  ++epoch;
}

void HiveRegistry::Impl::ForgetChildren(sqlite3_int64 key) {
  if (const std::uint32_t* index = node_index.Find(key)) {
    KeyNode& node = nodes[*index];
    node.children_loaded = false;
    node.children.clear();
    node.child_text.clear();
  }
}

void HiveRegistry::Impl::ForgetValues(sqlite3_int64 key) {
  if (const std::uint32_t* index = node_index.Find(key)) {
    KeyNode& node = nodes[*index];
    node.values_loaded = false;
    node.values.clear();
    node.value_text.clear();
  }
}

KeyNode& HiveRegistry::Impl::Node(sqlite3_int64 key) {
  if (const std::uint32_t* index = node_index.Find(key)) return nodes[*index];
  node_index.Insert(key, static_cast<std::uint32_t>(nodes.size()));
  return nodes.emplace_back();
}

LONG HiveRegistry::Impl::Child(sqlite3_int64 parent, std::string_view upper, sqlite3_int64* child) {
  {
    KeyNode& node = Node(parent);
    const auto it = node.LowerBound(upper);
    if (it != node.children.end() && node.Upper(*it) == upper) {
      *child = it->id;
      return *child ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    }
    if (node.children_loaded) return ERROR_FILE_NOT_FOUND;
  }
  if (const LONG code = Reading(); code != ERROR_SUCCESS) return code;
  KeyNode* node = &Node(parent);  // afresh: beginning the snapshot may have emptied the cache
  if (node->children.size() >= kMaxProbes) {
    if (const LONG code = Children(parent, &node); code != ERROR_SUCCESS) return code;
    const auto it = node->LowerBound(upper);
    *child = it != node->children.end() && node->Upper(*it) == upper ? it->id : 0;
    return *child ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
  }
  Use use(child_lookup);
  use.Int(1, parent).Blob(2, upper);
  const int rc = use.Step();
  if (rc == SQLITE_ROW) {
    *child = sqlite3_column_int64(child_lookup, 0);
  } else if (rc == SQLITE_DONE) {
    *child = 0;
  } else {
    return CodeFromSqlite(rc);
  }
  ChildRef probe;
  if (KeyNode::Store(upper, upper, *child, &node->child_text, &probe)) {
    node->children.insert(node->LowerBound(upper), probe);
  }
  return *child ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LONG HiveRegistry::Impl::Walk(sqlite3_int64 key, const std::vector<std::string_view>& parts, sqlite3_int64* out,
                              std::size_t* known) {
  if (known != nullptr) *known = 0;
  for (std::string_view part : parts) {
    upper_buf.clear();
    registry::AppendUpperName(part, &upper_buf);
    const LONG code = Child(key, upper_buf, &key);
    if (code != ERROR_SUCCESS) return code;
    if (known != nullptr) ++*known;
  }
  *out = key;
  return ERROR_SUCCESS;
}

LONG HiveRegistry::Impl::Children(sqlite3_int64 key, KeyNode** out) {
  KeyNode* node = &Node(key);
  if (!node->children_loaded) {
    if (const LONG code = Reading(); code != ERROR_SUCCESS) return code;
    node = &Node(key);
    std::vector<ChildRef> list;
    std::string text;
    Use use(children);
    use.Int(1, key);
    int rc;
    while ((rc = use.Step()) == SQLITE_ROW) {
      ChildRef ref;
      if (!KeyNode::Store(use.Column(0), use.Column(2), sqlite3_column_int64(children, 1), &text, &ref)) {
        return ERROR_NOT_ENOUGH_MEMORY;
      }
      list.push_back(ref);
    }
    if (rc != SQLITE_DONE) return CodeFromSqlite(rc);
    node->children = std::move(list);
    node->child_text = std::move(text);
    node->children_loaded = true;
  }
  *out = node;
  return ERROR_SUCCESS;
}

LONG HiveRegistry::Impl::Values(sqlite3_int64 key, KeyNode** out) {
  KeyNode* node = &Node(key);
  if (!node->values_loaded) {
    if (const LONG code = Reading(); code != ERROR_SUCCESS) return code;
    node = &Node(key);
    node->values.clear();
    node->value_text.clear();
    Use use(values);
    use.Int(1, key);
    int rc;
    while ((rc = use.Step()) == SQLITE_ROW) {
      const std::string_view name = use.Column(0);
      const std::string_view data = use.Column(2);
      node->values.push_back(ValueRef{node->value_text.size(), name.size(), data.size(),
                                      static_cast<DWORD>(sqlite3_column_int64(values, 1)),
                                      sqlite3_column_int64(values, 3)});
      node->value_text.append(name);
      node->value_text.append(data);
    }
    if (rc != SQLITE_DONE) {
      node->values.clear();
      node->value_text.clear();
      return CodeFromSqlite(rc);
    }
    const auto by_id = [](const ValueRef& a, const ValueRef& b) { return a.id < b.id; };
    if (!std::is_sorted(node->values.begin(), node->values.end(), by_id)) {
      std::sort(node->values.begin(), node->values.end(), by_id);
    }
    node->values_loaded = true;
  }
  *out = node;
  return ERROR_SUCCESS;
}

}  // namespace zandrel::hive
