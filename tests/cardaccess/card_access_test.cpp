#include "cardaccess/card_access.h"
#include "cardaccess/reader_controls.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/fake_orvo.h"
#include "tests/support/fake_pcsc.h"
#include "tests/support/recording_panel.h"

namespace pelliton {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using testing::FakeOrvo;
using testing::FakePcsc;
using ::testing::IsEmpty;

constexpr int32_t Code(LONG pcsc_code) {
  return static_cast<int32_t>(pcsc_code);
}

std::vector<std::string> Filtered(const std::vector<std::string>& calls, const std::string& what) {
  std::vector<std::string> out;
  for (const std::string& call : calls) {
    if (call.starts_with(what)) {
      out.push_back(call);
    }
  }
  return out;
}

class CardAccessTest : public ::testing::Test {
 protected:
  void UsePcscWithReaders(std::vector<std::string> readers) {
    pcsc.readers = std::move(readers);
    ReloadReaderList(access, panel);
    OnReaderModeClicked(access, panel, kPcscRadio);
    pcsc.calls.clear();
    panel.ClearLog();
  }

  FakePcsc pcsc;
  FakeOrvo orvo;
  RecordingPanel panel;
  CardAccess access{pcsc, orvo};
};

// --- reader list ---------------------------------------------------------------------

struct ReloadCase {
  const char* name;
  std::vector<std::string> readers;
  std::vector<LONG> establish_results;
  std::vector<LONG> list_results;
  std::vector<std::string> items;
  std::string selected_name;
  std::string status_box;
};

class ReloadTest : public CardAccessTest, public ::testing::WithParamInterface<ReloadCase> {};

TEST_P(ReloadTest, FillsListSelectsFirstAndReports) {
  const ReloadCase& c = GetParam();
  pcsc.readers = c.readers;
  pcsc.establish_results.assign(c.establish_results.begin(), c.establish_results.end());
  pcsc.list_results.assign(c.list_results.begin(), c.list_results.end());
  access.Connection().reader_name = "stale";
  panel.Controls().reader_entries = {"stale"};
  panel.Controls().reader_selection = 0;

  OnPcscReload(access, panel);

  EXPECT_EQ(panel.Controls().reader_entries, c.items);
  const int selection = panel.Controls().reader_selection;
  EXPECT_EQ(selection < 0 ? std::string() : panel.Controls().reader_entries.at(selection),
            c.selected_name);
  EXPECT_EQ(access.Connection().reader_name, c.selected_name);
  ASSERT_FALSE(panel.Log().empty());
  EXPECT_EQ(panel.Log().front(), "reader-clear");
  EXPECT_EQ(panel.Log().back(), "statusbox " + c.status_box);
  EXPECT_THAT(panel.LogOf({"beep"}), IsEmpty());
  EXPECT_THAT(panel.LogOf({"refresh"}), IsEmpty());
  EXPECT_EQ(panel.StatusText(), "") << "the reload message must not touch StatusText";
}

INSTANTIATE_TEST_SUITE_P(
    Readers, ReloadTest,
    ::testing::Values(ReloadCase{"ThreeReaders",
                                 {"Alpha 00 00", "Beta 01 00", "Gamma 02 00"},
                                 {},
                                 {},
                                 {"Alpha 00 00", "Beta 01 00", "Gamma 02 00"},
                                 "Alpha 00 00",
                                 "PC/SC card Reader List Reloaded Sucessfully!"},
                      ReloadCase{"NoReader", {}, {}, {}, {}, "", "No PC/SC card reader exists!"},
                      ReloadCase{"NoService",
                                 {"Alpha 00 00"},
                                 {SCARD_E_NO_SERVICE},
                                 {},
                                 {},
                                 "",
                                 "No PC/SC card reader exists!"},
                      ReloadCase{"ListingFails",
                                 {"Alpha 00 00"},
                                 {},
                                 {SCARD_F_INTERNAL_ERROR},
                                 {},
                                 "",
                                 "No PC/SC card reader exists!"}),
    [](const auto& info) { return info.param.name; });

TEST_F(CardAccessTest, ReloadListsInServiceOrderAtIncreasingIndexes) {
  pcsc.readers = {"Zeta", "Alpha", "Mu"};
  ReloadReaderList(access, panel);
  EXPECT_THAT(panel.Log(),
              ElementsAre("reader-clear", "reader-insert 0 Zeta", "reader-insert 1 Alpha",
                          "reader-insert 2 Mu", "reader-select 0", "reader-text"));
  EXPECT_THAT(pcsc.calls, ElementsAre("EstablishContext(0)", "ListReaders(0x1000)"));
}

TEST_F(CardAccessTest, SelectionChangeTakesTheChosenReader) {
  pcsc.readers = {"Alpha", "Beta", "Gamma"};
  ReloadReaderList(access, panel);
  panel.Controls().reader_selection = 2;
  OnReaderSelChange(access, panel);
  EXPECT_EQ(access.Connection().reader_name, "Gamma");

  OnReaderModeClicked(access, panel, kOrvoRadio);
  OnReaderModeClicked(access, panel, kPcscRadio);
  EXPECT_EQ(access.Connection().reader_name, "Gamma") << "a mode switch keeps the choice";
  EXPECT_EQ(panel.Controls().reader_entries.size(), 3u);
  EXPECT_THAT(Filtered(pcsc.calls, "ListReaders"), ElementsAre("ListReaders(0x1000)"));
}

// --- reader mode -----------------------------------------------------------------------

struct ModeCase {
  int control_id;
  ReaderMode mode;
  const char* enabled;
};

class ModeTest : public CardAccessTest, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(ModeTest, RadioSetsModeAndControlStates) {
  const ModeCase& c = GetParam();
  access.Mode() = c.mode == ReaderMode::Pcsc ? ReaderMode::UsbReader : ReaderMode::Pcsc;
  OnReaderModeClicked(access, panel, c.control_id);
  EXPECT_EQ(access.Mode(), c.mode);
  const std::string e = c.enabled;
  EXPECT_THAT(panel.Log(), ElementsAre("enable 1001 " + e, "enable 1003 " + e));
  EXPECT_THAT(pcsc.calls, IsEmpty());
  EXPECT_THAT(orvo.calls, IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Radios, ModeTest,
                         ::testing::Values(ModeCase{kPcscRadio, ReaderMode::Pcsc, "1"},
                                           ModeCase{kOrvoRadio, ReaderMode::UsbReader, "0"},
                                           ModeCase{4711, ReaderMode::UsbReader, "0"}),
                         [](const auto& info) {
                           return "Control" + std::to_string(info.param.control_id);
                         });

TEST_F(CardAccessTest, StartsOnTheOrvoReaderWithNothingOpen) {
  EXPECT_EQ(access.Mode(), ReaderMode::UsbReader);
  EXPECT_EQ(access.Connection().card_handle, 0);
  EXPECT_EQ(access.Connection().handle_kind, HandleKind::None);
  EXPECT_EQ(access.Connection().atr_length, 0u);
}

// --- PC/SC reset -----------------------------------------------------------------------

struct ConnectFailureCase {
  LONG result;
  const char* message;
};

class ConnectFailureTest : public CardAccessTest,
                           public ::testing::WithParamInterface<ConnectFailureCase> {};

TEST_P(ConnectFailureTest, ShowsMessageThenBeepsAndReturnsCode) {
  UsePcscWithReaders({"Alpha"});
  pcsc.connect_results = {GetParam().result};

  EXPECT_EQ(ResetCardShowingFault(access, panel), Code(GetParam().result));
  EXPECT_EQ(panel.StatusText(), GetParam().message);
  EXPECT_THAT(panel.Log(), ElementsAre("refresh", "beep 1000 600"));
  EXPECT_EQ(panel.Controls().status_box, GetParam().message);
  EXPECT_THAT(pcsc.calls, ElementsAre("Connect(0x1000,Alpha,2,3)"));
  EXPECT_EQ(access.Connection().handle_kind, HandleKind::None);

  // Nothing was connected, so the next reset has nothing to release.
  pcsc.calls.clear();
  ResetCardShowingFault(access, panel);
  EXPECT_THAT(Filtered(pcsc.calls, "Disconnect"), IsEmpty());
  EXPECT_THAT(Filtered(pcsc.calls, "EndTransaction"), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Messages, ConnectFailureTest,
    ::testing::Values(
        ConnectFailureCase{SCARD_E_SHARING_VIOLATION, "Error: Other connections outstanding!"},
        ConnectFailureCase{SCARD_W_UNRESPONSIVE_CARD,
                           "Error: The smart card is not responding to a reset!"},
        ConnectFailureCase{SCARD_W_REMOVED_CARD, "Error: The smart Chip has been removed!"},
        ConnectFailureCase{SCARD_E_NO_SMARTCARD, "Error: The smart Chip can't to be connected!"},
        ConnectFailureCase{SCARD_E_UNKNOWN_READER, "Error: The smart Chip can't to be connected!"}),
    [](const auto& info) { return "Index" + std::to_string(info.index); });

TEST_F(CardAccessTest, EmptyReaderNameStillTriesToConnect) {
  OnReaderModeClicked(access, panel, kPcscRadio);  // no reload: no context, no name
  pcsc.connect_results = {SCARD_E_INVALID_HANDLE};
  EXPECT_EQ(ResetCardShowingFault(access, panel), Code(SCARD_E_INVALID_HANDLE));
  EXPECT_THAT(pcsc.calls, ElementsAre("Connect(0x0,,2,3)"));
  EXPECT_EQ(panel.StatusText(), "Error: The smart Chip can't to be connected!");
}

TEST_F(CardAccessTest, FirstResetAsksWithZeroLengthSecondReadsAtr) {
  UsePcscWithReaders({"Alpha"});
  pcsc.atr = {0x3B, 0x9F, 0x95, 0x81, 0x31, 0xFE, 0x9F, 0x00, 0x66, 0x46,
              0x53, 0x05, 0x10, 0x00, 0x11, 0x71, 0xDF, 0x03, 0x00};
  pcsc.protocol = SCARD_PROTOCOL_T0;

  EXPECT_EQ(ResetCardShowingFault(access, panel), Code(SCARD_E_INSUFFICIENT_BUFFER));
  EXPECT_EQ(access.Connection().atr_length, 19u) << "the count needed replaces the length";
  EXPECT_EQ(ResetCardShowingFault(access, panel), 0);

  EXPECT_THAT(pcsc.calls, ElementsAre("Connect(0x1000,Alpha,2,3)", "Status(0x2000,0)",
                                      "BeginTransaction(0x2000)", "EndTransaction(0x2000,0)",
                                      "Disconnect(0x2000,2)", "Connect(0x1000,Alpha,2,3)",
                                      "Status(0x2001,19)", "BeginTransaction(0x2001)"));
  EXPECT_THAT(panel.Log(), IsEmpty()) << "a status failure shows nothing";
  const CardConnection& c = access.Connection();
  EXPECT_EQ(c.card_handle, 0x2001);
  EXPECT_EQ(c.handle_kind, HandleKind::Pcsc);
  EXPECT_EQ(c.active_protocol, static_cast<uint32_t>(SCARD_PROTOCOL_T0));
  EXPECT_EQ(c.send_header.dwProtocol, static_cast<DWORD>(SCARD_PROTOCOL_T0));
  EXPECT_EQ(c.send_header.cbPciLength, sizeof(SCARD_IO_REQUEST));
  EXPECT_EQ(c.atr_length, 19u);
  EXPECT_EQ(c.atr[17], 0x03);
  EXPECT_EQ(c.atr[19], 0x00);
}

TEST_F(CardAccessTest, AtrLongerThanBufferIsNeverAskedFor) {
  UsePcscWithReaders({"Alpha"});
  access.Connection().atr_length = 5000;  // whatever the cell holds, the capacity is 100
  pcsc.atr.assign(150, 0x3B);
  EXPECT_EQ(ResetCardShowingFault(access, panel), Code(SCARD_E_INSUFFICIENT_BUFFER));
  EXPECT_THAT(Filtered(pcsc.calls, "Status"), ElementsAre("Status(0x2000,100)"));
  EXPECT_LE(access.Connection().atr_length, kAtrBufferSize);
}

// --- Orvo reader reset ---------------------------------------------------------------

struct OrvoResetCase {
  const char* name;
  std::vector<int32_t> open_results;
  std::vector<int32_t> reset_results;
  int32_t expected;
  std::string status_text;
  std::vector<std::string> calls;
};

class OrvoResetTest : public CardAccessTest, public ::testing::WithParamInterface<OrvoResetCase> {};

TEST_P(OrvoResetTest, OpensResetsAndWordsFailuresWithoutSignals) {
  const OrvoResetCase& c = GetParam();
  orvo.open_results.assign(c.open_results.begin(), c.open_results.end());
  orvo.reset_results.assign(c.reset_results.begin(), c.reset_results.end());
  orvo.atr = {0x3B, 0x02, 0x14, 0x50};
  EXPECT_EQ(ResetCardShowingFault(access, panel), c.expected);
  EXPECT_EQ(panel.StatusText(), c.status_text);
  EXPECT_THAT(panel.Log(), IsEmpty());
  EXPECT_EQ(orvo.calls, c.calls);
  EXPECT_THAT(pcsc.calls, IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Cases, OrvoResetTest,
                         ::testing::Values(
                             OrvoResetCase{
                                 "Unplugged", {-2}, {}, -2, "Error: Reader open error!", {"Open"}},
                             OrvoResetCase{"NoCard",
                                           {7},
                                           {-13},
                                           kOrvoResetFailed,
                                           "Error: Card connect error!",
                                           {"Open", "Reset(7,0)"}},
                             OrvoResetCase{"BadAtr",
                                           {7},
                                           {-5},
                                           kOrvoResetFailed,
                                           "Error: Card connect error!",
                                           {"Open", "Reset(7,0)"}},
                             OrvoResetCase{"Ready", {7}, {0}, 0, "", {"Open", "Reset(7,0)"}}),
                         [](const auto& info) { return info.param.name; });

TEST_F(CardAccessTest, OrvoResetStoresAtrAndReopensEachTime) {
  orvo.atr = {0x3B, 0x68, 0x00, 0x00};
  ASSERT_EQ(ResetCardShowingFault(access, panel), 0);
  EXPECT_EQ(access.Connection().atr_length, 4u);
  EXPECT_EQ(access.Connection().atr[1], 0x68);
  EXPECT_EQ(access.Connection().card_handle, 1);
  ASSERT_EQ(ResetCardShowingFault(access, panel), 0);
  EXPECT_THAT(orvo.calls, ElementsAre("Open", "Reset(1,0)", "Close(1)", "Open", "Reset(2,0)"));
}

TEST_F(CardAccessTest, UnpluggedReaderIsNotClosedByTheNextReset) {
  orvo.open_results = {-2, -2};
  EXPECT_EQ(ResetCardShowingFault(access, panel), -2);
  EXPECT_EQ(access.Connection().card_handle, -2);
  EXPECT_EQ(ResetCardShowingFault(access, panel), -2);
  EXPECT_THAT(orvo.calls, ElementsAre("Open", "Open"));
}

// --- mode switch between two resets --------------------------------------------------

TEST_F(CardAccessTest, PcscHandleIsReleasedByPcscOnceAfterSwitchToOrvo) {
  UsePcscWithReaders({"Alpha"});
  pcsc.atr = {0x3B, 0x00};
  access.Connection().atr_length = 2;
  ASSERT_EQ(ResetCardShowingFault(access, panel), 0);
  OnReaderModeClicked(access, panel, kOrvoRadio);
  pcsc.calls.clear();

  ASSERT_EQ(ResetCardShowingFault(access, panel), 0);
  ASSERT_EQ(ResetCardShowingFault(access, panel), 0);

  EXPECT_THAT(pcsc.calls, ElementsAre("EndTransaction(0x2000,0)", "Disconnect(0x2000,2)"));
  EXPECT_THAT(orvo.calls, ElementsAre("Open", "Reset(1,0)", "Close(1)", "Open", "Reset(2,0)"));
}

TEST_F(CardAccessTest, OrvoHandleIsClosedByTheReaderOnceAfterSwitchToPcsc) {
  pcsc.readers = {"Alpha"};
  ReloadReaderList(access, panel);
  ASSERT_EQ(ResetCardShowingFault(access, panel), 0);  // Orvo reader, handle 1
  OnReaderModeClicked(access, panel, kPcscRadio);
  pcsc.calls.clear();
  pcsc.atr = {0x3B, 0x00};
  access.Connection().atr_length = 2;

  ASSERT_EQ(ResetCardShowingFault(access, panel), 0);
  ASSERT_EQ(ResetCardShowingFault(access, panel), 0);

  EXPECT_THAT(orvo.calls, ElementsAre("Open", "Reset(1,0)", "Close(1)"));
  EXPECT_THAT(Filtered(pcsc.calls, "Disconnect"), ElementsAre("Disconnect(0x2000,2)"))
      << "the Orvo handle must never reach SCardDisconnect";
}

// --- contexts --------------------------------------------------------------------------

TEST_F(CardAccessTest, ReplacedContextWithoutCardIsReleasedAtOnce) {
  pcsc.readers = {"Alpha"};
  ReloadReaderList(access, panel);
  ReloadReaderList(access, panel);
  EXPECT_THAT(Filtered(pcsc.calls, "ReleaseContext"), ElementsAre("ReleaseContext(0x1000)"));
  EXPECT_EQ(access.Connection().context, 0x1001u);
}

TEST_F(CardAccessTest, ContextOfHeldCardIsReleasedAfterItsDisconnect) {
  UsePcscWithReaders({"Alpha"});
  pcsc.atr = {0x3B, 0x00};
  access.Connection().atr_length = 2;
  ASSERT_EQ(ResetCardShowingFault(access, panel), 0);  // card made under 0x1000
  ReloadReaderList(access, panel);                     // 0x1001: 0x1000 must live on
  ReloadReaderList(access, panel);                     // 0x1002: 0x1001 holds nothing
  EXPECT_THAT(Filtered(pcsc.calls, "ReleaseContext"), ElementsAre("ReleaseContext(0x1001)"));

  pcsc.calls.clear();
  ASSERT_EQ(ResetCardShowingFault(access, panel), 0);
  EXPECT_THAT(pcsc.calls, ElementsAre("EndTransaction(0x2000,0)", "Disconnect(0x2000,2)",
                                      "ReleaseContext(0x1000)", "Connect(0x1002,Alpha,2,3)",
                                      "Status(0x2001,2)", "BeginTransaction(0x2001)"));
  pcsc.calls.clear();
  ASSERT_EQ(ResetCardShowingFault(access, panel), 0);
  EXPECT_THAT(Filtered(pcsc.calls, "ReleaseContext"), IsEmpty());
}

TEST_F(CardAccessTest, FailedReloadLeavesNoContext) {
  pcsc.readers = {"Alpha"};
  ReloadReaderList(access, panel);
  pcsc.establish_results = {SCARD_E_NO_SERVICE};
  ReloadReaderList(access, panel);
  EXPECT_EQ(access.Connection().context, 0u);
  EXPECT_THAT(Filtered(pcsc.calls, "ReleaseContext"), ElementsAre("ReleaseContext(0x1000)"));
}

// --- exchanges -------------------------------------------------------------------------

struct PcscTransmitCase {
  const char* name;
  FakePcsc::Reply reply;
  uint32_t capacity;
  int32_t expected;
  uint32_t expected_length;
  const char* transmit_call;
};

class PcscTransmitTest : public CardAccessTest,
                         public ::testing::WithParamInterface<PcscTransmitCase> {};

TEST_P(PcscTransmitTest, PassesResultAndNeverReportsMoreThanTheBuffer) {
  const PcscTransmitCase& c = GetParam();
  UsePcscWithReaders({"Alpha"});
  pcsc.atr = {0x3B, 0x00};
  access.Connection().atr_length = 2;
  ASSERT_EQ(ResetCardShowingFault(access, panel), 0);
  pcsc.calls.clear();
  pcsc.replies = {c.reply};
  ApduExchange& ex = access.Exchange();
  const uint8_t command[] = {0x00, 0xC0, 0x00, 0x00, 0x2C};
  std::copy(std::begin(command), std::end(command), ex.command);
  ex.command_length = 5;
  ex.response_length = c.capacity;

  EXPECT_EQ(access.TransmitApdu(), c.expected);
  EXPECT_EQ(ex.response_length, c.expected_length);
  EXPECT_THAT(pcsc.calls, ElementsAre(c.transmit_call));
  EXPECT_THAT(pcsc.commands, ElementsAre(ElementsAreArray(command)));
}

INSTANTIATE_TEST_SUITE_P(
    Replies, PcscTransmitTest,
    ::testing::Values(
        PcscTransmitCase{
            "StatusWordOnly", {0, {0x90, 0x00}}, 300, 0, 2, "Transmit(0x2000,T1,5,300)"},
        PcscTransmitCase{
            "DataAndStatus", {0, {1, 2, 3, 0x61, 0x10}}, 300, 0, 5, "Transmit(0x2000,T1,5,300)"},
        PcscTransmitCase{
            "CapacityPassedAsGranted", {0, {0x90, 0x00}}, 50, 0, 2, "Transmit(0x2000,T1,5,50)"},
        PcscTransmitCase{
            "CapacityCappedAtBuffer", {0, {0x90, 0x00}}, 4000, 0, 2, "Transmit(0x2000,T1,5,300)"},
        PcscTransmitCase{"ServiceError",
                         {SCARD_E_NOT_TRANSACTED, {}, 0},
                         300,
                         Code(SCARD_E_NOT_TRANSACTED),
                         0,
                         "Transmit(0x2000,T1,5,300)"},
        PcscTransmitCase{"CardRemoved",
                         {SCARD_W_REMOVED_CARD, {}, 0},
                         300,
                         Code(SCARD_W_REMOVED_CARD),
                         0,
                         "Transmit(0x2000,T1,5,300)"},
        PcscTransmitCase{"ClaimsMoreThanBuffer",
                         {0, std::vector<uint8_t>(300, 0x90), 301},
                         300,
                         Code(SCARD_E_INSUFFICIENT_BUFFER),
                         300,
                         "Transmit(0x2000,T1,5,300)"},
        PcscTransmitCase{
            "OneByte", {0, {0x90}}, 300, Code(SCARD_F_COMM_ERROR), 1, "Transmit(0x2000,T1,5,300)"},
        PcscTransmitCase{
            "Empty", {0, {}}, 300, Code(SCARD_F_COMM_ERROR), 0, "Transmit(0x2000,T1,5,300)"}),
    [](const auto& info) { return info.param.name; });

TEST_F(CardAccessTest, PcscTransmitRefusesBadCommandLengthsAndForeignHandles) {
  UsePcscWithReaders({"Alpha"});
  ApduExchange& ex = access.Exchange();
  ex.command_length = 5;
  ex.response_length = 300;
  EXPECT_EQ(access.TransmitApdu(), Code(SCARD_E_INVALID_HANDLE)) << "nothing connected";

  pcsc.atr = {0x3B, 0x00};
  access.Connection().atr_length = 2;
  ASSERT_EQ(ResetCardShowingFault(access, panel), 0);
  for (int32_t length : {-1, 301, 100000}) {
    ex.command_length = length;
    ex.response_length = 300;
    EXPECT_EQ(access.TransmitApdu(), Code(SCARD_E_INVALID_PARAMETER)) << length;
  }
  // An Orvo handle left after a switch never reaches SCardTransmit.
  OnReaderModeClicked(access, panel, kOrvoRadio);
  ASSERT_EQ(ResetCardShowingFault(access, panel), 0);
  OnReaderModeClicked(access, panel, kPcscRadio);
  ex.command_length = 5;
  EXPECT_EQ(access.TransmitApdu(), Code(SCARD_E_INVALID_HANDLE));
  EXPECT_THAT(Filtered(pcsc.calls, "Transmit"), IsEmpty());
}

struct OrvoTransmitCase {
  const char* name;
  FakeOrvo::Reply reply;
  int32_t expected;
  uint32_t expected_length;
};

class OrvoTransmitTest : public CardAccessTest,
                         public ::testing::WithParamInterface<OrvoTransmitCase> {};

TEST_P(OrvoTransmitTest, LeavesTwoHundredAfterAnyFailure) {
  const OrvoTransmitCase& c = GetParam();
  ASSERT_EQ(ResetCardShowingFault(access, panel), 0);
  orvo.calls.clear();
  orvo.replies = {c.reply};
  ApduExchange& ex = access.Exchange();
  ex.command_length = 13;
  ex.response_length = 300;

  EXPECT_EQ(access.TransmitApdu(), c.expected);
  EXPECT_EQ(ex.response_length, c.expected_length);
  EXPECT_THAT(orvo.calls, ElementsAre("Apdu(1,0,13,200,300)"));
}

INSTANTIATE_TEST_SUITE_P(
    Replies, OrvoTransmitTest,
    ::testing::Values(OrvoTransmitCase{"StatusWordOnly", {0, {0x90, 0x00}}, 0, 2},
                      OrvoTransmitCase{"FullBuffer", {0, std::vector<uint8_t>(300, 0x61)}, 0, 300},
                      OrvoTransmitCase{"ReaderStatus", {-14, {}}, -14, 200},
                      OrvoTransmitCase{"OsError", {5, {}}, 5, 200},
                      OrvoTransmitCase{
                          "LargerThanBuffer", {0, std::vector<uint8_t>(301, 0x90)}, -31, 200},
                      OrvoTransmitCase{"ClaimsMoreThanBuffer", {0, {0x90, 0x00}, 594}, -31, 200},
                      OrvoTransmitCase{"ClaimsNegative", {0, {0x90, 0x00}, -5}, -31, 200},
                      OrvoTransmitCase{"OneByte", {0, {0x90}}, -32, 200},
                      OrvoTransmitCase{"Empty", {0, {}}, -32, 200}),
    [](const auto& info) { return info.param.name; });

TEST_F(CardAccessTest, OrvoTransmitRefusesBadCommandLengthsAndForeignHandles) {
  ApduExchange& ex = access.Exchange();
  ASSERT_EQ(ResetCardShowingFault(access, panel), 0);
  orvo.calls.clear();
  for (int32_t length : {-1, 301}) {
    ex.command_length = length;
    ex.response_length = 0;
    EXPECT_EQ(access.TransmitApdu(), -31) << length;
    EXPECT_EQ(ex.response_length, 200u);
  }
  EXPECT_THAT(orvo.calls, IsEmpty());

  UsePcscWithReaders({"Alpha"});
  pcsc.atr = {0x3B, 0x00};
  access.Connection().atr_length = 2;
  ASSERT_EQ(ResetCardShowingFault(access, panel), 0);
  OnReaderModeClicked(access, panel, kOrvoRadio);
  ex.command_length = 5;
  EXPECT_EQ(access.TransmitApdu(), -2);
  EXPECT_THAT(Filtered(orvo.calls, "Apdu"), IsEmpty());
}

TEST_F(CardAccessTest, OrvoTransmitAfterFailedOpenGoesToTheReaderWithItsHandle) {
  orvo.open_results = {-2};
  EXPECT_EQ(ResetCardShowingFault(access, panel), -2);
  orvo.replies = {{-4, {}}};
  access.Exchange().command_length = 5;
  EXPECT_EQ(access.TransmitApdu(), -4);
  EXPECT_THAT(orvo.calls, ElementsAre("Open", "Apdu(-2,0,5,200,300)"));
  EXPECT_EQ(access.Exchange().response_length, 200u);
}

}  // namespace
}  // namespace pelliton
