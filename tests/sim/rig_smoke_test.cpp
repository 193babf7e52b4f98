// Runs inside tests/rig/pcsc-rig: raw pcsc-lite against tessiv-sim behind pcscd + vpcd.
#include <gtest/gtest.h>
#include <winscard.h>

#include <cstdio>
#include <string>
#include <vector>

#include "sim/card/card_state.h"
#include "sim/card/tessiv_card.h"
#include "tests/rig/sim_process.h"

namespace pelliton::rig {
namespace {

std::vector<uint8_t> H(const std::string& text) {
  return sim::FromHex(text).value_or(std::vector<uint8_t>{});
}

// Printed at once: these lines are the record of what pcscd answers.
void Note(const std::string& line) {
  std::fprintf(stderr, "%s\n", line.c_str());
}

std::string Code(LONG rv) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(rv));
  return text;
}

class Rig : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(VpcdPort(), 0) << "run me through tests/rig/pcsc-rig";
    ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context_),
              SCARD_S_SUCCESS);
  }
  void TearDown() override {
    if (card_ != 0) {
      SCardDisconnect(card_, SCARD_UNPOWER_CARD);
    }
    SCardReleaseContext(context_);
  }

  LONG Connect(int reader, DWORD share = SCARD_SHARE_SHARED) {
    return SCardConnect(context_, RigReaderName(reader).c_str(), share,
                        SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &card_, &protocol_);
  }

  // Sends `apdu` with a 300-byte response buffer, as the tool does.
  LONG Transmit(const std::vector<uint8_t>& apdu, std::vector<uint8_t>& reply) {
    SCARD_IO_REQUEST header = {protocol_, sizeof(SCARD_IO_REQUEST)};
    uint8_t buffer[300];
    DWORD length = sizeof buffer;
    const LONG rv = SCardTransmit(card_, &header, apdu.data(), static_cast<DWORD>(apdu.size()),
                                  nullptr, buffer, &length);
    reply.assign(buffer, buffer + (rv == SCARD_S_SUCCESS ? length : 0));
    return rv;
  }

  SCARDCONTEXT context_ = 0;
  SCARDHANDLE card_ = 0;
  DWORD protocol_ = 0;
};

TEST_F(Rig, ListsBothVpcdReadersInOrder) {
  const auto names = ListReaders();
  ASSERT_EQ(names.size(), 2u);
  for (const auto& name : names) {
    Note("reader: \"" + name + "\"");
  }
  EXPECT_EQ(names[0], "Virtual PCD 00 00");
  EXPECT_EQ(names[1], "Virtual PCD 00 01");
  EXPECT_EQ(RigReaderName(0), names[0]);
  EXPECT_EQ(RigReaderName(1), names[1]);
}

TEST_F(Rig, StatusGivesTheAtrAndTheNeededLength) {
  SimProcess sim;
  ASSERT_TRUE(sim.StartAndWait(0, {"--version-byte", "03"}));
  ASSERT_EQ(Connect(0), SCARD_S_SUCCESS);
  const auto atr = sim::TessivConfig::DefaultAtr(0x03);
  // The tool's first reset hands an ATR length of 0 to the status call.
  uint8_t buffer[100] = {};
  DWORD length = 0;
  DWORD state = 0, protocol = 0, name_length = 200;
  EXPECT_EQ(Code(SCardStatus(card_, nullptr, &name_length, &state, &protocol, buffer, &length)),
            Code(SCARD_E_INSUFFICIENT_BUFFER));
  EXPECT_EQ(length, atr.size());
  name_length = 200;
  EXPECT_EQ(SCardStatus(card_, nullptr, &name_length, &state, &protocol, buffer, &length),
            SCARD_S_SUCCESS);
  ASSERT_EQ(length, atr.size());
  EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + length), atr);
}

TEST_F(Rig, ApdusRoundTrip) {
  SimProcess sim;
  ASSERT_TRUE(sim.StartAndWait(0, {"--text1", "V1.07", "--text2", "V2.01"}));
  ASSERT_EQ(Connect(0), SCARD_S_SUCCESS);
  struct Step {
    std::string apdu;
    std::string reply;  // "" = any reply of `length` bytes ending in 90 00
    size_t length;
  } const steps[] = {
      {"F0DB000000", "9000", 2},
      {"F0DC000102AABB", "9000", 2},
      {"F0DC800001CC", "9000", 2},
      {"F0DC020001DD", "6B00", 2},
      {"F0DD00002C" + std::string(88, '7'), "9000", 2},
      {"0084000004", "", 6},
      {"F0880000081122334455667788", "612C", 2},
      {"00C000002C", "", 46},
      {"F0EE000000", "6D00", 2},
  };
  for (const Step& step : steps) {
    std::vector<uint8_t> reply;
    ASSERT_EQ(Transmit(H(step.apdu), reply), SCARD_S_SUCCESS) << step.apdu;
    ASSERT_EQ(reply.size(), step.length) << step.apdu;
    if (step.reply.empty()) {
      EXPECT_EQ(sim::ToHex(reply.data() + reply.size() - 2, 2), "9000") << step.apdu;
    } else {
      EXPECT_EQ(sim::ToHex(reply), step.reply) << step.apdu;
    }
  }
  const auto state = sim.WaitForState(
      [&](const sim::CardState& s) { return s.commands.size() == std::size(steps); });
  ASSERT_TRUE(state.has_value());
  for (size_t i = 0; i < std::size(steps); ++i) {
    EXPECT_EQ(sim::ToHex(state->commands[i]), steps[i].apdu);
  }
  EXPECT_EQ(state->ByteAt(sim::TessivApp::kApp1, 128), uint8_t{0xAA});
  EXPECT_EQ(state->ByteAt(sim::TessivApp::kApp1, 129), uint8_t{0xBB});
  EXPECT_EQ(state->ByteAt(sim::TessivApp::kApp2, 0), uint8_t{0xCC});
  EXPECT_EQ(state->pass_through.size(), 1u);
  EXPECT_EQ(state->formats, 1u);
  EXPECT_TRUE(state->present);
}

