// The benchmarks of the association list and of the writes, at the three
// store sizes:
//   List/hive       frmZandrel::cmdList_Click over the portable hive (headless
//                   controls; the closing message box answers at once)
//   ListFirst/hive  the same, the first listing after the hive is opened
//   List/plain      the same listing over the same data in a plain tree
//   List/hive-held  the listing over the hive while another handle stays
//                   open, so the hive keeps one read snapshot for the whole
//                   walk instead of one per row (what the per-row cost is)
//   QtFill          the rows into the Qt list view: model reset, layout, paint
//   Add, Remove     one association through the manager window, each with
//                   its commit to disk
//   Import          the .reg file into a new hive
//   Open            opening an existing hive and its first call
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTreeView>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "bench/BenchData.h"
#include "bench/PlainRegistry.h"
#include "bench/StoreShape.h"
#include "manager/frmZandrel.h"
#include "ui/headless/HeadlessPlatform.h"
#include "registry/ForwardingRegistry.h"
#include "registry/hive/Hive.h"
#include "regfile/RegFile.h"
#include "ui/qt/QtPlatform.h"

namespace zandrel::bench {
namespace {

using manager::frmZandrel;

const std::string kListedPrefix = "Просмотр завершен.  Всего  ";

// The generated store of each size and its plain tree, made once per run.
struct SizeData {
  GeneratedStore store;
  std::unique_ptr<PlainRegistry> plain;
  std::vector<ui::ListItem> rows;  // what the listing shows, for the Qt fill
};

SizeData& Data(const StoreSize& size) {
  static std::map<std::string, std::unique_ptr<SizeData>> cache;
  auto& slot = cache[size.name];
  if (!slot) {
    slot = std::make_unique<SizeData>();
    slot->store = GenerateStore(size);
    slot->plain = std::make_unique<PlainRegistry>(slot->store);
  }
  return *slot;
}

// A manager window on the headless controls over `registry`.
struct HeadlessManager {
  explicit HeadlessManager(IRegistry& registry) {
    platform.SetExecutableFolder(ManagerAppFolder());
    form = std::make_unique<frmZandrel>(
        platform, registry, [] {}, [] {});
    form->Show();
  }
  ui::headless::HeadlessPlatform platform;
  std::unique_ptr<frmZandrel> form;
};

// Checks that the last listing ended as the generated store says it must.
bool ListedAll(benchmark::State& state, const HeadlessManager& m, const GeneratedStore& store) {
  const std::string expected = kListedPrefix + std::to_string(store.listedRows);
  if (m.platform.messages.empty() || m.platform.messages.back().text != expected ||
      m.form->lvwAsso.Count() != store.listedRows) {
    state.SkipWithError(("the listing did not end with \"" + expected + "\"").c_str());
    return false;
  }
  return true;
}

// Counts the registry calls the listing makes; they must grow as the store.
class CountingRegistry : public ForwardingRegistry {
 public:
  using ForwardingRegistry::ForwardingRegistry;
  LONG RegOpenKeyExA(HKEY a, const char* b, DWORD c, REGSAM d, HKEY* e) override {
    ++calls;
    return ForwardingRegistry::RegOpenKeyExA(a, b, c, d, e);
  }
  LONG RegEnumKeyExA(HKEY a, DWORD b, char* c, DWORD* d, DWORD* e, char* f, DWORD* g, FILETIME* h) override {
    ++calls;
    return ForwardingRegistry::RegEnumKeyExA(a, b, c, d, e, f, g, h);
  }
  LONG RegEnumValueA(HKEY a, DWORD b, char* c, DWORD* d, DWORD* e, DWORD* f, BYTE* g, DWORD* h) override {
    ++calls;
    return ForwardingRegistry::RegEnumValueA(a, b, c, d, e, f, g, h);
  }
  LONG RegCreateKeyExA(HKEY a, const char* b, DWORD c, const char* d, DWORD e, REGSAM f, const void* g, HKEY* h,
                       DWORD* i) override {
    ++calls;
    return ForwardingRegistry::RegCreateKeyExA(a, b, c, d, e, f, g, h, i);
  }
  LONG RegSetValueExA(HKEY a, const char* b, DWORD c, DWORD d, const BYTE* e, DWORD f) override {
    ++calls;
    return ForwardingRegistry::RegSetValueExA(a, b, c, d, e, f);
  }
  LONG RegDeleteKeyA(HKEY a, const char* b) override {
    ++calls;
    return ForwardingRegistry::RegDeleteKeyA(a, b);
  }
  LONG RegCloseKey(HKEY a) override {
    ++calls;
    return ForwardingRegistry::RegCloseKey(a);
  }
  LONG RegDeleteValueA(HKEY a, const char* b) override {
    ++calls;
    return ForwardingRegistry::RegDeleteValueA(a, b);
  }
  std::size_t calls = 0;
};

void SetListCounters(benchmark::State& state, const GeneratedStore& store) {
  state.counters["keys"] = store.size.directKeys;
  state.counters["rows"] = static_cast<double>(store.listedRows);
  // Time per direct subkey of the classes root: flat from size to size when
  // no step of the listing grows faster than the store.
  state.counters["per_key"] =
      benchmark::Counter(static_cast<double>(store.size.directKeys),
                         benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void ListHive(benchmark::State& state, StoreSize size) {
  SizeData& data = Data(size);
  std::unique_ptr<hive::HiveRegistry> hive;
  if (const status::Status opened = hive::OpenHive(CachedHive(size), &hive); !opened.Ok())
    return state.SkipWithError(opened.message.c_str());
  HeadlessManager m(*hive);
  for (auto _ : state) {
    m.platform.ClearRecord();
    m.form->cmdList_Click();
  }
  if (!ListedAll(state, m, data.store)) return;
  SetListCounters(state, data.store);
}

void ListHiveHeld(benchmark::State& state, StoreSize size) {
  SizeData& data = Data(size);
  std::unique_ptr<hive::HiveRegistry> hive;
  if (const status::Status opened = hive::OpenHive(CachedHive(size), &hive); !opened.Ok())
    return state.SkipWithError(opened.message.c_str());
  HeadlessManager m(*hive);
  HKEY held = 0;
  if (hive->RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &held) != ERROR_SUCCESS)
    return state.SkipWithError("SOFTWARE cannot be opened");
  for (auto _ : state) {
    m.platform.ClearRecord();
    m.form->cmdList_Click();
  }
  hive->RegCloseKey(held);
  if (!ListedAll(state, m, data.store)) return;
  SetListCounters(state, data.store);
}

void ListHiveFirst(benchmark::State& state, StoreSize size) {
  SizeData& data = Data(size);
  const std::string path = CachedHive(size);
  std::unique_ptr<hive::HiveRegistry> hive;
  std::unique_ptr<HeadlessManager> m;
  for (auto _ : state) {
    state.PauseTiming();
    m.reset();
    hive.reset();
    if (const status::Status opened = hive::OpenHive(path, &hive); !opened.Ok())
      return state.SkipWithError(opened.message.c_str());
    m = std::make_unique<HeadlessManager>(*hive);
    state.ResumeTiming();
    m->form->cmdList_Click();
  }
  if (!ListedAll(state, *m, data.store)) return;
  SetListCounters(state, data.store);
}

void ListPlain(benchmark::State& state, StoreSize size) {
  SizeData& data = Data(size);
  HeadlessManager m(*data.plain);
  for (auto _ : state) {
    m.platform.ClearRecord();
    m.form->cmdList_Click();
  }
  if (!ListedAll(state, m, data.store)) return;
  if (data.rows.empty()) data.rows = m.form->lvwAsso.Items();
  SetListCounters(state, data.store);
  // One more listing, untimed, to count its registry calls.
  CountingRegistry counting(*data.plain);
  HeadlessManager counted(counting);
  counted.form->cmdList_Click();
  state.counters["calls_per_key"] = static_cast<double>(counting.calls) / size.directKeys;
}

// The Qt realisation with the manager's pictures in the benchmark's folder.
class BenchQtPlatform : public ui::qt::QtPlatform {
 public:
  std::string ExecutableFolder() override { return ManagerAppFolder(); }
};

void QtFill(benchmark::State& state, StoreSize size) {
  SizeData& data = Data(size);
  if (data.rows.empty()) {
    HeadlessManager m(*data.plain);
    m.form->cmdList_Click();
    data.rows = m.form->lvwAsso.Items();
  }
  BenchQtPlatform platform;
  {
    frmZandrel form(
        platform, *data.plain, [] {}, [] {});
    form.Show();
    QApplication::processEvents();
    auto* view = qobject_cast<QTreeView*>(platform.WidgetOf(form.lvwAsso));
    if (view == nullptr) return state.SkipWithError("the list view is not a QTreeView");
    for (auto _ : state) {
      state.PauseTiming();
      std::vector<ui::ListItem> items = data.rows;
      state.ResumeTiming();
      // As the listing does: empty the list, then set all rows at once.
      form.lvwAsso.ClearItems();
      form.lvwAsso.SetItems(std::move(items));
      QApplication::processEvents();  // the reset Qt was asked for
      view->viewport()->repaint();    // layout and paint of the visible rows
    }
    if (view->model()->rowCount() != static_cast<int>(data.rows.size()))
      return state.SkipWithError("the Qt list view does not hold every row");
    state.counters["rows"] = static_cast<double>(data.rows.size());
    form.Close();
    QApplication::processEvents();
  }
}

std::string ThisProgram() { return std::filesystem::read_symlink("/proc/self/exe").string(); }

void FillAddFields(frmZandrel& form, const std::string& e, const std::string& d) {
  form.txtFileExt.SetText(e);
  form.txtTitleRef.SetText(d);
  form.txtExecutableFileSpec.SetText(ThisProgram());
  form.cbxUpdateList.SetValue(0);
}

bool LastMessageIs(benchmark::State& state, const HeadlessManager& m, const std::string& text) {
  if (!m.platform.messages.empty() && m.platform.messages.back().text == text) return true;
  state.SkipWithError(("expected the message \"" + text + "\", got \"" +
                       (m.platform.messages.empty() ? std::string() : m.platform.messages.back().text) + "\"")
                          .c_str());
  return false;
}

// Adds or removes one association per iteration; only `timed` is measured,
// the other half restores the store.
void AddRemove(benchmark::State& state, StoreSize size, bool timeAdd) {
  const std::string path = WorkingHive(size, timeAdd ? "add" : "remove");
  std::unique_ptr<hive::HiveRegistry> hive;
  if (const status::Status opened = hive::OpenHive(path, &hive); !opened.Ok())
    return state.SkipWithError(opened.message.c_str());
  HeadlessManager m(*hive);
  frmZandrel& form = *m.form;
  int n = 0;
  auto add = [&](const std::string& e, const std::string& d) {
    FillAddFields(form, e, d);
    form.CreateAssociation();
    return LastMessageIs(state, m, "Всё прошло успешно.");
  };
  auto remove = [&](const std::string& e, const std::string& d) {
    form.txtFileExt.SetText(e);
    form.txtTitleRef.SetText(d);
    form.cbxUpdateList.SetValue(0);
    m.platform.AnswerNext(IDYES);
    form.RemoveAssociation();
    return LastMessageIs(state, m, "Ассоциация удаленна из реестра " + e);
  };
  for (auto _ : state) {
    const std::string e = ".zбench" + std::to_string(++n);
    const std::string d = "Замер.Title." + std::to_string(n);
    if (timeAdd) {
      if (!add(e, d)) break;
      state.PauseTiming();
      const bool ok = remove(e, d);
      m.platform.ClearRecord();
      state.ResumeTiming();
      if (!ok) break;
    } else {
      state.PauseTiming();
      const bool ok = add(e, d);
      m.platform.ClearRecord();
      state.ResumeTiming();
      if (!ok || !remove(e, d)) break;
    }
  }
  m.form.reset();
  hive.reset();
  RemoveHive(path);
}

void Import(benchmark::State& state, StoreSize size) {
  const std::string reg = CachedRegFile(size);
  const std::string path = DataDir() + "/work-" + std::string(size.name) + "-import.hive";
  for (auto _ : state) {
    state.PauseTiming();
    RemoveHive(path);
    state.ResumeTiming();
    std::unique_ptr<hive::HiveRegistry> hive;
    if (const status::Status opened = hive::OpenHive(path, &hive); !opened.Ok())
      return state.SkipWithError(opened.message.c_str());
    CallsOnly calls(*hive);  // the import through the calls; the hive's own is zandrel-reg's
    const status::Status imported = regfile::ImportRegFile(calls, reg);
    if (!imported.Ok()) return state.SkipWithError(imported.message.c_str());
  }
  state.counters["MB"] = static_cast<double>(std::filesystem::file_size(reg)) / 1e6;
  {
    // The imported store lists as the one written straight into a hive.
    std::unique_ptr<hive::HiveRegistry> hive;
    if (const status::Status opened = hive::OpenHive(path, &hive); !opened.Ok())
      return state.SkipWithError(opened.message.c_str());
    HeadlessManager m(*hive);
    m.form->cmdList_Click();
    ListedAll(state, m, Data(size).store);
  }
  RemoveHive(path);
}

void Open(benchmark::State& state, StoreSize size) {
  const std::string path = CachedHive(size);
  for (auto _ : state) {
    std::unique_ptr<hive::HiveRegistry> hive;
    if (const status::Status opened = hive::OpenHive(path, &hive); !opened.Ok())
      return state.SkipWithError(opened.message.c_str());
    HKEY key = 0;
    if (hive->RegOpenKeyExA(HKEY_LOCAL_MACHINE, store::kClassesPath, 0, KEY_ACCESS_0x3F, &key) != ERROR_SUCCESS)
      return state.SkipWithError("the classes key cannot be opened");
    char name[256];
    DWORD length = sizeof name;
    if (hive->RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      return state.SkipWithError("the classes key has no subkeys");
    hive->RegCloseKey(key);
  }
  state.counters["MB"] = static_cast<double>(std::filesystem::file_size(path)) / 1e6;
}

void Register() {
  for (const StoreSize& size : kSizes) {
    const std::string s = size.name;
    const bool huge = s == kHuge.name;
    benchmark::RegisterBenchmark(("List/hive/" + s).c_str(), ListHive, size)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark(("List/hive-held/" + s).c_str(), ListHiveHeld, size)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark(("ListFirst/hive/" + s).c_str(), ListHiveFirst, size)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(huge ? 3 : 10);
    benchmark::RegisterBenchmark(("List/plain/" + s).c_str(), ListPlain, size)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark(("QtFill/" + s).c_str(), QtFill, size)->Unit(benchmark::kMillisecond)->UseRealTime();
    benchmark::RegisterBenchmark(("Add/" + s).c_str(), AddRemove, size, true)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(20);
    benchmark::RegisterBenchmark(("Remove/" + s).c_str(), AddRemove, size, false)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(20);
    benchmark::RegisterBenchmark(("Import/" + s).c_str(), Import, size)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(huge ? 1 : 3);
    benchmark::RegisterBenchmark(("Open/" + s).c_str(), Open, size)->Unit(benchmark::kMillisecond)->UseRealTime();
  }
}

}  // namespace
}  // namespace zandrel::bench

int main(int argc, char** argv) {
  // Offscreen unless told otherwise: the numbers must not depend on a display.
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  zandrel::bench::Register();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
