// What the fuzz targets share: a fresh empty hive per input in a private
// folder. Their dumps are testing::DumpTree's, bounded in depth and size.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "registry/hive/Hive.h"
#include "support/Support.h"

namespace zandrel::fuzz {

inline const testing::TempDir& Scratch() {  // the run's files
  static const testing::TempDir dir;
  return dir;
}

// Writes a file in a private folder for the run, its -wal and -shm
// companions removed; returns its path.
inline std::string WriteScratchFile(const std::string& name, const std::string& bytes) {
  for (const char* suffix : {"-wal", "-shm", "-journal"}) ::unlink(Scratch().File(name + suffix).c_str());
  return Scratch().Write(name, bytes);
}

// An empty hive in a scratch file; never null.
inline std::unique_ptr<hive::HiveRegistry> FreshHive(const std::string& name) {
  static const std::string empty = [] {  // copying a template is much quicker than making a hive
    std::unique_ptr<hive::HiveRegistry> made;
    if (!hive::OpenHive(Scratch().File("template.hive"), &made).Ok()) std::abort();
    return testing::ReadFile(Scratch().File("template.hive"));
  }();
  std::unique_ptr<hive::HiveRegistry> hive;
  if (!hive::OpenHive(WriteScratchFile(name, empty), &hive).Ok()) std::abort();
  return hive;
}

}  // namespace zandrel::fuzz
