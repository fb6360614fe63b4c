#include "platform/qt/qt_pictures.h"

#include <QPainter>
#include <QPainterPath>
#include <array>

namespace tarvion {

namespace {

// Segments a..g of a seven-segment digit, as the panels show them.
constexpr std::array<uint8_t, 10> kSegments{0x3F, 0x06, 0x5B, 0x4F, 0x66,
                                            0x6D, 0x7D, 0x07, 0x7F, 0x6F};

// One digit in a cell of w x h at (x, y); segment thickness t.
void draw_digit(QPainter& p, int digit, qreal x, qreal y, qreal w, qreal h, qreal t) {
  uint8_t bits = kSegments[static_cast<size_t>(digit % 10)];
  qreal half = h / 2;
  const std::array<QRectF, 7> segment{
      QRectF(x + t, y, w - 2 * t, t),                 // a
      QRectF(x + w - t, y + t, t, half - t),          // b
      QRectF(x + w - t, y + half, t, half - t),       // c
      QRectF(x + t, y + h - t, w - 2 * t, t),         // d
      QRectF(x, y + half, t, half - t),               // e
      QRectF(x, y + t, t, half - t),                  // f
      QRectF(x + t, y + half - t / 2, w - 2 * t, t),  // g
  };
  for (size_t i = 0; i < segment.size(); ++i) {
    if (bits & (1u << i)) p.fillRect(segment[i], p.brush());
  }
}

// "118.00"-style number with a dot after the third digit.
void draw_number(QPainter& p, const char* digits, qreal x, qreal y, qreal w, qreal h, qreal t) {
  qreal step = w + t * 1.5;
  int index = 0;
  for (const char* c = digits; *c; ++c) {
    if (*c == '.') {
      p.fillRect(QRectF(x + index * step - t * 1.2, y + h - t, t, t), p.brush());
      continue;
    }
    draw_digit(p, *c - '0', x + index * step, y, w, h, t);
    ++index;
  }
}

void draw_panel_face(QPainter& p, const QRectF& face) {
  QPainterPath path;
  path.addRoundedRect(face, face.height() * 0.12, face.height() * 0.12);
  p.fillPath(path, QColor(48, 52, 58));
  p.setPen(QPen(QColor(20, 20, 24), 1));
  p.drawPath(path);
}

}  // namespace

QPixmap draw_window_icon() {
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  draw_panel_face(p, QRectF(1, 4, 30, 24));
  p.fillRect(QRectF(4, 8, 24, 7), Qt::black);
  p.fillRect(QRectF(4, 17, 15, 7), Qt::black);
  p.setBrush(QColor(60, 230, 90));
  draw_number(p, "118", 6, 9, 4, 5, 1);
  draw_number(p, "12", 6, 18, 4, 5, 1);
  p.setBrush(QColor(150, 150, 160));
  p.setPen(QPen(QColor(30, 30, 30), 1));
  p.drawEllipse(QRectF(21, 17, 8, 8));
  p.drawLine(QPointF(25, 17.5), QPointF(25, 20));
  return pixmap;
}

QPixmap draw_about_picture(int width, int height) {
  QPixmap pixmap(width, height);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(width / 65.0, height / 33.0);
  draw_panel_face(p, QRectF(0.5, 0.5, 64, 32));
  p.fillRect(QRectF(3, 4, 28, 11), Qt::black);
  p.fillRect(QRectF(34, 4, 28, 11), Qt::black);
  p.setBrush(QColor(60, 230, 90));
  draw_number(p, "118.00", 4.5, 6, 3, 7, 0.9);
  draw_number(p, "121.50", 35.5, 6, 3, 7, 0.9);
  // The two concentric knobs and the transfer button.
  p.setPen(QPen(QColor(25, 25, 25), 0.8));
  p.setBrush(QColor(140, 140, 150));
  p.drawEllipse(QRectF(40, 18, 13, 13));
  p.setBrush(QColor(170, 170, 180));
  p.drawEllipse(QRectF(43.5, 21.5, 6, 6));
  p.setBrush(QColor(210, 210, 215));
  p.drawRoundedRect(QRectF(12, 21, 10, 6), 1.5, 1.5);
  return pixmap;
}

QIcon window_icon() {
  return QIcon(draw_window_icon());
}

}  // namespace tarvion