TEST_F(Rig, CounterWrittenThroughTheDaemon) {
  SimProcess sim;
  ASSERT_TRUE(sim.StartAndWait(0));
  ASSERT_EQ(Connect(0), SCARD_S_SUCCESS);
  std::vector<uint8_t> challenge;
  ASSERT_EQ(Transmit(H("0084000004"), challenge), SCARD_S_SUCCESS);
  ASSERT_EQ(challenge.size(), 6u);
  uint8_t block[8] = {challenge[0], challenge[1], challenge[2], challenge[3], 0, 0, 0x01, 0xF4};
  const uint32_t crc = sim::TessivCrc32(block, 8);
  std::vector<uint8_t> apdu = H("F080010008000001F4");
  for (int shift = 24; shift >= 0; shift -= 8) {
    apdu.push_back(static_cast<uint8_t>(crc >> shift));
  }
  std::vector<uint8_t> reply;
  ASSERT_EQ(Transmit(apdu, reply), SCARD_S_SUCCESS);
  EXPECT_EQ(sim::ToHex(reply), "9000");
  const auto state =
      sim.WaitForState([](const sim::CardState& s) { return s.counter.has_value(); });
  ASSERT_TRUE(state.has_value());
  EXPECT_EQ(*state->counter, 500u);
}

TEST_F(Rig, ExclusiveHolderMakesSharedConnectFail) {
  SimProcess sim;
  ASSERT_TRUE(sim.StartAndWait(0));
  CardHolder other;
  ASSERT_EQ(other.Hold(RigReaderName(0), true), SCARD_S_SUCCESS);
  const LONG rv = Connect(0);
  Note("shared connect while another holds the card exclusively: " + Code(rv));
  EXPECT_EQ(Code(rv), Code(SCARD_E_SHARING_VIOLATION));
  other.Release();
  // Once the holder let go, the shared connect succeeds, and then an exclusive
  // connect of the other application fails in turn.
  EXPECT_EQ(Connect(0), SCARD_S_SUCCESS);
  EXPECT_EQ(Code(other.Hold(RigReaderName(0), true)), Code(SCARD_E_SHARING_VIOLATION));
  EXPECT_EQ(other.Hold(RigReaderName(0), false), SCARD_S_SUCCESS);
}

TEST_F(Rig, EmptyReaderAnswersNoSmartcard) {
  ASSERT_TRUE(WaitForCard(RigReaderName(1), false));
  const LONG rv = Connect(1);
  Note("connect to the empty reader: " + Code(rv));
  EXPECT_EQ(Code(rv), Code(SCARD_E_NO_SMARTCARD));
}

TEST_F(Rig, RemovalAtTheKthCommand) {
  SimProcess sim;
  ASSERT_TRUE(sim.StartAndWait(0, {"--remove-at", "2"}));
  ASSERT_EQ(Connect(0), SCARD_S_SUCCESS);
  std::vector<uint8_t> reply;
  EXPECT_EQ(Transmit(H("F0DB000000"), reply), SCARD_S_SUCCESS);
  const LONG rv = Transmit(H("0084000004"), reply);
  Note("transmit when the card leaves: " + Code(rv) + ", " + std::to_string(reply.size()) +
       " bytes");
  // vpcd passes the lost connection on as a successful exchange with no bytes at all.
  EXPECT_TRUE(rv != SCARD_S_SUCCESS || reply.empty());
  EXPECT_TRUE(WaitForCard(RigReaderName(0), false));
  const LONG again = Transmit(H("0084000004"), reply);
  Note("transmit on the old handle afterwards: " + Code(again));
  EXPECT_EQ(Code(again), Code(SCARD_W_REMOVED_CARD));
  SCardDisconnect(card_, SCARD_LEAVE_CARD);
  card_ = 0;
  const LONG reconnect = Connect(0);
  Note("connect after removal: " + Code(reconnect));
  EXPECT_EQ(Code(reconnect), Code(SCARD_E_NO_SMARTCARD));
  const auto state = sim.WaitForState([](const sim::CardState& s) { return !s.present; });
  ASSERT_TRUE(state.has_value());
  EXPECT_EQ(state->commands.size(), 2u);
}

