// pelliton-cli as a production line runs it: the real executable against a private
// pcscd with the vpcd reader and tessiv-sim (run inside tests/rig/pcsc-rig).
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <winscard.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "journal/journal.h"
#include "tests/cli/cli_process.h"
#include "tests/rig/sim_process.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/sound_script.h"

extern char** environ;

namespace pelliton::cli {
namespace {

using testing_scripts::Join;
using testing_scripts::SoundScript;

const char kDownloadOk[] =
    "\n\nFormatting APP Data area...\n\n\nAPP Loading......\n\n\nDownload APP Successfull!\n";

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

Result RunCli(const std::vector<std::string>& args) {
  ScratchDir dir;
  CliProcess cli(dir);
  Result result;
  if (!cli.Start(args))
    return result;
  result.status = cli.Wait();
  result.out = cli.Out();
  result.err = cli.Err();
  return result;
}

// Every non-empty line of text parses as JSON.
bool EachLineIsJson(const std::string& text) {
  ScratchDir dir;
  const std::string path = dir.Write("out.json", text);
  const std::string command =
      "python3 -c 'import json,sys\nfor l in open(sys.argv[1]):\n  l.strip() and json.loads(l)' " +
      path;
  return std::system(command.c_str()) == 0;
}

class CliRig : public ::testing::Test {
 protected:
  void SetUp() override {
    if (rig::VpcdPort() == 0)
      GTEST_SKIP() << "not inside the pcscd rig";
  }
};

TEST_F(CliRig, ReadersListsBothVirtualReaders) {
  const Result result = RunCli({"readers"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "PC/SC readers:\n  0: " + rig::RigReaderName(0) +
                            "\n  1: " + rig::RigReaderName(1) + "\nOrvo reader: not attached\n");
  const Result json = RunCli({"readers", "--json"});
  EXPECT_TRUE(EachLineIsJson(json.out)) << json.out;
}

TEST_F(CliRig, DownloadThenInfoOnAV200Card) {
  rig::SimProcess sim;
  ASSERT_TRUE(sim.StartAndWait(0));
  Result result = RunCli({"download", PELLITON_EXAMPLE_SCRIPT, "--counter", "1234"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, kDownloadOk);

  result = RunCli({"info"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out,
            "Tessiv Card Version: V2.00 \n\nNorvane App Version:V3.05  counter:1234\n\nObtained "
            "upgrade card information for Norvane-IC Successfully!\n");

  result = RunCli({"info", "--json", "--trace"});
  EXPECT_EQ(result.status, 0);
  EXPECT_TRUE(EachLineIsJson(result.out)) << result.out;
  EXPECT_NE(result.out.find(R"("counter":1234,"counter_text":"1234")"), std::string::npos)
      << result.out;
  EXPECT_NE(result.err.find("> F0 88 00 00 08 11 22 33 44 55 66 77 88\n< 61 2C  ("),
            std::string::npos)
      << result.err;
}

struct CardFailure {
  const char* name;
  std::vector<std::string> sim_options;
  std::vector<std::string> cli_args;  // after the command's own
  std::string expected_out;
};

class CliRigFailure : public CliRig, public ::testing::WithParamInterface<CardFailure> {};

TEST_P(CliRigFailure, PrintsTheWindowsMessageAndExitsWithOne) {
  rig::SimProcess sim;
  ASSERT_TRUE(sim.StartAndWait(1, GetParam().sim_options));
  std::vector<std::string> args = GetParam().cli_args;
  args.push_back("--reader");
  args.push_back(rig::RigReaderName(1));
  const Result result = RunCli(args);
  EXPECT_EQ(result.status, 1) << result.err;
  EXPECT_EQ(result.out, GetParam().expected_out);
}

INSTANTIATE_TEST_SUITE_P(
    Cli, CliRigFailure,
    ::testing::Values(
        CardFailure{"FormatRefused",
                    {"--sw-at", "1:6581"},
                    {"download", PELLITON_EXAMPLE_SCRIPT},
                    "\n\nFormatting APP Data area...\nAPP Data Aera Format! SW=0x6581\n"},
        // Command 5 is the example's fourth DataLine, on line 13.
        CardFailure{"LoadRefused",
                    {"--sw-at", "5:6a80"},
                    {"download", PELLITON_EXAMPLE_SCRIPT},
                    "\n\nFormatting APP Data area...\n\n\nAPP Loading......\nApp1 Command error "
                    "at line 13!SW=0x6a80\n"},
        // An empty reply to the first DataLine (command 2, line 10), then the card is gone.
        CardFailure{"MuteCard",
                    {"--mute-at", "2"},
                    {"download", PELLITON_EXAMPLE_SCRIPT},
                    "\n\nFormatting APP Data area...\n\n\nAPP Loading......\nApp1 Chip "
                    "communication error! at line 10!\n"},
        CardFailure{"OldCardAndNewScript",
                    {"--version-byte", "03"},
                    {"download", PELLITON_ONE_APP_SCRIPT},
                    "Tessiv Card Version: V1.10\n\n Norvane App file dose not match!\n Please "
                    "use a Tessiv card with at least version V2.00 to download this file!\n"},
        CardFailure{"OldCardWithoutCounter",
                    {"--version-byte", "02"},
                    {"download", PELLITON_EXAMPLE_SCRIPT},
                    "\n\nFormatting APP Data area...\n\n\nAPP Loading......\nDownload APP "
                    "Successfull!\n\n This Tessiv card version is not support counter "
                    "function!\n SW=0x6d00\n"},
        CardFailure{"InfoRefused",
                    {"--sw-at", "1:6d00"},
                    {"info"},
                    "Tessiv Card Version: V2.00 \n\nGet Card Info Error! SW=0x6d00\n"}),
    [](const ::testing::TestParamInfo<CardFailure>& info) { return info.param.name; });

// A failed card on the second reader, found without -r because it alone holds a card:
// the verdict is on stderr even with --json, the --on-fail hook is told the card's
// result, and its own failure is reported without changing the card's.
TEST_F(CliRig, FailingCardRunsTheFailHookWithItsResult) {
  rig::SimProcess sim;
  ASSERT_TRUE(sim.StartAndWait(1, {"--sw-at", "1:6581"}));
  ScratchDir dir;
  const std::string env_file = dir.PathOf("hook_env");
  const std::string pass_file = dir.PathOf("pass_ran");
  // The Windows build's hooks run under cmd.exe; wine's drive Z: is the Unix root.
  std::string on_fail = "env | grep ^PELLITON_ | sort > " + env_file + "; exit 4";
  if (UnderWine()) {
    on_fail.clear();
    for (const char* name : {"ATR", "MESSAGE", "READER", "RESULT"})
      on_fail += ">> Z:" + env_file + " echo PELLITON_" + name + "=%PELLITON_" + name + "%& ";
    on_fail += "exit 4";
  }
  const std::string on_pass = UnderWine() ? "type nul > Z:" + pass_file : "touch " + pass_file;
  const Result result = RunCli({"download", PELLITON_EXAMPLE_SCRIPT, "-j", "-v", "--on-pass",
                                on_pass, "--on-fail", on_fail});
  EXPECT_EQ(result.status, 1) << result.err;
  const std::string reader = rig::RigReaderName(1);
  EXPECT_NE(
      result.err.find("pelliton-cli: reader " + reader + " (the first reader holding a card)"),
      std::string::npos)
      << result.err;
  EXPECT_NE(result.err.find("FAIL  " + reader + "  APP Data Aera Format! SW=0x6581  ("),
            std::string::npos)
      << result.err;
  EXPECT_NE(result.err.find("pelliton-cli: --on-fail hook exited with status 4\n"),
            std::string::npos)
      << result.err;
  EXPECT_TRUE(EachLineIsJson(result.out)) << result.out;
  std::string env = ReadFile(env_file);
  std::erase(env, '\r');
  EXPECT_TRUE(env.starts_with("PELLITON_ATR=3B")) << env;
  EXPECT_NE(env.find("\nPELLITON_MESSAGE=APP Data Aera Format! SW=0x6581\nPELLITON_READER=" +
                     reader + "\nPELLITON_RESULT=FAIL\n"),
            std::string::npos)
      << env;
  EXPECT_FALSE(std::ifstream(pass_file).good());
}

struct CheckCase {
  const char* name;
  std::vector<std::string> lines;
  int status;
  std::string expected_out;
  std::vector<std::string> options = {};
  std::string json_part = "\"warnings\":[]";
};

std::vector<std::string> Edited(size_t index, const std::string& line, bool insert = false) {
  std::vector<std::string> lines = SoundScript();
  if (insert) {
    lines.insert(lines.begin() + static_cast<long>(index), line);
  } else {
    lines[index] = line;
  }
  return lines;
}

std::vector<std::string> NotHexOnLine37() {
  std::vector<std::string> lines = SoundScript();
  lines.insert(lines.begin() + 4, 14, "");
  lines.insert(lines.begin() + 4, 14, "  ; comment");
  lines[36] = "F0D1000084000021804G" + std::string(254, 'A');
  return lines;
}

class CliRigCheck : public ::testing::TestWithParam<CheckCase> {};

TEST_P(CliRigCheck, NamesTheMessageAndLine) {
  ScratchDir dir;
  const std::string path = dir.Write("s.bin", Join(GetParam().lines));
  std::vector<std::string> args = {"check", path};
  args.insert(args.end(), GetParam().options.begin(), GetParam().options.end());
  const Result result = RunCli(args);
  EXPECT_EQ(result.status, GetParam().status);
  EXPECT_EQ(result.out, GetParam().expected_out);
  args.push_back("--json");
  const Result json = RunCli(args);
  EXPECT_EQ(json.status, GetParam().status);
  EXPECT_TRUE(EachLineIsJson(json.out)) << json.out;
  EXPECT_NE(json.out.find(GetParam().json_part), std::string::npos) << json.out;
}

INSTANTIATE_TEST_SUITE_P(
    Cli, CliRigCheck,
    ::testing::Values(
        CheckCase{"NotHexOnLine37", NotHexOnLine37(), 1,
                  "Please check APP1 data is all HEX code! at line 37!\nLine 37: "
                  "F0D1000084000021804G" +
                      std::string(100, 'A') + "\n"},
        CheckCase{"DataBeforeCheckLine", Edited(2, testing_scripts::DataLine(0x2000), true), 1,
                  "No App1 StartAddr and  EndAddr info before download data error!\nLine 3: " +
                      testing_scripts::DataLine(0x2000).substr(0, 120) + "\n"},
        CheckCase{"App1Disagrees", Edited(4, "F0D40000080000200000011FFE"), 1,
                  "App1 StartAddr and  EndAddr info Inconsistent address error!\nLine 5: "
                  "F0D40000080000200000011FFE\n"},
        CheckCase{"App2Disagrees", Edited(9, "F0D40000080001300000021FFF"), 1,
                  "App2 StartAddr and  EndAddr info Inconsistent address error!\nLine 10: "
                  "F0D40000080001300000021FFF\n"},
        CheckCase{"UnknownKind", Edited(7, "00A4040007A0000000031010"), 1,
                  "APP Update App1 file error! at line 8!\nLine 8: 00A4040007A0000000031010\n"},
        CheckCase{"P3Disagrees", Edited(6, "F0D100008500002080" + std::string(256, '1')), 1,
                  "APP Update App1 file error! at line 7!\nLine 7: F0D100008500002080" +
                      std::string(102, '1') + "\n"},
        CheckCase{"Sound", SoundScript(), 0,
                  "Script is sound: 14 lines\nApp1 0x00002000-0x00011FFF: 4 data lines, 512 "
                  "data bytes\nApp2 0x00012000-0x00021FFF: 3 data lines, 384 data bytes\n"
                  "Pass-through lines: 1\nSuits Tessiv cards V1.00, V1.10 and V2.00\n"},
        // Accepted by the download, so only a warning; the card would write it at 0x2080.
        CheckCase{"UnalignedWarns",
                  Edited(6, testing_scripts::DataLine(0x2090, 112)),
                  0,
                  "Script is sound: 14 lines\nApp1 0x00002000-0x00011FFF: 4 data lines, 496 "
                  "data bytes\nApp2 0x00012000-0x00021FFF: 3 data lines, 384 data bytes\n"
                  "Pass-through lines: 1\nSuits Tessiv cards V1.00, V1.10 and V2.00\n"
                  "Warning: line 7: data at 0x00002090 is not on a 128-byte block boundary; the "
                  "card writes it at 0x00002080\nLine 7: " +
                      testing_scripts::DataLine(0x2090, 112).substr(0, 120) + "\n",
                  {},
                  "\"warnings\":[{\"line\":7,\"code\":\"unaligned\",\"message\":\"data at "
                  "0x00002090 is not"},
        CheckCase{"NoDataStrict",
                  {"F05D0100090000200000011FFF00", "F0D40000080000200000011FFF"},
                  1,
                  "Script is sound: 2 lines\nApp1 0x00002000-0x00011FFF: 0 data lines, 0 data "
                  "bytes\nPass-through lines: 0\nSuits Tessiv cards V2.00 (App2 does not start "
                  "at 0x00012000, as V1.00 and V1.10 cards need)\nWarning: the script has no "
                  "data line; the download would erase the card's application data and load "
                  "none\n--strict: 1 warning\n",
                  {"--strict"},
                  "\"warnings\":[{\"line\":null,\"code\":\"no_data\""}),
    [](const ::testing::TestParamInfo<CheckCase>& info) { return info.param.name; });

TEST(CliRigUsage, UsageErrorsExitWithTwo) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{},
                                               {"flash"},
                                               {"download"},
                                               {"info", "--orvo", "--reader", "X"},
                                               {"download", "x.bin", "--counter", "many"}}) {
    const Result result = RunCli(args);
    EXPECT_EQ(result.status, 2) << (args.empty() ? "" : args[0]);
    EXPECT_EQ(result.out, "");
  }
}

TEST_F(CliRig, EachCardProgramsThreeCardsInTurn) {
  ScratchDir dir;
  CliProcess cli(dir);
  rig::SimProcess sim;
  ASSERT_TRUE(sim.StartAndWait(0, {"--cards", "3"}));
  ASSERT_TRUE(cli.Start({"download", PELLITON_EXAMPLE_SCRIPT, "--each-card", "--cards", "3"}));
  for (size_t card = 1; card <= 3; ++card) {
    ASSERT_TRUE(cli.WaitForOutput("Download APP Successfull!", card)) << cli.Out() << cli.Err();
    if (card < 3) {
      ASSERT_TRUE(sim.RemoveCard());
    }
  }
  EXPECT_EQ(cli.Wait(), 0) << cli.Err();
  const std::string out = cli.Out();
  EXPECT_EQ(CountOf(out, "== Card "), 3u);
  EXPECT_NE(out.find("\nCards: 3, succeeded: 3, failed: 0\n"), std::string::npos) << out;
}

TEST_F(CliRig, EachCardEndsCleanlyOnInterrupt) {
  ScratchDir dir;
  CliProcess cli(dir);
  rig::SimProcess sim;
  ASSERT_TRUE(sim.StartAndWait(0));
  ASSERT_TRUE(cli.Start({"info", "--each-card", "--json"}));
  ASSERT_TRUE(cli.WaitForOutput(R"("success":true)", 1)) << cli.Err();
  // Now waiting for the card to leave: the interrupt must end the wait.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  kill(cli.pid(), SIGINT);
  EXPECT_EQ(cli.Wait(5000), 0);
  const std::string out = cli.Out();
  EXPECT_TRUE(EachLineIsJson(out)) << out;
  EXPECT_NE(out.find(R"({"schema":1,"command":"tally","cards":1,"succeeded":1,"failed":0,)"
                     R"("interrupted":true,"failures":[]})"),
            std::string::npos)
      << out;
}

// Clock ticks of processor time the process has used so far.
long CpuTicks(pid_t pid) {
  const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
  const size_t name_end = stat.rfind(')');
  if (name_end == std::string::npos)
    return -1;
  std::istringstream fields(stat.substr(name_end + 2));
  std::string field;
  long utime = 0;
  long stime = 0;
  // After the name: state is field 3, utime 14 and stime 15.
  for (int index = 3; index <= 15 && fields >> field; ++index) {
    if (index == 14)
      utime = std::stol(field);
    if (index == 15)
      stime = std::stol(field);
  }
  return utime + stime;
}

// Waiting for the card to leave sleeps in the service's wait, and a termination ends
// the loop as an interrupt does: tally printed, status 0.
TEST_F(CliRig, EachCardWaitsWithoutSpinningAndEndsOnTerminate) {
  if (UnderWine())
    GTEST_SKIP() << "wine turns only SIGINT into a console event";
  ScratchDir dir;
  CliProcess cli(dir);
  rig::SimProcess sim;
  ASSERT_TRUE(sim.StartAndWait(0));
  ASSERT_TRUE(cli.Start({"info", "--each-card"}));
  ASSERT_TRUE(cli.WaitForOutput("Successfully!", 1)) << cli.Err();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const long before = CpuTicks(cli.pid());
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  const long used = CpuTicks(cli.pid()) - before;
  ASSERT_GE(before, 0);
  // A spinning wait would use about all of the 1.5 s (150 ticks at 100 Hz).
  EXPECT_LT(used, 30) << "ticks used while waiting: " << used;
  kill(cli.pid(), SIGTERM);
  EXPECT_EQ(cli.Wait(5000), 0) << cli.Err();
  EXPECT_NE(cli.Out().find("\nCards: 1, succeeded: 1, failed: 0\n"), std::string::npos)
      << cli.Out();
}

// The card leaves in the middle of the download.
class CliRigRemoval : public CliRig, public ::testing::WithParamInterface<int> {};

TEST_P(CliRigRemoval, CardRemovedDuringTheDownload) {
  rig::SimProcess sim;
  ASSERT_TRUE(sim.StartAndWait(GetParam(), {"--remove-at", "5"}));
  const Result result =
      RunCli({"download", PELLITON_EXAMPLE_SCRIPT, "--reader", rig::RigReaderName(GetParam())});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out,
            "\n\nFormatting APP Data area...\n\n\nAPP Loading......\nApp1 Chip communication "
            "error! at line 13!\n");
}

INSTANTIATE_TEST_SUITE_P(Cli, CliRigRemoval, ::testing::Values(1));

// The card answers again after the signals; whether it was finished shows in the counter
// the simulated card holds.
constexpr uint32_t kTestCounter = 1234;

// A card expected unfinished is looked at only briefly.
bool CardFinished(const rig::SimProcess& sim, bool expected) {
  return sim
      .WaitForState([](const sim::CardState& state) { return state.counter == kTestCounter; },
                    expected ? 5000 : 300)
      .has_value();
}

struct SignalCase {
  const char* name;
  std::vector<std::string> args;  // after download's own
  Stdout out;
  std::vector<int> signals;  // sent while the card is stopped in the middle of the load
  int status;
  std::string err_part;  // after a signal, the reader's name follows it
  bool card_finished;
  const char* recorded = "success";  // the outcome of the card's journal record
};

class CliRigSignals : public CliRig, public ::testing::WithParamInterface<SignalCase> {};

TEST_P(CliRigSignals, FirstSignalFinishesTheCardSecondEndsAtOnce) {
  const SignalCase& c = GetParam();
  // Wine makes Ctrl-C of SIGINT alone; Windows has no SIGTERM or SIGHUP to send.
  if (UnderWine() &&
      std::any_of(c.signals.begin(), c.signals.end(), [](int signal) { return signal != SIGINT; }))
    GTEST_SKIP() << "wine turns only SIGINT into a console event";
  ScratchDir dir;
  CliProcess cli(dir);
  rig::SimProcess sim;
  ASSERT_TRUE(sim.StartAndWait(0));
  const std::string journal = dir.PathOf("journal.sqlite");
  std::vector<std::string> args = {"download",  PELLITON_EXAMPLE_SCRIPT,
                                   "--counter", std::to_string(kTestCounter),
                                   "--journal", journal};
  args.insert(args.end(), c.args.begin(), c.args.end());
  ASSERT_TRUE(cli.Start(args, c.out));
  if (!c.signals.empty()) {
    ASSERT_TRUE(cli.WaitForOutput("APP Loading", 1, 20000)) << cli.Err();
    kill(sim.pid(), SIGSTOP);  // a card that no longer answers
    for (const int signal : c.signals) {
      kill(cli.pid(), signal);
      std::this_thread::sleep_for(std::chrono::milliseconds(150));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    kill(sim.pid(), SIGCONT);
  }
  EXPECT_EQ(cli.Wait(20000), c.status) << cli.Err();
  const std::string err_part = c.err_part + (c.signals.empty() ? "" : rig::RigReaderName(0));
  EXPECT_NE(cli.Err().find(err_part), std::string::npos) << cli.Err();
  EXPECT_EQ(CardFinished(sim, c.card_finished), c.card_finished);
  if (c.card_finished && c.out == Stdout::kFile) {
    EXPECT_TRUE(cli.Out().ends_with("Download APP Successfull!\n")) << cli.Out();
  }
  if (UnderWine())
    return;  // the Windows build keeps no journal
  std::string error;
  const auto reader =
      journal::Journal::Open(journal, "test", journal::Journal::Access::kRead, &error);
  ASSERT_NE(reader, nullptr) << error;
  std::vector<journal::JournalRecord> records;
  ASSERT_TRUE(reader->List({}, &records, &error)) << error;
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].outcome, c.recorded);
}

