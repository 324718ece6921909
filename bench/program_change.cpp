// Wall-clock time of a change of an extension's program on the typical
// store, as zandrel-reg set makes it: the change with its commit, kept in
// the history, then the desktop's association files brought in line with
// the store (the projection, which follows every change on Linux). Two
// extensions of their own are added first: one whose title only it names
// (the title's command and icon change) and one sharing its title (a title
// of its own is copied for it, and undone before the next run). Private XDG
// folders; the median of 21 runs of each, wall clock and this process's CPU
// time, and one SUMMARY line (set_ms, the slower wall clock of the two).
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "assembly/FreedesktopRows.h"
#include "bench/BenchData.h"
#include "capture/HistoryRegistry.h"
#include "freedesktop/DesktopProjection.h"
#include "registry/hive/Hive.h"
#include "store/ChangeUndo.h"
#include "store/ProgramChange.h"

namespace {

using namespace zandrel;

void SetDefault(IRegistry& registry, const std::string& path, const std::string& value) {
  HKEY key = 0;
  registry.RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, "", 0, KEY_ACCESS_0x3F, nullptr, &key, nullptr);
  registry.RegSetValueExA(key, "", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.data()),
                          static_cast<DWORD>(value.size()));
  registry.RegCloseKey(key);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// A program file at `path` (an exe by name: the change writes its icon too).
std::string Program(const std::string& path) {
  if (std::FILE* file = std::fopen(path.c_str(), "wb")) std::fclose(file);
  return path;
}

}  // namespace

int main() {
  char folder[] = "/tmp/zandrel-set-bench.XXXXXX";
  if (mkdtemp(folder) == nullptr) return 1;
  freedesktop::XdgPaths paths = freedesktop::XdgPaths::FromEnvironment();
  paths.dataHome = std::string(folder) + "/data";
  paths.configHome = std::string(folder) + "/config";
  const std::string programs[] = {Program(std::string(folder) + "/viewer one.exe"),
                                  Program(std::string(folder) + "/viewer two.exe")};

  const std::string hivePath = bench::WorkingHive(bench::kTypical, "set");
  std::unique_ptr<hive::HiveRegistry> hive;
  if (const status::Status opened = hive::OpenHive(hivePath, &hive); !opened.Ok()) {
    std::fprintf(stderr, "%s\n", opened.message.c_str());
    return 1;
  }
  SetDefault(*hive, ".zqset", "ZqSet.File");
  SetDefault(*hive, ".zqshared", "ZqShared.File");
  SetDefault(*hive, ".zqother", "ZqShared.File");
  for (const char* title : {"ZqSet.File", "ZqShared.File"}) {
    SetDefault(*hive, std::string(title) + "\\DefaultIcon", "old.exe,1");
    SetDefault(*hive, std::string(title) + "\\shell\\open\\command", "old.exe %1");
  }
  capture::HistoryRegistry history(*hive);
  bool failed = false;
  std::vector<double> cpu;
  const auto timed = [&](const std::string& e, const std::string& program) {
    const auto start = std::chrono::steady_clock::now();
    const std::clock_t startCpu = std::clock();
    history.Describe("set", e);
    const store::ProgramChange change = store::ChangeProgram(history, {e, program});
    const freedesktop::ProjectionReport report = freedesktop::ProjectAssociations(history, assembly::ListedRows, paths);
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    cpu.push_back(1000.0 * static_cast<double>(std::clock() - startCpu) / CLOCKS_PER_SEC);
    if (!change.committed || !report.status.Ok()) {
      std::fprintf(stderr, "set %s failed: %s%s\n", e.c_str(), change.refusal.c_str(), report.status.message.c_str());
      failed = true;
    }
    return ms;
  };
  freedesktop::ProjectAssociations(history, assembly::ListedRows, paths);  // the files there before
  std::vector<double> own, shared;
  for (int run = 0; run < 21 && !failed; ++run) {
    own.push_back(timed(".zqset", programs[run % 2]));
    shared.push_back(timed(".zqshared", programs[run % 2]));
    if (store::UndoChange(history, 0).result != store::UndoOutcome::Result::kUndone) failed = true;
  }
  hive.reset();
  bench::RemoveHive(hivePath);
  std::filesystem::remove_all(folder);
  if (failed) return 1;
  std::printf("set with its commit and the projection (typical store), median of %zu:\n", own.size());
  std::printf("  the title's own command and icon  %6.1f ms\n", Median(own));
  std::printf("  a title of its own copied         %6.1f ms   (goal 50 ms)\n", Median(shared));
  std::printf("  CPU time of either                %6.1f ms\n", Median(cpu));
  std::printf("SUMMARY set_ms=%.1f\n", std::max(Median(own), Median(shared)));
  return 0;
}
