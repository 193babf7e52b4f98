// How a PC/SC code is quoted in messages, whatever width the platform's LONG has.
#include "cardaccess/pcsc_codes.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace pelliton {
namespace {

struct CodeTextCase {
  const char* name;
  int64_t code;
  std::string text;
};

class PcscCodeTextTest : public ::testing::TestWithParam<CodeTextCase> {};

TEST_P(PcscCodeTextTest, QuotesNameAndNumber) {
  EXPECT_EQ(PcscCodeText(GetParam().code), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, PcscCodeTextTest,
    ::testing::Values(CodeTextCase{"AsPcscLiteLong", 0x8010001D,
                                   "PC/SC SCARD_E_NO_SERVICE 0x8010001D"},
                      // Windows' 32-bit LONG, negative, widened with its sign.
                      CodeTextCase{"AsWindowsLong", static_cast<int32_t>(0x80100069),
                                   "PC/SC SCARD_W_REMOVED_CARD 0x80100069"},
                      CodeTextCase{"WithoutAName", 0x801000FF, "PC/SC 0x801000FF"}),
    [](const ::testing::TestParamInfo<CodeTextCase>& info) { return info.param.name; });

struct ServiceCase {
  const char* name;
  int64_t code;
  bool down;
};

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

class PcscServiceDownTest : public ::testing::TestWithParam<ServiceCase> {};

TEST_P(PcscServiceDownTest, TellsAServiceThatIsNotThere) {
  EXPECT_EQ(PcscServiceDown(GetParam().code), GetParam().down);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, PcscServiceDownTest,
    ::testing::Values(ServiceCase{"NoService", 0x8010001D, true},
                      ServiceCase{"StoppedAsWindowsLong", static_cast<int32_t>(0x8010001E), true},
                      // A service that runs without readers is running.
                      ServiceCase{"NoReaders", 0x8010002E, false},
                      // All wine's winscard answers where no service is reachable.
                      ServiceCase{"InternalError", 0x80100001, kWindows}),
    [](const ::testing::TestParamInfo<ServiceCase>& info) { return info.param.name; });

}  // namespace
}  // namespace pelliton
