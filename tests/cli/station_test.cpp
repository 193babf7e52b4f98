// The station's choice of readers and the read-back's counter rule, without a card.
#include <gtest/gtest.h>

#include "cli/commands/station.h"
#include "cli/render/status_lines.h"
#include "station/read_back.h"

namespace pelliton::cli {
namespace {

const std::vector<std::string> kListed = {"Virtual PCD 00 00", "Virtual PCD 00 01",
                                          "Virtual PCD 1 00 00", "Orvo 3"};

struct PickCase {
  const char* name;
  std::string wanted;
  std::vector<std::string> chosen;  // empty: an error naming error_part
  const char* error_part = "";
};

class PickReadersTest : public testing::TestWithParam<PickCase> {};

TEST_P(PickReadersTest, ChoosesOrSaysWhy) {
  const PickCase& c = GetParam();
  const StationPick pick = PickReaders(c.wanted, kListed);
  EXPECT_EQ(pick.names, c.chosen);
  EXPECT_NE(pick.error.find(c.error_part), std::string::npos) << pick.error;
  EXPECT_EQ(pick.error.empty(), !c.chosen.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Station, PickReadersTest,
    testing::Values(PickCase{"All", "all", kListed},
                    PickCase{"WholeNamesInTheOrderGiven",
                             "Virtual PCD 1 00 00,Virtual PCD 00 00",
                             {"Virtual PCD 1 00 00", "Virtual PCD 00 00"}},
                    // "3" is part of "Orvo 3" but an index first; a whole name beats both.
                    PickCase{"IndexBeforePart", "3,0", {"Orvo 3", "Virtual PCD 00 00"}},
                    PickCase{"UniquePart", "1 00 00,Orvo", {"Virtual PCD 1 00 00", "Orvo 3"}},
                    PickCase{"PartInAnyCase", "orvo", {"Orvo 3"}},
                    PickCase{"PartOfSeveral", "00 01,PCD", {}, "part of 3 reader names"},
                    PickCase{"Unknown", "Acme", {}, "no PC/SC reader is named \"Acme\""},
                    PickCase{"IndexOutOfRange", "4", {}, "index 4"},
                    PickCase{"SameReaderTwice", "0,Virtual PCD 00 00", {}, "chosen twice"},
                    PickCase{"EmptyItem", "0,,1", {}, "empty item"},
                    PickCase{"TrailingComma", "0,", {}, "empty item"}),
    [](const auto& info) { return info.param.name; });

struct CounterCase {
  const char* name;
  std::optional<std::string> read_back;
  uint32_t written;
  std::optional<std::string> mismatch;
};

class CounterMismatchTest : public testing::TestWithParam<CounterCase> {};

TEST_P(CounterMismatchTest, ComparesTheFourDigitsWithTheNumberWritten) {
  const CounterCase& c = GetParam();
  CardInfo info;
  info.counter = c.read_back;
  EXPECT_EQ(station::CounterMismatch(info, c.written), c.mismatch);
}

INSTANTIATE_TEST_SUITE_P(
    ReadBack, CounterMismatchTest,
    testing::Values(CounterCase{"ZeroFilled", "0500", 500, std::nullopt},
                    CounterCase{"Smallest", "0001", 1, std::nullopt},
                    CounterCase{"Largest", "5000", 5000, std::nullopt},
                    CounterCase{"OffByOne", "0501", 500, "counter read back as 0501, written 500"},
                    // A version text too long for the digits leaves its own characters.
                    CounterCase{"NotDigits", "05a0", 50, "counter read back as 05a0, written 50"},
                    CounterCase{"Short", "50", 50, "counter read back as 50, written 50"},
                    CounterCase{"NoCounter", std::nullopt, 7,
                                "counter read back as none, written 7"}),
    [](const auto& info) { return info.param.name; });

// The live lines: only what changed is drawn again, and a note leaves every line whole.
TEST(StatusLinesTest, RedrawsFromTheFirstChangedLineAndNotesAboveTheBlock) {
  StatusLines lines(80);
  lines[lines.LineOf("A")].step = "waiting";
  lines[lines.LineOf("B")].step = "waiting";
  EXPECT_EQ(lines.Redraw(),
            "\033[2K[A] cards 0 | waiting\n"
            "\033[2K[B] cards 0 | waiting\n");
  EXPECT_EQ(lines.Redraw(), "");
  lines[lines.LineOf("B")].progress = 40;
  EXPECT_EQ(lines.Redraw(), "\033[1F\033[2K[B] cards 0 | waiting 40%\n");
  lines[lines.LineOf("A")].last_result = "card 1 FAILED: \x1b[31m\r\nmore";
  EXPECT_EQ(lines.Redraw(),
            "\033[2F\033[2K[A] cards 0 | waiting | last: card 1 FAILED: \\x1b[31m\n"
            "\033[2K[B] cards 0 | waiting 40%\n");
  EXPECT_EQ(lines.Note("[A] gone"),
            "\033[2F\033[J[A] gone\n"
            "\033[2K[A] cards 0 | waiting | last: card 1 FAILED: \\x1b[31m\n"
            "\033[2K[B] cards 0 | waiting 40%\n");
  ReaderStatus wide;
  wide.reader = std::string(100, 'r');
  EXPECT_EQ(StatusLineText(wide, 30), "[" + std::string(28, 'r'));
}

}  // namespace
}  // namespace pelliton::cli
