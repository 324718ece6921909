// Draws every picture and synthesises every sound the program loads, and the
// program's icons, into an application folder:
//   zandrel-assets APP_DIR ICON_PNG
// writes APP_DIR/Pic/*, APP_DIR/Sound/*, APP_DIR/zandrel.png and ICON_PNG,
// the 32 x 32 window icon (kept as data/zandrel-icon.png and embedded). The output depends on nothing
// but this program (and the fonts installed), so builds repeat byte for byte.
#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

// Twips of a control to pixels at 96 dpi.
constexpr int Px(int twips) { return twips / 15; }

[[noreturn]] void Fail(const QString& what) {
  std::fprintf(stderr, "zandrel-assets: %s\n", qPrintable(what));
  std::exit(1);
}

void Save(const QImage& image, const QString& path, const char* format) {
  // The names end in ".g" and ".j": the format is always given, never guessed.
  if (!image.save(path, format, QByteArray(format) == "JPEG" ? 92 : -1)) Fail("cannot write " + path);
}

QFont UiFont(double pixels, int weight = QFont::Bold, const QString& family = QStringLiteral("DejaVu Sans")) {
  QFont f(family);
  f.setPixelSize(static_cast<int>(std::lround(pixels)));
  f.setWeight(static_cast<QFont::Weight>(weight));
  f.setHintingPreference(QFont::PreferFullHinting);
  f.setStyleStrategy(QFont::PreferAntialias);
  return f;
}

// The largest bold font up to `pixels` in which `text` fits `width`.
QFont FittingFont(const QString& text, double width, int pixels, int weight = QFont::Bold) {
  QFont font = UiFont(pixels, weight);
  while (pixels > 8 && QFontMetricsF(font).horizontalAdvance(text) > width) font = UiFont(--pixels, weight);
  return font;
}

// --- Button faces ---------------------------------------------------------

enum class Glyph { List, Plus, Cross, Door, Info, Check, No, Forward };

struct ButtonStyle {
  QColor top, bottom, edge;
};

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

// A rounded, bevelled, glossy face with a glyph and a caption. Pressed: the
// gradient turns over and darkens, the bevel is sunk, the content moves down
// and right by a pixel.
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

// --- Splash pictures ------------------------------------------------------

// The company's mark: a ring with a spark; `phase` 0..1 turns the spark.
void DrawQuirkMark(QPainter& p, QPointF centre, double r, double phase) {
  p.save();
  QRadialGradient glow(centre, r * 1.6);
  glow.setColorAt(0.0, QColor(255, 190, 60, 110));
  glow.setColorAt(1.0, QColor(255, 190, 60, 0));
  p.setPen(Qt::NoPen);
  p.setBrush(glow);
  p.drawEllipse(centre, r * 1.6, r * 1.6);
  p.setPen(QPen(QColor(255, 200, 80), r * 0.22));
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(centre, r, r);
  // The tail of the Q.
  p.drawLine(centre + QPointF(r * 0.45, r * 0.45), centre + QPointF(r * 1.05, r * 1.05));
  const double a = phase * 2 * kPi - kPi / 2;
  const QPointF spark = centre + QPointF(std::cos(a) * r, std::sin(a) * r);
  QRadialGradient dot(spark, r * 0.45);
  dot.setColorAt(0.0, QColor(255, 255, 255));
  dot.setColorAt(0.5, QColor(255, 240, 180, 200));
  dot.setColorAt(1.0, QColor(255, 200, 80, 0));
  p.setPen(Qt::NoPen);
  p.setBrush(dot);
  p.drawEllipse(spark, r * 0.45, r * 0.45);
  p.restore();
}

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
                      {90, ".zip", QColor(190, 130, 20)},    {150, ".htm", QColor(130, 60, 170)}};
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
      QRadialGradient dot(pulse, 9);
      dot.setColorAt(0.0, QColor(255, 255, 255, 240));
      dot.setColorAt(1.0, QColor(255, 220, 120, 0));
      p.setPen(Qt::NoPen);
      p.setBrush(dot);
      p.drawEllipse(pulse, 9, 9);
    }
    DrawDocument(p, QRectF(at.x() - 22, at.y() - 28, 44, 56), QString::fromLatin1(docs[i].ext), docs[i].band,
                 active ? 1.0 : 0.8);
  }

  // Emblem: a glowing disc with a "Z".
  const double r = 52 + (frame == 0 ? 0 : 3);
  QRadialGradient halo(hub, r * 1.9);
  halo.setColorAt(0.0, QColor(255, 200, 90, 150));
  halo.setColorAt(1.0, QColor(255, 200, 90, 0));
  p.setPen(Qt::NoPen);
  p.setBrush(halo);
  p.drawEllipse(hub, r * 1.9, r * 1.9);
  QRadialGradient disc(hub + QPointF(-r * 0.3, -r * 0.35), r * 1.4);
  disc.setColorAt(0.0, QColor(120, 190, 255));
  disc.setColorAt(0.6, QColor(30, 90, 190));
  disc.setColorAt(1.0, QColor(10, 30, 90));
  p.setPen(QPen(QColor(255, 220, 140), 3));
  p.setBrush(disc);
  p.drawEllipse(hub, r, r);
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
  QRadialGradient ball(c + QPointF(-5, -6), r * 1.5);
  ball.setColorAt(0.0, QColor(140, 200, 255));
  ball.setColorAt(0.7, QColor(40, 110, 210));
  ball.setColorAt(1.0, QColor(20, 60, 150));
  p.setPen(QPen(QColor(20, 50, 120), 1));
  p.setBrush(ball);
  p.drawEllipse(c, r, r);
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

