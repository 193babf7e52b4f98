// The download end to end through pcscd, vpcd and tessiv-sim: what the card holds
// afterwards, and the message of each way the card can stop it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/download.h"
#include "sim/card/tessiv_card.h"
#include "tests/integration/rig_session.h"
#include "tests/support/scratch_dir.h"

namespace pelliton::integration {
namespace {

using rig::SimProcess;
using sim::CardState;
using sim::TessivApp;

constexpr char kSuccess[] = "\r\n\r\nDownload APP Successfull!";

class DownloadRig : public RigSession {
 protected:
  void UseScript(const std::string& text) {
    panel.Controls().path_box = dir.Write("app.bin", text);
  }
  void Run() {
    RunBounded("download", [&] { OnDownload(panel, access, pauser); });
  }
  // The card's state once it has taken `commands` commands and gone quiet.
  std::optional<CardState> StateAfter(const SimProcess& sim, size_t commands) const {
    return sim.WaitForState([&](const CardState& s) { return s.commands.size() >= commands; });
  }

  ScratchDir dir;
};

TEST_F(DownloadRig, LoadsEveryDataLineWhereItBelongsAndStoresTheCounter) {
  SimProcess sim;
  ASSERT_TRUE(sim.StartAndWait(0, {"--version-byte", "03"}));
  const RigScript script = RealisticScript(5);
  UseScript(script.Text());
  panel.Controls().counter_box = "4321";

  Run();

  EXPECT_EQ(panel.Controls().status_box, kSuccess);
  EXPECT_EQ(panel.LogOf({"beep", "appbox", "winbox"}), std::vector<std::string>{kOkBeep});
  EXPECT_EQ(panel.Controls().progress_pos, kDownloadProgressMax);

  const auto state = StateAfter(sim, script.CommandCount());
  ASSERT_TRUE(state.has_value());
  ASSERT_EQ(state->commands.size(), script.CommandCount());
  EXPECT_EQ(state->formats, 1u);
  // The card keeps the counter only when the CRC matched the challenge it gave.
  EXPECT_EQ(state->counter, 4321u);
  EXPECT_EQ(state->pass_through, script.pass_through);

  size_t expected_bytes = 0;
  for (const testing::ScriptData& d : script.data) {
    const TessivApp app = d.app2 ? TessivApp::kApp2 : TessivApp::kApp1;
    const uint32_t offset = d.address - (d.app2 ? kApp2Start : kApp1Start);
    for (size_t i = 0; i < d.bytes.size(); ++i) {
      ASSERT_EQ(state->ByteAt(app, offset + static_cast<uint32_t>(i)), d.bytes[i])
          << std::hex << "address 0x" << d.address << " byte " << i;
    }
    expected_bytes += d.bytes.size();
  }
  // Nothing was written anywhere else.
  size_t written = 0;
  for (const sim::WrittenExtent& e : state->written)
    written += e.bytes.size();
  EXPECT_EQ(written, expected_bytes);
}

// A second download of the same card formats it again and rewrites the counter.
TEST_F(DownloadRig, SecondRunOnTheSameCardStartsFromAFormat) {
  SimProcess sim;
  ASSERT_TRUE(sim.StartAndWait(0));
  const RigScript script = RealisticScript(2);
  UseScript(script.Text());
  Run();
  ASSERT_EQ(panel.Controls().status_box, kSuccess);
  panel.Controls().counter_box = "5000";
  panel.ClearLog();
  Run();
  EXPECT_EQ(panel.Controls().status_box, kSuccess);
  EXPECT_EQ(panel.LogOf({"beep"}), std::vector<std::string>{kOkBeep});
  const auto state = StateAfter(sim, 2 * script.CommandCount());
  ASSERT_TRUE(state.has_value());
  EXPECT_EQ(state->formats, 2u);
  EXPECT_EQ(state->counter, 5000u);
}

struct FaultCase {
  const char* name;
  std::vector<std::string> options;
  // Sent line (1-based, in send order) at which the card stops the run; 0 for none.
  size_t at_sent_line;
  std::string message;  // "%L" stands for the file line number of that sent line
  bool beep_first;      // the tone comes before the text is shown
  bool untouched;       // the card received no command at all
};

std::string FaultOption(size_t sent_line, const char* what) {
  // Command 1 is the format.
  return std::to_string(sent_line + 1) + what;
}

std::vector<FaultCase> FaultCases() {
  return {
      {"AccessControl",
       {"--sw-at", FaultOption(3, ":6982")},
       3,
       "Not satisfied with the Access Control!SW=0x6982",
       true,
       false},
      {"OtherRefusal",
       {"--sw-at", FaultOption(4, ":6A80")},
       4,
       "App1 Command error at line %L!SW=0x6a80",
       true,
       false},
      {"WarningCountsAsRefusal",
       {"--sw-at", FaultOption(1, ":6283")},
       1,
       "App1 Command error at line %L!SW=0x6283",
       true,
       false},
      {"CardRemoved",
       {"--remove-at", FaultOption(6, "")},
       6,
       "App1 Chip communication error! at line %L!",
       false,
       false},
      {"MuteCard",
       {"--mute-at", FaultOption(2, "")},
       2,
       "App1 Chip communication error! at line %L!",
       false,
       false},
      {"FormatRefused", {"--sw-at", "1:6581"}, 0, "APP Data Aera Format! SW=0x6581", true, false},
      {"V100GateKeepsTheCardUnformatted",
       {"--version-byte", "02"},
       0,
       "Tessiv Card Version: V1.00\r\n\r\n Norvane App file dose not match!\r\n Please use a "
       "Tessiv card with at least version V2.00 to download this file!",
       false,
       true},
      {"V110GateKeepsTheCardUnformatted",
       {"--version-byte", "03"},
       0,
       "Tessiv Card Version: V1.10\r\n\r\n Norvane App file dose not match!\r\n Please use a "
       "Tessiv card with at least version V2.00 to download this file!",
       false,
       true},
  };
}

void PrintTo(const FaultCase& c, std::ostream* os) {
  *os << c.name;
}

class DownloadFaultRig : public DownloadRig, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(DownloadFaultRig, NamesTheLineAndTheCardsAnswer) {
  const FaultCase& c = GetParam();
  const RigScript script = RealisticScript(3);
  std::string text = script.Text();
  if (c.untouched) {
    // Only App1: no App2 at 0x00012000 for the older generations.
    text = testing::JoinLines({testing::AddressLine(kApp1Start, kApp1End),
                               testing::AddressCheckLine(kApp1Start, kApp1End),
                               testing::DataLine(kApp1Start, testing::PatternBytes(1, 128))});
  }
  UseScript(text);
  std::string message = c.message;
  if (const size_t at = message.find("%L"); at != std::string::npos) {
    const uint32_t line = script.SentLines().at(c.at_sent_line - 1);
    message.replace(at, 2, std::to_string(line));
  }
  SimProcess sim;
  ASSERT_TRUE(sim.StartAndWait(0, c.options));

