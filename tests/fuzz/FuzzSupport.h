// What the fuzz targets share: files in a private scratch folder, a fresh
// empty hive per input, and a dump that bounds its depth and size, so a hive
// whose keys form a cycle cannot recurse forever.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/hive/Hive.h"

namespace zandrel::fuzz {

// Writes bytes to a scratch file `name` (its -wal, -shm, -journal removed) and returns its path.
std::string WriteScratchFile(const std::string& name, const std::string& bytes);
// An empty hive in a scratch file; never null.
std::unique_ptr<hive::HiveRegistry> FreshHive(const std::string& name);
std::string BoundedDump(IRegistry& registry, HKEY root, int max_depth = 600, int max_keys = 20000);

}  // namespace zandrel::fuzz
