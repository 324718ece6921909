// Files the benchmarks work on, kept in the build folder: the generated
// stores as .reg files and as hives (made once, reused by later runs), working
// copies of hives for the writing benchmarks, and an application folder with
// the manager window's pictures.
#pragma once

#include <string>

#include "bench/StoreShape.h"

namespace zandrel::bench {

// The folder the files live in (created when missing).
std::string DataDir();

// The store of `size` as a .reg file / as a hive; made on first use.
std::string CachedRegFile(const StoreSize& size);
std::string CachedHive(const StoreSize& size);

// Copies the cached hive of `size` to a working file named after `tag` and
// returns its path; the cached hive itself is never written to.
std::string WorkingHive(const StoreSize& size, const std::string& tag);

// Removes a hive file with its -wal and -shm companions.
void RemoveHive(const std::string& path);

// An application folder whose Pic folder holds every picture the manager
// window loads (valid PNG files, whatever their suffix).
std::string ManagerAppFolder();

// A valid greyscale PNG of the given size (uncompressed).
std::string MakePng(int width, int height);

// Peak and current resident set of this process, in KiB (VmHWM, VmRSS).
long PeakRssKib();
long CurrentRssKib();

}  // namespace zandrel::bench