// The tool's way out of a failed exchange (disconnect with power down) makes pcscd show
// the reader empty before its polling has noticed the card leave. The next card, started
// at once, must still be seen: the rig waits for pcscd to count the removal.
TEST_F(Rig, NextCardIsSeenAfterOneLeftMidCommand) {
  for (int round = 0; round < 5; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    SimProcess sim;
    ASSERT_TRUE(sim.StartAndWait(0, {"--remove-at", "1"}));
    ASSERT_EQ(Connect(0), SCARD_S_SUCCESS);
    std::vector<uint8_t> reply;
    const LONG rv = Transmit(H("0084000004"), reply);
    EXPECT_TRUE(rv != SCARD_S_SUCCESS || reply.empty());
    SCardDisconnect(card_, SCARD_UNPOWER_CARD);
    card_ = 0;
    EXPECT_EQ(sim.Stop(), 0);
    EXPECT_TRUE(sim.WaitForRemoval(0));
  }
  SimProcess next;
  ASSERT_TRUE(next.StartAndWait(0));
  EXPECT_EQ(Connect(0), SCARD_S_SUCCESS);
}

TEST_F(Rig, MangledRepliesReachTheCaller) {
  struct Case {
    std::string option;
    std::string what;
  } const cases[] = {
      {"--short-at", "one-byte reply"},
      {"--long-at", "400-byte reply into 300 bytes"},
      {"--mute-at", "empty reply"},
  };
  for (const Case& c : cases) {
    SimProcess sim;
    ASSERT_TRUE(sim.StartAndWait(0, {c.option, "1"})) << c.option;
    ASSERT_EQ(Connect(0), SCARD_S_SUCCESS) << c.option;
    std::vector<uint8_t> reply;
    const LONG rv = Transmit(H("0084000004"), reply);
    Note(c.what + ": " + Code(rv) + ", " + std::to_string(reply.size()) + " bytes");
    if (c.option == "--short-at") {
      EXPECT_EQ(rv, SCARD_S_SUCCESS);
      EXPECT_EQ(reply.size(), 1u);
    } else if (c.option == "--long-at") {
      EXPECT_NE(rv, SCARD_S_SUCCESS);
    } else {
      // vpcd takes an empty reply as the card leaving: success with nothing in it.
      EXPECT_TRUE(rv != SCARD_S_SUCCESS || reply.empty());
    }
    SCardDisconnect(card_, SCARD_LEAVE_CARD);
    card_ = 0;
    sim.Stop();
  }
}

TEST_F(Rig, OneCardAfterTheOther) {
  SimProcess sim;
  ASSERT_TRUE(sim.StartAndWait(0, {"--cards", "2", "--remove-after", "1", "--insert-after-ms",
                                   "1000", "--version-byte", "02"}));
  ASSERT_EQ(Connect(0), SCARD_S_SUCCESS);
  std::vector<uint8_t> reply;
  EXPECT_EQ(Transmit(H("F0DB000000"), reply), SCARD_S_SUCCESS);
  EXPECT_EQ(sim::ToHex(reply), "9000");
  EXPECT_TRUE(WaitForCard(RigReaderName(0), false));
  SCardDisconnect(card_, SCARD_LEAVE_CARD);
  card_ = 0;
  ASSERT_TRUE(WaitForCard(RigReaderName(0), true));
  ASSERT_EQ(Connect(0), SCARD_S_SUCCESS);
  EXPECT_EQ(Transmit(H("F0DB000000"), reply), SCARD_S_SUCCESS);
  // A fresh card: only the command sent to it.
  const auto state =
      sim.WaitForState([](const sim::CardState& s) { return s.card == 2 && !s.commands.empty(); });
  ASSERT_TRUE(state.has_value());
  EXPECT_EQ(state->commands.size(), 1u);
  EXPECT_TRUE(WaitForCard(RigReaderName(0), false));
  EXPECT_EQ(sim.Stop(), 0);
}

TEST_F(Rig, RemoveCardOnRequestAndStopCleanly) {
  SimProcess sim;
  ASSERT_TRUE(sim.StartAndWait(0, {"--cards", "2", "--insert-after-ms", "1000"}));
  ASSERT_TRUE(sim.RemoveCard());
  EXPECT_TRUE(WaitForCard(RigReaderName(0), false));
  EXPECT_TRUE(WaitForCard(RigReaderName(0), true));
  EXPECT_TRUE(sim.Running());
  EXPECT_EQ(sim.Stop(), 0);
  EXPECT_TRUE(WaitForCard(RigReaderName(0), false));
}

}  // namespace
}  // namespace pelliton::rig
