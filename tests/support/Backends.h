// The registry backends the conformance table and the store's tests run on:
// the portable hive here. Another platform's build lists its own backend in
// its own copy of Backends.cpp.
#pragma once

#include <functional>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "registry/Registry.h"

namespace zandrel::testing {

struct Backend {
  std::string name;
  // A fresh, empty registry whose files (if any) live in `folder`.
  std::function<std::unique_ptr<IRegistry>(const std::string& folder)> make;
  // A second instance on the same store as make(folder) gave.
  std::function<std::unique_ptr<IRegistry>(const std::string& folder)> reopen;
  std::set<std::string> skips;  // conformance rows where this backend knowingly differs
};

inline void PrintTo(const Backend& backend, std::ostream* out) { *out << backend.name; }

const std::vector<Backend>& Backends();
// The registry the program ships (the first backend), fresh in `folder`.
std::unique_ptr<IRegistry> MakeRegistry(const std::string& folder);

}  // namespace zandrel::testing
