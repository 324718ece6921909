#include "ui/qt/QtPeers.h"

#include <QCheckBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QIcon>
#include <QLineEdit>
#include <QMenu>
#include <QPixmap>
#include <QScreen>
#include <QShortcut>
#include <QTreeView>

#include <algorithm>
#include <limits>
#include <map>
#include <vector>

#include "ui/RealizeControls.h"

namespace zandrel::ui::qt {

using qt::Q;

namespace {

qt::WidgetPeer* PeerOf(const Control& control) { return dynamic_cast<qt::WidgetPeer*>(control.Peer()); }

// The steps of putting a window on screen, in order.

using Widgets = std::map<const Control*, QWidget*>;

// The top-level widget: flags, caption, fixed client size, colour, font, icon.
qt::WindowWidget* MakeTopWidget(QtPlatform::Impl& impl, Window& window) {
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
  // A line edit takes Ctrl+Z before the shortcut (its own undo of typing),
  // and the window runs no shortcut while a text box has the focus.
  for (const auto& [sequence, key] : {std::pair(Qt::Key_Z, Key::CtrlZ), std::pair(Qt::Key_Y, Key::CtrlY)}) {
    auto* shortcut = new QShortcut(QKeySequence(Qt::CTRL | sequence), top);
    QObject::connect(shortcut, &QShortcut::activated, top, [&window, key] { window.FireKey(key); });
  }
  return top;
}

// The list's context menu, on a right click or the menu key.
void AddContextMenu(ListView& list, QWidget* widget) {
  auto* view = static_cast<QTreeView*>(widget);
  view->setContextMenuPolicy(Qt::CustomContextMenu);
  QObject::connect(view, &QWidget::customContextMenuRequested, view, [&list, view](const QPoint& at) {
    if (list.ContextMenu().empty()) return;
    QMenu menu(view);
    for (const std::string& entry : list.ContextMenu()) menu.addAction(Q(entry));
    if (QAction* chosen = menu.exec(view->viewport()->mapToGlobal(at)))
      list.FireContextMenu(static_cast<std::size_t>(menu.actions().indexOf(chosen)));
  });
}

// The widget of one control kind.
QWidget* MakeWidget(ControlKind kind, QWidget* parent) {
  switch (kind) {
    case ControlKind::Label: return new qt::WrappingLabel(parent);
    case ControlKind::TextBox: {
      auto* edit = new QLineEdit(parent);
      edit->setMaxLength(std::numeric_limits<int>::max());  // text boxes have no length limit
      return edit;
    }
    case ControlKind::CheckBox: return new QCheckBox(parent);
    case ControlKind::Frame: return new qt::FrameBox(parent);
    case ControlKind::Button: return new qt::PictureButton(parent);
    case ControlKind::ListView: {
      auto* view = new qt::ListTreeView(parent);
      view->setRootIsDecorated(false);
      view->setItemsExpandable(false);
      view->setUniformRowHeights(true);
      view->setSortingEnabled(false);
      view->header()->setStretchLastSection(false);
      view->header()->setSectionsMovable(false);
      view->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
      view->header()->setMinimumSectionSize(0);
      // A click on a header sorts the model's rows (the peer passes it on).
      view->header()->setSectionsClickable(true);
      view->header()->setSortIndicatorShown(true);
      view->header()->setSortIndicator(-1, Qt::AscendingOrder);
      return view;
    }
    case ControlKind::Image: return new qt::PictureView(parent, false);
    case ControlKind::PictureBox: return new qt::PictureView(parent, true);
  }
  return nullptr;
}

// One control's widget and peer.
QWidget* MakeControl(QtPlatform::Impl& impl, qt::Realisation& r, Control& c, QWidget* parent) {
  QWidget* w = MakeWidget(c.Kind(), parent);
  w->setObjectName(Q(c.Name()));
  if (!c.CanTakeFocus()) w->setFocusPolicy(Qt::NoFocus);
  else w->setFocusPolicy(c.TabIndex() >= 0 ? Qt::StrongFocus : Qt::ClickFocus);
  if (c.Kind() == ControlKind::ListView) AddContextMenu(static_cast<ListView&>(c), w);
  auto* peer = new qt::WidgetPeer(impl, c, w);
  r.controls[&c] = peer;
  c.AttachPeer(peer);
  impl.controlOf.insert(w, &c);
  peer->ApplyAll();
  return w;
}

// The control registered first lies on top of its siblings.
void StackControls(const Window& window, const Widgets& widgets) {
  const auto& controls = window.Controls();
  for (auto it = controls.rbegin(); it != controls.rend(); ++it) {
    auto w = widgets.find(*it);
    if (w != widgets.end()) w->second->raise();
  }
}

// The Tab key visits the controls that take the focus by their TabIndex.
void SetTabOrder(const Window& window, Widgets& widgets) {
  std::vector<Control*> order;
  for (Control* c : window.Controls())
    if (c->CanTakeFocus() && c->TabIndex() >= 0 && widgets.count(c) != 0) order.push_back(c);
  std::stable_sort(order.begin(), order.end(),
                   [](const Control* a, const Control* b) { return a->TabIndex() < b->TabIndex(); });
  for (std::size_t i = 1; i < order.size(); ++i) QWidget::setTabOrder(widgets[order[i - 1]], widgets[order[i]]);
}

void AttachTimers(QtPlatform::Impl& impl, Window& window, qt::Realisation& r) {
  for (Timer* t : window.Timers()) {
    auto* peer = new qt::TimerPeer(impl, *t);
    r.timers[t] = peer;
    t->AttachPeer(peer);
  }
}

// Shows the window (minimised when the model says so) centred on the screen.
void ShowCentred(Window& window, QWidget* top) {
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    top->move(area.x() + (area.width() - top->width()) / 2, area.y() + (area.height() - top->height()) / 2);
  }
  if (window.Minimized()) top->showMinimized();
  else top->show();
  // Centre again now that the frame around the client area is known.
  if (QScreen* screen = top->screen()) {
    const QRect area = screen->availableGeometry();
    const QRect frame = top->frameGeometry();
    top->move(area.x() + (area.width() - frame.width()) / 2, area.y() + (area.height() - frame.height()) / 2);
  }
  top->activateWindow();
}

}  // namespace

void QtPlatform::Realize(Window& window) {
  if (impl_->windows.count(&window) != 0) return;
  impl_->quitRequested = false;
  Impl& impl = *impl_;
  qt::Realisation r;
  r.top = MakeTopWidget(impl, window);
  r.peer = new qt::WindowPeer(impl, window, r.top);
  window.AttachPeer(r.peer);
  Widgets widgets = RealizeControls(window, static_cast<QWidget*>(r.top),
                                    [&](Control& c, QWidget* parent) { return MakeControl(impl, r, c, parent); });
  StackControls(window, widgets);
  SetTabOrder(window, widgets);
  AttachTimers(impl, window, r);
  QWidget* top = r.top;
  impl.windows.emplace(&window, std::move(r));
  ShowCentred(window, top);
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

}  // namespace zandrel::ui::qt
