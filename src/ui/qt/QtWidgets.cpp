#include "ui/qt/QtWidgets.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QStyleOptionFocusRect>

#include <algorithm>
#include <cmath>

namespace zandrel::ui::qt {

QFont ToQFont(const Font& font) {
  QFont f(Q(font.name));
  f.setPointSizeF(font.size);
  f.setBold(font.bold);
  f.setStyleStrategy(QFont::PreferAntialias);
  return f;
}

QColor ToQColor(Color color) { return QColor(color.r, color.g, color.b); }

// --- ListTreeView ----------------------------------------------------------

void ListTreeView::keyboardSearch(const QString& search) {
  if (search.isEmpty()) return;
  if (!last_.isValid() || last_.elapsed() > QApplication::keyboardInputInterval()) run_.clear();
  run_ += search;
  last_.restart();
  if (typed) typed(run_.toStdString());
}

// --- PictureButton ---------------------------------------------------------

PictureButton::PictureButton(QWidget* parent) : QAbstractButton(parent) {
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void PictureButton::SetLook(bool graphical, QImage normal, QImage disabled, QImage down) {
  graphical_ = graphical;
  normal_ = std::move(normal);
  disabled_ = std::move(disabled);
  down_ = std::move(down);
  update();
}

void PictureButton::SetFace(QColor face, QColor text) {
  face_ = face;
  text_ = text;
  update();
}

QSize PictureButton::sizeHint() const { return normal_.isNull() ? QSize(75, 23) : normal_.size(); }

void PictureButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QRect r = rect();
  const bool down = isDown();
  p.fillRect(r, face_);

  const QImage* picture = nullptr;
  if (graphical_) {
    if (!isEnabled() && !disabled_.isNull()) picture = &disabled_;
    else if (down && !down_.isNull()) picture = &down_;
    else if (!normal_.isNull()) picture = &normal_;
  }
  // Without a picture of its own for the pressed state the face moves by a
  // pixel, as a pressed button does.
  const int shift = down && (picture == nullptr || picture != &down_) ? 1 : 0;
  if (picture != nullptr) {
    const QPoint at((r.width() - picture->width()) / 2 + shift, (r.height() - picture->height()) / 2 + shift);
    p.drawImage(at, *picture);
  } else {
    // A plain bevel: raised, or sunken while held down.
    const QColor light(255, 255, 255), mid(160, 160, 160), dark(64, 64, 64), soft(223, 223, 223);
    auto line = [&](QColor c, int x1, int y1, int x2, int y2) {
      p.setPen(c);
      p.drawLine(x1, y1, x2, y2);
    };
    const int w = r.width() - 1, h = r.height() - 1;
    // The top and left edges `i` pixels in, or the bottom and right ones.
    auto topLeft = [&](QColor c, int i) {
      line(c, i, i, w - i, i);
      line(c, i, i, i, h - i);
    };
    auto bottomRight = [&](QColor c, int i) {
      line(c, i, h - i, w - i, h - i);
      line(c, w - i, i, w - i, h - i);
    };
    if (down) {
      topLeft(dark, 0);
      topLeft(mid, 1);
      bottomRight(light, 0);
    } else {
      topLeft(soft, 0);
      topLeft(light, 1);
      bottomRight(dark, 0);
      bottomRight(mid, 1);
    }
  }
  if (!text().isEmpty()) {
    p.setFont(font());
    QRect tr = r.translated(shift, shift);
    if (isEnabled()) {
      p.setPen(text_);
      p.drawText(tr, Qt::AlignCenter | Qt::TextShowMnemonic, text());
    } else {
      p.setPen(Qt::white);
      p.drawText(tr.translated(1, 1), Qt::AlignCenter | Qt::TextShowMnemonic, text());
      p.setPen(QColor(128, 128, 128));
      p.drawText(tr, Qt::AlignCenter | Qt::TextShowMnemonic, text());
    }
  }
  if (hasFocus()) {
    QStyleOptionFocusRect option;
    option.initFrom(this);
    option.rect = r.adjusted(3, 3, -3, -3);
    option.backgroundColor = face_;
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &p, this);
  }
}

