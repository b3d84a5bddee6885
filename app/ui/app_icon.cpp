#include "app/ui/app_icon.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

QPixmap veltraIconPixmap(int side) {
  QPixmap pm(side, side);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  const double s = side;

  // Rounded tile, deep blue.
  QLinearGradient bg(0, 0, 0, s);
  bg.setColorAt(0, QColor(0x1c, 0x5d, 0x99));
  bg.setColorAt(1, QColor(0x0b, 0x2a, 0x4a));
  p.setPen(Qt::NoPen);
  p.setBrush(bg);
  p.drawRoundedRect(QRectF(0.03 * s, 0.03 * s, 0.94 * s, 0.94 * s), 0.18 * s, 0.18 * s);

  // A strip of resource elements: a slot's symbols, the middle ones carrying DMRS (orange).
  const int cells = 7;
  const double cw = 0.72 * s / cells;
  for (int i = 0; i < cells; i++) {
    const QColor c = (i == 2 || i == 5) ? QColor(0xf0, 0x8a, 0x24) : QColor(0x7f, 0xc8, 0xf8);
    p.setBrush(c);
    p.drawRect(QRectF(0.14 * s + i * cw + 0.08 * cw, 0.66 * s, 0.84 * cw, 0.16 * s));
  }

  // A modulated carrier above it.
  QPainterPath wave;
  const int steps = 64;
  for (int i = 0; i <= steps; i++) {
    const double x = 0.12 * s + 0.76 * s * i / steps;
    const double env = std::sin(M_PI * i / steps);
    const double y = 0.38 * s - 0.18 * s * env * std::sin(2 * M_PI * 3.0 * i / steps);
    if (i == 0)
      wave.moveTo(x, y);
    else
      wave.lineTo(x, y);
  }
  QPen pen(Qt::white, std::max(1.0, 0.06 * s), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  p.setPen(pen);
  p.setBrush(Qt::NoBrush);
  p.drawPath(wave);
  return pm;
}

QIcon veltraAppIcon() {
  QIcon icon;
  for (int side : {16, 24, 32, 48, 64, 128, 256}) icon.addPixmap(veltraIconPixmap(side));
  return icon;
}
