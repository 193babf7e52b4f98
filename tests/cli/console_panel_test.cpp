#include "cli/render/console_panel.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/counter_rule.h"
#include "tests/cli/capture.h"

namespace pelliton::cli {
namespace {

TEST(AsTerminalText, TurnsWindowLineBreaksIntoLineBreaksAndEscapesControls) {
  EXPECT_EQ(AsTerminalText("\r\n\r\nAPP Loading......"), "\n\nAPP Loading......");
  EXPECT_EQ(AsTerminalText("a\r\nb"), "a\nb");
  EXPECT_EQ(AsTerminalText(""), "");
  // What could drive the terminal is shown, not obeyed: a lone CR (not a window line
  // break), ESC, DEL, a C1 control in UTF-8 and a byte outside UTF-8; tabs and text stay.
  EXPECT_EQ(AsTerminalText("a\rb\r"), "a\\x0db\\x0d");
  EXPECT_EQ(AsTerminalText("V3.05\x1b[2J\x7f\tend"), "V3.05\\x1b[2J\\x7f\tend");
  EXPECT_EQ(AsTerminalText("\xc2\x9b"
                           "31m caf\xe9 “请”"),
            "\\xc2\\x9b31m caf\\xe9 “请”");
  // Only strict UTF-8 passes: overlong forms, surrogates, values above U+10FFFF and a
  // sequence cut short are bytes, each shown as its value.
  EXPECT_EQ(AsTerminalText("\xC0\x80|\xE0\x80\xAF|\xED\xA0\x80|\xF4\x90\x80\x80|x\xE4\xB8"),
            "\\xc0\\x80|\\xe0\\x80\\xaf|\\xed\\xa0\\x80|\\xf4\\x90\\x80\\x80|x\\xe4\\xb8");
  EXPECT_EQ(AsTerminalText("\xF0\x9F\x92\xB3"), "\xF0\x9F\x92\xB3");
}

struct BarCase {
  int lower, upper, position, width;
  const char* expected;
};

class ProgressBar : public testing::TestWithParam<BarCase> {};

TEST_P(ProgressBar, Draws) {
  const BarCase& c = GetParam();
  EXPECT_EQ(ProgressBarText(c.lower, c.upper, c.position, c.width), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cli, ProgressBar,
                         testing::Values(BarCase{0, 55, 0, 10, "[..........]   0%"},
                                         BarCase{0, 55, 2, 10, "[..........]   3%"},
                                         BarCase{0, 55, 55, 10, "[##########] 100%"},
                                         // Positions run past the range on long scripts.
                                         BarCase{0, 55, 102, 10, "[##########] 100%"},
                                         BarCase{0, 55, -4, 10, "[..........]   0%"},
                                         BarCase{0, 100, 50, 4, "[##..]  50%"},
                                         BarCase{7, 7, 7, 3, "[...]   0%"},
                                         BarCase{0, 10, 5, 0, "[.]  50%"}));

TEST(ConsolePanel, PrintsEachNewStatusTextOnceAndEveryMessageBox) {
  Capture out;
  ConsolePanel panel(out.file(), false);
  panel.StatusText() = "\r\n\r\nFormatting APP Data area...";
  panel.RefreshControls();
  panel.RefreshControls();           // the same text again: nothing new on screen
  panel.SetStatusBoxText("");        // emptied: nothing to print
  panel.SetStatusBoxText("direct");  // written straight into the box
  panel.AppMessageBox("Card Reset Error!");
  panel.WindowMessageBox("Please Select reader first!");
  panel.StatusText() = "direct";
  panel.RefreshControls();  // what the box already shows
  EXPECT_EQ(out.Text(),
            "\n\nFormatting APP Data area...\ndirect\nCard Reset Error!\nPlease Select reader "
            "first!\n");
  EXPECT_EQ(panel.Shown(),
            (std::vector<std::string>{"\r\n\r\nFormatting APP Data area...", "direct",
                                      "Card Reset Error!", "Please Select reader first!"}));
}

TEST(ConsolePanel, CollectsWithoutPrintingWhenThereIsNoStream) {
  ConsolePanel panel(nullptr, true);
  panel.SetProgressRange(0, 55);
  panel.SetProgressPos(3);
  panel.AppMessageBox("x");
  EXPECT_EQ(panel.Shown(), std::vector<std::string>{"x"});
}

TEST(ConsolePanel, NextRunPrintsAMessageEqualToThePreviousRunsLast) {
  Capture out;
  ConsolePanel panel(out.file(), false);
  panel.StatusText() = "same";
  panel.RefreshControls();
  panel.StartRun();
  EXPECT_TRUE(panel.Shown().empty());
  panel.ReadControls();
  panel.StatusText() = "same";
  panel.RefreshControls();
  EXPECT_EQ(out.Text(), "same\nsame\n");
}

struct CounterCase {
  const char* name;
  const char* text;
  bool accepted;
  uint32_t value;  // CounterValue afterwards (start value 500)
  bool range_message;
  bool number_message;
};

class ConsoleCounter : public testing::TestWithParam<CounterCase> {};

TEST_P(ConsoleCounter, FollowsTheCounterBoxRule) {
  const CounterCase& c = GetParam();
  ConsolePanel panel(nullptr, false);
  panel.SetCounterText(c.text);
  EXPECT_EQ(panel.ReadControls(), c.accepted);
  EXPECT_EQ(panel.CounterValue(), c.value);
  std::vector<std::string> expected;
  if (c.range_message)
    expected.push_back(CounterRangeMessage());
  if (c.number_message)
    expected.push_back(kCounterNotANumberMessage);
  EXPECT_EQ(panel.Shown(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cli, ConsoleCounter,
    testing::Values(CounterCase{"Default", "500", true, 500, false, false},
                    CounterCase{"Lowest", "1", true, 1, false, false},
                    CounterCase{"Highest", "5000", true, 5000, false, false},
                    CounterCase{"Zero", "0", false, 0, true, false},
                    CounterCase{"AboveRange", "5001", false, 5001, true, false},
                    CounterCase{"NotANumberKeepsValue", "12a", false, 500, false, true},
                    CounterCase{"EmptyKeepsValue", "", false, 500, false, true}),
    [](const testing::TestParamInfo<CounterCase>& info) { return info.param.name; });

TEST(ConsolePanel, ReadControlsTakesThePathBoxAndRefreshPutsItBack) {
  ConsolePanel panel(nullptr, false);
  panel.SetPathBoxText("/tmp/a.bin");
  panel.ReadControls();
  EXPECT_EQ(panel.ScriptPath(), "/tmp/a.bin");
  panel.ScriptPath() = "/tmp/b.bin";
  panel.RefreshControls();
  EXPECT_EQ(panel.ChooseScriptFile(kScriptFileFilter), std::optional<std::string>("/tmp/b.bin"));
}

TEST(ConsolePanel, ReaderListKeepsTheServiceOrder) {
  ConsolePanel panel(nullptr, false);
  EXPECT_EQ(panel.ReaderListCurrentText(), "");
  panel.ReaderListInsert(0, "A");
  panel.ReaderListInsert(1, "B");
  panel.ReaderListInsert(2, "C");
  panel.ReaderListInsert(7, "ignored");
  panel.ReaderListSelect(0);
  EXPECT_EQ(panel.ReaderListCurrentText(), "A");
  panel.ReaderListSelect(2);
  EXPECT_EQ(panel.ReaderListCurrentText(), "C");
  panel.ReaderListSelect(3);
  EXPECT_EQ(panel.ReaderListCurrentText(), "");
  EXPECT_EQ(panel.ReaderEntries(), (std::vector<std::string>{"A", "B", "C"}));
  panel.ReaderListClear();
  EXPECT_TRUE(panel.ReaderEntries().empty());
}

TEST(ConsolePanel, ProgressBarIsTakenOffTheLineBeforeEachText) {
  Capture out;
  {
    ConsolePanel panel(out.file(), true);
    panel.SetProgressRange(0, 55);
    panel.SetProgressPos(55);
    panel.AppMessageBox("done");
  }
  const std::string text = out.Text();
  const size_t bar = text.find("\r[");
  const size_t clear = text.find("\r\033[2K");
  const size_t done = text.find("done\n");
  ASSERT_NE(bar, std::string::npos);
  ASSERT_NE(clear, std::string::npos);
  ASSERT_NE(done, std::string::npos);
  EXPECT_LT(bar, clear);
  EXPECT_LT(clear, done);
  EXPECT_NE(text.find("100%"), std::string::npos);
  // The destructor leaves the terminal line clean.
  EXPECT_EQ(text.substr(text.size() - 5), "\r\033[2K");
}

}  // namespace
}  // namespace pelliton::cli
