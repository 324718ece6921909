// The list over a generated desktop of 1,100 typed extensions and 150
// applications in private XDG folders (only them: the system's databases are
// left out), over an empty hive as a new user has: wall-clock time of the
// first listing (the helper computes the view), of a listing with the view
// warm, and of the listing after a default changed; the peak resident memory
// of this process and of the helper. Median of 9 runs each, with the CPU
// time beside (on a busy machine the wall clock also counts waits for a core).
//   zandrel_desktop_view_bench     (zandrel-desktop-view beside it)
#include <stdlib.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/BenchData.h"
#include "freedesktop/DesktopClasses.h"
#include "registry/hive/Hive.h"
#include "store/AssociationListing.h"

namespace {

using namespace zandrel;

constexpr int kTypes = 1100;
constexpr int kApplications = 150;

void Write(const std::string& path, const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path) << text;
}

// Type i is opened by application i % kApplications; every seventh type has
// a default line naming another application that is also associated. The
// variant changes the default of type 0 alone, as xdg-mime default does.
std::string MimeApps(int variant) {
  auto app = [&](int i) {
    return "zqapp-" + std::to_string((i + 1 + (i == 0 ? variant : 0)) % kApplications) + ".desktop;\n";
  };
  std::string list = "[Default Applications]\n";
  for (int i = 0; i < kTypes; i += 7) list += "application/x-zqbench-" + std::to_string(i) + "=" + app(i);
  list += "\n[Added Associations]\n";
  for (int i = 0; i < kTypes; i += 7) list += "application/x-zqbench-" + std::to_string(i) + "=" + app(i);
  return list;
}

void MakeDesktop(const std::string& root) {
  std::string package =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n";
  for (int i = 0; i < kTypes; ++i)
    package += "  <mime-type type=\"application/x-zqbench-" + std::to_string(i) + "\"><comment>Bench document " +
               std::to_string(i) + "</comment><comment xml:lang=\"ru\">Документ " + std::to_string(i) +
               "</comment><glob pattern=\"*.zqb" + std::to_string(i) + "\"/></mime-type>\n";
  Write(root + "/system/mime/packages/bench.xml", package + "</mime-info>\n");
  for (int a = 0; a < kApplications; ++a) {
    std::string types;
    for (int i = a; i < kTypes; i += kApplications) types += "application/x-zqbench-" + std::to_string(i) + ";";
    Write(root + "/system/applications/zqapp-" + std::to_string(a) + ".desktop",
          "[Desktop Entry]\nType=Application\nName=Bench app " + std::to_string(a) + "\nExec=/bin/true --app " +
              std::to_string(a) + " %F\nIcon=zqapp-" + std::to_string(a) + "\nMimeType=" + types + "\n");
  }
  Write(root + "/config/mimeapps.list", MimeApps(0));
  const std::string env = "XDG_DATA_DIRS=" + root + "/system XDG_DATA_HOME=" + root + "/data ";
  if (std::system((env + "update-mime-database " + root + "/system/mime").c_str()) != 0 ||
      std::system((env + "update-desktop-database " + root + "/system/applications").c_str()) != 0) {
    std::fprintf(stderr, "the databases could not be made\n");
    std::exit(1);
  }
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main() {
  char folder[] = "/tmp/zandrel-view-bench.XXXXXX";
  if (mkdtemp(folder) == nullptr) return 1;
  const std::string root = folder;
  MakeDesktop(root);
  setenv("XDG_DATA_DIRS", (root + "/system").c_str(), 1);
  setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
  setenv("XDG_CONFIG_DIRS", (root + "/etc").c_str(), 1);
  const freedesktop::XdgPaths paths = freedesktop::XdgPaths::FromEnvironment();

  std::unique_ptr<hive::HiveRegistry> hive;
  if (const status::Status opened = hive::OpenHive(root + "/registry.db", &hive); !opened.Ok()) {
    std::fprintf(stderr, "%s\n", opened.message.c_str());
    return 1;
  }
  // Wall clock, and the CPU time of this process and its helpers together.
  std::vector<double> cpu;
  auto cpuMs = [] {
    rusage self{}, children{};
    getrusage(RUSAGE_SELF, &self);
    getrusage(RUSAGE_CHILDREN, &children);
    auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    return ms(self.ru_utime) + ms(self.ru_stime) + ms(children.ru_utime) + ms(children.ru_stime);
  };
  auto time = [&](auto&& work) {
    const double cpuStart = cpuMs();
    const auto start = std::chrono::steady_clock::now();
    work();
    cpu.push_back(cpuMs() - cpuStart);
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  };
  std::vector<double> first, warm, changed, firstCpu, warmCpu, changedCpu;
  std::size_t rows = 0;
  for (int run = 0; run < 9; ++run) {
    std::unique_ptr<freedesktop::DesktopClasses> classes;
    first.push_back(time([&] {
      classes =
          std::make_unique<freedesktop::DesktopClasses>(*hive, paths,
                                                        freedesktop::HelperReader(freedesktop::HelperBesideProgram()));
      rows = store::AssociationListing(*classes).List().rows.size();
    }));
    warm.push_back(time([&] { store::AssociationListing(*classes).List(); }));
    Write(root + "/config/mimeapps.list", MimeApps(run + 1));
    changed.push_back(time([&] { store::AssociationListing(*classes).List(); }));
    firstCpu.push_back(cpu[cpu.size() - 3]);
    warmCpu.push_back(cpu[cpu.size() - 2]);
    changedCpu.push_back(cpu.back());
    if (classes->ViewBuilds() != 2 || !classes->ViewError().empty()) {
      std::fprintf(stderr, "the view was not rebuilt once after the change: %s\n", classes->ViewError().c_str());
      return 1;
    }
  }
  rusage children{};
  getrusage(RUSAGE_CHILDREN, &children);
  std::printf("desktop of %d typed extensions and %d applications, %zu rows listed (median of 9, wall clock)\n", kTypes,
              kApplications, rows);
  std::printf("first listing %.1f ms, warm %.1f ms, after a default changed %.1f ms\n", Median(first), Median(warm),
              Median(changed));
  std::printf("CPU time, this process and the helper: first %.1f ms, warm %.1f ms, after a default changed %.1f ms\n",
              Median(firstCpu), Median(warmCpu), Median(changedCpu));
  std::printf("peak resident memory: this process %.1f MB, the helper %.1f MB\n", bench::PeakRssKib() / 1024.0,
              children.ru_maxrss / 1024.0);
  hive.reset();
  std::filesystem::remove_all(root);
  return 0;
}
