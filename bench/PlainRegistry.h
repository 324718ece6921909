// The limit the portable registry is measured against: the same keys and
// values in a plain in-memory tree (children in sorted vectors, found by
// binary search; handles in a vector), behind the same interface. It answers
// the reading calls as the hive does; it is filled once from a generated
// store and refuses every change (5), so it needs none of the bookkeeping of
// a real store.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "bench/StoreShape.h"
#include "registry/Registry.h"

namespace zandrel::bench {

class PlainRegistry : public IRegistry {
 public:
  explicit PlainRegistry(const GeneratedStore& store);
  ~PlainRegistry() override;

  ZANDREL_REGISTRY_OVERRIDES;

  struct Node;

 private:
  Node* Resolve(HKEY h) const;

  std::vector<std::unique_ptr<Node>> nodes_;  // every key; [0] HKLM, [1] SOFTWARE, [2] Classes
  std::vector<Node*> handles_;                // slot i is handle kFirstHandle + i; null when free
  std::vector<std::size_t> free_;
};

}  // namespace zandrel::bench
