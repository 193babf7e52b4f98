#include "cli/platform/hooks.h"

#include <gtest/gtest.h>

#include <string>

namespace pelliton::cli {
namespace {

struct HookCase {
  const char* name;
  std::string command;
  std::string report_part;  // empty: the hook succeeded, nothing is reported
};

class Hook : public testing::TestWithParam<HookCase> {};

#ifdef _WIN32
// cmd.exe under wine may take most of a second to start on a busy machine.
constexpr std::chrono::milliseconds kHookTime{3000};
#else
constexpr std::chrono::milliseconds kHookTime{300};
#endif

TEST_P(Hook, ReportsAFailureOnlyAsALine) {
  const CardResult result{"Virtual PCD 00 00", false, "APP Data Aera Format! SW=0x6581",
                          "3B9F9581"};
  const std::string report = RunHook("--on-fail", GetParam().command, result, kHookTime);
  if (GetParam().report_part.empty()) {
    EXPECT_EQ(report, "");
  } else {
    EXPECT_NE(report.find("pelliton-cli: --on-fail hook " + GetParam().report_part),
              std::string::npos)
        << report;
    EXPECT_TRUE(report.ends_with("\n")) << report;
  }
}

#ifdef _WIN32
// cmd.exe's language; a hung hook's second command is a process of its own.
INSTANTIATE_TEST_SUITE_P(
    Cli, Hook,
    testing::Values(HookCase{"Succeeds",
                             "if \"%PELLITON_RESULT%\"==\"FAIL\" (exit 0) else (exit 1)", ""},
                    HookCase{"FailingStatus", "exit 7", "exited with status 7\n"},
                    HookCase{"NotFound", "no-such-stack-light-tool",
                             "exited with status 9009 (command not found)"},
                    HookCase{"Hangs", "ping -n 30 127.0.0.1 >nul & ping -n 30 127.0.0.1 >nul",
                             "did not end within"}),
    [](const testing::TestParamInfo<HookCase>& info) { return info.param.name; });
#else
INSTANTIATE_TEST_SUITE_P(
    Cli, Hook,
    testing::Values(HookCase{"Succeeds", "test \"$PELLITON_RESULT\" = FAIL", ""},
                    HookCase{"FailingStatus", "exit 7", "exited with status 7\n"},
                    HookCase{"NotFound", "no-such-stack-light-tool",
                             "exited with status 127 (command not found)"},
                    HookCase{"KilledBySignal", "kill -9 $$", "was killed by signal 9"},
                    HookCase{"Hangs", "sleep 30 & sleep 30", "did not end within"}),
    [](const testing::TestParamInfo<HookCase>& info) { return info.param.name; });
#endif

}  // namespace
}  // namespace pelliton::cli
