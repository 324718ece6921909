#include "Icons.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace zandrel::assets {

namespace {

// The outline of both icons' document, its top right corner cut off for the
// fold, on a 32-unit square.
QPainterPath Sheet() {
  QPainterPath sheet;
  sheet.moveTo(5, 2);
  sheet.lineTo(20, 2);
  sheet.lineTo(27, 9);
  sheet.lineTo(27, 30);
  sheet.lineTo(5, 30);
  sheet.closeSubpath();
  return sheet;
}

void DrawIcon(QPainter& p, double s) {
  p.save();
  p.scale(s / 32.0, s / 32.0);
  // A document with a folded corner...
  const QPainterPath sheet = Sheet();
  p.setPen(QPen(QColor(0, 0, 0), 1.0));
  p.setBrush(QColor(255, 255, 255));
  p.drawPath(sheet);
  p.setBrush(QColor(192, 192, 192));
  p.drawPolygon(QPolygonF({QPointF(20, 2), QPointF(20, 9), QPointF(27, 9)}));
  p.setPen(QPen(QColor(128, 128, 128), 1.0));
  for (int y : {7, 10}) p.drawLine(QPointF(8, y), QPointF(17, y));
  // ...carrying a blue "Z" badge linked to a yellow gear-like spark.
  p.setPen(QPen(QColor(0, 0, 128), 1.0));
  p.setBrush(QColor(0, 0, 255));
  p.drawRect(QRectF(3, 13, 16, 16));
  p.setPen(QPen(QColor(255, 255, 255), 2.6, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
  p.setBrush(Qt::NoBrush);
  p.drawPolyline(QPolygonF({QPointF(7, 17), QPointF(15, 17), QPointF(7, 25), QPointF(15, 25)}));
  p.setPen(QPen(QColor(128, 0, 0), 1.0));
  p.setBrush(QColor(255, 255, 0));
  p.drawEllipse(QPointF(24, 24), 5.5, 5.5);
  p.setBrush(QColor(255, 0, 0));
  p.drawEllipse(QPointF(24, 24), 2.2, 2.2);
  p.restore();
}

}  // namespace

QImage WindowIcon() {
  QImage full(32, 32, QImage::Format_ARGB32);
  full.fill(Qt::transparent);
  QPainter p(&full);
  DrawIcon(p, 32);  // no antialiasing: every pixel keeps a palette colour
  p.end();
  const QVector<QRgb> table = {qRgb(0, 0, 0),       qRgb(128, 0, 0),   qRgb(0, 128, 0),   qRgb(128, 128, 0),
                               qRgb(0, 0, 128),     qRgb(128, 0, 128), qRgb(0, 128, 128), qRgb(192, 192, 192),
                               qRgb(128, 128, 128), qRgb(255, 0, 0),   qRgb(0, 255, 0),   qRgb(255, 255, 0),
                               qRgb(0, 0, 255),     qRgba(0, 0, 0, 0), qRgb(0, 255, 255), qRgb(255, 255, 255)};
  constexpr int kTransparent = 13;
  QImage indexed(32, 32, QImage::Format_Indexed8);
  indexed.setColorTable(table);
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 32; ++x) {
      const QRgb c = full.pixel(x, y);
      int best = kTransparent;
      if (qAlpha(c) >= 128) {
        int best_d = 1 << 30;
        for (int i = 0; i < table.size(); ++i) {
          if (i == kTransparent) continue;
          const int dr = qRed(c) - qRed(table[i]), dg = qGreen(c) - qGreen(table[i]), db = qBlue(c) - qBlue(table[i]);
          const int d = dr * dr + dg * dg + db * db;
          if (d < best_d) {
            best_d = d;
            best = i;
          }
        }
      }
      indexed.setPixel(x, y, static_cast<uint>(best));
    }
  }
  return indexed;
}

QImage AppIcon() {
  QImage image(128, 128, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(4.0, 4.0);
  // Sheet with a soft shadow and a folded corner.
  const QPainterPath sheet = Sheet();
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0, 0, 0, 50));
  p.drawPath(sheet.translated(0.8, 0.8));
  QLinearGradient paper(5, 2, 27, 30);
  paper.setColorAt(0.0, QColor(255, 255, 255));
  paper.setColorAt(1.0, QColor(214, 222, 236));
  p.setPen(QPen(QColor(70, 80, 100), 0.5));
  p.setBrush(paper);
  p.drawPath(sheet);
  QLinearGradient fold(20, 2, 27, 9);
  fold.setColorAt(0.0, QColor(170, 180, 200));
  fold.setColorAt(1.0, QColor(235, 240, 248));
  p.setBrush(fold);
  p.drawPolygon(QPolygonF({QPointF(20, 2), QPointF(20, 9), QPointF(27, 9)}));
  p.setPen(QPen(QColor(150, 160, 180), 0.7, Qt::SolidLine, Qt::RoundCap));
  for (double y : {6.5, 9.0, 11.5}) p.drawLine(QPointF(8, y), QPointF(y < 10 ? 17.5 : 24, y));
  // The blue badge with the Z.
  const QRectF badge(2.5, 13, 17, 17);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0, 0, 0, 60));
  p.drawRoundedRect(badge.translated(0.6, 0.8), 3, 3);
  QLinearGradient blue(badge.topLeft(), badge.bottomLeft());
  blue.setColorAt(0.0, QColor(100, 160, 240));
  blue.setColorAt(1.0, QColor(20, 60, 170));
  p.setPen(QPen(QColor(10, 30, 100), 0.5));
  p.setBrush(blue);
  p.drawRoundedRect(badge, 3, 3);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(255, 255, 255, 60));
  p.drawRoundedRect(QRectF(badge.left() + 1, badge.top() + 1, badge.width() - 2, badge.height() * 0.45), 2.2, 2.2);
  p.setPen(QPen(QColor(255, 255, 255), 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(Qt::NoBrush);
  p.drawPolyline(QPolygonF({QPointF(6.5, 17), QPointF(15.5, 17), QPointF(6.5, 26), QPointF(15.5, 26)}));
  // The gold spark that links the file to its program.
  QRadialGradient gold(QPointF(22.8, 22.6), 6.5);
  gold.setColorAt(0.0, QColor(255, 250, 200));
  gold.setColorAt(0.6, QColor(255, 200, 40));
  gold.setColorAt(1.0, QColor(200, 120, 0));
  p.setPen(QPen(QColor(120, 60, 0), 0.5));
  p.setBrush(gold);
  p.drawEllipse(QPointF(24, 24), 5.5, 5.5);
  QRadialGradient core(QPointF(23.5, 23.5), 2.6);
  core.setColorAt(0.0, QColor(255, 120, 90));
  core.setColorAt(1.0, QColor(190, 20, 10));
  p.setPen(Qt::NoPen);
  p.setBrush(core);
  p.drawEllipse(QPointF(24, 24), 2.2, 2.2);
  p.end();
  return image;
}

}  // namespace zandrel::assets
