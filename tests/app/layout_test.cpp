#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QWidget>
#include <string>
#include <vector>

#include "app/about_dialog.h"
#include "app/app_icon.h"
#include "app/dialog_units.h"
#include "app/upgrade_dialog.h"
#include "fakes.h"

namespace pelliton {
namespace {

struct UnitCase {
  QRect units;
  DialogBaseUnits base;
  QRect pixels;
};

TEST(DialogUnitsTest, EdgesConvertSeparatelyWithRounding) {
  const UnitCase cases[] = {
      // 9-point SimSun at 96 dpi: 6 x 12 pixels per 4 x 8 units.
      {QRect(289, 133, 78, 14), {6, 12}, QRect(434, 200, 117, 21)},
      {QRect(7, 7, 370, 61), {6, 12}, QRect(11, 11, 555, 91)},
      {QRect(0, 0, 384, 234), {6, 12}, QRect(0, 0, 576, 351)},
      // Odd base units: 7 x 15. 348*7/4 = 609, 361*7/4 = 631.75 -> 632.
      {QRect(348, 91, 13, 14), {7, 15}, QRect(609, 171, 23, 26)},
      {QRect(1, 1, 1, 1), {7, 15}, QRect(2, 2, 2, 2)},
      {QRect(0, 0, 0, 0), {7, 15}, QRect(0, 0, 0, 0)},
  };
  for (const UnitCase& c : cases)
    EXPECT_EQ(DialogRectToPixels(c.units, c.base), c.pixels)
        << c.units.x() << "," << c.units.y() << " " << c.units.width() << "x" << c.units.height();
}

TEST(DialogUnitsTest, MulDivRoundsHalfAwayFromZero) {
  const struct {
    int value, numerator, divisor, expected;
  } cases[] = {{1, 1, 2, 1},
               {-1, 1, 2, -1},
               {3, 7, 4, 5},
               {-3, 7, 4, -5},
               {5, 3, -4, -4},
               {10, 0, 4, 0},
               {10, 3, 0, 0},
               {2147483647, 2, 1, 2147483647},
               {-2147483647 - 1, 2, 1, -2147483647 - 1}};
  for (const auto& c : cases)
    EXPECT_EQ(MulDivRounded(c.value, c.numerator, c.divisor), c.expected)
        << c.value << "*" << c.numerator << "/" << c.divisor;
}

TEST(DialogUnitsTest, BaseUnitsComeFromTheFontsOwnMetrics) {
  const QFont font = DialogFont();
  EXPECT_EQ(font.pointSize(), 9);
  const QString family = QFontInfo(font).family();
  EXPECT_TRUE(family.contains(QStringLiteral("SimSun")) ||
              family.contains(QStringLiteral("WenQuanYi")))
      << family.toStdString();
  const QFontMetrics metrics(font);
  const DialogBaseUnits base = BaseUnitsOf(font);
  EXPECT_EQ(base.y, metrics.height());
  // The average of the Latin letters, within rounding.
  const double average = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                                                  "abcdefghijklmnopqrstuvwxyz")) /
                         52.0;
  EXPECT_NEAR(base.x, average, 1.0);
  EXPECT_GT(base.x, 2);
}

struct ControlRect {
  const char* name;
  int id;  // 0: found by object name
  QRect units;
};

class DialogGeometryTest : public ::testing::Test {
 protected:
  std::vector<std::string> log;
  testing::FakePresenter presenter{&log};
  testing::FakeProcedures procedures{&log};
  UpgradeDialog dialog{procedures, presenter, QStringLiteral("pelliton")};
};

