// What pelliton-cli prints of an outcome, built from the outcome value alone: the -v
// detail line.
#include "cli/render.h"

#include <gtest/gtest.h>

#include <string>

namespace pelliton::cli {
namespace {

struct DetailCase {
  const char* name;
  Outcome outcome;
  std::string detail;
};

Outcome Ended(RunEnd end, uint32_t exchanges) {
  Outcome outcome;
  outcome.end = end;
  outcome.exchanges = exchanges;
  return outcome;
}

Outcome Refused(StatusWord word, uint32_t line, uint32_t exchanges) {
  Outcome outcome = Ended(RunEnd::kCardRefused, exchanges);
  outcome.status_word = word;
  outcome.line = line;
  return outcome;
}

Outcome FailedExchange(int32_t code, uint32_t exchanges) {
  Outcome outcome = Ended(RunEnd::kCommunication, exchanges);
  outcome.transport_result = code;
  return outcome;
}

class OutcomeDetailTest : public ::testing::TestWithParam<DetailCase> {};

TEST_P(OutcomeDetailTest, NamesTheEndAndWhatItMet) {
  EXPECT_EQ(OutcomeDetail(GetParam().outcome), GetParam().detail);
}

INSTANTIATE_TEST_SUITE_P(
    Cli, OutcomeDetailTest,
    ::testing::Values(
        DetailCase{"Success", Ended(RunEnd::kSuccess, 9), "success, 9 exchanges"},
        DetailCase{"CardRefusedALine", Refused({0x6A, 0x80}, 13, 7),
                   "card_refused, SW 6A80, line 13, 7 exchanges"},
        DetailCase{"ExchangeFailed", FailedExchange(static_cast<int32_t>(0x80100069), 3),
                   "communication, transport code 0x80100069, 3 exchanges"},
        // The end front ends add after the procedure: named like the procedure's own.
        DetailCase{"ReadBackDiffers", Ended(RunEnd::kReadBack, 12), "read_back, 12 exchanges"}),
    [](const ::testing::TestParamInfo<DetailCase>& info) { return info.param.name; });

}  // namespace
}  // namespace pelliton::cli
