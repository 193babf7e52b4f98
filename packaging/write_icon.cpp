// Writes the window's icon for the desktop entry at each size the menus ask for, and as
// SVG, so that the menu shows the same picture as the window: each one is painted anew
// at its size, not scaled from the 32-pixel picture.
//   pelliton_write_icon OUTDIR SIZE...   writes OUTDIR/SIZE/pelliton.png for each SIZE
//                                        and OUTDIR/scalable/pelliton.svg
//   pelliton_write_icon --ico FILE       writes the 32-pixel, 24-bit picture as the
//                                        Windows window's icon (app/win32/pelliton.ico)
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QString>
#include <QSvgGenerator>
#include <cstdio>
#include <cstdlib>

#include "app/app_icon.h"

namespace {

bool WritePng(const QString& dir, int size) {
  QImage image(size, size, QImage::Format_RGB32);
  {
    QPainter painter(&image);
    painter.scale(double(size) / pelliton::kAppIconSize, double(size) / pelliton::kAppIconSize);
    pelliton::PaintAppIcon(painter);
  }
  return QDir().mkpath(dir) &&
         image.convertToFormat(QImage::Format_RGB888).save(dir + "/pelliton.png", "PNG");
}

bool WriteSvg(const QString& dir) {
  if (!QDir().mkpath(dir))
    return false;
  QSvgGenerator svg;
  svg.setFileName(dir + "/pelliton.svg");
  svg.setSize(QSize(pelliton::kAppIconSize, pelliton::kAppIconSize));
  svg.setViewBox(QRect(0, 0, pelliton::kAppIconSize, pelliton::kAppIconSize));
  svg.setTitle(QStringLiteral("Pelliton"));
  QPainter painter;
  if (!painter.begin(&svg))
    return false;
  pelliton::PaintAppIcon(painter);
  return painter.end();
}

void Put16(QByteArray& out, int value) {
  out.append(char(value & 0xFF)).append(char((value >> 8) & 0xFF));
}

void Put32(QByteArray& out, int value) {
  Put16(out, value & 0xFFFF);
  Put16(out, (value >> 16) & 0xFFFF);
}

// One image, 24-bit, opaque: the header, the pixels bottom-up in BGR, an empty AND mask.
bool WriteIco(const QString& path) {
  const QImage image = pelliton::AppIconImage().convertToFormat(QImage::Format_RGB888);
  const int size = pelliton::kAppIconSize;
  const int pixel_bytes = size * size * 3;  // rows of 96 bytes need no padding
  const int mask_bytes = size * 4;          // 32 bits a row
  const int bitmap_bytes = 40 + pixel_bytes + mask_bytes;
  QByteArray out;
  Put16(out, 0);
  Put16(out, 1);  // an icon
  Put16(out, 1);  // one image
  out.append(char(size)).append(char(size)).append(char(0)).append(char(0));
  Put16(out, 1);   // planes
  Put16(out, 24);  // bits per pixel
  Put32(out, bitmap_bytes);
  Put32(out, 6 + 16);
  Put32(out, 40);
  Put32(out, size);
  Put32(out, size * 2);  // the pixels and the mask
  Put16(out, 1);
  Put16(out, 24);
  for (int field = 0; field < 6; ++field)
    Put32(out, field == 1 ? pixel_bytes + mask_bytes : 0);
  for (int y = size - 1; y >= 0; --y) {
    for (int x = 0; x < size; ++x) {
      const QRgb rgb = image.pixel(x, y);
      out.append(char(qBlue(rgb))).append(char(qGreen(rgb))).append(char(qRed(rgb)));
    }
  }
  out.append(QByteArray(mask_bytes, '\0'));
  QFile file(path);
  return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(out) == out.size();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && QByteArray(argv[1]) == "--ico") {
    if (WriteIco(QString::fromLocal8Bit(argv[2])))
      return 0;
    std::fprintf(stderr, "cannot write %s\n", argv[2]);
    return 1;
  }
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s OUTDIR SIZE...\n       %s --ico FILE\n", argv[0], argv[0]);
    return 2;
  }
  const QString out = QString::fromLocal8Bit(argv[1]);
  for (int i = 2; i < argc; ++i) {
    const int size = std::atoi(argv[i]);
    if (size < 16 || size > 1024) {
      std::fprintf(stderr, "not an icon size: %s\n", argv[i]);
      return 2;
    }
    if (!WritePng(out + "/" + QString::number(size), size)) {
      std::fprintf(stderr, "cannot write the %d-pixel icon under %s\n", size, argv[1]);
      return 1;
    }
  }
  if (!WriteSvg(out + "/scalable")) {
    std::fprintf(stderr, "cannot write the scalable icon under %s\n", argv[1]);
    return 1;
  }
  return 0;
}
