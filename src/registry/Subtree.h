// What a walk of a subtree (IRegistry::WalkSubtree) hands over, and the
// paths of what it hands over.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "registry/Registry.h"

namespace zandrel::registry {

// Each key, then its values, then its subkeys' subtrees, values and subkeys
// in enumeration order.
class SubtreeVisitor {
 public:
  virtual ~SubtreeVisitor() = default;
  // depth 0 and name "" for the key the walk starts at; one more level for
  // each key below it.
  virtual void Key(std::size_t depth, std::string_view name) = 0;
  // A value of the key handed over last.
  virtual void Value(std::string_view name, DWORD type, std::string_view data) = 0;
  // Told first by a walk that knows it: at most how many keys and values,
  // with how many bytes of names and data, will follow; to size the output.
  virtual void Expect(std::size_t /*keys*/, std::size_t /*values*/, std::size_t /*bytes*/) {}
};

// The path of each key a walk hands over, for a visitor that writes paths:
// `title` (the walked key's own path) at depth 0, then a name added for each
// level below it.
class WalkPath {
 public:
  explicit WalkPath(std::string title) : title_(std::move(title)) {}
  // The path of the key handed over as Key(depth, name).
  const std::string& Enter(std::size_t depth, std::string_view name);
  const std::string& Title() const { return title_; }

 private:
  const std::string title_;
  std::string path_;
  std::vector<std::size_t> ends_;  // where each level's part of path_ ends
};

}  // namespace zandrel::registry