INSTANTIATE_TEST_SUITE_P(
    Cli, CliRigSignals,
    ::testing::Values(SignalCase{"FirstInterruptLetsTheCardFinish",
                                 {},
                                 Stdout::kFile,
                                 {SIGINT},
                                 0,
                                 "pelliton-cli: finishing the card in ",
                                 true},
                      SignalCase{"HangupIsATermination",
                                 {},
                                 Stdout::kFile,
                                 {SIGHUP},
                                 0,
                                 "pelliton-cli: finishing the card in ",
                                 true},
                      SignalCase{"SecondTerminationEndsAtOnce",
                                 {},
                                 Stdout::kFile,
                                 {SIGTERM, SIGTERM},
                                 143,
                                 "pelliton-cli: stopped at once by a second signal; the card in ",
                                 false,
                                 "interrupted"},
                      SignalCase{"SecondInterruptEndsTheCardLoop",
                                 {"--each-card"},
                                 Stdout::kFile,
                                 {SIGINT, SIGINT},
                                 130,
                                 "a second signal; card 1 in ",
                                 false,
                                 "interrupted"},
                      // A reader of the output that went away: the card is finished all the same.
                      SignalCase{"ClosedPipe",
                                 {},
                                 Stdout::kClosedPipe,
                                 {},
                                 3,
                                 "pelliton-cli: could not write the output: Broken pipe",
                                 true}),
    [](const ::testing::TestParamInfo<SignalCase>& info) { return info.param.name; });

