// The registries the store's tests run against: the in-memory model always,
// and the portable hive (what ships) when it is part of the build.
#pragma once

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "registry/Registry.h"

namespace zandrel::testing {

struct RegistryKind {
  std::string name;
  // Makes a fresh, empty classes store; `folder` may hold its files.
  std::function<std::unique_ptr<IRegistry>(const std::string& folder)> make;
  // Opens a second instance on the same store, or nullptr when the kind has
  // no such thing (the in-memory model).
  std::function<std::unique_ptr<IRegistry>(const std::string& folder)> reopen;
};

const std::vector<RegistryKind>& RegistryKinds();

// For test output: the kind's name rather than its bytes.
inline void PrintTo(const RegistryKind& kind, std::ostream* out) { *out << kind.name; }

// For INSTANTIATE_TEST_SUITE_P names.
inline std::string RegistryKindName(const RegistryKind& kind) { return kind.name; }

}  // namespace zandrel::testing
