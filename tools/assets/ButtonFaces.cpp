#include "ButtonFaces.h"

#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

#include "AssetSupport.h"

namespace zandrel::assets {

namespace {

void DrawGlyph(QPainter& p, Glyph glyph, const QRectF& box, const QColor& ink) {
  p.save();
  QPen pen(ink, box.width() * 0.16, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  p.setPen(pen);
  p.setBrush(Qt::NoBrush);
  const double l = box.left(), t = box.top(), w = box.width(), h = box.height();
  switch (glyph) {
    case Glyph::List:
      for (int i = 0; i < 3; ++i) {
        const double y = t + h * (0.2 + 0.3 * i);
        p.drawPoint(QPointF(l + w * 0.1, y));
        p.drawLine(QPointF(l + w * 0.38, y), QPointF(l + w * 0.95, y));
      }
      break;
    case Glyph::Plus:
      p.drawLine(QPointF(l + w * 0.5, t + h * 0.1), QPointF(l + w * 0.5, t + h * 0.9));
      p.drawLine(QPointF(l + w * 0.1, t + h * 0.5), QPointF(l + w * 0.9, t + h * 0.5));
      break;
    case Glyph::Cross:
    case Glyph::No:
      p.drawLine(QPointF(l + w * 0.18, t + h * 0.18), QPointF(l + w * 0.82, t + h * 0.82));
      p.drawLine(QPointF(l + w * 0.82, t + h * 0.18), QPointF(l + w * 0.18, t + h * 0.82));
      break;
    case Glyph::Door: {
      pen.setWidthF(w * 0.12);
      p.setPen(pen);
      p.drawPolyline(QPolygonF({QPointF(l + w * 0.55, t + h * 0.25), QPointF(l + w * 0.55, t + h * 0.05),
                                QPointF(l + w * 0.05, t + h * 0.05), QPointF(l + w * 0.05, t + h * 0.95),
                                QPointF(l + w * 0.55, t + h * 0.95), QPointF(l + w * 0.55, t + h * 0.75)}));
      p.drawLine(QPointF(l + w * 0.3, t + h * 0.5), QPointF(l + w * 0.95, t + h * 0.5));
      p.drawPolyline(QPolygonF({QPointF(l + w * 0.75, t + h * 0.3), QPointF(l + w * 0.95, t + h * 0.5),
                                QPointF(l + w * 0.75, t + h * 0.7)}));
      break;
    }
    case Glyph::Info: {
      pen.setWidthF(w * 0.1);
      p.setPen(pen);
      p.drawEllipse(box.adjusted(w * 0.05, h * 0.05, -w * 0.05, -h * 0.05));
      p.setFont(UiFont(h * 0.7, QFont::Black, QStringLiteral("DejaVu Serif")));
      p.drawText(box, Qt::AlignCenter, QStringLiteral("i"));
      break;
    }
    case Glyph::Check:
    case Glyph::Forward:
      p.drawPolyline(QPolygonF({QPointF(l + w * 0.1, t + h * 0.55), QPointF(l + w * 0.4, t + h * 0.85),
                                QPointF(l + w * 0.92, t + h * 0.18)}));
      break;
  }
  p.restore();
}

}  // namespace

QImage ButtonFace(int w, int h, const QString& caption, Glyph glyph, const ButtonStyle& style, bool pressed) {
  QImage image(w, h, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  const QRectF outer(0.5, 0.5, w - 1.0, h - 1.0);
  const double radius = 5.0;

  // Soft shadow under a raised button.
  if (!pressed) {
    for (int i = 2; i >= 1; --i) {
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(0, 0, 0, 18 * (3 - i)));
      p.drawRoundedRect(outer.adjusted(1, i, 0, 0), radius, radius);
    }
  }
  const QRectF body = pressed ? outer : outer.adjusted(0, 0, -1, -1);
  QLinearGradient fill(body.topLeft(), body.bottomLeft());
  if (pressed) {
    fill.setColorAt(0.0, style.bottom.darker(125));
    fill.setColorAt(0.55, style.bottom.darker(110));
    fill.setColorAt(1.0, style.top.darker(108));
  } else {
    fill.setColorAt(0.0, style.top.lighter(112));
    fill.setColorAt(0.48, style.top);
    fill.setColorAt(0.52, style.bottom.lighter(108));
    fill.setColorAt(1.0, style.bottom);
  }
  p.setPen(QPen(style.edge, 1.0));
  p.setBrush(fill);
  p.drawRoundedRect(body, radius, radius);

  const QRectF inner = body.adjusted(1.5, 1.5, -1.5, -1.5);
  if (pressed) {
    // Inset: a shade along the top and left edge.
    QLinearGradient shade(inner.topLeft(), inner.topLeft() + QPointF(0, 6));
    shade.setColorAt(0.0, QColor(0, 0, 0, 90));
    shade.setColorAt(1.0, QColor(0, 0, 0, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(shade);
    p.drawRoundedRect(inner, radius - 1.5, radius - 1.5);
  } else {
    // Gloss on the upper half and a bright rim.
    QPainterPath gloss;
    gloss.addRoundedRect(inner.adjusted(1, 0, -1, -inner.height() * 0.52), radius - 2, radius - 2);
    QLinearGradient shine(inner.topLeft(), QPointF(inner.left(), inner.top() + inner.height() * 0.5));
    shine.setColorAt(0.0, QColor(255, 255, 255, 120));
    shine.setColorAt(1.0, QColor(255, 255, 255, 25));
    p.setPen(Qt::NoPen);
    p.setBrush(shine);
    p.drawPath(gloss);
    p.setPen(QPen(QColor(255, 255, 255, 110), 1.0));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(inner, radius - 1.5, radius - 1.5);
  }

  // Glyph and caption, centred together.
  const double glyph_size = std::round(h * (h >= 40 ? 0.36 : 0.4));
  const double gap = 5.0;
  const QFont font = FittingFont(caption, w - 16 - glyph_size - gap, h >= 40 ? 14 : 12);
  const QFontMetricsF metrics(font);
  const double text_w = metrics.horizontalAdvance(caption);
  const double total = glyph_size + gap + text_w;
  const double shift = pressed ? 1.0 : 0.0;
  double x = std::round((w - total) / 2.0) + shift;
  const double cy = h / 2.0 + shift - 0.5;
  const QColor ink(255, 255, 255);
  const QColor shadow(0, 0, 0, pressed ? 70 : 110);
  const QRectF glyph_box(x, cy - glyph_size / 2.0, glyph_size, glyph_size);
  DrawGlyph(p, glyph, glyph_box.translated(0.8, 0.8), shadow);
  DrawGlyph(p, glyph, glyph_box, ink);
  x += glyph_size + gap;
  p.setFont(font);
  const QRectF text_box(x, 0 + shift, text_w + 2, h - 1.0);
  p.setPen(shadow);
  p.drawText(text_box.translated(1, 1), Qt::AlignLeft | Qt::AlignVCenter, caption);
  p.setPen(ink);
  p.drawText(text_box, Qt::AlignLeft | Qt::AlignVCenter, caption);
  p.end();
  return image;
}

}  // namespace zandrel::assets
