// The CPU time the splash window takes while it animates, up to just before
// its six-second hand-over: each animation tick re-reads its frame files.
//   zandrel_splash_cpu qt APPDIR        the Qt realisation offscreen, real time
//   zandrel_splash_cpu headless APPDIR  the headless controls, AdvanceTime(6000)
// APPDIR/Pic must hold the splash's and the manager's pictures; with
// --make-assets APPDIR the missing ones are made there first (frames of the
// sizes the window shows). Prints one line of key=value pairs.
#include <sys/resource.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QPainter>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/BenchData.h"
#include "bench/PlainRegistry.h"
#include "ui/headless/HeadlessPlatform.h"
#include "ui/qt/QtPlatform.h"
#include "manager/frmZandrel.h"
#include "shell/Forms.h"
#include "shell/frmSplash.h"

namespace {

using namespace zandrel;

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Frames with some texture, so that they compress as photographs do.
void MakeFrame(const QString& path, int width, int height, int seed, const char* format) {
  if (QFile::exists(path)) return;
  QImage image(width, height, QImage::Format_RGB32);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const unsigned v = static_cast<unsigned>(x * 31 + y * 17 + seed * 97) * 2654435761u;
      image.setPixel(x, y, qRgb((x + seed * 13) & 0xFF, (y * 2) & 0xFF, static_cast<int>((v >> 24) & 0x3F) + 96));
    }
  image.save(path, format, 80);
}

void MakeAssets(const std::string& folder) {
  const QString pic = QString::fromStdString(folder) + "/Pic";
  QDir().mkpath(pic);
  QDir().mkpath(QString::fromStdString(folder) + "/Sound");
  MakeFrame(pic + "/J-1.j", 553, 449, 1, "JPG");
  MakeFrame(pic + "/J-2.j", 553, 449, 2, "JPG");
  for (int k = 0; k < 10; ++k) MakeFrame(pic + QString("/Quirk0000%1.j").arg(k), 161, 73, 10 + k, "JPG");
  MakeFrame(pic + "/Me00000.g", 425, 33, 30, "PNG");
  for (const char* name :
       {"k01-1.g", "k01-2.g", "k02-1.g", "k02-2.g", "k03-1.g", "k03-2.g", "k04-1.g", "k04-2.g", "Abt1.g", "Abt2.g"})
    MakeFrame(pic + "/" + name, 99, 33, 40, "PNG");
}

// Counts the picture loads: one per frame file read.
template <class Base>
class Counting : public Base {
 public:
  template <class... A>
  explicit Counting(std::string folder, A&&... a) : Base(std::forward<A>(a)...), folder_(std::move(folder)) {}
  std::string ExecutableFolder() override { return folder_; }
  ui::PicturePtr LoadPicture(const std::string& path) override {
    ++loads;
    return Base::LoadPicture(path);
  }
  long loads = 0;

 private:
  std::string folder_;
};

bench::GeneratedStore EmptyStore() {
  bench::GeneratedStore store;
  store.size = bench::kTypical;
  return store;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s qt|headless|--make-assets APPDIR\n", argv[0]);
    return 2;
  }
  const std::string mode = argv[1];
  const std::string folder = argv[2];
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  if (mode == "--make-assets") {
    MakeAssets(folder);
    return 0;
  }
  bench::PlainRegistry registry(EmptyStore());
  constexpr int kWindowMs = 5950;  // the animation, up to just before the hand-over at 6000 ms

  if (mode == "headless") {
    Counting<ui::headless::HeadlessPlatform> platform(folder);
    platform.SetExecutableFolder(folder);
    shell::Forms forms(platform, registry, manager::frmZandrel::CreatorWith(nullptr));
    const double cpu0 = CpuSeconds();
    platform.Dispatch([&forms] { forms.ShowSplash(); });
    platform.AdvanceTime(kWindowMs);
    const double cpu = CpuSeconds() - cpu0;
    std::printf("mode=headless window_ms=%d cpu_ms=%.1f picture_loads=%ld\n", kWindowMs, cpu * 1000.0, platform.loads);
    return platform.fatalError ? 1 : 0;
  }

  Counting<ui::qt::QtPlatform> platform(folder);
  shell::Forms forms(platform, registry, manager::frmZandrel::CreatorWith(nullptr));
  QEventLoop loop;
  QElapsedTimer wall;
  const double cpu0 = CpuSeconds();
  wall.start();
  platform.Dispatch([&forms] { forms.ShowSplash(); });
  // Counted from before the load, as the splash's own hand-over timer is.
  QTimer stop;  // precise: a coarse timer of this length may come 5 % late, after the hand-over
  stop.setSingleShot(true);
  stop.setTimerType(Qt::PreciseTimer);
  QObject::connect(&stop, &QTimer::timeout, &loop, &QEventLoop::quit);
  stop.start(static_cast<int>(std::max<qint64>(0, kWindowMs - wall.elapsed())));
  loop.exec();
  const double cpu = CpuSeconds() - cpu0;
  const double seconds = static_cast<double>(wall.elapsed()) / 1000.0;
  std::printf("mode=qt window_ms=%lld cpu_ms=%.1f cpu_share=%.1f%% picture_loads=%ld ticks_per_s=%.0f\n",
              static_cast<long long>(wall.elapsed()), cpu * 1000.0, 100.0 * cpu / seconds, platform.loads,
              static_cast<double>(platform.loads) / 12.0 / seconds);
  return platform.FatalHappened() ? 1 : 0;
}
