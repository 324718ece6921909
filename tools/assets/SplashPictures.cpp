#include "SplashPictures.h"

#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <iterator>

#include "AssetSupport.h"

namespace zandrel::assets {

namespace {

// A radial gradient from `focus` out to `reach`, through `stops` (position
// 0..1, colour).
QRadialGradient Radial(QPointF focus, double reach, std::initializer_list<QGradientStop> stops) {
  QRadialGradient gradient(focus, reach);
  for (const QGradientStop& stop : stops) gradient.setColorAt(stop.first, stop.second);
  return gradient;
}

// A disc of radius `r` filled with `fill`, outlined with `outline`: a glow
// (a gradient from the centre out to the edge, no outline) or a lit ball.
void DrawDisc(QPainter& p, QPointF centre, double r, const QRadialGradient& fill, const QPen& outline = Qt::NoPen) {
  p.setPen(outline);
  p.setBrush(fill);
  p.drawEllipse(centre, r, r);
}

// The company's mark: a ring with a spark; `phase` 0..1 turns the spark.
void DrawQuirkMark(QPainter& p, QPointF centre, double r, double phase) {
  p.save();
  DrawDisc(p, centre, r * 1.6,
           Radial(centre, r * 1.6, {{0.0, QColor(255, 190, 60, 110)}, {1.0, QColor(255, 190, 60, 0)}}));
  p.setPen(QPen(QColor(255, 200, 80), r * 0.22));
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(centre, r, r);
  // The tail of the Q.
  p.drawLine(centre + QPointF(r * 0.45, r * 0.45), centre + QPointF(r * 1.05, r * 1.05));
  const double a = phase * 2 * kPi - kPi / 2;
  const QPointF spark = centre + QPointF(std::cos(a) * r, std::sin(a) * r);
  DrawDisc(p, spark, r * 0.45,
           Radial(spark, r * 0.45,
                  {{0.0, QColor(255, 255, 255)}, {0.5, QColor(255, 240, 180, 200)}, {1.0, QColor(255, 200, 80, 0)}}));
  p.restore();
}

// A document sheet with a folded corner and an extension on it.
void DrawDocument(QPainter& p, const QRectF& r, const QString& ext, const QColor& band, double light) {
  p.save();
  const double fold = r.width() * 0.3;
  QPainterPath sheet;
  sheet.moveTo(r.topLeft());
  sheet.lineTo(r.right() - fold, r.top());
  sheet.lineTo(r.right(), r.top() + fold);
  sheet.lineTo(r.bottomRight());
  sheet.lineTo(r.bottomLeft());
  sheet.closeSubpath();
  QLinearGradient paper(r.topLeft(), r.bottomRight());
  paper.setColorAt(0.0, QColor::fromRgbF(0.97 * light, 0.98 * light, 1.0 * light));
  paper.setColorAt(1.0, QColor::fromRgbF(0.78 * light, 0.82 * light, 0.9 * light));
  p.setPen(QPen(QColor(20, 30, 60), 1.2));
  p.setBrush(paper);
  p.drawPath(sheet);
  p.setBrush(QColor::fromRgbF(0.7 * light, 0.74 * light, 0.85 * light));
  p.drawPolygon(QPolygonF({QPointF(r.right() - fold, r.top()), QPointF(r.right() - fold, r.top() + fold),
                           QPointF(r.right(), r.top() + fold)}));
  const QRectF label(r.left() - 4, r.top() + r.height() * 0.52, r.width() * 0.9, r.height() * 0.3);
  p.setPen(Qt::NoPen);
  p.setBrush(band);
  p.drawRoundedRect(label, 3, 3);
  p.setPen(Qt::white);
  p.setFont(UiFont(label.height() * 0.62));
  p.drawText(label, Qt::AlignCenter, ext);
  p.setPen(QPen(QColor(120, 130, 160), 1.0));
  for (int i = 0; i < 3; ++i) {
    const double y = r.top() + r.height() * (0.18 + 0.1 * i);
    p.drawLine(QPointF(r.left() + 6, y), QPointF(r.right() - fold - 2 + (i > 0 ? fold - 6 : 0), y));
  }
  p.restore();
}

}  // namespace

QImage QuirkFrame(int index) {
  QImage image(Px(2415), Px(1095), QImage::Format_RGB32);
  image.fill(Qt::black);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  const double phase = index / 10.0;
  DrawQuirkMark(p, QPointF(30, 34), 15, phase);
  // "Quirk" lights up letter by letter as the spark goes round.
  const QString word = QStringLiteral("Quirk");
  QFont font = UiFont(24, QFont::Black);
  p.setFont(font);
  const QFontMetricsF m(font);
  double x = 56;
  for (int i = 0; i < word.size(); ++i) {
    const double lit = std::max(0.0, 1.0 - std::abs(phase * 6.0 - i - 0.5) / 1.5);
    const QColor c = QColor::fromRgbF(0.75 + 0.25 * lit, 0.75 + 0.2 * lit, 0.8 - 0.5 * lit);
    p.setPen(c);
    p.drawText(QPointF(x, 40), word.mid(i, 1));
    x += m.horizontalAdvance(word.at(i));
  }
  p.setFont(UiFont(10, QFont::Normal));
  p.setPen(QColor(150, 160, 185));
  p.drawText(QRectF(56, 44, 100, 16), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Soft Inc."));
  p.end();
  return image;
}

QImage MainFrame(int frame) {
  const int w = Px(8295), h = 449;
  QImage image(w, h, QImage::Format_RGB32);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  QRadialGradient sky(QPointF(w * 0.5, h * 0.42), w * 0.75);
  sky.setColorAt(0.0, QColor(28, 52, 110));
  sky.setColorAt(0.6, QColor(10, 18, 48));
  sky.setColorAt(1.0, QColor(0, 0, 0));
  p.fillRect(image.rect(), sky);

  // A faint grid, and stars that twinkle between the two frames.
  p.setPen(QPen(QColor(60, 90, 160, 40), 1.0));
  for (int x = 0; x < w; x += 24) p.drawLine(x, 0, x, h);
  for (int y = 0; y < h; y += 24) p.drawLine(0, y, w, y);
  std::uint32_t seed = 20061206u;
  auto next = [&seed] {
    seed = seed * 1664525u + 1013904223u;
    return (seed >> 8) / 16777216.0;
  };
  for (int i = 0; i < 90; ++i) {
    const double x = next() * w, y = next() * h, s = 0.6 + next() * 1.4;
    const bool bright = (i % 2) == frame;
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, bright ? 220 : 70));
    p.drawEllipse(QPointF(x, y), s, s);
  }

