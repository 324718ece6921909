// Writing test data straight into a registry, bypassing the store.
#pragma once

#include <string>

#include "registry/Registry.h"

namespace zandrel::testing {

// Creates root\path (and every missing key on the way); fails the test's
// assumption loudly by returning the code.
LONG SeedKey(IRegistry& registry, HKEY root, const std::string& path);
// Creates root\path and sets one value of it to exactly `data` (no NUL added
// here; the registry adds its own for REG_SZ).
LONG SeedValue(IRegistry& registry, HKEY root, const std::string& path, const std::string& name, DWORD type,
               const std::string& data);
// One association in the writer's layout: E -> D, D\shell\open\command = command.
void SeedAssociation(IRegistry& registry, const std::string& e, const std::string& d, const std::string& command);

}  // namespace zandrel::testing
