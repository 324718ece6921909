// What the fuzz targets share: a fresh empty hive per input, and a dump that
// bounds its depth and size, so that no hive file can make it run away.
#pragma once

#include <memory>
#include <string>

#include "platform/hive/Hive.h"
#include "support/Support.h"

namespace zandrel::fuzz {

// A private folder for the run's files (its -wal and -shm companions removed
// with each file replaced).
const testing::TempDir& Scratch();
std::string WriteScratchFile(const std::string& name, const std::string& bytes);
// An empty hive in a scratch file; never null.
std::unique_ptr<hive::HiveRegistry> FreshHive(const std::string& name);
std::string BoundedDump(IRegistry& registry, HKEY root, int max_depth = 600, int max_keys = 20000);

}  // namespace zandrel::fuzz
