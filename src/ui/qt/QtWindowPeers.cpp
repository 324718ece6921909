#include "ui/qt/QtPeers.h"

#include <QIcon>
#include <QPixmap>

namespace zandrel::ui::qt {

// --- TimerPeer --------------------------------------------------------------

TimerPeer::TimerPeer(QtPlatform::Impl& impl, Timer& timer) : impl_(impl), timer_(timer) {
  qtimer_.setTimerType(Qt::PreciseTimer);
  connect(&qtimer_, &QTimer::timeout, this, [this] {
    if (detached_ || impl_.fatal) return;
    timer_.FireTick();
  });
  Update(Property::Interval);
}

void TimerPeer::Update(Property) {
  if (detached_) return;
  if (timer_.Running() && !impl_.fatal) qtimer_.start(timer_.EffectiveInterval());
  else qtimer_.stop();
}

void TimerPeer::Detach() {
  detached_ = true;
  qtimer_.stop();
  disconnect();
}

// --- WindowPeer -------------------------------------------------------------

WindowPeer::WindowPeer(QtPlatform::Impl& impl, Window& window, WindowWidget* widget)
    : impl_(impl), window_(window), widget_(widget) {}

void WindowPeer::Update(Property what) {
  if (detached_ || widget_ == nullptr) return;
  switch (what) {
    case Property::Caption: widget_->setWindowTitle(Q(window_.Caption())); break;
    case Property::Geometry:
      widget_->setFixedSize(impl_.ToPixels(window_.ClientWidth()), impl_.ToPixels(window_.ClientHeight()));
      break;
    case Property::WindowState:
      if (window_.Minimized() != widget_->isMinimized()) {
        if (window_.Minimized()) widget_->showMinimized();
        else widget_->showNormal();
      }
      break;
    default: break;
  }
}

void WindowPeer::Detach() {
  detached_ = true;
  if (widget_ != nullptr) widget_->Detach();
  disconnect();
}

}  // namespace zandrel::ui::qt
