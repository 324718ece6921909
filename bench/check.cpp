// Wall-clock time of zandrel-reg check's reading of the store: every
// association of the typical and the large store, each command's program
// looked for (a fresh probe each run, so each path is asked of the system
// once a run), over a freshly opened hive. The median of 11 runs of each,
// the paths asked and the associations found broken, and one SUMMARY line
// (check_typical_ms, check_large_ms).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bench/BenchData.h"
#include "registry/hive/Hive.h"
#include "store/BrokenAssociations.h"

int main() {
  using namespace zandrel;
  std::string summary;
  for (const bench::StoreSize& size : {bench::kTypical, bench::kLarge}) {
    std::unique_ptr<hive::HiveRegistry> hive;
    if (const status::Status opened = hive::OpenHiveForReading(bench::CachedHive(size), &hive); !opened.Ok()) {
      std::fprintf(stderr, "%s\n", opened.message.c_str());
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
  }
  std::printf("SUMMARY%s\n", summary.c_str());
  return 0;
}
