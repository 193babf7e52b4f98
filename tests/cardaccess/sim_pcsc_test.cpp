#include "tests/support/sim_pcsc.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "cardaccess/card_access.h"
#include "cardaccess/reader_controls.h"
#include "tests/support/fake_orvo.h"
#include "tests/support/recording_panel.h"

namespace pelliton {
namespace {

using ::testing::ElementsAre;
using testing::FakeOrvo;
using testing::SimPcsc;

constexpr int32_t Code(LONG pcsc_code) {
  return static_cast<int32_t>(pcsc_code);
}

constexpr uint8_t kStubAtr[] = {0x3B, 0x9F, 0x95, 0x81, 0x31, 0xFE, 0x9F, 0x00, 0x66, 0x46,
                                0x53, 0x05, 0x10, 0x00, 0x11, 0x71, 0xDF, 0x04, 0x00};

// A card that answers every command with a fixed reply and can be pulled out.
class StubCard : public sim::CardModel {
 public:
  bool Present() const override { return present; }
  std::vector<uint8_t> PowerOn() override {
    ++power_ons;
    powered = present;
    return present ? atr : std::vector<uint8_t>{};
  }
  void PowerOff() override { powered = false; }
  std::vector<uint8_t> Transmit(const uint8_t* apdu, size_t length) override {
    received.emplace_back(apdu, apdu + length);
    if (!present || !powered) {
      return {};
    }
    if (pull_on_command) {
      present = false;
      return {};
    }
    return reply;
  }

  bool present = true;
  bool powered = false;
  bool pull_on_command = false;
  int power_ons = 0;
  // From an array: MinGW's g++ 12 misreads the inline list as uninitialised.
  std::vector<uint8_t> atr{std::begin(kStubAtr), std::end(kStubAtr)};
  std::vector<uint8_t> reply = {0x90, 0x00};
  std::vector<std::vector<uint8_t>> received;
};

class SimPcscTest : public ::testing::Test {
 protected:
  SCARDCONTEXT Context() {
    SCARDCONTEXT context = 0;
    EXPECT_EQ(sim.EstablishContext(SCARD_SCOPE_USER, &context), SCARD_S_SUCCESS);
    return context;
  }
  LONG Connect(SCARDCONTEXT context, const std::string& reader, SCARDHANDLE* card,
               DWORD share = SCARD_SHARE_SHARED) {
    DWORD protocol = 0;
    return sim.Connect(context, reader, share, SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, card,
                       &protocol);
  }
  LONG Send(SCARDHANDLE card, DWORD protocol = SCARD_PROTOCOL_T1) {
    const SCARD_IO_REQUEST header{protocol, sizeof(SCARD_IO_REQUEST)};
    const uint8_t command[] = {0x00, 0xA4, 0x00, 0x00};
    uint8_t response[300];
    DWORD length = sizeof response;
    return sim.Transmit(card, &header, command, sizeof command, response, &length);
  }

