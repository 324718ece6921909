// The bulk operations made through the registry calls alone: what
// IRegistry's WalkSubtree, ApplyChanges and DeleteTrees do unless a registry
// does them its own way.
#pragma once

#include <deque>
#include <functional>
#include <string>

#include "registry/Change.h"
#include "registry/Registry.h"
#include "registry/Subtree.h"

namespace zandrel::registry {

// Walks the open `key` and its subtree through the calls of `registry` (each
// key opened for reading). 0 or the first code other than "no more items";
// what was handed over before a failure is incomplete.
LONG WalkThroughCalls(IRegistry& registry, HKEY key, SubtreeVisitor& visitor);

// Makes the changes through the calls of `registry`, each section's keys
// created below the nearest still open, the writes announced a run at a time
// (IRegistry::WillWrite): 0, or the code of the change at *failed.
LONG ApplyThroughCalls(IRegistry& registry, const std::deque<Change>& changes, const Change** failed);

// Deletes root\path and everything below it through the calls, as a file's
// "[-KEY]" line does: 0, also when the key does not exist, or the first
// failing call's code. `deleted`, when set, is told of each key deleted.
LONG DeleteKeyTree(IRegistry& registry, HKEY root, const std::string& path,
                   const std::function<void(std::size_t keys)>& deleted = {});

}  // namespace zandrel::registry
