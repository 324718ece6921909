// Wall-clock time of zandrel-reg check's reading of the store: every
// association of the typical and the large store, each command's program
// looked for (a fresh probe each run, so each path is asked of the system
// once a run). The generated stores name Windows programs, which Linux never
// asks for, so a working copy's commands are first made to name programs of
// this system, 600 paths of which a third are missing, as on a machine after
// some uninstalls. The median of 11 runs of each, the paths asked and the
// associations found broken, and one SUMMARY line (check_typical_ms,
// check_large_ms).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/BenchData.h"
#include "registry/hive/Hive.h"
#include "store/BrokenAssociations.h"

namespace {

using namespace zandrel;

// Every title's open command made to name one of 600 programs: 400 files
// of /usr/bin (as many as there are) and 200 that are not there; in one
// transaction.
LONG NameProgramsHere(IRegistry& registry) {
  std::vector<std::string> programs;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/usr/bin", error)) {
    if (programs.size() == 400) break;
    if (entry.is_regular_file(error)) programs.push_back(entry.path().string());
  }
  for (int i = 0; i < 200; ++i) programs.push_back("/opt/zandrel-gone/app" + std::to_string(i));
  std::vector<std::string> titles;
  char name[256];
  for (DWORD i = 0;; ++i) {
    DWORD n = sizeof name;
    const LONG code = registry.RegEnumKeyExA(HKEY_CLASSES_ROOT, i, name, &n, nullptr, nullptr, nullptr, nullptr);
    if (code == ERROR_NO_MORE_ITEMS) break;
    if (code != ERROR_SUCCESS) return code;
    if (name[0] != '.') titles.emplace_back(name, n);
  }
  if (const LONG code = registry.BeginTransaction(); code != ERROR_SUCCESS) return code;
  std::size_t at = 0;
  for (const std::string& title : titles) {
    HKEY key = 0;
    if (registry.RegOpenKeyExA(HKEY_CLASSES_ROOT, (title + "\\shell\\open\\command").c_str(), 0, KEY_SET_VALUE, &key) !=
        ERROR_SUCCESS)
      continue;
    const std::string command = "\"" + programs[at++ % programs.size()] + "\" \"%1\"";
    const LONG code = registry.RegSetValueExA(key, "", 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                                              static_cast<DWORD>(command.size() + 1));
    registry.RegCloseKey(key);
    if (code != ERROR_SUCCESS) return code;
  }
  return registry.CommitTransaction();
}

}  // namespace

int main() {
  std::string summary;
  for (const bench::StoreSize& size : {bench::kTypical, bench::kLarge}) {
    const std::string path = bench::WorkingHive(size, "check");
    std::unique_ptr<hive::HiveRegistry> hive;
    if (const status::Status opened = hive::OpenHive(path, &hive); !opened.Ok()) {
      std::fprintf(stderr, "%s\n", opened.message.c_str());
      return 1;
    }
    if (const LONG code = NameProgramsHere(*hive); code != ERROR_SUCCESS) {
      std::fprintf(stderr, "cannot rewrite the commands of %s: error %ld\n", path.c_str(), static_cast<long>(code));
      return 1;
    }
    std::vector<double> times;
    std::size_t broken = 0, asked = 0;
    for (int run = 0; run < 11; ++run) {
      store::ProgramProbe probe;
      const auto start = std::chrono::steady_clock::now();
      const store::CheckResult result = store::FindBrokenAssociations(*hive, {}, nullptr, probe);
      times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
      if (!result.failure.empty()) {
        std::fprintf(stderr, "%s\n", result.failure.c_str());
        return 1;
      }
      broken = result.broken.size();
      asked = probe.Asked();
    }
    std::sort(times.begin(), times.end());
    const double median = times[times.size() / 2];
    std::printf("check of the %s store: %6.1f ms (goal %d ms), %zu broken, %zu paths asked\n", size.name, median,
                size.extensions == bench::kTypical.extensions ? 50 : 300, broken, asked);
    char figure[64];
    std::snprintf(figure, sizeof figure, " check_%s_ms=%.1f", size.name, median);
    summary += figure;
    hive.reset();
    bench::RemoveHive(path);
  }
  std::printf("SUMMARY%s\n", summary.c_str());
  return 0;
}