  StubCard card;
  SimPcsc sim;
};

struct ConnectCase {
  const char* name;
  bool attach;
  bool with_card;
  bool present;
  bool mute;
  bool running;
  LONG expected;
};

class SimConnectTest : public SimPcscTest, public ::testing::WithParamInterface<ConnectCase> {};

TEST_P(SimConnectTest, AnswersLikeTheService) {
  const ConnectCase& c = GetParam();
  card.present = c.present;
  if (c.mute) {
    card.atr.clear();
  }
  if (c.attach) {
    sim.AttachReader("Reader 0", c.with_card ? &card : nullptr);
  }
  SCARDCONTEXT context = 0;
  sim.SetServiceRunning(c.running);
  const LONG established = sim.EstablishContext(SCARD_SCOPE_USER, &context);
  if (!c.running) {
    EXPECT_EQ(established, SCARD_E_NO_SERVICE);
    return;
  }
  SCARDHANDLE handle = 0;
  EXPECT_EQ(Connect(context, "Reader 0", &handle), c.expected);
  EXPECT_EQ(sim.Connections("Reader 0"), c.expected == SCARD_S_SUCCESS ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimConnectTest,
    ::testing::Values(
        ConnectCase{"Ready", true, true, true, false, true, SCARD_S_SUCCESS},
        ConnectCase{"UnknownReader", false, true, true, false, true, SCARD_E_UNKNOWN_READER},
        ConnectCase{"EmptyReader", true, false, true, false, true, SCARD_E_NO_SMARTCARD},
        ConnectCase{"CardOut", true, true, false, false, true, SCARD_E_NO_SMARTCARD},
        ConnectCase{"MuteCard", true, true, true, true, true, SCARD_W_UNRESPONSIVE_CARD},
        ConnectCase{"NoService", true, true, true, false, false, SCARD_S_SUCCESS}),
    [](const auto& info) { return info.param.name; });

TEST_F(SimPcscTest, ListsReadersInAttachOrderOrSaysNone) {
  const SCARDCONTEXT context = Context();
  std::vector<std::string> names;
  EXPECT_EQ(sim.ListReaders(context, &names), SCARD_E_NO_READERS_AVAILABLE);
  sim.AttachReader("B", nullptr);
  sim.AttachReader("A", &card);
  EXPECT_EQ(sim.ListReaders(context, &names), SCARD_S_SUCCESS);
  EXPECT_THAT(names, ElementsAre("B", "A"));
  EXPECT_EQ(sim.ListReaders(context + 99, &names), SCARD_E_INVALID_HANDLE);
}

TEST_F(SimPcscTest, StatusWantsRoomForTheWholeAtr) {
  sim.AttachReader("R", &card);
  SCARDHANDLE handle = 0;
  ASSERT_EQ(Connect(Context(), "R", &handle), SCARD_S_SUCCESS);
  uint8_t atr[100] = {};
  DWORD length = 0;
  EXPECT_EQ(sim.Status(handle, atr, &length), SCARD_E_INSUFFICIENT_BUFFER);
  EXPECT_EQ(length, 19u);
  EXPECT_EQ(atr[0], 0) << "nothing copied";
  EXPECT_EQ(sim.Status(handle, atr, &length), SCARD_S_SUCCESS);
  EXPECT_EQ(atr[17], 0x04);
}

TEST_F(SimPcscTest, ExclusiveAndSharedConnectionsExcludeEachOther) {
  sim.AttachReader("R", &card);
  const SCARDCONTEXT context = Context();
  SCARDHANDLE a = 0;
  SCARDHANDLE b = 0;
  ASSERT_EQ(Connect(context, "R", &a, SCARD_SHARE_EXCLUSIVE), SCARD_S_SUCCESS);
  EXPECT_EQ(Connect(context, "R", &b), SCARD_E_SHARING_VIOLATION);
  ASSERT_EQ(sim.Disconnect(a, SCARD_LEAVE_CARD), SCARD_S_SUCCESS);
  ASSERT_EQ(Connect(context, "R", &a), SCARD_S_SUCCESS);
  EXPECT_EQ(Connect(context, "R", &b, SCARD_SHARE_EXCLUSIVE), SCARD_E_SHARING_VIOLATION);
  EXPECT_EQ(Connect(context, "R", &b), SCARD_S_SUCCESS);
}

TEST_F(SimPcscTest, TransactionKeepsOtherHandlesOut) {
  sim.AttachReader("R", &card);
  const SCARDCONTEXT context = Context();
  SCARDHANDLE a = 0;
  SCARDHANDLE b = 0;
  ASSERT_EQ(Connect(context, "R", &a), SCARD_S_SUCCESS);
  ASSERT_EQ(Connect(context, "R", &b), SCARD_S_SUCCESS);
  ASSERT_EQ(sim.BeginTransaction(a), SCARD_S_SUCCESS);
  EXPECT_TRUE(sim.TransactionHeld("R"));
  EXPECT_EQ(Send(b), SCARD_E_SHARING_VIOLATION);
  EXPECT_EQ(sim.BeginTransaction(b), SCARD_E_SHARING_VIOLATION);
  EXPECT_EQ(sim.EndTransaction(b, SCARD_LEAVE_CARD), SCARD_E_NOT_TRANSACTED);
  EXPECT_EQ(Send(a), SCARD_S_SUCCESS);
  ASSERT_EQ(sim.EndTransaction(a, SCARD_LEAVE_CARD), SCARD_S_SUCCESS);
  EXPECT_EQ(Send(b), SCARD_S_SUCCESS);
}

TEST_F(SimPcscTest, RemovedCardStaysRemovedForOldHandles) {
  sim.AttachReader("R", &card);
  const SCARDCONTEXT context = Context();
  SCARDHANDLE old_handle = 0;
  ASSERT_EQ(Connect(context, "R", &old_handle), SCARD_S_SUCCESS);
  card.present = false;
  EXPECT_EQ(Send(old_handle), SCARD_W_REMOVED_CARD);
  card.present = true;
  EXPECT_EQ(Send(old_handle), SCARD_W_REMOVED_CARD);
  uint8_t atr[100];
  DWORD length = sizeof atr;
  EXPECT_EQ(sim.Status(old_handle, atr, &length), SCARD_W_REMOVED_CARD);
  SCARDHANDLE fresh = 0;
  ASSERT_EQ(Connect(context, "R", &fresh), SCARD_S_SUCCESS);
  EXPECT_EQ(Send(fresh), SCARD_S_SUCCESS);
  EXPECT_EQ(card.power_ons, 2) << "the card back in the reader is powered up afresh";
}

TEST_F(SimPcscTest, CardPulledDuringCommandIsReportedRemoved) {
  sim.AttachReader("R", &card);
  SCARDHANDLE handle = 0;
  ASSERT_EQ(Connect(Context(), "R", &handle), SCARD_S_SUCCESS);
  card.pull_on_command = true;
  EXPECT_EQ(Send(handle), SCARD_W_REMOVED_CARD);
}

TEST_F(SimPcscTest, TransmitChecksProtocolAndCapacity) {
  sim.AttachReader("R", &card, SCARD_PROTOCOL_T0);
  SCARDHANDLE handle = 0;
  ASSERT_EQ(Connect(Context(), "R", &handle), SCARD_S_SUCCESS);
  EXPECT_EQ(Send(handle, SCARD_PROTOCOL_T1), SCARD_E_PROTO_MISMATCH);
  EXPECT_EQ(Send(handle, SCARD_PROTOCOL_T0), SCARD_S_SUCCESS);

  card.reply.assign(258, 0x61);
  const SCARD_IO_REQUEST header{SCARD_PROTOCOL_T0, sizeof(SCARD_IO_REQUEST)};
  const uint8_t command[] = {0x00, 0xB0, 0x00, 0x00, 0x00};
  uint8_t response[300] = {};
  DWORD length = 100;
  EXPECT_EQ(sim.Transmit(handle, &header, command, sizeof command, response, &length),
            SCARD_E_INSUFFICIENT_BUFFER);
  EXPECT_EQ(length, 258u);
  EXPECT_EQ(response[0], 0) << "nothing copied";

  card.reply.clear();  // mute but present
  length = sizeof response;
  EXPECT_EQ(sim.Transmit(handle, &header, command, sizeof command, response, &length),
            SCARD_E_NOT_TRANSACTED);
}

TEST_F(SimPcscTest, PowerDownThroughOneHandleIsToldToTheOthersOnce) {
  sim.AttachReader("R", &card);
  const SCARDCONTEXT context = Context();
  SCARDHANDLE a = 0;
  SCARDHANDLE b = 0;
  ASSERT_EQ(Connect(context, "R", &a), SCARD_S_SUCCESS);
  ASSERT_EQ(Connect(context, "R", &b), SCARD_S_SUCCESS);
  ASSERT_EQ(sim.Disconnect(a, SCARD_RESET_CARD), SCARD_S_SUCCESS);
  EXPECT_EQ(Send(b), SCARD_W_RESET_CARD);
  EXPECT_EQ(Send(b), SCARD_S_SUCCESS);
  EXPECT_EQ(sim.Disconnect(a, SCARD_LEAVE_CARD), SCARD_E_INVALID_HANDLE) << "never twice";
}

TEST_F(SimPcscTest, ReleasingAContextEndsItsConnections) {
  sim.AttachReader("R", &card);
  const SCARDCONTEXT first = Context();
  const SCARDCONTEXT second = Context();
  SCARDHANDLE a = 0;
  SCARDHANDLE b = 0;
  ASSERT_EQ(Connect(first, "R", &a), SCARD_S_SUCCESS);
  ASSERT_EQ(Connect(second, "R", &b), SCARD_S_SUCCESS);
  ASSERT_EQ(sim.BeginTransaction(a), SCARD_S_SUCCESS);
  ASSERT_EQ(sim.ReleaseContext(first), SCARD_S_SUCCESS);
  EXPECT_EQ(Send(a), SCARD_E_INVALID_HANDLE);
  EXPECT_FALSE(sim.TransactionHeld("R"));
  EXPECT_EQ(Send(b), SCARD_S_SUCCESS);
  EXPECT_EQ(sim.ReleaseContext(first), SCARD_E_INVALID_HANDLE);
}

// --- card access over the simulated service ------------------------------------------

class AccessOverSimTest : public ::testing::Test {
 protected:
  AccessOverSimTest() {
    sim.AttachReader("Reader A", &first);
    sim.AttachReader("Reader B", nullptr);
    sim.AttachReader("Reader C", &third);
    OnReaderModeClicked(access, panel, kPcscRadio);
  }

  StubCard first;
  StubCard third;
  SimPcsc sim;
  FakeOrvo orvo;
  RecordingPanel panel;
  CardAccess access{sim, orvo};
};

TEST_F(AccessOverSimTest, ResetPairConnectsPowersAndHoldsTheTransaction) {
  OnPcscReload(access, panel);
  EXPECT_EQ(access.Connection().reader_name, "Reader A");
  EXPECT_EQ(ResetCardShowingFault(access, panel), Code(SCARD_E_INSUFFICIENT_BUFFER));
  EXPECT_EQ(ResetCardShowingFault(access, panel), 0);
  EXPECT_EQ(access.Connection().atr_length, 19u);
  EXPECT_EQ(access.Connection().atr[17], 0x04);
  EXPECT_EQ(first.power_ons, 2) << "each reset starts from a fresh power-up";
  EXPECT_TRUE(sim.TransactionHeld("Reader A"));
  EXPECT_EQ(sim.Connections("Reader A"), 1);

  ApduExchange& ex = access.Exchange();
  ex.command[0] = 0x80;
  ex.command_length = 5;
  ex.response_length = 300;
  EXPECT_EQ(access.TransmitApdu(), 0);
  EXPECT_EQ(ex.response_length, 2u);
  EXPECT_EQ(ex.response[0], 0x90);
}

TEST_F(AccessOverSimTest, ReaderWithoutCardAndRemovedCardAreWorded) {
  OnPcscReload(access, panel);
  panel.Controls().reader_selection = 1;
  OnReaderSelChange(access, panel);
  EXPECT_EQ(ResetCardShowingFault(access, panel), Code(SCARD_E_NO_SMARTCARD));
  EXPECT_EQ(panel.StatusText(), "Error: The smart Chip can't to be connected!");

  panel.Controls().reader_selection = 2;
  OnReaderSelChange(access, panel);
  ResetCardShowingFault(access, panel);
  ASSERT_EQ(ResetCardShowingFault(access, panel), 0);
  third.present = false;
  access.Exchange().command_length = 5;
  access.Exchange().response_length = 300;
  EXPECT_EQ(access.TransmitApdu(), Code(SCARD_W_REMOVED_CARD));
}

TEST_F(AccessOverSimTest, ExclusiveHolderElsewhereGivesSharingMessage) {
  OnPcscReload(access, panel);
  SCARDCONTEXT other = 0;
  ASSERT_EQ(sim.EstablishContext(SCARD_SCOPE_USER, &other), SCARD_S_SUCCESS);
  SCARDHANDLE held = 0;
  DWORD protocol = 0;
  ASSERT_EQ(
      sim.Connect(other, "Reader A", SCARD_SHARE_EXCLUSIVE, SCARD_PROTOCOL_T1, &held, &protocol),
      SCARD_S_SUCCESS);
  EXPECT_EQ(ResetCardShowingFault(access, panel), Code(SCARD_E_SHARING_VIOLATION));
  EXPECT_EQ(panel.StatusText(), "Error: Other connections outstanding!");
}

TEST_F(AccessOverSimTest, ReloadKeepsTheHeldCardUntilTheNextReset) {
  OnPcscReload(access, panel);
  ResetCardShowingFault(access, panel);
  ASSERT_EQ(ResetCardShowingFault(access, panel), 0);
  OnPcscReload(access, panel);
  EXPECT_EQ(sim.OpenContexts(), 2);
  EXPECT_EQ(sim.Connections("Reader A"), 1) << "the held card survives the reload";
  access.Exchange().command_length = 5;
  access.Exchange().response_length = 300;
  EXPECT_EQ(access.TransmitApdu(), 0);

  ASSERT_EQ(ResetCardShowingFault(access, panel), 0);
  EXPECT_EQ(sim.OpenContexts(), 1);
  EXPECT_EQ(sim.Connections("Reader A"), 1);
  for (int i = 0; i < 5; ++i) {
    OnPcscReload(access, panel);
  }
  EXPECT_EQ(sim.OpenContexts(), 2) << "reloads without a new card must not pile up contexts";
}

TEST_F(AccessOverSimTest, NoServiceLeavesAnEmptyList) {
  sim.SetServiceRunning(false);
  OnPcscReload(access, panel);
  EXPECT_TRUE(panel.Controls().reader_entries.empty());
  EXPECT_EQ(panel.Log().back(), "statusbox No PC/SC card reader exists!");
  EXPECT_EQ(ResetCardShowingFault(access, panel), Code(SCARD_E_INVALID_HANDLE));
  EXPECT_EQ(panel.StatusText(), "Error: The smart Chip can't to be connected!");
}

}  // namespace
}  // namespace pelliton