TEST_F(DialogGeometryTest, ControlsSitWhereTheirDialogUnitsSay) {
  const ControlRect controls[] = {
      {"Cancel", kCancelButton, QRect(289, 133, 78, 14)},
      {"reader list", kReaderList, QRect(98, 22, 266, 64)},
      {"path box", kPathBox, QRect(21, 91, 319, 14)},
      {"reload", kReloadButton, QRect(273, 45, 90, 14)},
      {"browse", kBrowseButton, QRect(348, 91, 13, 14)},
      {"Download", kDownloadButton, QRect(84, 134, 78, 14)},
      {"card info box", kCardInfoBox, QRect(7, 53, 333, 23)},
      {"Get Card Info", kCardInfoButton, QRect(186, 134, 78, 14)},
      {"readerFrame", 0, QRect(7, 7, 370, 61)},
      {"status box", kStatusBox, QRect(7, 156, 370, 46)},
      {"progress bar", kProgressBar, QRect(7, 208, 370, 14)},
      {"hidden label", kHiddenLabel, QRect(41, 93, 336, 8)},
      {"hidden label 2", kHiddenLabel2, QRect(11, 166, 336, 8)},
      {"appFrame", 0, QRect(7, 78, 370, 36)},
      {"PC/SC radio", kPcscRadio, QRect(19, 23, 68, 10)},
      {"Orvo radio", kOrvoRadio, QRect(20, 45, 52, 10)},
      {"counterLabel", 0, QRect(10, 135, 35, 13)},
      {"counter box", kCounterBox, QRect(46, 134, 25, 15)},
  };
  // The base units as the platform would compute them, from the dialog's own font.
  const QFontMetrics metrics(dialog.font());
  const int width52 = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  const int bx = (width52 / 26 + 1) / 2;
  const int by = metrics.height();
  const auto px = [](int units, int base, int per) { return (units * base + per / 2) / per; };

  for (const ControlRect& c : controls) {
    QWidget* widget =
        c.id != 0 ? dialog.Control(c.id) : dialog.findChild<QWidget*>(QString::fromUtf8(c.name));
    ASSERT_NE(widget, nullptr) << c.name;
    const QRect g = widget->geometry();
    const int left = px(c.units.x(), bx, 4), right = px(c.units.x() + c.units.width(), bx, 4);
    const int top = px(c.units.y(), by, 8), bottom = px(c.units.y() + c.units.height(), by, 8);
    EXPECT_EQ(g.x(), left) << c.name;
    EXPECT_EQ(g.y(), top) << c.name;
    EXPECT_EQ(g.width(), right - left) << c.name;
    if (c.id == kReaderList)
      EXPECT_LE(g.height(), bottom - top) << c.name;  // the height holds the dropped list
    else
      EXPECT_EQ(g.height(), bottom - top) << c.name;
  }
  EXPECT_EQ(dialog.size(), QSize(px(384, bx, 4), px(234, by, 8)));
  EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());

  // The two frames lie under the controls inside them, so they never take their clicks.
  const QWidget* reader_frame = dialog.findChild<QWidget*>(QStringLiteral("readerFrame"));
  const QWidget* hit = dialog.childAt(dialog.Control(kReaderList)->geometry().center());
  EXPECT_NE(hit, reader_frame);
  const QPoint radio = dialog.Control(kPcscRadio)->geometry().center();
  EXPECT_EQ(dialog.childAt(radio), dialog.Control(kPcscRadio));
}

