#include "cli/card_info_fields.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace pelliton::cli {
namespace {

struct InfoCase {
  const char* name;
  std::string text;
  std::string card_line;
  std::string application_line;
  std::vector<std::string> versions;
  std::optional<std::string> counter;
};

class SplitInfo : public testing::TestWithParam<InfoCase> {};

TEST_P(SplitInfo, Splits) {
  const InfoCase& c = GetParam();
  const CardInfoFields fields = SplitCardInfo(c.text);
  EXPECT_EQ(fields.card_line, c.card_line);
  EXPECT_EQ(fields.application_line, c.application_line);
  EXPECT_EQ(fields.versions, c.versions);
  EXPECT_EQ(fields.counter, c.counter);
}

INSTANTIATE_TEST_SUITE_P(
    Cli, SplitInfo,
    testing::Values(
        InfoCase{
            "OneVersionWithCounter",
            "Tessiv Card Version: V2.00 \r\n\r\nNorvane App Version:V3.05  counter:0500\r\n\r\n",
            "Tessiv Card Version: V2.00",
            "Norvane App Version:V3.05  counter:0500",
            {"V3.05"},
            "0500"},
        InfoCase{"TwoVersionsWithCounter",
                 "Tessiv Card Version: V1.10 \r\n\r\nNorvane App1 Version:ABCDE  Norvane App2 "
                 "Version:ABCDX  counter:FGHI\r\n\r\n",
                 "Tessiv Card Version: V1.10",
                 "Norvane App1 Version:ABCDE  Norvane App2 Version:ABCDX  counter:FGHI",
                 {"ABCDE", "ABCDX"},
                 "FGHI"},
        InfoCase{"OldCardHasNoCounter",
                 "Tessiv Card Version: V1.00 \r\n\r\nNorvane App1 Version:ABCDEFGHI  Norvane "
                 "App2 Version:ABCDXFGHI\r\n\r\n",
                 "Tessiv Card Version: V1.00",
                 "Norvane App1 Version:ABCDEFGHI  Norvane App2 Version:ABCDXFGHI",
                 {"ABCDEFGHI", "ABCDXFGHI"},
                 std::nullopt},
        InfoCase{"UnknownCardHasNoCardLine",
                 "Norvane App Version:X1\r\n\r\n",
                 "",
                 "Norvane App Version:X1",
                 {"X1"},
                 std::nullopt},
        InfoCase{"EmptyVersion",
                 "Norvane App Version:\r\n\r\n",
                 "",
                 "Norvane App Version:",
                 {""},
                 std::nullopt},
        InfoCase{"NotACardInfoText", "garbage", "", "garbage", {}, std::nullopt},
        InfoCase{"CardLineOnly",
                 "Tessiv Card Version: V2.00 ",
                 "Tessiv Card Version: V2.00",
                 "",
                 {},
                 std::nullopt},
        InfoCase{"Empty", "", "", "", {}, std::nullopt}),
    [](const testing::TestParamInfo<InfoCase>& info) { return info.param.name; });

}  // namespace
}  // namespace pelliton::cli
