// The undo of a change, as the window and zandrel-reg make it over the hive,
// wall clock with the commit, median of the runs: of an add on the typical
// store (goal 5 ms) and of the import of the large store into an empty hive
// (30,000 direct subkeys, 94,227 keys; goal 1 s).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/BenchData.h"
#include "regfile/RegFile.h"
#include "registry/hive/Hive.h"
#include "store/AssociationChanges.h"
#include "store/ChangeUndo.h"

namespace {

using namespace zandrel;

class Silent : public store::Prompter {
 public:
  int MsgBox(const std::string&, int) override { return IDYES; }
};

double Median(std::vector<double> runs) {
  std::sort(runs.begin(), runs.end());
  return runs[runs.size() / 2];
}

template <typename Work>
double Timed(Work&& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

std::unique_ptr<hive::HiveRegistry> Open(const std::string& path) {
  std::unique_ptr<hive::HiveRegistry> registry;
  if (const status::Status opened = hive::OpenHive(path, &registry); !opened.Ok())
    std::fprintf(stderr, "%s\n", opened.message.c_str());
  return registry;
}

}  // namespace

int main() {
  const std::string program = bench::DataDir() + "/viewer.exe";
  std::FILE* file = std::fopen(program.c_str(), "wb");
  if (file != nullptr) std::fclose(file);
  std::vector<double> adds;
  {
    auto hive = Open(bench::WorkingHive(bench::kTypical, "undo"));
    if (!hive) return 1;
    capture::HistoryRegistry history(*hive);
    Silent prompter;
    for (int run = 0; run < 21; ++run) {
      store::CreateAssociation(history, prompter, {".undo" + std::to_string(run), "Undo Bench", program, 0});
      adds.push_back(Timed([&] { store::UndoChange(history, 0); }));
    }
  }
  std::vector<double> imports;
  const std::string reg = bench::CachedRegFile(bench::kLarge);
  for (int run = 0; run < 5; ++run) {
    const std::string path = bench::DataDir() + "/undo-import.db";
    bench::RemoveHive(path);
    auto hive = Open(path);
    if (!hive) return 1;
    capture::HistoryRegistry history(*hive);
    history.Describe("import", reg);
    if (!regfile::ImportRegFile(history, reg).Ok()) return 1;
    imports.push_back(Timed([&] {
      if (store::UndoChange(history, 0).result != store::UndoOutcome::Result::kUndone)
        std::fprintf(stderr, "not undone\n");
    }));
  }
  std::printf("undo of an add (typical store): %.2f ms, median of %zu (goal 5 ms)\n", Median(adds), adds.size());
  std::printf("undo of the large store's import: %.0f ms, median of %zu (goal 1000 ms)\n", Median(imports),
              imports.size());
  return 0;
}