struct OutputCase {
  const char* name;
  std::vector<std::string> args;
  bool card_finished;
};

class CliRigOutputError : public CliRig, public ::testing::WithParamInterface<OutputCase> {};

TEST_P(CliRigOutputError, FullDeviceEndsWithThree) {
  ScratchDir dir;
  CliProcess cli(dir);
  rig::SimProcess sim;
  ASSERT_TRUE(sim.StartAndWait(0));
  ASSERT_TRUE(cli.Start(GetParam().args, Stdout::kFull));
  // A card loop stops after the card whose record was lost: no wait for the next card.
  EXPECT_EQ(cli.Wait(20000), 3);
  EXPECT_LE(CountOf(cli.Err(), "Waiting for a card"), 1u) << cli.Err();
  EXPECT_NE(cli.Err().find("pelliton-cli: could not write the output: No space left on device\n"),
            std::string::npos)
      << cli.Err();
  EXPECT_EQ(CardFinished(sim, GetParam().card_finished), GetParam().card_finished);
}

INSTANTIATE_TEST_SUITE_P(
    Cli, CliRigOutputError,
    ::testing::Values(OutputCase{"DownloadJson",
                                 {"download", PELLITON_EXAMPLE_SCRIPT, "--json", "--counter",
                                  std::to_string(kTestCounter)},
                                 true},
                      OutputCase{"Check", {"check", PELLITON_EXAMPLE_SCRIPT}, false},
                      OutputCase{"EachCardInfo", {"info", "--each-card", "--json"}, false}),
    [](const ::testing::TestParamInfo<OutputCase>& info) { return info.param.name; });

