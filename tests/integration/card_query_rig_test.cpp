// The reader controls, the card reset and the card information query through pcscd,
// vpcd and tessiv-sim.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cardaccess/reader_controls.h"
#include "engine/card_info.h"
#include "engine/download.h"
#include "sim/card/tessiv_card.h"
#include "tests/integration/rig_session.h"
#include "tests/support/scratch_dir.h"

namespace pelliton::integration {
namespace {

using rig::CardHolder;
using rig::RigReaderName;
using rig::SimProcess;

constexpr char kObtained[] = "Obtained upgrade card information for Norvane-IC Successfully!";

using ReaderRig = RigSession;

TEST_F(ReaderRig, ListsTheServiceReadersInOrderAndSelectsTheFirst) {
  const std::vector<std::string> expected = {"Virtual PCD 00 00", "Virtual PCD 00 01"};
  ASSERT_EQ(rig::ListReaders(), expected);
  // Set up loaded the list at start; the reload button loads it again.
  for (int pass = 0; pass < 2; ++pass) {
    SCOPED_TRACE(pass);
    EXPECT_EQ(panel.Controls().reader_entries, expected);
    EXPECT_EQ(panel.Controls().reader_selection, 0);
    EXPECT_EQ(access.Connection().reader_name, expected[0]);
    panel.ClearLog();
    OnPcscReload(access, panel);
    EXPECT_EQ(panel.Controls().status_box, "PC/SC card Reader List Reloaded Sucessfully!");
    EXPECT_EQ(panel.Count("beep"), 0u);
  }
  SelectReader(1);
  EXPECT_EQ(access.Connection().reader_name, expected[1]);
  // Going over to the Orvo reader and back keeps the list and the choice.
  OnReaderModeClicked(access, panel, kOrvoRadio);
  OnReaderModeClicked(access, panel, kPcscRadio);
  EXPECT_EQ(panel.Controls().reader_entries, expected);
  EXPECT_EQ(access.Connection().reader_name, expected[1]);
}

TEST_F(ReaderRig, FirstResetAsksForTheAtrLengthSecondReadsTheAtr) {
  SimProcess sim;
  ASSERT_TRUE(sim.StartAndWait(0, {"--version-byte", "03"}));
  panel.StatusText() = "left by the last procedure";
  panel.Controls().status_box = "shown before";

  EXPECT_EQ(ResetCardShowingFault(access, panel),
            static_cast<int32_t>(SCARD_E_INSUFFICIENT_BUFFER));
  EXPECT_TRUE(panel.Log().empty()) << panel.Log().front();
  EXPECT_EQ(panel.StatusText(), "left by the last procedure");
  EXPECT_EQ(panel.Controls().status_box, "shown before");

  EXPECT_EQ(ResetCardShowingFault(access, panel), 0);
  EXPECT_TRUE(panel.Log().empty());
  const std::vector<uint8_t> atr = sim::TessivConfig::DefaultAtr(0x03);
  const CardConnection& c = access.Connection();
  ASSERT_EQ(c.atr_length, atr.size());
  EXPECT_EQ(std::vector<uint8_t>(c.atr, c.atr + c.atr_length), atr);
  // Once the length is known, every later reset reads the ATR at the first attempt.
  EXPECT_EQ(ResetCardShowingFault(access, panel), 0);
}

struct RefusalCase {
  const char* name;
  bool hold_exclusively;  // false: the reader has no card at all
  const char* message;
};

class ReaderRefusalRig : public RigSession, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(ReaderRefusalRig, BothProceduresShowTheConnectFailure) {
  const RefusalCase& c = GetParam();
  SimProcess sim;
  CardHolder other;
  if (c.hold_exclusively) {
    ASSERT_TRUE(sim.StartAndWait(0));
    ASSERT_EQ(other.Hold(RigReaderName(0), true), SCARD_S_SUCCESS);
  } else {
    ASSERT_TRUE(rig::WaitForCard(RigReaderName(0), false));
  }
  ScratchDir dir;
  panel.Controls().path_box =
      dir.Write("app.bin", testing::AddressLine(kApp1Start, kApp1End) + "\n");

  RunBounded("card information query", [&] { GetCardInfo(panel, access, pauser); });
  // One tone from each of the two resets, then the query's own.
  EXPECT_EQ(
      panel.LogOf({"beep", "appbox"}),
      (std::vector<std::string>{kErrorBeep, kErrorBeep, kErrorBeep, "appbox Card Reset Error!"}));
  EXPECT_EQ(panel.Controls().status_box, c.message);
  EXPECT_EQ(panel.Controls().card_info_box, "");

