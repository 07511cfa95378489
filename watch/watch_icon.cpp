#include "watch/watch_icon.h"

#include <QColor>
#include <QFont>
#include <QPainter>
#include <QPixmap>

namespace vantor::watch {

namespace {

QPixmap DrawWatchIcon(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  const qreal margin = size / 16.0;
  const QRectF frame(margin, margin, size - 2 * margin, size - 2 * margin);
  painter.setPen(QPen(QColor(0x10, 0x30, 0x60), margin));
  painter.setBrush(QColor(0x20, 0x60, 0xB0));
  painter.drawRoundedRect(frame, size / 6.0, size / 6.0);
  QFont font;
  font.setBold(true);
  font.setPixelSize(size * 5 / 8);
  painter.setFont(font);
  painter.setPen(Qt::white);
  painter.drawText(frame, Qt::AlignCenter, QStringLiteral("M"));
  return pixmap;
}

}  // namespace

QIcon WatchIcon() {
  QIcon icon;
  for (const int size : {16, 32, 48}) icon.addPixmap(DrawWatchIcon(size));
  return icon;
}

}  // namespace vantor::watch
