// Dialog-unit layout: positions and sizes are given in units of the dialog font, a quarter
// of its average character width across and an eighth of its height down.
#pragma once

#include <QFont>
#include <QRect>

namespace pelliton {

// Pixels per 4 horizontal and per 8 vertical dialog units.
struct DialogBaseUnits {
  int x = 1;  // average character width
  int y = 1;  // character height
};

// The font the windows ask for: 9-point SimSun, or the installed CJK face where it is absent.
QFont DialogFont();

// Average width of the 52 Latin letters, rounded, and the font's height; never below 1.
DialogBaseUnits BaseUnitsOf(const QFont& font);

// Multiplies and divides with rounding half away from zero; 0 when divisor is 0.
int MulDivRounded(int value, int numerator, int divisor);

// Converts a rectangle in dialog units to pixels. Left, top, right and bottom edges are
// converted separately, so neighbouring controls keep sharing their edges.
QRect DialogRectToPixels(const QRect& units, DialogBaseUnits base);
QSize DialogSizeToPixels(int width_units, int height_units, DialogBaseUnits base);

}  // namespace pelliton
