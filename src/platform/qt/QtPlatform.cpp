#include "platform/qt/QtPlatform.h"

#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QClipboard>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QIcon>
#include <QImageReader>
#include <QKeyEvent>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTranslator>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <filesystem>
#include <limits>

#include "platform/qt/QtPeers.h"
#include "platform/sound/PlayWave.h"
#include "platform/ui/PictureFile.h"

namespace zandrel::ui {

namespace {

QString Q(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// A message box as the Win32 one: with Yes and No there is no way out but the
// two buttons (no Escape, no close box); Ctrl+C copies its caption, text and
// buttons between rules of dashes.
class Win32MessageBox : public QMessageBox {
 public:
  using QMessageBox::QMessageBox;
  bool trapEscape = false;

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    if (trapEscape && event->key() == Qt::Key_Escape) return;
    if (event->matches(QKeySequence::Copy)) {
      const QString rule = QStringLiteral("---------------------------\n");
      QString buttonTexts;
      for (QAbstractButton* button : buttons()) buttonTexts += button->text() + QStringLiteral("   ");
      QApplication::clipboard()->setText(rule + windowTitle() + QStringLiteral("\n") + rule + text() +
                                         QStringLiteral("\n") + rule + buttonTexts + QStringLiteral("\n") + rule);
      return;
    }
    QMessageBox::keyPressEvent(event);
  }
  void closeEvent(QCloseEvent* event) override {
    if (trapEscape) {
      event->ignore();
      return;
    }
    QMessageBox::closeEvent(event);
  }
};

std::uint32_t Be16(const std::vector<std::uint8_t>& b, std::size_t at) {
  return (std::uint32_t{b[at]} << 8) | std::uint32_t{b[at + 1]};
}

// A JPEG decoder pads a stream cut off inside its image data with grey and
// only warns: the file is whole only when an end-of-image marker follows the
// first scan (entropy-coded data cannot contain FF D9).
bool JpegComplete(const std::vector<std::uint8_t>& b) {
  std::size_t i = 2;
  while (i + 4 <= b.size()) {
    if (b[i] != 0xFF) return false;
    const std::uint8_t marker = b[i + 1];
    if (marker == 0xFF) {
      ++i;
      continue;
    }
    if (marker == 0xD8 || (marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) {
      i += 2;
      continue;
    }
    if (marker == 0xDA) {
      for (std::size_t j = i + 2; j + 1 < b.size(); ++j)
        if (b[j] == 0xFF && b[j + 1] == 0xD9) return true;
      return false;
    }
    i += 2 + Be16(b, i + 2);
  }
  return false;
}

bool PngComplete(const std::vector<std::uint8_t>& b) {
  static const char kIend[] = "IEND";
  return std::search(b.begin(), b.end(), kIend, kIend + 4) != b.end();
}

// The whole of a regular file, read in one go; false when it is missing, not a
// regular file or cannot be read.
bool ReadRegularFile(const std::string& path, std::vector<std::uint8_t>& out) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);  // a FIFO must not block
  if (fd < 0) return false;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  std::size_t size = 0;
  if (ok) out.resize(static_cast<std::size_t>(st.st_size) + 1);  // one spare byte shows a file that grew
  while (ok) {
    if (size == out.size()) out.resize(out.size() * 2);
    const ssize_t n = ::read(fd, out.data() + size, out.size() - size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    size += static_cast<std::size_t>(n);
  }
  ::close(fd);
  out.resize(ok ? size : 0);
  return ok;
}

// Decodes and checks the whole file; throws 481 when it is no complete picture
// of the size its header gives.
std::shared_ptr<const qt::DecodedPicture> DecodePicture(const Picture& picture) {
  const RuntimeError invalid{481, "Invalid picture: " + picture.source};
  QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char*>(picture.bytes.data()),
                                            static_cast<qsizetype>(picture.bytes.size()));
  QBuffer buffer(&data);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer);
  reader.setDecideFormatFromContent(true);
  const QByteArray format = reader.format();  // empty once read() has run
  if (format.isEmpty()) throw invalid;
  QImage image = reader.read();
  if (image.isNull() || image.width() != picture.widthPx || image.height() != picture.heightPx) throw invalid;
  if (format == "jpeg" && !JpegComplete(picture.bytes)) throw invalid;
  if (format == "png" && !PngComplete(picture.bytes)) throw invalid;
  auto decoded = std::make_shared<qt::DecodedPicture>();
  decoded->image = qt::ToDisplayFormat(std::move(image));
  decoded->format = format.toStdString();
  return decoded;
}

