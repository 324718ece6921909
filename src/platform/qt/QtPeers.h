// Internal to the Qt realisation: the widgets that have no Qt counterpart and
// the peers that keep a control's widget in step with its model.
#pragma once

#include <QAbstractButton>
#include <QAbstractTableModel>
#include <QFont>
#include <QGroupBox>
#include <QHash>
#include <QImage>
#include <QLabel>
#include <QPointer>
#include <QTimer>
#include <QTreeView>
#include <QWidget>

#include <map>
#include <memory>
#include <vector>

#include "platform/qt/QtPictureCache.h"
#include "platform/qt/QtPlatform.h"

namespace zandrel::ui::qt {

QFont ToQFont(const Font& font);
QColor ToQColor(Color color);
// The decoded image of a picture in display format, decoded once and kept on
// the picture.
QImage DecodedImage(const PicturePtr& picture);

// A button in graphical style: a face in its background colour showing the
// picture of its state (normal, disabled or pressed) and its caption.
class PictureButton : public QAbstractButton {
 public:
  explicit PictureButton(QWidget* parent);
  void SetLook(bool graphical, QImage normal, QImage disabled, QImage down);
  void SetFace(QColor face, QColor text);
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  bool graphical_ = true;
  QImage normal_, disabled_, down_;
  QColor face_ = Qt::white;
  QColor text_ = Qt::black;
};

// A label's caption wraps at word boundaries, and a word wider than the box
// breaks where the box ends instead of running out of it.
class WrappingLabel : public QLabel {
 public:
  explicit WrappingLabel(QWidget* parent);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

// A frame drawn as a Windows group box: its background colour throughout, an
// etched line whose top edge runs through the middle of the caption, and the
// caption at the left in the frame's font, interrupting that line. Children
// keep the positions they are given, from the frame's top-left corner.
class FrameBox : public QGroupBox {
 public:
  explicit FrameBox(QWidget* parent);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

// Image and picture box: the picture unscaled from the top-left corner,
// clipped to the control; a picture box first fills its background.
class PictureView : public QWidget {
 public:
  PictureView(QWidget* parent, bool opaque);
  void SetImage(QImage image);
  const QImage& Image() const { return image_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  bool opaque_;
  QImage image_;
};

// Rows of a model ListView read in place: nothing is copied, so a reset with
// tens of thousands of rows costs only the view's layout.
class ItemsModel : public QAbstractTableModel {
 public:
  explicit ItemsModel(ListView* list) : list_(list) {}
  void Detach();
  void Reset();
  int rowCount(const QModelIndex& parent) const override;
  int columnCount(const QModelIndex& parent) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 private:
  ListView* list_;
  int rows_ = 0;
  int columns_ = 0;
};

// The top-level widget of a window. It refuses to be closed by the user (the
// windows have no close box) and reports minimising.
class WindowWidget : public QWidget {
 public:
  WindowWidget(Window& window, Qt::WindowFlags flags);
  void Detach() { window_ = nullptr; }

 protected:
  void changeEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  Window* window_;
};

class ControlPeerBase : public QObject, public ControlPeer {
 public:
  // Stops reporting to the model; the widgets go with their window.
  virtual void Detach() = 0;
};

class WidgetPeer : public ControlPeerBase {
 public:
  WidgetPeer(QtPlatform::Impl& impl, Control& control, QWidget* widget);
  void Update(Property what) override;
  void Detach() override;
  void ApplyAll();
  QWidget* Widget() const { return widget_; }
  Control& Model() const { return control_; }

 private:
  void ApplyColors();
  void ApplyPictures();
  void ApplyListOptions();
  void ApplyColumns();
  void ApplySelection();
  void ScheduleItems();
  void FlushItems();

  QtPlatform::Impl& impl_;
  Control& control_;
  QPointer<QWidget> widget_;
  ItemsModel* items_ = nullptr;  // list views only; owned by the widget
  bool items_pending_ = false;
  bool applying_ = false;  // model -> widget in progress: do not echo back
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

struct Realisation {
  WindowWidget* top = nullptr;
  WindowPeer* peer = nullptr;
  std::map<const Control*, WidgetPeer*> controls;
  std::map<const Timer*, TimerPeer*> timers;
};

}  // namespace zandrel::ui::qt

namespace zandrel::ui {

struct QtPlatform::Impl {
  double scale = 1.0;  // logical dpi / 96
  std::map<const Window*, qt::Realisation> windows;
  QHash<QWidget*, Control*> controlOf;
  std::vector<ShellNotify> notifies;
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
  // A few dozen pictures cover every window; the splash alone rereads twelve
  // frames a hundred times a second.
  qt::PictureCache pictures{64, 32u << 20};

  int ToPixels(float twips) const;
  float ToTwips(int pixels) const;
  // Model focus -> Qt, without echoing back.
  void FocusWidget(QWidget* widget);
};

}  // namespace zandrel::ui
