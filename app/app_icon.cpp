#include "app/app_icon.h"

#include <QColor>
#include <QPainter>
#include <QPixmap>
#include <QPolygon>

namespace pelliton {

void PaintAppIcon(QPainter& p) {
  p.fillRect(QRectF(0, 0, kAppIconSize, kAppIconSize), QColor(0xF0, 0xF0, 0xF0));
  p.setRenderHint(QPainter::Antialiasing, true);
  // The card body.
  p.setPen(QPen(QColor(0x10, 0x3A, 0x70), 1));
  p.setBrush(QColor(0x2B, 0x6C, 0xB8));
  p.drawRoundedRect(QRectF(1.5, 6.5, 29, 20), 3, 3);
  // The contact chip.
  p.setPen(QPen(QColor(0x80, 0x60, 0x10), 1));
  p.setBrush(QColor(0xE8, 0xC0, 0x40));
  p.drawRect(QRectF(5.5, 11.5, 8, 7));
  p.drawLine(QPointF(5.5, 15), QPointF(13.5, 15));
  p.drawLine(QPointF(9.5, 11.5), QPointF(9.5, 18.5));
  // An upward arrow: the upgrade.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x30, 0xC0, 0x50));
  const QPolygon arrow({QPoint(23, 9), QPoint(29, 16), QPoint(25, 16), QPoint(25, 23),
                        QPoint(21, 23), QPoint(21, 16), QPoint(17, 16)});
  p.drawPolygon(arrow);
}

QImage AppIconImage() {
  QImage canvas(kAppIconSize, kAppIconSize, QImage::Format_RGB32);
  {
    QPainter p(&canvas);
    PaintAppIcon(p);
  }
  return canvas.convertToFormat(QImage::Format_RGB888);
}

QIcon AppIcon() {
  return QIcon(QPixmap::fromImage(AppIconImage()));
}

}  // namespace pelliton