// A Win32 filter "desc|pattern|desc|pattern|" as Qt name filters, which carry
// their patterns in parentheses at the end; the dialog shows the descriptions
// alone. "*.*" matches every name, as on Windows, not only names with a dot.
QStringList NameFilters(const std::string& filter) {
  QStringList parts = Q(filter).split(QLatin1Char('|'));
  if (!parts.isEmpty() && parts.back().isEmpty()) parts.removeLast();
  QStringList out;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (QString& pattern : patterns)
      if (pattern.trimmed() == QStringLiteral("*.*")) pattern = QStringLiteral("*");
    out << parts[i] + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
  }
  return out;
}

// The file-open dialog with Windows' default extension: it is added to a
// typed name only when the name as typed does not exist, so programs without
// an extension can be picked.
class OpenFileDialog : public QFileDialog {
 public:
  using QFileDialog::QFileDialog;
  QString defaultExt;

  void accept() override {
    const QStringList files = selectedFiles();
    if (files.size() == 1 && !defaultExt.isEmpty() && !QFileInfo::exists(files.front())) {
      const QString withExt = files.front() + QLatin1Char('.') + defaultExt;
      if (QFileInfo(withExt).isFile()) {
        picked_ = withExt;
        QDialog::accept();
        return;
      }
    }
    QFileDialog::accept();
  }
  // The file chosen, once accepted.
  QString Picked() const {
    if (!picked_.isEmpty()) return picked_;
    const QStringList files = selectedFiles();
    return files.isEmpty() ? QString() : files.front();
  }

 private:
  QString picked_;
};

qt::WidgetPeer* PeerOf(const Control& control) {
  return dynamic_cast<qt::WidgetPeer*>(control.Peer());
}

}  // namespace

int QtPlatform::Impl::ToPixels(float twips) const {
  return static_cast<int>(std::lround(static_cast<double>(twips) / 15.0 * scale));
}

