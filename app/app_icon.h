// The tool's own icon: a 32 x 32, 24-bit picture of an upgrade card, drawn in code.
#pragma once

#include <QIcon>
#include <QImage>

namespace pelliton {

inline constexpr int kAppIconSize = 32;

// The picture itself, Format_RGB888.
QImage AppIconImage();
// The window, the about box and the minimised window use this.
QIcon AppIcon();

}  // namespace pelliton
