#include "app/dialog_presenter.h"

#include <gtest/gtest.h>

namespace pelliton {
namespace {

TEST(FileFilterTest, PipeListBecomesQtFilter) {
  const struct {
    const char* filter;
    const char* qt;
  } cases[] = {
      {"APP files(*.bin)|*.bin|All Files (*.*)|*.*||",
       "APP files(*.bin) (*.bin);;All Files (*.*) (*)"},
      {"Scripts|*.bin;*.txt||", "Scripts (*.bin *.txt)"},
      {"Lonely label", "All Files (*)"},
      {"A|*.a|Dangling", "A (*.a)"},
      {"", "All Files (*)"},
      {"||", "All Files (*)"},
      {"Empty pattern||B|*.b||", "All Files (*)"},
      {"Empty||", "All Files (*)"},
      {"A|*.a||B|*.b", "A (*.a)"},  // "||" ends the list
  };
  for (const auto& c : cases)
    EXPECT_EQ(ToQtFileFilter(c.filter), QString::fromUtf8(c.qt)) << c.filter;
}

TEST(PanelTextTest, LineBreaksConvertBothWays) {
  const struct {
    const char* panel;
    const char* widget;
    const char* back;
  } cases[] = {
      {"\r\n\r\nAPP Loading......", "\n\nAPP Loading......", "\r\n\r\nAPP Loading......"},
      {"a\nb", "a\nb", "a\r\nb"},
      {"a\rb", "a\nb", "a\r\nb"},
      {"", "", ""},
      {"“请填入一个正整数。”", "“请填入一个正整数。”", "“请填入一个正整数。”"},
  };
  for (const auto& c : cases) {
    const QString shown = FromPanelText(c.panel);
    EXPECT_EQ(shown, QString::fromUtf8(c.widget)) << c.panel;
    EXPECT_EQ(ToPanelText(shown), c.back) << c.panel;
  }
  // Bytes that are not UTF-8 are shown as replacement characters, never crash.
  EXPECT_FALSE(FromPanelText(std::string_view("\xff\xfe\x80", 3)).isEmpty());
}

}  // namespace
}  // namespace pelliton