float QtPlatform::Impl::ToTwips(int pixels) const {
  return static_cast<float>(std::round(pixels * 15.0 / scale));
}

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
                       QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
  {
    QCoreApplication::installTranslator(translator);
    impl_->translator = translator;
  } else
    delete translator;

  impl_->focusConnection = QObject::connect(app, &QApplication::focusChanged, app, [impl = impl_.get()](QWidget*, QWidget* now) {
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

// --- Windows -----------------------------------------------------------------

void QtPlatform::Realize(Window& window) {
  if (impl_->windows.count(&window) != 0) return;
  impl_->quitRequested = false;
  Impl& impl = *impl_;

  Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
  if (!window.HasTitleBar()) flags |= Qt::FramelessWindowHint;
  if (!window.ShowInTaskbar()) flags |= Qt::Tool;
  auto* top = new qt::WindowWidget(window, flags);
  top->setObjectName(Q(window.Name()));
  top->setWindowTitle(Q(window.Caption()));
  top->setFixedSize(impl.ToPixels(window.ClientWidth()), impl.ToPixels(window.ClientHeight()));
  QPalette pal = top->palette();
  pal.setColor(QPalette::Window, qt::ToQColor(window.BackColor()));
  top->setPalette(pal);
  top->setAutoFillBackground(true);
  top->setFont(qt::ToQFont(Font{}));
  if (window.Icon()) top->setWindowIcon(QIcon(QPixmap::fromImage(qt::DecodedImage(window.Icon()))));

  qt::Realisation r;
  r.top = top;
  r.peer = new qt::WindowPeer(impl, window, top);
  window.AttachPeer(r.peer);

  // Containers first, so that every control finds its parent's widget.
  std::map<const Control*, QWidget*> widgets;
  std::vector<Control*> pending(window.Controls().begin(), window.Controls().end());
  while (!pending.empty()) {
    std::vector<Control*> later;
    for (Control* c : pending) {
      QWidget* parent = top;
      if (c->Container() != nullptr) {
        auto it = widgets.find(c->Container());
        if (it == widgets.end()) {
          later.push_back(c);
          continue;
        }
        parent = it->second;
      }
      QWidget* w = nullptr;
      switch (c->Kind()) {
        case ControlKind::Label:
          w = new qt::WrappingLabel(parent);
          break;
        case ControlKind::TextBox: {
          auto* edit = new QLineEdit(parent);
          edit->setMaxLength(std::numeric_limits<int>::max());  // text boxes have no length limit
          w = edit;
          break;
        }
        case ControlKind::CheckBox:
          w = new QCheckBox(parent);
          break;
        case ControlKind::Frame:
          w = new qt::FrameBox(parent);
          break;
        case ControlKind::Button:
          w = new qt::PictureButton(parent);
          break;
        case ControlKind::ListView: {
          auto* view = new QTreeView(parent);
          view->setRootIsDecorated(false);
          view->setItemsExpandable(false);
          view->setUniformRowHeights(true);
          view->setSortingEnabled(false);
          view->header()->setStretchLastSection(false);
          view->header()->setSectionsMovable(false);
          view->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
          view->header()->setMinimumSectionSize(0);
          w = view;
          break;
        }
        case ControlKind::Image:
          w = new qt::PictureView(parent, false);
          break;
        case ControlKind::PictureBox:
          w = new qt::PictureView(parent, true);
          break;
      }
      w->setObjectName(Q(c->Name()));
      if (!c->CanTakeFocus())
        w->setFocusPolicy(Qt::NoFocus);
      else
        w->setFocusPolicy(c->TabIndex() >= 0 ? Qt::StrongFocus : Qt::ClickFocus);
      widgets[c] = w;
      auto* peer = new qt::WidgetPeer(impl, *c, w);
      r.controls[c] = peer;
      c->AttachPeer(peer);
      impl.controlOf.insert(w, c);
      peer->ApplyAll();
    }
    if (later.size() == pending.size()) break;  // a container outside this window: not shown
    pending = std::move(later);
  }

  // The control registered first lies on top of its siblings.
  const auto& controls = window.Controls();
  for (auto it = controls.rbegin(); it != controls.rend(); ++it) {
    auto w = widgets.find(*it);
    if (w != widgets.end()) w->second->raise();
  }

  std::vector<Control*> order;
  for (Control* c : controls)
    if (c->CanTakeFocus() && c->TabIndex() >= 0 && widgets.count(c) != 0) order.push_back(c);
  std::stable_sort(order.begin(), order.end(),
                   [](const Control* a, const Control* b) { return a->TabIndex() < b->TabIndex(); });
  for (std::size_t i = 1; i < order.size(); ++i) QWidget::setTabOrder(widgets[order[i - 1]], widgets[order[i]]);

  for (Timer* t : window.Timers()) {
    auto* peer = new qt::TimerPeer(impl, *t);
    r.timers[t] = peer;
    t->AttachPeer(peer);
  }

  impl.windows.emplace(&window, std::move(r));

  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    top->move(area.x() + (area.width() - top->width()) / 2, area.y() + (area.height() - top->height()) / 2);
  }
  if (window.Minimized())
    top->showMinimized();
  else
    top->show();
  // Centre again now that the frame around the client area is known.
  if (QScreen* screen = top->screen()) {
    const QRect area = screen->availableGeometry();
    const QRect frame = top->frameGeometry();
    top->move(area.x() + (area.width() - frame.width()) / 2, area.y() + (area.height() - frame.height()) / 2);
  }
  top->activateWindow();
  if (Control* focused = window.Focused(); focused != nullptr && widgets.count(focused) != 0)
    impl.FocusWidget(widgets[focused]);
}

void QtPlatform::Unrealize(Window& window) {
  // A window that still counts as shown is being destroyed: its controls and
  // timers, members of the derived window, are already gone.
  UnrealizeWindow(window, !window.Shown());
}

void QtPlatform::UnrealizeWindow(Window& window, bool controls_alive) {
  auto it = impl_->windows.find(&window);
  if (it == impl_->windows.end()) return;
  qt::Realisation r = std::move(it->second);
  impl_->windows.erase(it);
  // Peers stop reporting now; the widgets may be in the middle of one of
  // their own signals (a button that closes its window), so they go later.
  window.AttachPeer(nullptr);
  r.peer->Detach();
  r.peer->deleteLater();
  for (auto& [control, peer] : r.controls) {
    if (controls_alive) const_cast<Control*>(control)->AttachPeer(nullptr);
    impl_->controlOf.remove(peer->Widget());
    peer->Detach();
    peer->deleteLater();
  }
  for (auto& [timer, peer] : r.timers) {
    if (controls_alive) const_cast<Timer*>(timer)->AttachPeer(nullptr);
    peer->Detach();
    peer->deleteLater();
  }
  r.top->hide();
  r.top->deleteLater();
}

void QtPlatform::BringToFront(Window& window) {
  auto it = impl_->windows.find(&window);
  if (it == impl_->windows.end()) return;
  QWidget* top = it->second.top;
  if (top->isMinimized()) top->showNormal();
  top->show();
  top->raise();
  top->activateWindow();
}

QWidget* QtPlatform::WidgetOf(const Window& window) const {
  auto it = impl_->windows.find(&window);
  return it == impl_->windows.end() ? nullptr : it->second.top;
}

QWidget* QtPlatform::WidgetOf(const Control& control) const {
  qt::WidgetPeer* peer = PeerOf(control);
  return peer == nullptr ? nullptr : peer->Widget();
}

QTimer* QtPlatform::TimerOf(const Timer& timer) const {
  auto it = impl_->windows.find(&timer.Owner());
  if (it == impl_->windows.end()) return nullptr;
  auto t = it->second.timers.find(&timer);
  return t == it->second.timers.end() ? nullptr : t->second->Qt();
}

int QtPlatform::ToPixels(float twips) const { return impl_->ToPixels(twips); }
float QtPlatform::ToTwips(int pixels) const { return impl_->ToTwips(pixels); }

bool QtPlatform::GrabToPng(const Window& window, const std::string& path) const {
  QWidget* top = WidgetOf(window);
  if (top == nullptr) return false;
  return top->grab().save(Q(path), "PNG");
}

// --- Services ----------------------------------------------------------------

int QtPlatform::MsgBox(const std::string& text, int flags, const std::string& title) {
  Win32MessageBox box(nullptr);
  box.setWindowTitle(Q(title));
  box.setTextFormat(Qt::PlainText);
  box.setText(Q(text));
  switch (flags & MB_ICONMASK) {
    case MB_ICONSTOP: box.setIcon(QMessageBox::Critical); break;
    case MB_ICONQUESTION: box.setIcon(QMessageBox::Question); break;
    case MB_ICONEXCLAMATION: box.setIcon(QMessageBox::Warning); break;
    case MB_ICONINFORMATION: box.setIcon(QMessageBox::Information); break;
    default: box.setIcon(QMessageBox::NoIcon); break;
  }
  QAbstractButton* yes = nullptr;
  QAbstractButton* no = nullptr;
  if ((flags & MB_TYPEMASK) == MB_YESNO) {
    yes = box.addButton(QMessageBox::Yes);
    no = box.addButton(QMessageBox::No);
    yes->setText(QStringLiteral("Да"));
    no->setText(QStringLiteral("Нет"));
    yes->setIcon(QIcon());  // Win32 buttons carry text only
    no->setIcon(QIcon());
    box.setDefaultButton(static_cast<QPushButton*>(yes));
    box.trapEscape = true;
    box.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  } else {
    QAbstractButton* ok = box.addButton(QMessageBox::Ok);
    ok->setText(QStringLiteral("OK"));
    ok->setIcon(QIcon());
  }
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
  QAbstractButton* clicked = box.clickedButton();
  if (yes != nullptr) return clicked == yes ? IDYES : IDNO;
  return IDOK;
}

void QtPlatform::ShowOpen(CommonDialog& dialog) {
  OpenFileDialog box(QApplication::activeWindow());
  box.setOption(QFileDialog::DontUseNativeDialog);
  box.setOption(QFileDialog::HideNameFilterDetails);
  box.setAcceptMode(QFileDialog::AcceptOpen);
  box.setWindowTitle(QStringLiteral("Открыть"));
  box.setFileMode((dialog.Flags & OFN_FILEMUSTEXIST) != 0 ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  const QStringList filters = NameFilters(dialog.Filter);
  if (!filters.isEmpty()) {
    box.setNameFilters(filters);
    const int index = dialog.FilterIndex >= 1 && dialog.FilterIndex <= filters.size() ? dialog.FilterIndex : 1;
    box.selectNameFilter(filters[index - 1]);
  }
  if (!dialog.DefaultExt.empty()) {
    QString ext = Q(dialog.DefaultExt);
    while (ext.startsWith(QLatin1Char('.'))) ext.remove(0, 1);
    box.defaultExt = ext;
  }
  if (!dialog.FileName.empty()) {
    const QFileInfo info(Q(dialog.FileName));
    if (info.dir().exists()) box.setDirectory(info.dir());
    box.selectFile(info.fileName());
  }
  box.setWindowModality(Qt::ApplicationModal);
  if (box.exec() != QDialog::Accepted || box.Picked().isEmpty()) {
    if (dialog.CancelError) throw RuntimeError{kCancelErrorNumber, "Cancel was selected."};
    return;
  }
  dialog.FileName = box.Picked().toStdString();
  if (!filters.isEmpty()) {
    const auto chosen = filters.indexOf(box.selectedNameFilter());
    if (chosen >= 0) dialog.FilterIndex = static_cast<int>(chosen) + 1;
  }
}

void QtPlatform::SetMousePointer(int pointer) {
  impl_->pointer = pointer;
  const bool busy = pointer == kPointerHourglass || pointer == 13;  // 13: arrow and hourglass
  if (busy) {
    const QCursor cursor(pointer == kPointerHourglass ? Qt::WaitCursor : Qt::BusyCursor);
    if (impl_->cursorOverridden)
      QApplication::changeOverrideCursor(cursor);
    else
      QApplication::setOverrideCursor(cursor);
    impl_->cursorOverridden = true;
  } else if (impl_->cursorOverridden) {
    QApplication::restoreOverrideCursor();
    impl_->cursorOverridden = false;
  }
}

int QtPlatform::MousePointer() const { return impl_->pointer; }

void QtPlatform::DoEvents() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

PicturePtr QtPlatform::LoadPicture(const std::string& path) {
  // Throws 53 or 481 with the file named. The file is read at every load;
  // bytes that were decoded before passed every check then and pass them now,
  // so only bytes not seen yet meet the decoder.
  std::vector<std::uint8_t> bytes;
  if (ReadRegularFile(path, bytes)) {
    if (std::shared_ptr<const qt::DecodedPicture> known = impl_->pictures.Find(bytes)) {
      auto picture = std::make_shared<Picture>();
      picture->source = path;
      picture->format = known->format;
      picture->widthPx = known->image.width();
      picture->heightPx = known->image.height();
      picture->bytes = std::move(bytes);
      picture->native = std::const_pointer_cast<QImage>(std::shared_ptr<const QImage>(known, &known->image));
      return picture;
    }
  }
  // New bytes, or a file that cannot be read: the full reading, which names
  // the fault, then the decoder. The picture is new and ours alone until
  // returned, so it may still be completed here.
  auto picture = std::const_pointer_cast<Picture>(ReadPictureFile(path));
  std::shared_ptr<const qt::DecodedPicture> decoded = DecodePicture(*picture);
  impl_->pictures.Insert(picture->bytes, decoded);
  picture->format = decoded->format;
  // Shared, never written: a picture's image changes only by a new load.
  picture->native = std::const_pointer_cast<QImage>(std::shared_ptr<const QImage>(decoded, &decoded->image));
  return picture;
}

std::int32_t QtPlatform::sndPlaySoundA(const char* path, std::uint32_t flags) {
  return sound::PlayWave(path, flags);
}

void QtPlatform::SHChangeNotify(std::int32_t wEventId, std::uint32_t uFlags, const void* dwItem1,
                                const void* dwItem2) {
  impl_->notifies.push_back(ShellNotify{wEventId, uFlags, dwItem1, dwItem2});
}

const std::vector<QtPlatform::ShellNotify>& QtPlatform::ShellNotifies() const { return impl_->notifies; }

std::string QtPlatform::ExecutableFolder() {
  std::error_code error;
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return QCoreApplication::applicationDirPath().toStdString();
  std::string folder = exe.parent_path().string();
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

void QtPlatform::Fatal(const RuntimeError& error) {
  if (impl_->fatal) return;
  impl_->fatal = true;
  // Nothing of the program runs any more: no ticks while the message shows.
  for (auto& [window, r] : impl_->windows) {
    for (auto& [timer, peer] : r.timers) peer->Stop();
    r.top->setEnabled(false);
  }
  if (impl_->cursorOverridden) {
    QApplication::restoreOverrideCursor();
    impl_->cursorOverridden = false;
  }
  Win32MessageBox box(QMessageBox::Critical, Q(kAppTitle), Q(error.description));
  box.setTextFormat(Qt::PlainText);
  QAbstractButton* ok = box.addButton(QMessageBox::Ok);
  ok->setText(QStringLiteral("OK"));
  ok->setIcon(QIcon());
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
  for (auto& [window, r] : impl_->windows) r.top->hide();
  if (impl_->inExec) QCoreApplication::exit(1);
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

}  // namespace zandrel::ui
