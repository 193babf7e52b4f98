#include "sim/vpcd/vpcd_bridge.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "sim/card/card_state.h"

namespace pelliton::sim {
namespace {

std::vector<uint8_t> H(const std::string& text) {
  return FromHex(text).value_or(std::vector<uint8_t>{});
}

TEST(ParseBridgeOptions, AcceptsAndRefuses) {
  struct Case {
    std::vector<std::string> args;
    bool ok;
  } const cases[] = {
      {{}, true},
      {{"--port", "35963", "--host", "localhost"}, true},
      {{"--port", "0"}, false},
      {{"--port", "65536"}, false},
      {{"--port"}, false},
      {{"--version-byte", "03"}, true},
      {{"--version-byte", "0x02"}, true},
      {{"--version-byte", "100"}, false},
      {{"--atr", "3B00"}, true},
      {{"--atr", "3B0"}, false},
      {{"--atr", std::string(68, '0')}, false},  // 34 bytes: longer than any ATR
      {{"--sw-at", "3:6982"}, true},
      {{"--sw-at", "3"}, false},
      {{"--sw-at", "0:6982"}, false},
      {{"--sw-at", "3:69820"}, false},
      {{"--remove-at", "2"}, true},
      {{"--remove-at", "2:1"}, false},
      {{"--remove-at", "-1"}, false},
      {{"--short-at", "1"}, true},
      {{"--short-at", "1:0"}, true},
      {{"--long-at", "1:70000"}, false},
      {{"--remove-after", "0"}, false},
      {{"--cards", "3", "--insert-after-ms", "200"}, true},
      {{"--cards", "0"}, false},
      {{"--state", ""}, false},
      {{"--bogus", "1"}, false},
      {{"stray"}, false},
  };
  for (const Case& c : cases) {
    std::string error;
    const auto options = ParseBridgeOptions(c.args, error);
    std::string joined;
    for (const auto& a : c.args) {
      joined += a + " ";
    }
    EXPECT_EQ(options.has_value(), c.ok) << joined << error;
    EXPECT_EQ(error.empty(), c.ok) << joined;
  }
}

TEST(ParseBridgeOptions, BuildsTheCard) {
  std::string error;
  const auto options =
      ParseBridgeOptions({"--version-byte", "02", "--text1", "A", "--sw-at", "4:6A82", "--long-at",
                          "2", "--short-at", "5:3", "--port", "40000"},
                         error);
  ASSERT_TRUE(options.has_value()) << error;
  EXPECT_EQ(options->port, 40000);
  EXPECT_EQ(options->card.atr, TessivConfig::DefaultAtr(0x02));
  EXPECT_EQ(options->card.text1, "A");
  ASSERT_EQ(options->faults.size(), 3u);
  EXPECT_EQ(options->faults[0].kind, FaultKind::kStatusWord);
  EXPECT_EQ(options->faults[0].at, 4u);
  EXPECT_EQ(options->faults[0].status_word, 0x6A82);
  EXPECT_EQ(options->faults[1].length, 400u);
  EXPECT_EQ(options->faults[2].length, 3u);
  // An explicit ATR wins over the version byte, whatever the order.
  const auto atr = ParseBridgeOptions({"--atr", "3B00", "--version-byte", "03"}, error);
  ASSERT_TRUE(atr.has_value());
  EXPECT_EQ(atr->card.atr, H("3B00"));
  std::string help_error = "x";
  EXPECT_FALSE(ParseBridgeOptions({"--help"}, help_error).has_value());
  EXPECT_TRUE(help_error.empty());
}

TEST(VpcdSession, AnswersControlsAndCommands) {
  struct Case {
    std::string name;
    std::string in;   // bytes from the reader
    std::string out;  // bytes back to it
    bool stays;
  } const cases[] = {
      {"power on, ATR",
       "0001010001"
       "04",
       "0014" + ToHex(TessivConfig::DefaultAtr(4)), true},
      {"reset and power off are silent", "00010200010000010000", "", true},
      {"unknown control ignored", "0001070001FF", "", true},
      {"empty message ignored", "0000", "", true},
      {"command",
       "000101"
       "0005F0DB000000",
       "00029000", true},
      {"command while unpowered: empty reply, card leaves", "0005F0DB000000", "0000", false},
      {"two commands in one piece",
       "000101"
       "0005F0DB000000"
       "0005F0AA000000",
       "00029000"
       "00026D00",
       true},
      {"incomplete message waits",
       "000101"
       "0005F0DB00",
       "", true},
      {"length byte alone waits", "00", "", true},
  };
  for (const Case& c : cases) {
    TessivCard card;
    VpcdSession session(card, 0);
    std::vector<uint8_t> out;
    const auto in = H(c.in);
    EXPECT_EQ(session.Feed(in.data(), in.size(), out), c.stays) << c.name;
    EXPECT_EQ(ToHex(out), c.out) << c.name;
  }
}

TEST(VpcdSession, BytesMayArriveOneByOne) {
  TessivCard card;
  VpcdSession session(card, 0);
  const auto in =
      H("000101"
        "0005F0DB000000"
        "000104");
  std::vector<uint8_t> out;
  for (uint8_t byte : in) {
    ASSERT_TRUE(session.Feed(&byte, 1, out));
  }
  EXPECT_EQ(ToHex(out),
            "00029000"
            "0014" +
                ToHex(TessivConfig::DefaultAtr(4)));
}

TEST(VpcdSession, CardLeavesOnRemovalFaultOrAfterKthCommand) {
  {
    TessivCard card;
    card.AddFault({FaultKind::kRemove, 2, 0, 0, {}});
    VpcdSession session(card, 0);
    const auto in =
        H("000101"
          "0005F0DB000000"
          "0005F0DB000000"
          "0005F0DB000000");
    std::vector<uint8_t> out;
    EXPECT_FALSE(session.Feed(in.data(), in.size(), out));
    EXPECT_EQ(ToHex(out), "00029000");  // the 2nd goes unanswered, the 3rd unheard
    EXPECT_EQ(card.Commands().size(), 2u);
    EXPECT_FALSE(session.Feed(in.data(), in.size(), out));
  }
  {
    TessivCard card;
    VpcdSession session(card, 1);
    const auto in =
        H("000101"
          "0005F0DB000000"
          "0005F0DB000000");
    std::vector<uint8_t> out;
    EXPECT_FALSE(session.Feed(in.data(), in.size(), out));
    EXPECT_EQ(ToHex(out), "00029000");  // answered, then gone
    EXPECT_FALSE(card.Present());
  }
}

TEST(VpcdSession, GarbageNeverBreaksIt) {
  // Deterministic noise, fed in uneven pieces: the session answers what it can parse
  // and never reads past what it was given (checked under the sanitizers).
  uint32_t x = 12345;
  const auto next = [&x]() {
    x = x * 1103515245u + 12345u;
    return static_cast<uint8_t>(x >> 16);
  };
  // Frames of random small lengths and random contents: controls, known and unknown
  // commands, empty messages.
  std::vector<uint8_t> noise;
  std::vector<size_t> starts;
  while (noise.size() < 20000) {
    starts.push_back(noise.size());
    const size_t length = next() % 3 == 0 ? next() % 3 : next() + next() % 64;
    noise.push_back(static_cast<uint8_t>(length >> 8));
    noise.push_back(static_cast<uint8_t>(length));
    for (size_t i = 0; i < length; ++i) {
      noise.push_back(next() % 2 ? next() % 5 : next());
    }
  }
  // A card that leaves is followed by a fresh one, as the bridge does.
  size_t cards = 1, events = 0;
  auto card = std::make_unique<TessivCard>();
  auto session = std::make_unique<VpcdSession>(*card, 0);
  std::vector<uint8_t> out;
  size_t at = 0;
  for (size_t piece = 1; at < noise.size(); piece = piece * 7 % 1000 + 1) {
    const size_t n = std::min(piece, noise.size() - at);
    if (!session->Feed(noise.data() + at, n, out)) {
      events += session->events();
      card = std::make_unique<TessivCard>();
      session = std::make_unique<VpcdSession>(*card, 0);
      ++cards;
      // The next connection starts at a message boundary.
      const auto next_start = std::upper_bound(starts.begin(), starts.end(), at);
      at = next_start == starts.end() ? noise.size() : *next_start;
      continue;
    }
    at += n;
  }
  EXPECT_GT(events + session->events(), 50u);
  EXPECT_GT(cards, 1u);
}

}  // namespace
}  // namespace pelliton::sim
