// zandrel-reg's whole-store work on the large generated store, each run a
// whole process as a user starts it (its start, the hive's opening, the work,
// the output written):
//   query    zandrel-reg query HKCR /s, the output into a file
//   export   zandrel-reg export HKCR FILE
//   import   zandrel-reg import FILE into a hive that does not exist yet
// Prints the median wall-clock time of 5 runs of each, and checks what they
// made against what the library makes through the registry interface in this
// process: the same export, the same hive after the import (into a new,
// empty hive, as the tool makes it), and every query's output the same.
//   zandrel_reg_bench [RUNS]
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/BenchData.h"
#include "bench/StoreShape.h"
#include "files/FileRead.h"
#include "registry/ForwardingRegistry.h"
#include "registry/hive/Hive.h"
#include "regfile/RegFile.h"

extern char** environ;

namespace zandrel::bench {
namespace {

namespace fs = std::filesystem;

std::string ReadWhole(const std::string& path) {
  std::string bytes;
  files::ReadFileWhole(path, &bytes);  // a file not there compares as empty
  return bytes;
}

// Runs zandrel-reg with `args` on `hive`, stdout into `out`; the wall-clock
// milliseconds, or -1 when it did not end with status 0. *cpu_ms (when given)
// gets the process's CPU time, user and system: on a machine shared with
// other work, the part of the wall clock that is its own.
double Run(const std::string& tool, const std::string& hive, const std::vector<std::string>& args,
           const std::string& out, double* cpu_ms = nullptr) {
  // An empty desktop: query and export read the hive's store alone.
  const std::string xdg = DataDir() + "/reg-tool-empty-desktop";
  std::vector<std::string> env = {"ZANDREL_HIVE=" + hive, "XDG_DATA_HOME=" + xdg, "XDG_DATA_DIRS=" + xdg,
                                  "XDG_CONFIG_HOME=" + xdg, "XDG_CONFIG_DIRS=" + xdg};
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string var(*e);
    if (var.rfind("ZANDREL_HIVE=", 0) != 0 && var.rfind("XDG_DATA_", 0) != 0 && var.rfind("XDG_CONFIG_", 0) != 0)
      env.push_back(var);
  }
  std::vector<char*> envp, argv = {const_cast<char*>(tool.c_str())};
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  int status = 0;
  struct rusage usage {};
  const bool spawned = posix_spawn(&pid, tool.c_str(), &actions, nullptr, argv.data(), envp.data()) == 0 &&
                       wait4(pid, &status, 0, &usage) == pid;
  const auto end = std::chrono::steady_clock::now();
  posix_spawn_file_actions_destroy(&actions);
  if (!spawned || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  if (cpu_ms != nullptr) {
    const auto ms = [](const timeval& t) { return t.tv_sec * 1e3 + t.tv_usec / 1e3; };
    *cpu_ms = ms(usage.ru_utime) + ms(usage.ru_stime);
  }
  return std::chrono::duration<double, std::milli>(end - start).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

int Main(int runs) {
  const std::string tool = (fs::read_symlink("/proc/self/exe").parent_path() / "zandrel-reg").string();
  const StoreSize size = kLarge;
  const std::string reg = CachedRegFile(size);
  const std::string hive = WorkingHive(size, "reg-tool");
  const std::string dir = DataDir();
  const std::string query_out = dir + "/reg-tool-query.txt", exported = dir + "/reg-tool-export.reg",
                    imported = dir + "/work-reg-tool-import.hive", reexported = dir + "/reg-tool-reexport.reg";
  // What the library makes through the registry interface, in this process:
  // the export of the hive, and of a new default hive the file is imported into.
  std::string reference_export, reference_import;
  {
    std::unique_ptr<hive::HiveRegistry> h, fresh;
    status::Status done = hive::OpenHive(hive, &h);
    if (done.Ok()) done = regfile::ExportRegText(*h, "HKEY_CLASSES_ROOT", &reference_export);
    if (!done.Ok()) return std::fprintf(stderr, "%s\n", done.message.c_str()), 1;
    RemoveHive(imported);
    done = hive::OpenHive(imported, &fresh);
    CallsOnly calls(*fresh);  // through the calls, to hold the tool's own import against
    if (done.Ok()) done = regfile::ImportRegFile(calls, reg);
    if (done.Ok()) done = regfile::ExportRegText(*fresh, "HKEY_CLASSES_ROOT", &reference_import);
    if (!done.Ok()) return std::fprintf(stderr, "the reference import failed %s\n", done.message.c_str()), 1;
  }
  std::string first_query;
  struct Work {
    const char* name;
    double goal_ms;
    std::vector<double> ms;
    std::vector<double> cpu_ms;
  } work[] = {{"zandrel-reg query HKCR /s", 100, {}, {}},
              {"zandrel-reg export HKCR FILE", 150, {}, {}},
              {"zandrel-reg import FILE (new hive)", 300, {}, {}}};
  double cpu = 0;
  for (int i = 0; i < runs; ++i) {
    work[0].ms.push_back(Run(tool, hive, {"query", "HKCR", "/s"}, query_out, &cpu));
    work[0].cpu_ms.push_back(cpu);
    const std::string query = ReadWhole(query_out);
    if (i == 0) first_query = query;
    if (query.empty() || query != first_query) return std::fprintf(stderr, "the query's output differs\n"), 1;

    work[1].ms.push_back(Run(tool, hive, {"export", "HKCR", exported}, "/dev/null", &cpu));
    work[1].cpu_ms.push_back(cpu);
    if (ReadWhole(exported) != reference_export) return std::fprintf(stderr, "the export differs\n"), 1;

    RemoveHive(imported);
    work[2].ms.push_back(Run(tool, imported, {"import", reg}, "/dev/null", &cpu));
    work[2].cpu_ms.push_back(cpu);
    if (Run(tool, imported, {"export", "HKCR", reexported}, "/dev/null") < 0 ||
        ReadWhole(reexported) != reference_import)
      return std::fprintf(stderr, "the imported hive does not export as the file\n"), 1;
  }
  for (const Work& w : work)
    if (std::count(w.ms.begin(), w.ms.end(), -1.0) != 0) return std::fprintf(stderr, "%s failed\n", w.name), 1;
  std::printf(
      "zandrel-reg on the %s store (%d direct subkeys, %zu keys, %.1f MB .reg), median of %d, ms wall"
      " (CPU)\n",
      size.name, size.directKeys, GenerateStore(size).keys.size(), static_cast<double>(fs::file_size(reg)) / 1e6, runs);
  bool met = true;
  for (const Work& w : work) {
    const double median = Median(w.ms);
    met = met && median <= w.goal_ms;
    std::printf("  %-36s %7.1f (%5.1f)   (goal %.0f; runs:", w.name, median, Median(w.cpu_ms), w.goal_ms);
    for (double ms : w.ms) std::printf(" %.0f", ms);
    std::printf(")\n");
  }
  std::printf("SUMMARY query_ms=%.1f export_ms=%.1f import_ms=%.1f goals_met=%s\n", Median(work[0].ms),
              Median(work[1].ms), Median(work[2].ms), met ? "yes" : "no");
  RemoveHive(hive);
  RemoveHive(imported);
  return 0;
}

}  // namespace
}  // namespace zandrel::bench

int main(int argc, char** argv) { return zandrel::bench::Main(argc > 1 ? std::atoi(argv[1]) : 5); }
