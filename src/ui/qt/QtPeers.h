// Internal to the Qt realisation: the peers that keep a window's, a control's
// and a timer's Qt objects in step with the model, and the platform's state.
//   QtControlPeer.cpp  every control kind's widget; QtListPeer.cpp the list
//                      view's columns, rows and selection
//   QtWindowPeers.cpp  the window's and its timers' peers
//   QtRealize.cpp      putting a window on screen and taking it down
#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <map>
#include <memory>
#include <vector>

#include "ui/PictureCache.h"
#include "ui/PropertyPeer.h"
#include "ui/qt/QtItemsModel.h"
#include "ui/qt/QtPlatform.h"
#include "ui/qt/QtWidgets.h"

namespace zandrel::ui::qt {

class ControlPeerBase : public QObject, public ControlPeer {
 public:
  // Stops reporting to the model; the widgets go with their window.
  virtual void Detach() = 0;
};

class WidgetPeer : public QObject, public PropertyPeer {
 public:
  WidgetPeer(QtPlatform::Impl& impl, Control& control, QWidget* widget);
  // Stops reporting to the model; the widgets go with their window.
  void Detach();
  void ApplyAll();
  QWidget* Widget() const { return widget_; }

 private:
  bool Showing() const override { return !detached_ && widget_ != nullptr; }
  ZANDREL_PROPERTY_PEER_OVERRIDES
  void SelectCurrent();
  void ResizeColumns();
  void FlushItems();

  QtPlatform::Impl& impl_;
  QPointer<QWidget> widget_;
  ItemsModel* items_ = nullptr;  // list views only; owned by the widget
  bool items_pending_ = false;
  bool detached_ = false;
};

class TimerPeer : public ControlPeerBase {
 public:
  TimerPeer(QtPlatform::Impl& impl, Timer& timer);
  void Update(Property what) override;
  void Detach() override;
  void Stop() { qtimer_.stop(); }
  QTimer* Qt() { return &qtimer_; }

 private:
  QtPlatform::Impl& impl_;
  Timer& timer_;
  QTimer qtimer_;
  bool detached_ = false;
};

class WindowPeer : public ControlPeerBase {
 public:
  WindowPeer(QtPlatform::Impl& impl, Window& window, WindowWidget* widget);
  void Update(Property what) override;
  void Detach() override;

 private:
  QtPlatform::Impl& impl_;
  Window& window_;
  QPointer<WindowWidget> widget_;
  bool detached_ = false;
};

// A picture as Qt decoded it, remembered by the bytes of its file.
struct DecodedPicture {
  QImage image;        // in display format; never changed once made
  std::string format;  // "png", "jpeg", ...
};
std::size_t PixelBytes(const DecodedPicture& picture);

struct Realisation {
  WindowWidget* top = nullptr;
  WindowPeer* peer = nullptr;
  std::map<const Control*, WidgetPeer*> controls;
  std::map<const Timer*, TimerPeer*> timers;
};

struct QtPlatform::Impl {
  double scale = 1.0;  // logical dpi / 96
  std::map<const Window*, qt::Realisation> windows;
  QHash<QWidget*, Control*> controlOf;
  std::vector<std::string> opened;
  int pointer = kPointerDefault;
  bool cursorOverridden = false;
  bool syncingFocus = false;
  bool fatal = false;
  bool quitRequested = false;
  // Exec() is running. Only then may the loops be told to exit: Qt keeps an
  // exit asked for outside them and makes every later modal loop return at once.
  bool inExec = false;
  QMetaObject::Connection focusConnection;
  QObject* translator = nullptr;  // a QTranslator installed on the application
  PictureCache<qt::DecodedPicture> pictures{qt::PixelBytes};

  int ToPixels(float twips) const;
  float ToTwips(int pixels) const;
  // Model focus -> Qt, without echoing back.
  void FocusWidget(QWidget* widget);
};

}  // namespace zandrel::ui::qt
