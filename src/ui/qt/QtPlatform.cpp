#include "ui/qt/QtPlatform.h"

#include <QApplication>
#include <QCursor>
#include <QLibraryInfo>
#include <QScreen>
#include <QTranslator>

#include <chrono>
#include <cmath>
#include <filesystem>

#include "ui/qt/QtPeers.h"
#include "sound/PlayWave.h"

namespace zandrel::ui::qt {

using qt::Q;

int QtPlatform::Impl::ToPixels(float twips) const {
  return static_cast<int>(std::lround(static_cast<double>(twips) / 15.0 * scale));
}

float QtPlatform::Impl::ToTwips(int pixels) const { return static_cast<float>(std::round(pixels * 15.0 / scale)); }

void QtPlatform::Impl::FocusWidget(QWidget* widget) {
  if (syncingFocus || widget == nullptr) return;
  syncingFocus = true;
  widget->setFocus(Qt::OtherFocusReason);
  syncingFocus = false;
}

QtPlatform::QtPlatform() { Init(); }

QtPlatform::QtPlatform(int& argc, char** argv) {
  if (QCoreApplication::instance() == nullptr) own_app_ = std::make_unique<QApplication>(argc, argv);
  Init();
}

void QtPlatform::Init() {
  impl_ = std::make_unique<Impl>();
  auto* app = qApp;
  QApplication::setQuitOnLastWindowClosed(false);  // the program ends when its last window closes
  // Liberation Sans keeps Arial's narrow metrics, so designed texts fit their
  // boxes as they did; DejaVu Sans (wider) where it is missing. Both have Cyrillic.
  QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                             {QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
  QApplication::setFont(qt::ToQFont(Font{}));
  if (QScreen* screen = QGuiApplication::primaryScreen()) impl_->scale = screen->logicalDotsPerInch() / 96.0;

  auto* translator = new QTranslator(app);
  if (translator->load(QLocale(QStringLiteral("ru_RU")), QStringLiteral("qtbase"), QStringLiteral("_"),
                       QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QCoreApplication::installTranslator(translator);
    impl_->translator = translator;
  } else delete translator;

  impl_->focusConnection =
      QObject::connect(app, &QApplication::focusChanged, app, [impl = impl_.get()](QWidget*, QWidget* now) {
        if (impl->syncingFocus || now == nullptr) return;
        auto it = impl->controlOf.constFind(now);
        if (it == impl->controlOf.constEnd()) return;
        Control* control = it.value();
        impl->syncingFocus = true;
        control->Owner().SetFocusTo(control);
        impl->syncingFocus = false;
      });
}

QtPlatform::~QtPlatform() {
  std::vector<Window*> left;
  for (auto& [window, realisation] : impl_->windows) left.push_back(const_cast<Window*>(window));
  for (Window* w : left) UnrealizeWindow(*w, true);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  if (impl_->cursorOverridden) QApplication::restoreOverrideCursor();
  QObject::disconnect(impl_->focusConnection);
  if (auto* translator = static_cast<QTranslator*>(impl_->translator)) {
    QCoreApplication::removeTranslator(translator);
    delete translator;
  }
  impl_.reset();
}

void QtPlatform::SetMousePointer(int pointer) {
  impl_->pointer = pointer;
  const bool busy = pointer == kPointerHourglass || pointer == 13;  // 13: arrow and hourglass
  if (busy) {
    const QCursor cursor(pointer == kPointerHourglass ? Qt::WaitCursor : Qt::BusyCursor);
    if (impl_->cursorOverridden) QApplication::changeOverrideCursor(cursor);
    else QApplication::setOverrideCursor(cursor);
    impl_->cursorOverridden = true;
  } else if (impl_->cursorOverridden) {
    QApplication::restoreOverrideCursor();
    impl_->cursorOverridden = false;
  }
}

int QtPlatform::MousePointer() const { return impl_->pointer; }

void QtPlatform::DoEvents() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

// Exposures and repaints, and the window system's other events; clicks and
// keys wait in the queue for the handler to end.
void QtPlatform::DoPaintEvents() { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); }

std::int64_t QtPlatform::TickCount() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::int32_t QtPlatform::sndPlaySoundA(const char* path, std::uint32_t flags) { return sound::PlayWave(path, flags); }

void QtPlatform::OpenWithShell(const std::string& target) { impl_->opened.push_back(target); }

const std::vector<std::string>& QtPlatform::ShellOpened() const { return impl_->opened; }

std::string QtPlatform::ExecutableFolder() {
  std::error_code error;
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return QCoreApplication::applicationDirPath().toStdString();
  std::string folder = exe.parent_path().string();
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

bool QtPlatform::FatalHappened() const { return impl_->fatal; }

void QtPlatform::Quit() {
  impl_->quitRequested = true;
  if (impl_->inExec) QCoreApplication::exit(impl_->fatal ? 1 : 0);
}

int QtPlatform::Exec() {
  if (impl_->fatal) return 1;
  if (impl_->quitRequested) return 0;  // until a window opens again
  impl_->inExec = true;
  const int status = QApplication::exec();
  impl_->inExec = false;
  return impl_->fatal ? 1 : status;
}

}  // namespace zandrel::ui::qt
