// Lists a hive once in a process of its own and reports the process's peak
// resident memory. Built twice: on the headless controls (the store's work
// alone) and, with ZANDREL_LIST_RSS_QT, on the Qt realisation offscreen (the
// whole program: Qt, the window, the rows in the list view; each message box
// is answered as soon as it shows).
//   zandrel_list_rss HIVE    prints: rows=N rss_start_kib=N rss_peak_kib=N
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "bench/BenchData.h"
#include "manager/frmZandrel.h"
#include "registry/hive/Hive.h"

#ifdef ZANDREL_LIST_RSS_QT
#include <QApplication>
#include <QDialog>
#include <QTimer>

#include "ui/qt/QtPlatform.h"
#else
#include "ui/headless/HeadlessPlatform.h"
#endif

namespace {

#ifdef ZANDREL_LIST_RSS_QT
class RssPlatform : public zandrel::ui::qt::QtPlatform {
 public:
  using QtPlatform::QtPlatform;
  std::string ExecutableFolder() override { return zandrel::bench::ManagerAppFolder(); }
};
#endif

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s HIVE\n", argv[0]);
    return 2;
  }
  const long start = zandrel::bench::PeakRssKib();
#ifdef ZANDREL_LIST_RSS_QT
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  RssPlatform platform;
  QTimer answer;  // the user who clicks OK at once
  QObject::connect(&answer, &QTimer::timeout, [] {
    if (auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget())) box->done(0);
  });
  answer.start(5);
#else
  zandrel::ui::headless::HeadlessPlatform platform;
  platform.SetExecutableFolder(zandrel::bench::ManagerAppFolder());
#endif
  std::unique_ptr<zandrel::hive::HiveRegistry> hive;
  if (const zandrel::status::Status opened = zandrel::hive::OpenHive(argv[1], &hive); !opened.Ok()) {
    std::fprintf(stderr, "%s\n", opened.message.c_str());
    return 1;
  }
  auto form = std::make_unique<zandrel::manager::frmZandrel>(
      platform, *hive, [] {}, [] {});
  form->Show();
  form->cmdList_Click();
#ifdef ZANDREL_LIST_RSS_QT
  QApplication::processEvents();
#endif
  std::printf("rows=%zu rss_start_kib=%ld rss_peak_kib=%ld\n", form->lvwAsso.Count(), start,
              zandrel::bench::PeakRssKib());
  return form->lvwAsso.Count() > 0 ? 0 : 1;
}
