// The recording panel stands in for the window in every procedure's tests, so its
// transfers must match the window's or those tests prove nothing.
#include "tests/support/recording_panel.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/counter_rule.h"

namespace pelliton {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

struct ReadCase {
  const char* counter_text;
  bool passes;
  uint32_t counter_after;  // CounterValue starts at 500
  const char* message;     // appbox text, empty for none
};

TEST(RecordingPanelTest, ReadControlsMovesEveryBoxAndChecksTheCounter) {
  const std::string range = CounterRangeMessage();
  const ReadCase cases[] = {
      {"300", true, 300, ""},
      {" 42 ", true, 42, ""},
      {"5000", true, 5000, ""},
      {"0", false, 0, range.c_str()},
      {"5001", false, 5001, range.c_str()},
      {"", false, 500, kCounterNotANumberMessage},
      {"-1", false, 500, kCounterNotANumberMessage},
  };
  for (const ReadCase& c : cases) {
    RecordingPanel panel;
    panel.Controls().path_box = "p";
    panel.Controls().card_info_box = "c";
    panel.Controls().status_box = "s";
    panel.Controls().hidden_label = "h";
    panel.Controls().counter_box = c.counter_text;
    EXPECT_EQ(panel.ReadControls(), c.passes) << c.counter_text;
    // The texts before the counter are taken even when the counter fails.
    EXPECT_EQ(panel.ScriptPath(), "p");
    EXPECT_EQ(panel.CardInfoText(), "c");
    EXPECT_EQ(panel.StatusText(), "s");
    EXPECT_EQ(panel.HiddenLabelText(), "h");
    EXPECT_EQ(panel.CounterValue(), c.counter_after) << c.counter_text;
    std::vector<std::string> log = {"readcontrols"};
    if (*c.message != '\0')
      log.push_back(std::string("appbox ") + c.message);
    EXPECT_THAT(panel.Log(), ElementsAreArray(log)) << c.counter_text;
    EXPECT_EQ(panel.Controls().focus, c.passes ? kCancelButton : kCounterBox);
  }
}

TEST(RecordingPanelTest, RefreshWritesFieldsAndRecordsStatusChanges) {
  RecordingPanel panel;
  panel.ScriptPath() = "a.bin";
  panel.CounterValue() = 4294967295u;
  panel.StatusText() = "one";
  panel.RefreshControls();
  panel.RefreshControls();
  panel.SetStatusBoxText("two");
  panel.StatusText() = "";
  panel.RefreshControls();
  EXPECT_EQ(panel.Controls().path_box, "a.bin");
  EXPECT_EQ(panel.Controls().counter_box, "4294967295");
  EXPECT_THAT(panel.StatusBoxHistory(), ElementsAre("one", "two", ""));
  EXPECT_THAT(panel.LogOf({"statusbox", "refresh"}),
              ElementsAre("refresh", "refresh", "statusbox two", "refresh"));
  EXPECT_EQ(panel.Count("refresh"), 3u);
}

TEST(RecordingPanelTest, ReaderListBehavesLikeADropDown) {
  RecordingPanel panel;
  EXPECT_FALSE(panel.IsEnabled(kReaderList));
  EXPECT_FALSE(panel.IsEnabled(kReloadButton));
  EXPECT_TRUE(panel.IsEnabled(kDownloadButton));
  EXPECT_EQ(panel.ReaderListCurrentText(), "");
  panel.ReaderListInsert(0, "B");
  panel.ReaderListInsert(-1, "C");
  panel.ReaderListSelect(0);
  panel.ReaderListInsert(0, "A");  // the selection follows its entry
  panel.ReaderListInsert(9, "ignored");
  EXPECT_THAT(panel.Controls().reader_entries, ElementsAre("A", "B", "C"));
  EXPECT_EQ(panel.ReaderListCurrentText(), "B");
  panel.ReaderListSelect(3);
  EXPECT_EQ(panel.ReaderListCurrentText(), "");
  panel.ReaderListSelect(2);
  panel.ReaderListClear();
  EXPECT_EQ(panel.ReaderListCurrentText(), "");
  panel.EnableControl(kReaderList, true);
  EXPECT_TRUE(panel.IsEnabled(kReaderList));
  EXPECT_THAT(panel.LogWithout({"reader-text"}),
              ElementsAre("reader-insert 0 B", "reader-insert -1 C", "reader-select 0",
                          "reader-insert 0 A", "reader-insert 9 ignored", "reader-select 3",
                          "reader-select 2", "reader-clear", "enable 1001 1"));
}

}  // namespace
}  // namespace pelliton