// Another program holds the card's transaction: the wait is told within about a second,
// and given up at the --wait limit.
TEST_F(CliRig, WaitForACardHeldByAnotherProgramIsToldAndBounded) {
  rig::SimProcess sim;
  ASSERT_TRUE(sim.StartAndWait(0));
  const std::string reader = rig::RigReaderName(0);
  SCARDCONTEXT context = 0;
  SCARDHANDLE card = 0;
  DWORD protocol = 0;
  ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context), SCARD_S_SUCCESS);
  ASSERT_EQ(SCardConnect(context, reader.c_str(), SCARD_SHARE_SHARED,
                         SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &card, &protocol),
            SCARD_S_SUCCESS);
  ASSERT_EQ(SCardBeginTransaction(card), SCARD_S_SUCCESS);

  ScratchDir dir;
  CliProcess cli(dir);
  ASSERT_TRUE(cli.Start({"info", "--wait", "3"}));
  EXPECT_TRUE(
      cli.WaitForOutput(reader + ": held by another program (giving up after 3 s)", 1, 2500, true))
      << cli.Err();
  EXPECT_EQ(cli.Wait(10000), 1);
  EXPECT_NE(cli.Err().find("pelliton-cli: gave up after 3 s waiting for the card in " + reader +
                           ": held by another program\n"),
            std::string::npos)
      << cli.Err();
  SCardEndTransaction(card, SCARD_LEAVE_CARD);
  SCardDisconnect(card, SCARD_LEAVE_CARD);
  SCardReleaseContext(context);
}

}  // namespace
}  // namespace pelliton::cli
