// The production station as a line runs it: pelliton-cli --readers over four vpcd readers
// of a private pcscd, each with its own tessiv-sim (run inside tests/rig/pcsc-rig with
// PELLITON_RIG_PORT_PAIRS=2).
#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/cli/cli_process.h"
#include "tests/rig/sim_process.h"

namespace pelliton::cli {
namespace {

// Commands a download of the example script sends; with --verify two more.
constexpr int kDownloadCommands = 44;

struct SimSetup {
  int reader = 0;
  std::vector<std::string> options;
  bool started_late = false;  // after the station has started
};

struct Expected {
  int reader = 0;
  int succeeded = 0;
  int failed = 0;
  std::string failure;  // part of the first failure's message
};

struct StationCase {
  const char* name;
  std::vector<SimSetup> sims;
  std::vector<std::string> args;
  int interrupt_after_cards = 0;  // 0: the station ends by itself
  int status = 0;
  std::vector<Expected> readers;  // every reader the tally names
};

class StationRig : public testing::TestWithParam<StationCase> {
 protected:
  void SetUp() override {
    if (rig::VpcdPort() == 0 || rig::RigReaderName(3).empty())
      GTEST_SKIP() << "not inside a pcscd rig with two vpcd port pairs";
  }
};

TEST_P(StationRig, ServesEveryReaderAndTalliesEach) {
  const StationCase& c = GetParam();
  std::vector<std::unique_ptr<rig::SimProcess>> sims;
  for (const SimSetup& wanted : c.sims) {
    if (wanted.started_late)
      continue;
    sims.push_back(std::make_unique<rig::SimProcess>());
    ASSERT_TRUE(sims.back()->StartAndWait(wanted.reader, wanted.options));
  }
  ScratchDir dir;
  CliProcess cli(dir);
  std::vector<std::string> args = {"download", PELLITON_EXAMPLE_SCRIPT, "--each-card", "--json"};
  for (std::string arg : c.args) {
    // "#k": rig reader k's name (the service numbers its readers in no fixed order here).
    for (size_t at = arg.find('#'); at != std::string::npos; at = arg.find('#')) {
      arg.replace(at, 2, rig::RigReaderName(arg[at + 1] - '0'));
    }
    args.push_back(arg);
  }
  ASSERT_TRUE(cli.Start(args));
  for (const SimSetup& wanted : c.sims) {
    if (!wanted.started_late)
      continue;
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    sims.push_back(std::make_unique<rig::SimProcess>());
    ASSERT_TRUE(sims.back()->Start(wanted.reader, wanted.options));
  }
  if (c.interrupt_after_cards != 0) {
    ASSERT_TRUE(cli.WaitForOutput("\"command\":\"download\"", c.interrupt_after_cards))
        << cli.Out() << cli.Err();
    kill(cli.pid(), SIGINT);
  }
  EXPECT_EQ(cli.Wait(), c.status) << cli.Err();

  // One object per card, naming its reader; the tally last.
  std::vector<nlohmann::json> objects;
  std::istringstream lines(cli.Out());
  for (std::string line; std::getline(lines, line);)
    objects.push_back(nlohmann::json::parse(line));
  ASSERT_FALSE(objects.empty());
  const nlohmann::json tally = objects.back();
  ASSERT_EQ(tally["command"], "tally") << cli.Out();
  EXPECT_EQ(tally["interrupted"], c.interrupt_after_cards != 0);
  std::map<std::string, int> cards_of;
  for (size_t i = 0; i + 1 < objects.size(); ++i)
    ++cards_of[objects[i]["reader"].get<std::string>()];
  ASSERT_EQ(tally["readers"].size(), c.readers.size()) << tally.dump();
  int total = 0;
  for (const Expected& expected : c.readers) {
    const std::string name = rig::RigReaderName(expected.reader);
    SCOPED_TRACE(name);
    const auto& readers = tally["readers"];
    const auto found = std::find_if(readers.begin(), readers.end(),
                                    [&](const nlohmann::json& r) { return r["reader"] == name; });
    ASSERT_NE(found, readers.end()) << tally.dump();
    EXPECT_EQ((*found)["succeeded"], expected.succeeded);
    EXPECT_EQ((*found)["failed"], expected.failed);
    EXPECT_EQ(cards_of[name], expected.succeeded + expected.failed);
    if (!expected.failure.empty()) {
      ASSERT_FALSE((*found)["failures"].empty());
      EXPECT_NE((*found)["failures"][0]["message"].get<std::string>().find(expected.failure),
                std::string::npos)
          << (*found).dump();
    }
    total += expected.succeeded + expected.failed;
  }
  EXPECT_EQ(tally["cards"], total);
}

const std::vector<std::string> kGoodCards = {"--cards", "2", "--remove-after",
                                             std::to_string(kDownloadCommands)};

INSTANTIATE_TEST_SUITE_P(
    Cli, StationRig,
    testing::Values(
        // A card pulled out in the middle of each download on one reader; the others
        // program theirs undisturbed. (The next card waits a second: pcscd reports no
        // removal of a card that left mid-command when another is in at once.)
        StationCase{"OneReaderFailing",
                    {{0, kGoodCards, false},
                     {1, {"--cards", "2", "--remove-at", "10", "--insert-after-ms", "1000"}, false},
                     {2, kGoodCards, false}},
                    {"--cards", "2", "--readers", "#0,#1,#2"},
                    0,
                    1,
                    {{0, 2, 0, ""}, {1, 0, 2, "App1 Chip communication error"}, {2, 2, 0, ""}}},
        StationCase{
            "VerifyMismatch",
            {{0,
              {"--remove-after", std::to_string(kDownloadCommands + 2), "--counter-off-by", "1"}},
             {1, {"--remove-after", std::to_string(kDownloadCommands + 2)}}},
            {"--cards", "1", "--verify", "--readers", "#0,#1"},
            0,
            1,
            {{0, 0, 1, "counter read back as 0501, written 500"}, {1, 1, 0, ""}}},
        // vpcd readers cannot be plugged into a running pcscd: "all" is shown serving
        // readers that were empty at the start, and ends on a signal with every reader in
        // its tally.
        StationCase{"AllServesEveryReader",
                    {{0, {"--remove-after", std::to_string(kDownloadCommands)}},
                     {3, {"--remove-after", std::to_string(kDownloadCommands)}, true}},
                    {"--readers", "all"},
                    2,
                    0,
                    {{0, 1, 0, ""}, {1, 0, 0, ""}, {2, 0, 0, ""}, {3, 1, 0, ""}}}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace pelliton::cli
