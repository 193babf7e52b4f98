// What pelliton-cli prints of a run, built from its values alone: the -v detail line,
// and the counter as typed, which --counter and the JSON read by the one counter rule.
#include "cli/render/render.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "engine/counter_rule.h"

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

class OutcomeDetailTest : public ::testing::TestWithParam<DetailCase> {};

TEST_P(OutcomeDetailTest, NamesTheEndAndWhatItMet) {
  EXPECT_EQ(OutcomeDetail(GetParam().outcome), GetParam().detail);
}

INSTANTIATE_TEST_SUITE_P(
    Cli, OutcomeDetailTest,
    ::testing::Values(DetailCase{"CardRefusedALine", Refused({0x6A, 0x80}, 13, 7),
                                 "card_refused, SW 6A80, line 13, 7 exchanges"},
                      // The end front ends add after the procedure: named like the procedure's own.
                      DetailCase{"ReadBackDiffers", Ended(RunEnd::kReadBack, 12),
                                 "read_back, 12 exchanges"}),
    [](const ::testing::TestParamInfo<DetailCase>& info) { return info.param.name; });

struct CounterTextCase {
  const char* name;
  std::string text;
  CounterParse rule;  // what the window's counter box makes of it
  bool admitted;      // by --counter
  std::string json;   // the download's "counter" field
};

void PrintTo(const CounterTextCase& c, std::ostream* os) {
  *os << "[" << c.text << "]";
}

class CounterTextTest : public ::testing::TestWithParam<CounterTextCase> {};

TEST_P(CounterTextTest, ArgsAndJsonTakeTheCounterRulesReading) {
  const CounterTextCase& c = GetParam();
  uint32_t value = 0;
  EXPECT_EQ(ParseCounterText(c.text, &value), c.rule);
  const ParseOutcome parsed = ParseArgs({"download", "a.bin", "--counter", c.text});
  EXPECT_EQ(parsed.ok, c.admitted) << parsed.error;
  CliOptions options;
  options.command = Command::kDownload;
  options.script = "a.bin";
  options.counter_text = c.text;
  const std::string json = RunJson(options, "R", CardRun{}, std::nullopt);
  EXPECT_NE(json.find("\"counter\":" + c.json + ","), std::string::npos) << json;
}

INSTANTIATE_TEST_SUITE_P(
    Cli, CounterTextTest,
    ::testing::Values(
        // A sign before a zero is no number to the counter rule, unlike "0".
        CounterTextCase{"PlusZero", "+0", CounterParse::kNotANumber, false, "null"},
        CounterTextCase{"Zero", "0", CounterParse::kOutOfRange, true, "0"},
        CounterTextCase{"PlusAlone", "+", CounterParse::kNotANumber, false, "null"},
        CounterTextCase{"PlusTheLargest", "+5000", CounterParse::kOk, true, "5000"},
        CounterTextCase{"AboveTheLargest", "5001", CounterParse::kOutOfRange, true, "5001"},
        // The box reads a blank away; a typed counter is digits only, and says so.
        CounterTextCase{"LeadingBlank", " 7", CounterParse::kOk, false, "7"}),
    [](const ::testing::TestParamInfo<CounterTextCase>& info) { return info.param.name; });

}  // namespace
}  // namespace pelliton::cli