void PictureButton::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    if (!event->isAutoRepeat()) animateClick();
    return;
  }
  QAbstractButton::keyPressEvent(event);
}

// --- WrappingLabel ----------------------------------------------------------

WrappingLabel::WrappingLabel(QWidget* parent) : QLabel(parent) {
  setTextFormat(Qt::PlainText);
  setWordWrap(true);
  setAlignment(Qt::AlignLeft | Qt::AlignTop);
  setContentsMargins(0, 0, 0, 0);
}

void WrappingLabel::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setFont(font());
  p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
  QTextOption option(Qt::AlignLeft | Qt::AlignTop);
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  p.drawText(QRectF(contentsRect()), text(), option);
}

// --- FrameBox ---------------------------------------------------------------

FrameBox::FrameBox(QWidget* parent) : QGroupBox(parent) { setAttribute(Qt::WA_OpaquePaintEvent); }

void FrameBox::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QColor back = palette().color(QPalette::Window);
  p.fillRect(rect(), back);

  // The etched edge: a shadow line with a highlight line one pixel inside it
  // at the top and left, outside it at the bottom and right.
  const QFontMetrics metrics(font());
  const int top = std::max(0, metrics.height() / 2 - 1);
  const int w = width(), h = height();
  if (w >= 2 && h - top >= 2) {
    p.setPen(QColor(255, 255, 255));
    p.drawRect(1, top + 1, w - 2, h - top - 2);
    p.setPen(QColor(128, 128, 128));
    p.drawRect(0, top, w - 2, h - top - 2);
  }

  const QString caption = title();
  if (caption.isEmpty()) return;
  const int flags = Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine | Qt::TextShowMnemonic;
  const QRect text = metrics.boundingRect(QRect(7, 0, std::max(0, w - 14), metrics.height()), flags, caption)
                         .intersected(QRect(7, 0, std::max(0, w - 14), metrics.height()));
  // One pixel of background around the caption breaks the line.
  p.fillRect(text.adjusted(-1, 0, 1, 1), back);
  p.setFont(font());
  if (isEnabled()) {
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(text, flags, caption);
  } else {
    p.setPen(QColor(255, 255, 255));
    p.drawText(text.translated(1, 1), flags, caption);
    p.setPen(QColor(128, 128, 128));
    p.drawText(text, flags, caption);
  }
}

// --- PictureView ------------------------------------------------------------

PictureView::PictureView(QWidget* parent, bool opaque) : QWidget(parent), opaque_(opaque) {
  if (opaque_) setAttribute(Qt::WA_OpaquePaintEvent);
}

void PictureView::SetImage(QImage image) {
  // The same decoded pixels again (a file reread with the same bytes): nothing to redraw.
  if (image.cacheKey() == image_.cacheKey()) return;
  image_ = std::move(image);
  update();
}

void PictureView::paintEvent(QPaintEvent* event) {
  QPainter p(this);
  if (opaque_) {
    // Only what an opaque picture leaves uncovered needs the background.
    QRegion background(event->rect());
    if (!image_.isNull() && !image_.hasAlphaChannel()) background -= QRect(QPoint(0, 0), image_.size());
    for (const QRect& r : background) p.fillRect(r, palette().color(QPalette::Window));
  }
  if (!image_.isNull()) p.drawImage(QPoint(0, 0), image_);
}

// --- WindowWidget -----------------------------------------------------------

WindowWidget::WindowWidget(Window& window, Qt::WindowFlags flags) : QWidget(nullptr, flags), window_(&window) {}

void WindowWidget::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange && window_ != nullptr) {
    const bool minimized = isMinimized();
    if (window_->Minimized() != minimized) window_->SetMinimized(minimized);
  }
}

void WindowWidget::closeEvent(QCloseEvent* event) { event->ignore(); }

}  // namespace zandrel::ui::qt