  panel.ClearLog();
  RunBounded("download", [&] { OnDownload(panel, access, pauser); });
  EXPECT_EQ(
      panel.LogOf({"beep", "appbox"}),
      (std::vector<std::string>{kErrorBeep, kErrorBeep, kErrorBeep, "appbox Card Reset Error!"}));
  EXPECT_EQ(panel.Controls().status_box, c.message);
  if (c.hold_exclusively) {
    const auto state = sim.State();
    ASSERT_TRUE(state.has_value());
    EXPECT_TRUE(state->commands.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Connect, ReaderRefusalRig,
    ::testing::Values(RefusalCase{"HeldByAnother", true, "Error: Other connections outstanding!"},
                      RefusalCase{"NoCard", false, "Error: The smart Chip can't to be connected!"}),
    [](const ::testing::TestParamInfo<RefusalCase>& info) { return info.param.name; });

// --- card information -----------------------------------------------------------------

struct InfoCase {
  const char* name;
  const char* version_byte;
  const char* text1;
  const char* text2;
  const char* card_line;
  const char* application_line;
};

// Expected texts written out by hand from the card's reply: each version text carries
// the card's four counter digits on V1.10 and V2.00 cards (0000 before any counter was
// written), which the tool then moves behind its counter label.
const InfoCase kInfoCases[] = {
    {"V100OneVersion", "02", "V1.07", "V1.07", "Tessiv Card Version: V1.00 \r\n\r\n",
     "Norvane App Version:V1.07"},
    {"V100TwoVersions", "02", "V1.07", "V2.01", "Tessiv Card Version: V1.00 \r\n\r\n",
     "Norvane App1 Version:V1.07  Norvane App2 Version:V2.01"},
    {"V110OneVersion", "03", "V1.07", "V1.07", "Tessiv Card Version: V1.10 \r\n\r\n",
     "Norvane App Version:V1.07  counter:0000"},
    {"V110TwoVersions", "03", "V1.07", "V2.01", "Tessiv Card Version: V1.10 \r\n\r\n",
     "Norvane App1 Version:V1.07  Norvane App2 Version:V2.01  counter:0000"},
    {"V200OneVersion", "04", "V3.05", "V3.05", "Tessiv Card Version: V2.00 \r\n\r\n",
     "Norvane App Version:V3.05  counter:0000"},
    {"V200TwoVersions", "04", "V3.05", "V4.10", "Tessiv Card Version: V2.00 \r\n\r\n",
     "Norvane App1 Version:V3.05  Norvane App2 Version:V4.10  counter:0000"},
    // A first text of another length: the four characters taken out are not all digits.
    {"V200ShortFirstText", "04", "V9", "V4.10", "Tessiv Card Version: V2.00 \r\n\r\n",
     "Norvane App1 Version:V9000orvane App2 Version:V4.10  counter:0000"},
};

class CardInfoRig : public RigSession, public ::testing::WithParamInterface<InfoCase> {};

TEST_P(CardInfoRig, ShowsGenerationVersionsAndCounter) {
  const InfoCase& c = GetParam();
  SimProcess sim;
  ASSERT_TRUE(sim.StartAndWait(
      0, {"--version-byte", c.version_byte, "--text1", c.text1, "--text2", c.text2}));

  RunBounded("card information query", [&] { GetCardInfo(panel, access, pauser); });

  const std::string info = std::string(c.card_line) + c.application_line + "\r\n\r\n";
  EXPECT_EQ(panel.CardInfoText(), info);
  EXPECT_EQ(panel.Controls().card_info_box, info);
  EXPECT_EQ(panel.Controls().status_box, info + kObtained);
  EXPECT_EQ(panel.LogOf({"beep", "appbox", "winbox"}), std::vector<std::string>{kOkBeep});
  EXPECT_EQ(panel.Log().back(), "refresh");
}

INSTANTIATE_TEST_SUITE_P(Cards, CardInfoRig, ::testing::ValuesIn(kInfoCases),
                         [](const ::testing::TestParamInfo<InfoCase>& info) {
                           return info.param.name;
                         });

// The counter a download wrote is what the next query reads back.
TEST_F(CardInfoRig, ShowsTheCounterTheDownloadWrote) {
  SimProcess sim;
  ASSERT_TRUE(
      sim.StartAndWait(0, {"--version-byte", "03", "--text1", "V1.07", "--text2", "V2.01"}));
  ScratchDir dir;
  panel.Controls().path_box =
      dir.Write("app.bin", testing::JoinLines({testing::AddressLine(kApp1Start, kApp1End),
                                               testing::AddressLine(kApp2Start, kApp2End)}));
  panel.Controls().counter_box = "42";
  RunBounded("download", [&] { OnDownload(panel, access, pauser); });
  ASSERT_EQ(panel.Controls().status_box, "\r\n\r\nDownload APP Successfull!");

  panel.ClearLog();
  RunBounded("card information query", [&] { GetCardInfo(panel, access, pauser); });
  EXPECT_EQ(panel.Controls().status_box,
            "Tessiv Card Version: V1.10 \r\n\r\nNorvane App1 Version:V1.07  Norvane App2 "
            "Version:V2.01  counter:0042\r\n\r\n" +
                std::string(kObtained));
  EXPECT_EQ(panel.LogOf({"beep"}), std::vector<std::string>{kOkBeep});
}

// A card that refuses the query: the generation still heads the message.
TEST_F(CardInfoRig, RefusedQueryNamesTheGenerationAndStatusWord) {
  struct Case {
    const char* fault;
    const char* status;
    std::vector<std::string> signals;
  } const cases[] = {
      {"1:6D00",
       "Tessiv Card Version: V1.10 \r\n\r\nGet Card Info Error! SW=0x6d00",
       {kErrorBeep, "refresh"}},
      {"2:6110",
       "Tessiv Card Version: V1.10 \r\n\r\nGet Card Info Error! SW=0x6110",
       {kErrorBeep, "refresh"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    SimProcess sim;
    ASSERT_TRUE(sim.StartAndWait(0, {"--version-byte", "03", "--sw-at", c.fault}));
    panel.ClearLog();
    RunBounded("card information query", [&] { GetCardInfo(panel, access, pauser); });
    EXPECT_EQ(panel.Controls().status_box, c.status);
    const auto log = panel.LogOf({"beep", "refresh", "appbox"});
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(log.end() - 2, log.end()), c.signals);
    EXPECT_EQ(ErrorBeeps(), 1u);
  }
}

}  // namespace
}  // namespace pelliton::integration
