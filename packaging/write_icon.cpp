// Writes the window's icon for the desktop entry at each size the menus ask for, and as
// SVG, so that the menu shows the same picture as the window: each one is painted anew
// at its size, not scaled from the 32-pixel picture.
//   pelliton_write_icon OUTDIR SIZE...   writes OUTDIR/SIZE/pelliton.png for each SIZE
//                                        and OUTDIR/scalable/pelliton.svg
#include <QDir>
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

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s OUTDIR SIZE...\n", argv[0]);
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
