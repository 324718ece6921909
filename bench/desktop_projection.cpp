// Wall-clock time of bringing the desktop's association files in line with
// the typical store, as the window does after every add and removal: the
// store as shipped (its programs are Windows paths, so only what was added
// here projects), and the same after 100 associations were added on this
// machine. Private XDG folders in a temporary folder; the system's MIME
// database is read as it is. Prints one line per case, the median of 9 runs.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/BenchData.h"
#include "assembly/FreedesktopRows.h"
#include "freedesktop/DesktopProjection.h"
#include "registry/hive/Hive.h"

namespace {

using namespace zandrel;

void Associate(IRegistry& registry, const std::string& ext, const std::string& program) {
  auto set = [&](const std::string& path, const std::string& value) {
    HKEY key = 0;
    registry.RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, "", 0, KEY_ACCESS_0x3F, nullptr, &key, nullptr);
    registry.RegSetValueExA(key, "", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.data()),
                            static_cast<DWORD>(value.size()));
    registry.RegCloseKey(key);
  };
  set(ext, "Zq" + ext);
  set("Zq" + ext + "\\shell\\open\\command", "\"" + program + "\" \"%1\"");
}

double Project(IRegistry& registry, const freedesktop::XdgPaths& paths) {
  const auto start = std::chrono::steady_clock::now();
  const freedesktop::ProjectionReport report = freedesktop::ProjectAssociations(registry, assembly::ListedRows, paths);
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  if (!report.status.Ok()) {
    std::fprintf(stderr, "projection failed: %s\n", report.status.message.c_str());
    std::exit(1);
  }
  return ms;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

void Case(IRegistry& registry, const freedesktop::XdgPaths& paths, const char* name) {
  std::vector<double> added, removed, unchanged;
  for (int run = 0; run < 9; ++run) {
    Associate(registry, ".zqbench", "/bin/true");
    added.push_back(Project(registry, paths));
    unchanged.push_back(Project(registry, paths));
    registry.RegDeleteKeyA(HKEY_CLASSES_ROOT, ".zqbench");
    removed.push_back(Project(registry, paths));
  }
  std::printf("%-44s after an add %6.1f ms, after a removal %6.1f ms, nothing to change %6.1f ms\n", name,
              Median(added), Median(removed), Median(unchanged));
}

}  // namespace

int main() {
  char folder[] = "/tmp/zandrel-desktop-bench.XXXXXX";
  if (mkdtemp(folder) == nullptr) return 1;
  freedesktop::XdgPaths paths = freedesktop::XdgPaths::FromEnvironment();
  paths.dataHome = std::string(folder) + "/data";
  paths.configHome = std::string(folder) + "/config";

  const std::string hivePath = bench::WorkingHive(bench::kTypical, "desktop");
  std::unique_ptr<hive::HiveRegistry> hive;
  if (const status::Status opened = hive::OpenHive(hivePath, &hive); !opened.Ok()) {
    std::fprintf(stderr, "%s\n", opened.message.c_str());
    return 1;
  }
  Case(*hive, paths, "typical store (900 extensions) as shipped:");
  for (int i = 0; i < 100; ++i) Associate(*hive, ".zqlinux" + std::to_string(i), "/bin/true");
  Project(*hive, paths);
  Case(*hive, paths, "typical store with 100 Linux associations:");

  hive.reset();
  bench::RemoveHive(hivePath);
  std::filesystem::remove_all(folder);
  return 0;
}
