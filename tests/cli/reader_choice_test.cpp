#include "cli/reader_choice.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace pelliton::cli {
namespace {

const std::vector<std::string> kReaders = {"Virtual PCD 00 00", "Virtual PCD 00 01",
                                           "Orbit 2 [CCID] 01", "Orbit 2"};

struct PickCase {
  const char* name;
  std::vector<std::string> readers;
  std::string requested;
  std::vector<bool> holds_card;
  std::optional<size_t> index;
  std::string error_part;  // empty: no error
};

class ReaderPicking : public testing::TestWithParam<PickCase> {};

TEST_P(ReaderPicking, Picks) {
  const PickCase& c = GetParam();
  const ReaderPick pick = PickReader(c.readers, c.requested, c.holds_card);
  EXPECT_EQ(pick.index, c.index);
  if (c.error_part.empty()) {
    EXPECT_EQ(pick.error, "");
  } else {
    EXPECT_NE(pick.error.find(c.error_part), std::string::npos) << pick.error;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cli, ReaderPicking,
    testing::Values(
        PickCase{"Index", kReaders, "1", {}, 1, ""},
        PickCase{"IndexBeyondTheList",
                 kReaders,
                 "4",
                 {},
                 std::nullopt,
                 "no PC/SC reader has that number (listed: 0: Virtual PCD 00 00, 1: Virtual PCD "
                 "00 01, 2: Orbit 2 [CCID] 01, 3: Orbit 2)"},
        PickCase{"UniquePart", kReaders, "00 01", {}, 1, ""},
        PickCase{"PartInAnyCase", kReaders, "ccid", {}, 2, ""},
        PickCase{"Ambiguous",
                 kReaders,
                 "Virtual",
                 {},
                 std::nullopt,
                 "\"Virtual\" is ambiguous: 2 readers' names hold it (0: Virtual PCD 00 00, 1: "
                 "Virtual PCD 00 01)"},
        PickCase{"Unknown",
                 kReaders,
                 "Omnikey",
                 {},
                 std::nullopt,
                 "\"Omnikey\": no PC/SC reader's name holds it (listed: 0: Virtual PCD 00 00"},
        PickCase{
            "UnknownWithoutReaders", {}, "Omnikey", {}, std::nullopt, "no PC/SC reader is listed"},
        // "Orbit 2" is also part of reader 2's name: the full name wins.
        PickCase{"ExactNameWins", kReaders, "Orbit 2", {}, 3, ""},
        // A reader named like a number is still chosen by its full name.
        PickCase{"ExactNameWinsOverIndex", {"A", "0"}, "0", {}, 1, ""},
        PickCase{"FirstWithACard", kReaders, "", {false, false, true, true}, 2, ""},
        PickCase{
            "FirstListedWhenNoneHoldsACard", kReaders, "", {false, false, false, false}, 0, ""},
        PickCase{"FirstListedWhenCardsUnknown", kReaders, "", {}, 0, ""},
        PickCase{"NoneWithoutReaders", {}, "", {}, std::nullopt, ""}),
    [](const testing::TestParamInfo<PickCase>& info) { return info.param.name; });

}  // namespace
}  // namespace pelliton::cli