  // The hub: the program's emblem, with the documents of every kind around it.
  const QPointF hub(w * 0.5, h * 0.43);
  struct Doc {
    double angle;
    const char* ext;
    QColor band;
  };
  const Doc docs[] = {{-150, ".txt", QColor(40, 120, 200)}, {-90, ".exe", QColor(200, 60, 50)},
                      {-30, ".doc", QColor(40, 90, 170)},   {30, ".bmp", QColor(30, 150, 90)},
                      {90, ".zip", QColor(190, 130, 20)},   {150, ".htm", QColor(130, 60, 170)}};
  const double ring = 150;
  for (std::size_t i = 0; i < std::size(docs); ++i) {
    const double a = docs[i].angle * kPi / 180.0;
    const QPointF at = hub + QPointF(std::cos(a) * ring * 1.25, std::sin(a) * ring * 0.82);
    const bool active = static_cast<int>(i % 2) == frame;
    // Link from the document to the hub, with a pulse travelling on it.
    QLinearGradient link(at, hub);
    link.setColorAt(0.0, QColor(120, 180, 255, active ? 200 : 80));
    link.setColorAt(1.0, QColor(255, 210, 90, active ? 230 : 90));
    p.setPen(QPen(QBrush(link), active ? 3.0 : 1.6, active ? Qt::SolidLine : Qt::DashLine, Qt::RoundCap));
    p.drawLine(at, hub);
    if (active) {
      const QPointF pulse = at + (hub - at) * 0.55;
      DrawDisc(p, pulse, 9, Radial(pulse, 9, {{0.0, QColor(255, 255, 255, 240)}, {1.0, QColor(255, 220, 120, 0)}}));
    }
    DrawDocument(p, QRectF(at.x() - 22, at.y() - 28, 44, 56), QString::fromLatin1(docs[i].ext), docs[i].band,
                 active ? 1.0 : 0.8);
  }