TEST_F(DialogGeometryTest, TabOrderFollowsTheControlTable) {
  // Disabled and hidden controls are passed over by Tab, but the chain holds them all.
  const int order[] = {kCancelButton,   kReaderList,     kPathBox,   kReloadButton, kBrowseButton,
                       kDownloadButton, kCardInfoButton, kStatusBox, kCounterBox};
  for (size_t i = 1; i < std::size(order); ++i) {
    QWidget* w = dialog.Control(order[i - 1])->nextInFocusChain();
    while (w != nullptr && w->focusPolicy() == Qt::NoFocus)
      w = w->nextInFocusChain();
    // Widgets that compose a control (line edit of a spin box, viewports) are not stops.
    EXPECT_EQ(w, dialog.Control(order[i])) << "after " << order[i - 1];
  }
  // Tab walks the enabled, visible controls in that order and never lands on a reader
  // radio button, before or after the mouse picked one (Qt would make it a stop).
  dialog.show();
  QApplication::setActiveWindow(&dialog);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
  const std::vector<int> clicks[] = {{}, {kPcscRadio}, {kOrvoRadio}, {kPcscRadio, kOrvoRadio}};
  for (const std::vector<int>& clicked : clicks) {
    std::string state = "after clicks on";
    for (int radio : clicked) {
      QWidget* button = dialog.Control(radio);
      QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(4, button->height() / 2));
      ASSERT_EQ(QApplication::focusWidget(), button) << "a click focuses " << radio;
      state += " " + std::to_string(radio);
    }
    for (int radio : {kPcscRadio, kOrvoRadio})
      EXPECT_FALSE(dialog.Control(radio)->focusPolicy() & Qt::TabFocus) << state << ": " << radio;
    std::vector<QWidget*> stops;
    for (int id : order) {
      if (dialog.Control(id)->isEnabled() && dialog.Control(id)->isVisible())
        stops.push_back(dialog.Control(id));
    }
    dialog.Control(kCounterBox)->setFocus();
    for (size_t i = 0; i < stops.size(); ++i) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      // From the counter box round to the Cancel button and on to the counter box again.
      EXPECT_EQ(QApplication::focusWidget(), stops[i]) << state << ", Tab " << i + 1;
    }
  }
}

TEST(AboutDialogTest, CaptionTitleButtonAndLayout) {
  AboutDialog about;
  const DialogBaseUnits base = BaseUnitsOf(about.font());
  EXPECT_EQ(about.windowTitle(), QString::fromUtf8("关于 Pelliton"));
  EXPECT_EQ(about.size(), DialogSizeToPixels(235, 55, base));
  EXPECT_EQ(about.TitleLabel()->text(), QStringLiteral("Norvane IC Upgrade Card Tool V33"));
  EXPECT_EQ(about.TitleLabel()->textFormat(), Qt::PlainText);
  EXPECT_EQ(about.TitleLabel()->geometry(), DialogRectToPixels(QRect(40, 10, 172, 8), base));
  EXPECT_EQ(about.IconLabel()->geometry(), DialogRectToPixels(QRect(11, 17, 20, 20), base));
  EXPECT_FALSE(about.IconLabel()->pixmap().isNull());
  EXPECT_EQ(about.OkButton()->text(), QString::fromUtf8("确定"));
  EXPECT_TRUE(about.OkButton()->isDefault());
  EXPECT_EQ(about.OkButton()->geometry(), DialogRectToPixels(QRect(178, 34, 50, 14), base));
  EXPECT_FALSE(about.windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(about.windowFlags() & Qt::WindowMaximizeButtonHint);
  about.show();
  about.OkButton()->click();
  EXPECT_FALSE(about.isVisible());
  EXPECT_EQ(about.result(), QDialog::Accepted);
}

TEST(AboutDialogTest, OpensCentredOverItsOwner) {
  QWidget owner;
  owner.setGeometry(100, 80, 600, 400);
  owner.show();
  AboutDialog about(&owner);
  about.show();
  EXPECT_LE((about.frameGeometry().center() - owner.frameGeometry().center()).manhattanLength(), 2);
}

TEST(AppIconTest, ThirtyTwoSquareTwentyFourBitPicture) {
  const QImage image = AppIconImage();
  EXPECT_EQ(image.size(), QSize(32, 32));
  EXPECT_EQ(image.format(), QImage::Format_RGB888);
  EXPECT_EQ(image.depth(), 24);
  // A real picture, not a flat square.
  QSet<QRgb> colours;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      colours.insert(image.pixel(x, y));
  EXPECT_GT(colours.size(), 4);
  EXPECT_FALSE(AppIcon().isNull());
}

}  // namespace
}  // namespace pelliton
