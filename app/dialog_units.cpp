#include "app/dialog_units.h"

#include <QFontMetrics>
#include <QStringList>
#include <cstdint>
#include <cstdlib>
#include <limits>

#include "app/window_layout.h"

namespace pelliton {

QFont DialogFont() {
  QFont font;
  font.setFamilies(
      QStringList{QStringLiteral(PELLITON_DIALOG_FONT), QStringLiteral("WenQuanYi Micro Hei")});
  font.setPointSize(PELLITON_DIALOG_FONT_POINTS);
  font.setWeight(QFont::Normal);
  return font;
}

DialogBaseUnits BaseUnitsOf(const QFont& font) {
  const QFontMetrics metrics(font);
  static const QString kLetters =
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  const int extent = metrics.horizontalAdvance(kLetters);
  DialogBaseUnits base;
  base.x = (extent / 26 + 1) / 2;
  base.y = metrics.height();
  if (base.x < 1)
    base.x = 1;
  if (base.y < 1)
    base.y = 1;
  return base;
}

int MulDivRounded(int value, int numerator, int divisor) {
  if (divisor == 0)
    return 0;
  const int64_t product = static_cast<int64_t>(value) * numerator;
  const bool negative = (product < 0) != (divisor < 0);
  const int64_t magnitude = std::llabs(product);
  const int64_t d = std::llabs(static_cast<int64_t>(divisor));
  int64_t result = (magnitude + d / 2) / d;
  if (negative)
    result = -result;
  if (result > std::numeric_limits<int>::max())
    return std::numeric_limits<int>::max();
  if (result < std::numeric_limits<int>::min())
    return std::numeric_limits<int>::min();
  return static_cast<int>(result);
}

QRect DialogRectToPixels(const QRect& units, DialogBaseUnits base) {
  const int left = MulDivRounded(units.x(), base.x, 4);
  const int top = MulDivRounded(units.y(), base.y, 8);
  const int right = MulDivRounded(units.x() + units.width(), base.x, 4);
  const int bottom = MulDivRounded(units.y() + units.height(), base.y, 8);
  return QRect(left, top, right - left, bottom - top);
}

QSize DialogSizeToPixels(int width_units, int height_units, DialogBaseUnits base) {
  return DialogRectToPixels(QRect(0, 0, width_units, height_units), base).size();
}

}  // namespace pelliton
