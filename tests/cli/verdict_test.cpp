#include "cli/render/verdict.h"

#include <gtest/gtest.h>

#include <string>

namespace pelliton::cli {
namespace {

struct BannerCase {
  const char* name;
  Verdict verdict;
  BannerStyle style;
  std::string expected;
};

class Banner : public testing::TestWithParam<BannerCase> {};

TEST_P(Banner, IsOneLine) {
  EXPECT_EQ(VerdictBanner(GetParam().verdict, GetParam().style), GetParam().expected);
}

const Verdict kPassed{true, "Virtual PCD 00 00", "\r\n\r\nDownload APP Successfull!",
                      std::chrono::milliseconds(4249), std::nullopt};
const Verdict kFailed{false, "Virtual PCD 00 01",
                      "Download APP Successfull!\r\n\r\n This Tessiv card version is not support "
                      "counter function!\r\n SW=0x6d00",
                      std::chrono::milliseconds(950), 3};

INSTANTIATE_TEST_SUITE_P(
    Cli, Banner,
    testing::Values(
        BannerCase{"PassPlain",
                   kPassed,
                   {false, false},
                   "PASS  Virtual PCD 00 00  Download APP Successfull!  (4.2 s)\n"},
        BannerCase{"PassColoured",
                   kPassed,
                   {true, true},
                   "\x1b[1;97;42m PASS \x1b[0m  Virtual PCD 00 00  Download APP Successfull!  "
                   "(4.2 s)\n"},
        // The line breaks of the window's message fold into single blanks.
        BannerCase{"FailPlainWithCardNumber",
                   kFailed,
                   {false, false},
                   "FAIL  card 3  Virtual PCD 00 01  Download APP Successfull! This Tessiv card "
                   "version is not support counter function! SW=0x6d00  (1.0 s)\n"},
        BannerCase{"FailColouredRingsTheBell",
                   kFailed,
                   {true, true},
                   "\x1b[1;97;41m FAIL \x1b[0m  card 3  Virtual PCD 00 01  Download APP "
                   "Successfull! This Tessiv card version is not support counter function! "
                   "SW=0x6d00  (1.0 s)\a\n"},
        BannerCase{"FailBellWithoutColour",
                   kFailed,
                   {false, true},
                   "FAIL  card 3  Virtual PCD 00 01  Download APP Successfull! This Tessiv card "
                   "version is not support counter function! SW=0x6d00  (1.0 s)\a\n"},
        // Nothing a card or reader holds drives the terminal.
        BannerCase{"ControlsEscaped",
                   Verdict{false, "", "Get\x1b[2J Error!", std::chrono::milliseconds(0), {}},
                   {false, false},
                   "FAIL  no reader  Get\\x1b[2J Error!  (0.0 s)\n"}),
    [](const testing::TestParamInfo<BannerCase>& info) { return info.param.name; });

TEST(Banner, ColourAndBellOnlyOnATerminalAndColourNotUnderNoColor) {
  struct Row {
    bool terminal;
    const char* no_color;
    bool colour;
    bool bell;
  };
  for (const Row& row : {Row{true, nullptr, true, true}, Row{true, "", true, true},
                         Row{true, "1", false, true}, Row{false, nullptr, false, false}}) {
    const BannerStyle style = BannerStyleFor(row.terminal, row.no_color);
    EXPECT_EQ(style.colour, row.colour) << row.terminal << (row.no_color ? row.no_color : "-");
    EXPECT_EQ(style.bell, row.bell) << row.terminal << (row.no_color ? row.no_color : "-");
  }
}

}  // namespace
}  // namespace pelliton::cli