  // Emblem: a glowing disc with a "Z".
  const double r = 52 + (frame == 0 ? 0 : 3);
  DrawDisc(p, hub, r * 1.9, Radial(hub, r * 1.9, {{0.0, QColor(255, 200, 90, 150)}, {1.0, QColor(255, 200, 90, 0)}}));
  DrawDisc(p, hub, r,
           Radial(hub + QPointF(-r * 0.3, -r * 0.35), r * 1.4,
                  {{0.0, QColor(120, 190, 255)}, {0.6, QColor(30, 90, 190)}, {1.0, QColor(10, 30, 90)}}),
           QPen(QColor(255, 220, 140), 3));
  p.setFont(UiFont(r * 1.25, QFont::Black, QStringLiteral("DejaVu Serif")));
  p.setPen(QColor(0, 0, 0, 120));
  p.drawText(QRectF(hub.x() - r + 3, hub.y() - r + 3, 2 * r, 2 * r), Qt::AlignCenter, QStringLiteral("Z"));
  p.setPen(QColor(255, 236, 180));
  p.drawText(QRectF(hub.x() - r, hub.y() - r, 2 * r, 2 * r), Qt::AlignCenter, QStringLiteral("Z"));

  // The tag line at the foot.
  p.setFont(UiFont(17, QFont::Bold));
  p.setPen(QColor(200, 215, 255));
  p.drawText(QRectF(0, h - 62, w, 26), Qt::AlignCenter, QStringLiteral("Ассоциации файлов — просто и удобно"));
  p.setFont(UiFont(12, QFont::Normal));
  p.setPen(QColor(130, 145, 190));
  p.drawText(QRectF(0, h - 36, w, 20), Qt::AlignCenter, QStringLiteral("расширение  •  описание  •  программа"));
  p.end();
  return image;
}

QImage TitleStrip() {
  const int w = Px(6375), h = Px(495);
  QImage image(w, h, QImage::Format_RGB32);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  QLinearGradient bar(0, 0, w, 0);
  bar.setColorAt(0.0, QColor(0, 0, 0));
  bar.setColorAt(0.35, QColor(18, 30, 70));
  bar.setColorAt(1.0, QColor(0, 0, 0));
  p.fillRect(image.rect(), bar);
  QLinearGradient rule(0, 0, w, 0);
  rule.setColorAt(0.0, QColor(255, 200, 80, 0));
  rule.setColorAt(0.3, QColor(255, 200, 80, 220));
  rule.setColorAt(1.0, QColor(255, 200, 80, 0));
  p.fillRect(QRectF(0, h - 2, w, 1), rule);

  QFont name = UiFont(24, QFont::Black, QStringLiteral("DejaVu Serif"));
  p.setFont(name);
  QLinearGradient gold(0, 4, 0, h - 6);
  gold.setColorAt(0.0, QColor(255, 245, 200));
  gold.setColorAt(0.5, QColor(255, 200, 80));
  gold.setColorAt(1.0, QColor(200, 120, 30));
  const QRectF name_box(12, 0, 160, h - 2);
  p.setPen(QColor(0, 0, 0));
  p.drawText(name_box.translated(2, 2), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Zandrel"));
  p.setPen(QPen(QBrush(gold), 1));
  p.drawText(name_box, Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Zandrel"));
  const double name_w = QFontMetricsF(name).horizontalAdvance(QStringLiteral("Zandrel"));
  p.setFont(UiFont(10, QFont::Normal));
  p.setPen(QColor(170, 180, 210));
  p.drawText(QRectF(20 + name_w, 0, 80, h - 6), Qt::AlignLeft | Qt::AlignBottom, QStringLiteral("версия 1.0"));

  p.setFont(UiFont(13, QFont::Bold));
  p.setPen(QColor(225, 230, 250));
  p.drawText(QRectF(0, 0, w - 38, h - 2), Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("Quirk Soft Inc."));
  DrawQuirkMark(p, QPointF(w - 20, h / 2.0 - 1), 8, 0.15);
  p.end();
  return image;
}

QImage ExitQuestion() {
  const int w = Px(3975), h = Px(615);
  QImage image(w, h, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  // A question mark in a blue bubble.
  const QPointF c(19, h / 2.0);
  const double r = 15;
  DrawDisc(p, c, r,
           Radial(c + QPointF(-5, -6), r * 1.5,
                  {{0.0, QColor(140, 200, 255)}, {0.7, QColor(40, 110, 210)}, {1.0, QColor(20, 60, 150)}}),
           QPen(QColor(20, 50, 120), 1));
  p.setFont(UiFont(20, QFont::Black, QStringLiteral("DejaVu Serif")));
  p.setPen(Qt::white);
  p.drawText(QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r), Qt::AlignCenter, QStringLiteral("?"));
  const QString question = QStringLiteral("Вы действительно хотите выйти?");
  p.setFont(FittingFont(question, w - 44, 12));
  p.setPen(QColor(20, 35, 80));
  p.drawText(QRectF(40, 0, w - 40, h), Qt::AlignLeft | Qt::AlignVCenter, question);
  p.end();
  return image;
}

}  // namespace zandrel::assets
