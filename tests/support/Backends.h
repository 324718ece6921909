// The registry backends the conformance table and the store's tests run on:
// the portable hive (Backends.cpp), or in the Windows build the machine's
// registry (Win32Backends.cpp).
#pragma once

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "capture/HistoryRegistry.h"
#include "registry/Registry.h"

namespace zandrel::testing {

struct Backend {
  std::string name;
  // A fresh, empty registry whose files (if any) live in `folder`.
  std::function<std::unique_ptr<IRegistry>(const std::string& folder)> make;
  // A second instance on the same store as make(folder) gave.
  std::function<std::unique_ptr<IRegistry>(const std::string& folder)> reopen;
  // The machine's registry (Windows build): each test in a sandbox key that
  // stands in for HKEY_LOCAL_MACHINE, all-or-nothing through the undo record.
  bool machine = false;
  // Wine's registry, which differs from Windows (whose answers the hive
  // gives) in ways measured under Wine 8 (registry/ConformanceTest.cpp names
  // them); the tables that meet them give Wine's answers beside Windows'.
  bool wine = false;
};

inline void PrintTo(const Backend& backend, std::ostream* out) { *out << backend.name; }

const std::vector<Backend>& Backends();
// The registry the program ships (the first backend), fresh in `folder`.
std::unique_ptr<IRegistry> MakeRegistry(const std::string& folder);

}  // namespace zandrel::testing