// --- Icons ----------------------------------------------------------------

void DrawIcon(QPainter& p, double s) {
  p.save();
  p.scale(s / 32.0, s / 32.0);
  // A document with a folded corner...
  QPainterPath sheet;
  sheet.moveTo(5, 2);
  sheet.lineTo(20, 2);
  sheet.lineTo(27, 9);
  sheet.lineTo(27, 30);
  sheet.lineTo(5, 30);
  sheet.closeSubpath();
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

// The window icon: 32 x 32 in sixteen palette colours, as an old icon file
// has them: fifteen of the classic palette (magenta, which the drawing never
// uses, gives up its place) and the transparent colour of the icon's mask.
QImage WindowIcon() {
  QImage full(32, 32, QImage::Format_ARGB32);
  full.fill(Qt::transparent);
  QPainter p(&full);
  DrawIcon(p, 32);  // no antialiasing: every pixel keeps a palette colour
  p.end();
  const QVector<QRgb> table = {
      qRgb(0, 0, 0),       qRgb(128, 0, 0),   qRgb(0, 128, 0),   qRgb(128, 128, 0),
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
          const int dr = qRed(c) - qRed(table[i]), dg = qGreen(c) - qGreen(table[i]),
                    db = qBlue(c) - qBlue(table[i]);
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

// The desktop icon: the window icon's drawing, smooth and shaded.
QImage AppIcon() {
  QImage image(128, 128, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(4.0, 4.0);
  // Sheet with a soft shadow and a folded corner.
  QPainterPath sheet;
  sheet.moveTo(5, 2);
  sheet.lineTo(20, 2);
  sheet.lineTo(27, 9);
  sheet.lineTo(27, 30);
  sheet.lineTo(5, 30);
  sheet.closeSubpath();
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

// --- Sounds ---------------------------------------------------------------

void WriteWave(const QString& path, const std::vector<double>& samples, int rate) {
  QByteArray b;
  auto u32 = [&](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.append(static_cast<char>((v >> (8 * i)) & 0xFF));
  };
  auto u16 = [&](std::uint16_t v) {
    b.append(static_cast<char>(v & 0xFF));
    b.append(static_cast<char>(v >> 8));
  };
  const auto n = static_cast<std::uint32_t>(samples.size());
  b.append("RIFF");
  u32(36 + n * 2);
  b.append("WAVEfmt ");
  u32(16);
  u16(1);  // PCM
  u16(1);  // mono
  u32(static_cast<std::uint32_t>(rate));
  u32(static_cast<std::uint32_t>(rate) * 2);
  u16(2);
  u16(16);
  b.append("data");
  u32(n * 2);
  for (double s : samples) {
    const double clamped = std::max(-1.0, std::min(1.0, s));
    u16(static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(clamped * 32767.0))));
  }
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly) || f.write(b) != b.size()) Fail("cannot write " + path);
}

void Normalise(std::vector<double>& s, double peak) {
  double m = 0;
  for (double v : s) m = std::max(m, std::abs(v));
  if (m > 0)
    for (double& v : s) v *= peak / m;
}

// A short, dry tick: a noise transient over a quickly dying 2.2 kHz blip.
std::vector<double> ClickSound(int rate) {
  const int n = rate * 45 / 1000;
  std::vector<double> s(static_cast<std::size_t>(n));
  std::uint32_t seed = 7;
  double low = 0;
  for (int i = 0; i < n; ++i) {
    const double t = static_cast<double>(i) / rate;
    seed = seed * 1103515245u + 12345u;
    const double noise = ((seed >> 16) & 0x7FFF) / 16384.0 - 1.0;
    low += 0.35 * (noise - low);
    const double tick = std::exp(-t * 900.0) * low;
    const double blip = std::exp(-t * 160.0) * std::sin(2 * kPi * 2200.0 * t) * 0.6 +
                        std::exp(-t * 220.0) * std::sin(2 * kPi * 1100.0 * t) * 0.3;
    const double attack = std::min(1.0, i / (rate * 0.0006));
    s[static_cast<std::size_t>(i)] = attack * (tick + blip);
  }
  Normalise(s, 0.5);
  return s;
}

// A rising major arpeggio of bell tones that rings out, about 1.5 s.
std::vector<double> SplashSound(int rate) {
  const int n = rate * 1550 / 1000;
  std::vector<double> s(static_cast<std::size_t>(n), 0.0);
  const double notes[] = {523.25, 659.25, 783.99, 1046.50};  // C5 E5 G5 C6
  const struct {
    double ratio, gain, decay;
  } partials[] = {{1.0, 1.0, 3.2}, {2.0, 0.35, 5.0}, {2.76, 0.18, 7.5}, {4.07, 0.08, 11.0}};
  for (std::size_t k = 0; k < std::size(notes); ++k) {
    const int start = static_cast<int>(rate * 0.11 * static_cast<double>(k));
    const double level = k + 1 == std::size(notes) ? 0.9 : 0.7;
    for (int i = start; i < n; ++i) {
      const double t = static_cast<double>(i - start) / rate;
      const double attack = std::min(1.0, t / 0.004);
      double v = 0;
      for (const auto& p : partials) v += p.gain * std::exp(-t * p.decay) * std::sin(2 * kPi * notes[k] * p.ratio * t);
      s[static_cast<std::size_t>(i)] += level * attack * v;
    }
  }
  // Let the tail fade to silence over the last 150 ms.
  const int fade = rate * 150 / 1000;
  for (int i = 0; i < fade; ++i) s[static_cast<std::size_t>(n - fade + i)] *= 1.0 - static_cast<double>(i) / fade;
  Normalise(s, 0.7);
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: zandrel-assets APP_DIR ICON_PNG\n");
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const QDir root(QString::fromLocal8Bit(argv[1]));
  if (!root.mkpath(QStringLiteral("Pic")) || !root.mkpath(QStringLiteral("Sound"))) Fail("cannot make the folders");
  const QString pic = root.filePath(QStringLiteral("Pic")) + QLatin1Char('/');
  const QString sound = root.filePath(QStringLiteral("Sound")) + QLatin1Char('/');

  const ButtonStyle blue{QColor(92, 146, 222), QColor(36, 84, 168), QColor(22, 50, 110)};
  const ButtonStyle green{QColor(96, 190, 110), QColor(34, 128, 58), QColor(20, 80, 36)};
  const ButtonStyle red{QColor(230, 104, 90), QColor(176, 42, 34), QColor(110, 24, 20)};
  const ButtonStyle slate{QColor(128, 142, 168), QColor(70, 82, 108), QColor(40, 46, 64)};
  const ButtonStyle teal{QColor(80, 178, 190), QColor(24, 118, 134), QColor(14, 74, 84)};
  struct Face {
    const char* normal;
    const char* pressed;
    int width, height;  // twips, the control's size
    QString caption;
    Glyph glyph;
    ButtonStyle style;
  };
  const Face faces[] = {
      {"k01-1.g", "k01-2.g", 1485, 495, QStringLiteral("Показать"), Glyph::List, blue},
      {"k03-1.g", "k03-2.g", 1485, 495, QStringLiteral("Добавить"), Glyph::Plus, green},
      {"k02-1.g", "k02-2.g", 1485, 495, QStringLiteral("Удалить"), Glyph::Cross, red},
      {"k04-1.g", "k04-2.g", 1485, 495, QStringLiteral("Выход"), Glyph::Door, slate},
      {"Abt1.g", "Abt2.g", 1815, 495, QStringLiteral("О программе"), Glyph::Info, teal},
      {"Exit-y1.g", "Exit-y2.g", 1575, 615, QStringLiteral("Да"), Glyph::Check, green},
      {"Exit-n1.g", "Exit-n2.g", 1575, 615, QStringLiteral("Нет"), Glyph::No, red},
      {"Forw1.g", "Forw2.g", 1335, 495, QStringLiteral("OK"), Glyph::Forward, blue},
  };
  for (const Face& f : faces) {
    Save(ButtonFace(Px(f.width), Px(f.height), f.caption, f.glyph, f.style, false), pic + f.normal, "PNG");
    Save(ButtonFace(Px(f.width), Px(f.height), f.caption, f.glyph, f.style, true), pic + f.pressed, "PNG");
  }
  Save(TitleStrip(), pic + "Me00000.g", "PNG");
  Save(ExitQuestion(), pic + "Exit.g", "PNG");
  Save(MainFrame(0), pic + "J-1.j", "JPEG");
  Save(MainFrame(1), pic + "J-2.j", "JPEG");
  for (int i = 0; i < 10; ++i) Save(QuirkFrame(i), pic + QStringLiteral("Quirk0000%1.j").arg(i), "JPEG");

  WriteWave(sound + "Click.wxv", ClickSound(22050), 22050);
  WriteWave(sound + "Splash.wxv", SplashSound(44100), 44100);

  Save(AppIcon(), root.filePath(QStringLiteral("zandrel.png")), "PNG");
  Save(WindowIcon(), QString::fromLocal8Bit(argv[2]), "PNG");
  return 0;
}
