// What the fuzz targets share: a fresh empty hive per input in a private
// folder. Their dumps are testing::DumpTree's, bounded in depth and size.
#pragma once

#include <memory>
#include <string>

#include "registry/hive/Hive.h"
#include "support/Support.h"

namespace zandrel::fuzz {

// Writes a file in a private folder for the run, its -wal and -shm
// companions removed; returns its path.
std::string WriteScratchFile(const std::string& name, const std::string& bytes);
// An empty hive in a scratch file; never null.
std::unique_ptr<hive::HiveRegistry> FreshHive(const std::string& name);

}  // namespace zandrel::fuzz
