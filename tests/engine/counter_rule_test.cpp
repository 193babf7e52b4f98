#include "engine/counter_rule.h"

#include <gtest/gtest.h>

namespace pelliton {
namespace {

struct CounterCase {
  const char* text;
  CounterParse result;
  uint32_t value;  // expected value afterwards; starts at 500
};

void PrintTo(const CounterCase& c, std::ostream* os) {
  *os << '[' << c.text << ']';
}

class CounterRuleTest : public ::testing::TestWithParam<CounterCase> {};

TEST_P(CounterRuleTest, ParsesLikeTheCounterBox) {
  const CounterCase& c = GetParam();
  uint32_t value = 500;
  EXPECT_EQ(ParseCounterText(c.text, &value), c.result) << "text: [" << c.text << "]";
  EXPECT_EQ(value, c.value) << "text: [" << c.text << "]";
}

INSTANTIATE_TEST_SUITE_P(
    Texts, CounterRuleTest,
    ::testing::Values(
        CounterCase{" 42 ", CounterParse::kOk, 42}, CounterCase{"\t42\t", CounterParse::kOk, 42},
        CounterCase{"+7", CounterParse::kOk, 7}, CounterCase{"1", CounterParse::kOk, 1},
        CounterCase{"5000", CounterParse::kOk, 5000}, CounterCase{"007", CounterParse::kOk, 7},
        CounterCase{"0", CounterParse::kOutOfRange, 0},
        CounterCase{"00", CounterParse::kOutOfRange, 0},
        CounterCase{"5001", CounterParse::kOutOfRange, 5001},
        CounterCase{"4294967295", CounterParse::kOutOfRange, 4294967295u},
        CounterCase{"99999999999999999999", CounterParse::kOutOfRange, 4294967295u},
        CounterCase{"", CounterParse::kNotANumber, 500},
        CounterCase{"   ", CounterParse::kNotANumber, 500},
        CounterCase{"abc", CounterParse::kNotANumber, 500},
        CounterCase{"-1", CounterParse::kNotANumber, 500},
        CounterCase{" -0", CounterParse::kNotANumber, 500},
        CounterCase{"+", CounterParse::kNotANumber, 500},
        CounterCase{"+0", CounterParse::kNotANumber, 500},
        CounterCase{"12a", CounterParse::kNotANumber, 500},
        CounterCase{"12 a", CounterParse::kNotANumber, 500},
        CounterCase{"1 2", CounterParse::kNotANumber, 500},
        CounterCase{"0x10", CounterParse::kNotANumber, 500},
        // Only the first 31 characters count: the letter at 32 is never seen.
        CounterCase{"42                             x", CounterParse::kOk, 42},
        CounterCase{"42                            x", CounterParse::kNotANumber, 500}));

TEST(CounterRuleTest, RangeMessageNamesBothBounds) {
  EXPECT_EQ(CounterRangeMessage(), "“请填入一个在1和5000之间的整数。”");
}

TEST(CounterRuleTest, EachFailureHasItsMessage) {
  EXPECT_EQ(CounterFailureMessage(CounterParse::kOk), "");
  EXPECT_EQ(CounterFailureMessage(CounterParse::kNotANumber), "“请填入一个正整数。”");
  EXPECT_EQ(CounterFailureMessage(CounterParse::kOutOfRange), "“请填入一个在1和5000之间的整数。”");
}

}  // namespace
}  // namespace pelliton
