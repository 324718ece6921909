// Lists the classes store as the manager window's list command reads it and
// prints one row per line, "extension<TAB>description<TAB>command", in
// listing order. The listing runs REPEAT times (default 1); the fastest and
// the median time go to stderr. Over the hive file HIVE, or in the Windows
// build over the machine's registry.
//   zandrel_list_rows HIVE [REPEAT]        zandrel_list_rows.exe [REPEAT]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "store/AssociationListing.h"
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>

#include "registry/win32/Win32Registry.h"
#else
#include "registry/hive/Hive.h"
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
  _setmode(_fileno(stdout), _O_BINARY);  // rows end in LF on both systems
  std::unique_ptr<zandrel::IRegistry> registry;
  const zandrel::status::Status opened =
      zandrel::win32::OpenWindowsRegistry(zandrel::win32::DefaultUndoPlace(), &registry);
  const int repeat_at = 1;
#else
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s HIVE [REPEAT]\n", argv[0]);
    return 2;
  }
  std::unique_ptr<zandrel::hive::HiveRegistry> registry;
  const zandrel::status::Status opened = zandrel::hive::OpenHive(argv[1], &registry);
  const int repeat_at = 2;
#endif
  if (!opened.Ok()) {
    std::fprintf(stderr, "%s\n", opened.message.c_str());
    return 1;
  }
  const int repeat = argc > repeat_at ? std::max(1, std::atoi(argv[repeat_at])) : 1;
  std::vector<double> ms;
  std::vector<zandrel::store::AssociationRow> rows;
  for (int i = 0; i < repeat; ++i) {
    zandrel::store::AssociationListing listing(*registry);
    const auto start = std::chrono::steady_clock::now();
    rows = listing.List().rows;
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
  for (const auto& row : rows)
    std::printf("%s\t%s\t%s\n", row.extension.c_str(), row.description.c_str(), row.command.c_str());
  std::sort(ms.begin(), ms.end());
  std::fprintf(stderr, "rows=%zu runs=%d fastest_ms=%.2f median_ms=%.2f\n", rows.size(), repeat, ms.front(),
               ms[ms.size() / 2]);
  return 0;
}
