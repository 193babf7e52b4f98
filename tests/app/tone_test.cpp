#include "app/tone.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ostream>

namespace pelliton {
namespace {

// Frequency from the rising zero crossings between the first and the last one.
double MeasuredFrequency(const std::vector<int16_t>& s, uint32_t rate) {
  long first = -1, last = -1, crossings = 0;
  for (size_t i = 1; i < s.size(); ++i) {
    if (s[i - 1] < 0 && s[i] >= 0) {
      if (first < 0)
        first = static_cast<long>(i);
      last = static_cast<long>(i);
      ++crossings;
    }
  }
  if (crossings < 2)
    return 0;
  return (crossings - 1) * static_cast<double>(rate) / static_cast<double>(last - first);
}

struct ToneCase {
  uint32_t hz, ms, rate;
  size_t samples;
  double frequency;  // 0: silence
};

// gtest would print the case's bytes, padding included, into CTest's names.
void PrintTo(const ToneCase& c, std::ostream* os) {
  *os << c.hz << " Hz " << c.ms << " ms at " << c.rate;
}

class ToneTest : public ::testing::TestWithParam<ToneCase> {};

TEST_P(ToneTest, LengthAndFrequencyFromTheSamples) {
  const ToneCase& c = GetParam();
  const std::vector<int16_t> s = GenerateTone(c.hz, c.ms, c.rate);
  ASSERT_EQ(s.size(), c.samples);
  if (s.empty())
    return;
  const int peak = std::abs(*std::max_element(
      s.begin(), s.end(), [](int16_t a, int16_t b) { return std::abs(a) < std::abs(b); }));
  if (c.frequency == 0) {
    EXPECT_EQ(peak, 0);
    return;
  }
  EXPECT_NEAR(MeasuredFrequency(s, c.rate), c.frequency, c.frequency * 0.01);
  EXPECT_GT(peak, 10000);  // clearly audible
  // Starts and ends quietly, without a click.
  EXPECT_LT(std::abs(s.front()), 500);
  EXPECT_LT(std::abs(s.back()), 500);
  const double seconds = static_cast<double>(s.size()) / c.rate;
  EXPECT_NEAR(seconds * 1000.0, std::min(c.ms, kMaxToneMs), 0.1);
}

INSTANTIATE_TEST_SUITE_P(
    Tones, ToneTest,
    ::testing::Values(ToneCase{900, 100, 48000, 4800, 900}, ToneCase{900, 100, 44100, 4410, 900},
                      ToneCase{1000, 600, 48000, 28800, 1000},
                      ToneCase{1000, 600, 8000, 4800, 1000}, ToneCase{0, 100, 48000, 4800, 0},
                      ToneCase{24000, 100, 48000, 4800, 0},  // at Nyquist: silence
                      ToneCase{900, 0, 48000, 0, 0}, ToneCase{900, 100, 0, 0, 0},
                      ToneCase{900, 100, 400000, 0, 0},
                      ToneCase{900, 4000000000u, 8000, 80000, 900}),  // cut to 10 s
    [](const ::testing::TestParamInfo<ToneCase>& info) {
      const ToneCase& c = info.param;
      return std::to_string(c.hz) + "Hz" + std::to_string(c.ms) + "ms" + std::to_string(c.rate);
    });

TEST(PlayToneTest, BlocksForAboutTheToneWithOrWithoutSound) {
  const auto start = std::chrono::steady_clock::now();
  PlayTone(900, 100);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, std::chrono::milliseconds(95));
}

}  // namespace
}  // namespace pelliton
