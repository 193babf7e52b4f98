// The tool's own icon: a 32 x 32, 24-bit picture of an upgrade card, drawn in code.
#pragma once

#include <QIcon>
#include <QImage>

class QPainter;

namespace pelliton {

inline constexpr int kAppIconSize = 32;

// Paints the picture into the square (0, 0)-(kAppIconSize, kAppIconSize) of the
// painter's coordinates; scale the painter first for any other size.
void PaintAppIcon(QPainter& painter);
// The picture itself, Format_RGB888.
QImage AppIconImage();
// The window, the about box and the minimised window use this.
QIcon AppIcon();

}  // namespace pelliton
