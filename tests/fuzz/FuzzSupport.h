// What the fuzz targets share: a scratch folder on a memory file system, a
// fresh empty hive per input (copied from a template, which is much quicker
// than creating one), and a walk over a registry that bounds its depth, so
// that a hive whose keys form a cycle cannot recurse forever.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/hive/Hive.h"
#include "registry/Registry.h"

namespace zandrel::fuzz {

// A folder private to this process, removed at exit.
const std::string& ScratchDir();

// Removes path and its -wal, -shm and -journal companions.
void RemoveHiveFiles(const std::string& path);

// An empty hive at ScratchDir()/name, replacing whatever was there. Never null
// (aborts when the template cannot be made: the target cannot run at all).
std::unique_ptr<hive::HiveRegistry> FreshHive(const std::string& name);

// Writes bytes to ScratchDir()/name (removing the old file and companions
// first) and returns the path.
std::string WriteScratchFile(const std::string& name, const std::uint8_t* data, std::size_t size);

// Every key and value below root, at most `max_depth` levels deep and at most
// `max_keys` keys, as text (the same shape as the tests' DumpTree). Calls that
// fail appear as "error" lines.
std::string BoundedDump(IRegistry& registry, HKEY root, int max_depth = 600, int max_keys = 20000);

}  // namespace zandrel::fuzz
