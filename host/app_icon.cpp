#include "host/app_icon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace orba {

namespace {

QPixmap PaintIcon(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.scale(size / 64.0, size / 64.0);

  // Body of the handheld.
  painter.setPen(QPen(QColor(0x12, 0x2b, 0x4a), 2));
  painter.setBrush(QColor(0x1f, 0x4e, 0x86));
  painter.drawRoundedRect(QRectF(12, 6, 32, 54), 6, 6);
  // Screen.
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0xc8, 0xf0, 0xd8));
  painter.drawRoundedRect(QRectF(17, 12, 22, 18), 2, 2);
  painter.setBrush(QColor(0x2e, 0x8b, 0x57));
  for (int line = 0; line < 3; ++line) painter.drawRect(QRectF(20, 15 + line * 5, 16 - line * 4, 2.5));
  // Keypad.
  painter.setBrush(QColor(0xe8, 0xee, 0xf6));
  for (int row = 0; row < 3; ++row) {
    for (int column = 0; column < 3; ++column) painter.drawEllipse(QRectF(18 + column * 8, 35 + row * 7, 5, 5));
  }
  // Radio waves.
  painter.setBrush(Qt::NoBrush);
  painter.setPen(QPen(QColor(0xf0, 0x8c, 0x1a), 3, Qt::SolidLine, Qt::RoundCap));
  painter.drawArc(QRectF(42, 4, 14, 14), -30 * 16, 120 * 16);
  painter.drawArc(QRectF(38, 0, 24, 24), -30 * 16, 120 * 16);
  return pixmap;
}

}  // namespace

QIcon MakeAppIcon() {
  QIcon icon;
  for (int size : {16, 22, 32, 48, 64}) icon.addPixmap(PaintIcon(size));
  return icon;
}

}  // namespace orba
