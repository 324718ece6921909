// Internal to the Qt realisation: the widgets that have no Qt counterpart,
// and the conversions of the model's texts, fonts, colours and pictures.
#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QElapsedTimer>
#include <QFont>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QString>
#include <QTreeView>
#include <QWidget>

#include <functional>
#include <string>

#include "ui/Controls.h"
#include "ui/Window.h"

namespace zandrel::ui::qt {

inline QString Q(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }
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

// The list view: what the user types goes to the model's type-ahead (its
// first column, the same on every system) rather than to the view's own
// search, as one run while the keys come quicker than the keyboard input
// interval.
class ListTreeView : public QTreeView {
 public:
  explicit ListTreeView(QWidget* parent) : QTreeView(parent) {}
  std::function<void(const std::string& typed)> typed;
  void keyboardSearch(const QString& search) override;

 private:
  QString run_;
  QElapsedTimer last_;
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

}  // namespace zandrel::ui::qt