  Run();

  EXPECT_EQ(panel.Controls().status_box, message);
  const std::vector<std::string> ending = c.beep_first
                                              ? std::vector<std::string>{kErrorBeep, "refresh"}
                                              : std::vector<std::string>{"refresh", kErrorBeep};
  const auto log = panel.LogOf({"beep", "refresh", "appbox", "winbox"});
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(std::vector<std::string>(log.end() - 2, log.end()), ending);
  EXPECT_EQ(ErrorBeeps(), 1u);
  EXPECT_EQ(OkBeeps(), 0u);

  // The card took nothing after the command that stopped the run.
  const size_t commands = c.untouched ? 0 : c.at_sent_line + 1;
  const auto state =
      sim.WaitForState([&](const CardState& s) { return s.commands.size() >= commands; });
  ASSERT_TRUE(state.has_value());
  EXPECT_EQ(state->commands.size(), commands);
  EXPECT_EQ(state->formats, c.untouched || c.at_sent_line == 0 ? 0u : 1u);
  EXPECT_FALSE(state->counter.has_value());
  // The next case's card must not arrive before pcscd has seen this one go.
  sim.Stop();
  EXPECT_TRUE(sim.WaitForRemoval());
}

INSTANTIATE_TEST_SUITE_P(Faults, DownloadFaultRig, ::testing::ValuesIn(FaultCases()),
                         [](const ::testing::TestParamInfo<FaultCase>& info) {
                           return info.param.name;
                         });

// A V1.00 card takes the image but has no counter: the run ends with its refusal.
TEST_F(DownloadRig, V100CardLoadsButRefusesTheCounter) {
  SimProcess sim;
  ASSERT_TRUE(sim.StartAndWait(0, {"--version-byte", "02"}));
  const RigScript script = RealisticScript(2);
  UseScript(script.Text());
  Run();
  EXPECT_EQ(panel.Controls().status_box,
            "Download APP Successfull!\r\n\r\n This Tessiv card version is not support counter "
            "function!\r\n SW=0x6d00");
  EXPECT_EQ(ErrorBeeps(), 1u);
  const auto state = StateAfter(sim, script.CommandCount());
  ASSERT_TRUE(state.has_value());
  EXPECT_FALSE(state->counter.has_value());
  EXPECT_EQ(state->ByteAt(TessivApp::kApp2, 0), testing::PatternBytes(kApp2Start, 1)[0]);
}

}  // namespace
}  // namespace pelliton::integration
