#include "sim/card/tessiv_card.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "sim/card/card_state.h"

namespace pelliton::sim {
namespace {

// "F0 DB 00 00 00" -> bytes; spaces are ignored.
std::vector<uint8_t> H(std::string text) {
  std::erase(text, ' ');
  auto bytes = FromHex(text);
  EXPECT_TRUE(bytes.has_value()) << text;
  return bytes.value_or(std::vector<uint8_t>{});
}

std::string Sw(const std::vector<uint8_t>& reply) {
  if (reply.size() < 2) {
    return "none";
  }
  return ToHex(reply.data() + reply.size() - 2, 2);
}

TessivConfig WithVersion(uint8_t version) {
  TessivConfig config;
  config.atr = TessivConfig::DefaultAtr(version);
  return config;
}

std::vector<uint8_t> CounterCommand(uint32_t challenge, uint32_t counter, uint32_t crc_delta = 0) {
  const uint8_t block[8] = {
      static_cast<uint8_t>(challenge >> 24), static_cast<uint8_t>(challenge >> 16),
      static_cast<uint8_t>(challenge >> 8),  static_cast<uint8_t>(challenge),
      static_cast<uint8_t>(counter >> 24),   static_cast<uint8_t>(counter >> 16),
      static_cast<uint8_t>(counter >> 8),    static_cast<uint8_t>(counter)};
  const uint32_t crc = TessivCrc32(block, 8) ^ crc_delta;
  std::vector<uint8_t> apdu(13);
  const uint8_t header[5] = {0xF0, 0x80, 0x01, 0x00, 0x08};
  std::copy(header, header + 5, apdu.begin());
  std::copy(block + 4, block + 8, apdu.begin() + 5);
  for (int i = 0; i < 4; ++i) {
    apdu[9 + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
  }
  return apdu;
}

// Fetches a challenge and writes `counter` with it; returns the status word.
std::string WriteCounter(TessivCard& card, uint32_t counter, uint32_t crc_delta = 0) {
  const auto reply = card.Transmit(H("00 84 00 00 04"));
  if (reply.size() != 6) {
    return "challenge " + Sw(reply);
  }
  const uint32_t challenge =
      uint32_t{reply[0]} << 24 | uint32_t{reply[1]} << 16 | uint32_t{reply[2]} << 8 | reply[3];
  return Sw(card.Transmit(CounterCommand(challenge, counter, crc_delta)));
}

TEST(TessivCrc32, CheckValues) {
  struct Case {
    std::string input;
    uint32_t crc;
  } const cases[] = {
      {"", 0x00000000},
      {"abc", 0x2C17398C},
      // CRC-32/POSIX (same register, final XOR of all ones) gives 0x765E7680.
      {"123456789", ~0x765E7680u},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TessivCrc32(reinterpret_cast<const uint8_t*>(c.input.data()), c.input.size()), c.crc)
        << c.input;
  }
}

TEST(TessivCard, AnswersEachCommand) {
  const std::string block44(88, 'C');
  struct Case {
    std::string name;
    std::string apdu;
    std::string reply;  // whole response, hex
  } const cases[] = {
      {"format", "F0DB000000", "9000"},
      {"format with P1", "F0DB010000", "6B00"},
      {"format with data", "F0DB000001AA", "6700"},
      {"format with P3 but no data", "F0DB000001", "6700"},
      {"load one byte", "F0DC000001AA", "9000"},
      {"load empty", "F0DC000000", "9000"},
      {"load P3 longer than data", "F0DC000002AA", "6700"},
      {"load P3 shorter than data", "F0DC000001AABB", "6700"},
      {"pass-through", "F0DD00002C" + block44, "9000"},
      {"pass-through short", "F0DD00002B" + block44.substr(2), "6700"},
      {"pass-through P3 disagrees", "F0DD00002C" + block44.substr(2), "6700"},
      {"challenge with Le 8", "0084000008", "6C04"},
      {"challenge with data", "008400000411223344", "6700"},
      {"information query",
       "F088000008"
       "1122334455667788",
       "612C"},
      {"information query any data",
       "F088000008"
       "0000000000000000",
       "612C"},
      {"information query short", "F08800000811", "6700"},
      {"GET RESPONSE without query", "00C000002C", "6985"},
      {"counter without challenge",
       "F080010008"
       "000001F400000000",
       "6985"},
      {"counter with P1 0",
       "F080000008"
       "000001F400000000",
       "6B00"},
      {"unknown INS", "F0AA000000", "6D00"},
      {"SELECT", "00A4040000", "6D00"},
      {"four bytes", "F0DB0000", "6700"},
      {"one byte", "F0", "6700"},
      {"empty", "", "6700"},
  };
  for (const Case& c : cases) {
    TessivCard card;
    card.PowerOn();
    EXPECT_EQ(ToHex(card.Transmit(H(c.apdu))), c.reply) << c.name;
    EXPECT_EQ(card.Commands().size(), 1u) << c.name;
  }
}

TEST(TessivCard, ChallengeIsFourBytesAndVaries) {
  TessivCard card;
  card.PowerOn();
  const auto first = card.Transmit(H("0084000004"));
  const auto second = card.Transmit(H("0084000004"));
  ASSERT_EQ(first.size(), 6u);
  EXPECT_EQ(Sw(first), "9000");
  EXPECT_NE(first, second);
  // Same seed, same challenges: tests can reproduce a run.
  TessivCard twin;
  twin.PowerOn();
  EXPECT_EQ(twin.Transmit(H("0084000004")), first);
}

TEST(TessivCard, InformationReplyAfterQuery) {
  TessivConfig config;
  config.text1 = "ABCDE";
  config.text2 = "ABCDX";
  TessivCard card(config);
  card.PowerOn();
  EXPECT_EQ(Sw(card.Transmit(H("F088000008"
                               "1122334455667788"))),
            "612C");
  const auto reply = card.Transmit(H("00C000002C"));
  ASSERT_EQ(reply.size(), 46u);
  EXPECT_EQ(Sw(reply), "9000");
  EXPECT_EQ(std::string(reply.begin() + 11, reply.begin() + 20), "ABCDE0000");
  EXPECT_EQ(reply[20], 0);
  EXPECT_EQ(std::string(reply.begin() + 31, reply.begin() + 40), "ABCDX0000");
  // The reply is fetched once; a second GET RESPONSE has nothing to give.
  EXPECT_EQ(Sw(card.Transmit(H("00C000002C"))), "6985");
  // Another command between query and GET RESPONSE drops the pending reply.
  card.Transmit(
      H("F088000008"
        "1122334455667788"));
  card.Transmit(H("0084000004"));
  EXPECT_EQ(Sw(card.Transmit(H("00C000002C"))), "6985");
  // A wrong Le is told the right one and may ask again.
  card.Transmit(
      H("F088000008"
        "1122334455667788"));
  EXPECT_EQ(Sw(card.Transmit(H("00C0000010"))), "6C2C");
  EXPECT_EQ(card.Transmit(H("00C000002C")).size(), 46u);
}

TEST(TessivCard, VersionTextsShowCounterOnLaterGenerations) {
  struct Case {
    std::vector<uint8_t> atr;
    std::string text1, text2;
    std::optional<uint32_t> counter;  // written before the query
    std::string field1;               // bytes 11..30 up to the first zero
    std::string field2;               // bytes 31..39 up to the first zero
    uint32_t trailer;                 // bytes 40..43
  } const cases[] = {
      {TessivConfig::DefaultAtr(0x04), "V3.05", "V3.05", 500, "V3.050500", "V3.050500", 500},
      {TessivConfig::DefaultAtr(0x03), "V1.07", "V2.01", 5000, "V1.075000", "V2.015000", 5000},
      {TessivConfig::DefaultAtr(0x03), "V1.07", "V2.01", std::nullopt, "V1.070000", "V2.010000", 0},
      {TessivConfig::DefaultAtr(0x04), "V3.05", "V3.05", 123456, "V3.053456", "V3.053456", 123456},
      // V1.00 and unknown generations keep the texts as configured.
      {TessivConfig::DefaultAtr(0x02), "V1.00", "V1.00", std::nullopt, "V1.00", "V1.00", 0},
      {TessivConfig::DefaultAtr(0x07), "V9.99", "V9.99", 7, "V9.99", "V9.99", 7},
      {H("3B00"), "SHORT", "SHORT", 7, "SHORT", "SHORT", 7},
      // Texts are cut to their fields: 20 and 9 bytes.
      {TessivConfig::DefaultAtr(0x02), std::string(25, 'a'), std::string(12, 'b'), std::nullopt,
       std::string(20, 'a') + std::string(9, 'b'), std::string(9, 'b'), 0},
      {TessivConfig::DefaultAtr(0x04), "ABCDEFGHIJ", "ABCDEFGHIJ", 1, "ABCDEFGHIJ0001", "ABCDEFGHI",
       1},
  };
  for (const Case& c : cases) {
    TessivConfig config;
    config.atr = c.atr;
    config.text1 = c.text1;
    config.text2 = c.text2;
    TessivCard card(config);
    card.PowerOn();
    if (c.counter) {
      ASSERT_EQ(WriteCounter(card, *c.counter), "9000") << c.text1;
    }
    const auto info = card.InformationReply();
    ASSERT_EQ(info.size(), 44u);
    // The first text runs on into the second field when it fills its own.
    std::string field1(reinterpret_cast<const char*>(info.data() + 11), 29);
    field1 = field1.substr(0, field1.find('\0'));
    std::string field2(reinterpret_cast<const char*>(info.data() + 31), 9);
    field2 = field2.substr(0, field2.find('\0'));
    EXPECT_EQ(field1, c.field1) << c.text1;
    EXPECT_EQ(field2, c.field2) << c.text1;
    EXPECT_EQ(
        uint32_t{info[40]} << 24 | uint32_t{info[41]} << 16 | uint32_t{info[42]} << 8 | info[43],
        c.trailer);
  }
}

TEST(TessivCard, LoadsInsideEachApplicationOnly) {
  struct Case {
    std::string name;
    uint8_t p1, p2;
    size_t count;
    std::string sw;
    TessivApp app;
    size_t offset;
  } const cases[] = {
      {"App1 block 0", 0x00, 0x00, 128, "9000", TessivApp::kApp1, 0},
      {"App1 block 1", 0x00, 0x01, 128, "9000", TessivApp::kApp1, 128},
      {"App1 high block", 0x01, 0x02, 16, "9000", TessivApp::kApp1, 0x102 * 128},
      {"App1 last block", 0x01, 0xFF, 128, "9000", TessivApp::kApp1, 0xFF80},
      {"App1 past the end", 0x02, 0x00, 1, "6B00", TessivApp::kApp1, 0x10000},
      {"App1 straddling the end", 0x01, 0xFF, 129, "6B00", TessivApp::kApp1, 0xFF80},
      {"App1 top block number", 0x7F, 0xFF, 1, "6B00", TessivApp::kApp1, 0},
      {"App2 block 0", 0x80, 0x00, 128, "9000", TessivApp::kApp2, 0},
      {"App2 last block", 0x81, 0xFF, 128, "9000", TessivApp::kApp2, 0xFF80},
      {"App2 past the end", 0x82, 0x00, 4, "6B00", TessivApp::kApp2, 0x10000},
  };
  for (const Case& c : cases) {
    TessivCard card;
    card.PowerOn();
    std::vector<uint8_t> apdu = {0xF0, 0xDC, c.p1, c.p2, static_cast<uint8_t>(c.count)};
    for (size_t i = 0; i < c.count; ++i) {
      apdu.push_back(static_cast<uint8_t>(i + 1));
    }
    EXPECT_EQ(Sw(card.Transmit(apdu)), c.sw) << c.name;
    const auto& mine = card.Memory(c.app);
    const auto& other =
        card.Memory(c.app == TessivApp::kApp1 ? TessivApp::kApp2 : TessivApp::kApp1);
    ASSERT_EQ(mine.size(), 0x10000u);
    EXPECT_TRUE(std::all_of(other.begin(), other.end(), [](uint8_t b) {
      return b == TessivCard::kErased;
    })) << c.name;
    if (c.sw == "9000") {
      for (size_t i = 0; i < c.count; ++i) {
        ASSERT_EQ(mine[c.offset + i], static_cast<uint8_t>(i + 1)) << c.name << " byte " << i;
      }
      ASSERT_EQ(card.Written().size(), 1u);
      EXPECT_EQ(card.Written()[0].offset, c.offset);
      EXPECT_EQ(card.Written()[0].bytes.size(), c.count);
    } else {
      EXPECT_TRUE(std::all_of(mine.begin(), mine.end(), [](uint8_t b) {
        return b == TessivCard::kErased;
      })) << c.name;
      EXPECT_TRUE(card.Written().empty()) << c.name;
    }
  }
}

TEST(TessivCard, AreaSizesAreConfigurable) {
  TessivConfig config;
  config.app1_start = 0x2000;
  config.app1_end = 0x20FF;  // two blocks
  config.app2_start = 0x3000;
  config.app2_end = 0x2FFF;  // end before start: no area
  TessivCard card(config);
  card.PowerOn();
  EXPECT_EQ(card.Memory(TessivApp::kApp1).size(), 256u);
  EXPECT_EQ(card.Memory(TessivApp::kApp2).size(), 0u);
  EXPECT_EQ(Sw(card.Transmit(H("F0DC000101AA"))), "9000");
  EXPECT_EQ(Sw(card.Transmit(H("F0DC000201AA"))), "6B00");
  EXPECT_EQ(Sw(card.Transmit(H("F0DC800000"))), "9000");
  EXPECT_EQ(Sw(card.Transmit(H("F0DC800001AA"))), "6B00");
}

TEST(TessivCard, FormatErasesApplicationsAndCounter) {
  TessivCard card;
  card.PowerOn();
  ASSERT_EQ(Sw(card.Transmit(H("F0DC000002AABB"))), "9000");
  ASSERT_EQ(Sw(card.Transmit(H("F0DC800001CC"))), "9000");
  ASSERT_EQ(WriteCounter(card, 500), "9000");
  ASSERT_EQ(card.Counter(), 500u);
  ASSERT_EQ(card.Written().size(), 2u);
  EXPECT_EQ(Sw(card.Transmit(H("F0DB000000"))), "9000");
  EXPECT_EQ(card.FormatCount(), 1u);
  EXPECT_FALSE(card.Counter().has_value());
  EXPECT_TRUE(card.Written().empty());
  EXPECT_EQ(card.Memory(TessivApp::kApp1)[0], TessivCard::kErased);
  EXPECT_EQ(card.Memory(TessivApp::kApp2)[0], TessivCard::kErased);
}

TEST(TessivCard, CounterNeedsFreshChallengeAndRightCrc) {
  struct Case {
    std::string name;
    uint8_t version;
    uint32_t crc_delta;
    bool reset_between;  // power cycle between challenge and write
    std::string sw;
  } const cases[] = {
      {"V2.00 right CRC", 0x04, 0, false, "9000"},
      {"V1.10 right CRC", 0x03, 0, false, "9000"},
      {"unknown generation right CRC", 0x55, 0, false, "9000"},
      {"one bit off", 0x04, 1, false, "6988"},
      {"high bit off", 0x04, 0x80000000u, false, "6988"},
      {"challenge lost by reset", 0x04, 0, true, "6985"},
      {"V1.00 has no counter", 0x02, 0, false, "6D00"},
  };
  for (const Case& c : cases) {
    TessivCard card(WithVersion(c.version));
    card.PowerOn();
    const auto reply = card.Transmit(H("0084000004"));
    ASSERT_EQ(reply.size(), 6u);
    const uint32_t challenge = *card.LastChallenge();
    if (c.reset_between) {
      card.PowerOff();
      card.PowerOn();
    }
    EXPECT_EQ(Sw(card.Transmit(CounterCommand(challenge, 500, c.crc_delta))), c.sw) << c.name;
    EXPECT_EQ(card.Counter().has_value(), c.sw == "9000") << c.name;
    if (c.sw == "9000") {
      EXPECT_EQ(*card.Counter(), 500u) << c.name;
    }
    // The challenge served once, whatever the outcome.
    if (c.version != 0x02) {
      EXPECT_EQ(Sw(card.Transmit(CounterCommand(challenge, 500))), "6985") << c.name;
    }
  }
}

TEST(TessivCard, CounterCommandMatchesTheDownloadsBytes) {
  // Counter 500 with challenge 11 22 33 44: the block 11 22 33 44 00 00 01 F4.
  const uint8_t block[8] = {0x11, 0x22, 0x33, 0x44, 0x00, 0x00, 0x01, 0xF4};
  const auto apdu = CounterCommand(0x11223344, 500);
  ASSERT_EQ(apdu.size(), 13u);
  EXPECT_EQ(ToHex(apdu.data(), 9), "F080010008000001F4");
  const uint32_t crc = TessivCrc32(block, 8);
  EXPECT_EQ(apdu[9], crc >> 24);
  EXPECT_EQ(apdu[12], crc & 0xFF);
}

TEST(TessivCard, FaultsAtTheKthCommand) {
  struct Case {
    std::string name;
    Fault fault;
    std::string second_reply;  // reply to the 2nd command (a challenge request), hex
    bool present_after;
    bool carried_out;  // whether the challenge was issued
  } const cases[] = {
      {"status word", {FaultKind::kStatusWord, 2, 0x6982, 0, {}}, "6982", true, false},
      {"removal", {FaultKind::kRemove, 2, 0, 0, {}}, "", false, false},
      {"mute", {FaultKind::kMute, 2, 0, 0, {}}, "", true, false},
      {"short to one byte", {FaultKind::kShort, 2, 0, 1, {}}, "*", true, true},
      {"short to nothing", {FaultKind::kShort, 2, 0, 0, {}}, "", true, true},
      {"fault on another command", {FaultKind::kStatusWord, 3, 0x6982, 0, {}}, "*9000", true, true},
  };
  for (const Case& c : cases) {
    TessivCard card;
    card.AddFault(c.fault);
    card.PowerOn();
    EXPECT_EQ(Sw(card.Transmit(H("F0DB000000"))), "9000") << c.name;
    const auto reply = card.Transmit(H("0084000004"));
    EXPECT_EQ(card.LastChallenge().has_value(), c.carried_out) << c.name;
    if (c.second_reply == "*") {
      EXPECT_EQ(reply.size(), 1u) << c.name;
    } else if (c.second_reply == "*9000") {
      EXPECT_EQ(reply.size(), 6u) << c.name;
    } else {
      EXPECT_EQ(ToHex(reply), c.second_reply) << c.name;
    }
    EXPECT_EQ(card.Present(), c.present_after) << c.name;
    // The card keeps answering after a fault unless it left the reader.
    const auto third = card.Transmit(H("F0DB000000"));
    EXPECT_EQ(third.empty(), !c.present_after) << c.name;
  }
}

TEST(TessivCard, LongReplyKeepsDataAndStatusWord) {
  TessivCard card;
  card.AddFault({FaultKind::kLong, 1, 0, 400, {}});
  card.PowerOn();
  const auto reply = card.Transmit(H("0084000004"));
  ASSERT_EQ(reply.size(), 400u);
  EXPECT_EQ(Sw(reply), "9000");
  EXPECT_EQ(
      uint32_t{reply[0]} << 24 | uint32_t{reply[1]} << 16 | uint32_t{reply[2]} << 8 | reply[3],
      *card.LastChallenge());
  EXPECT_EQ(reply[4], 0xA5);
  EXPECT_EQ(reply[397], 0xA5);
}

TEST(TessivCard, RemovedOrUnpoweredCardStaysSilent) {
  TessivCard card;
  EXPECT_TRUE(card.Transmit(H("F0DB000000")).empty());  // never powered
  EXPECT_TRUE(card.Commands().empty());
  EXPECT_EQ(card.PowerOn(), TessivConfig::DefaultAtr(0x04));
  card.Remove();
  EXPECT_FALSE(card.Present());
  EXPECT_TRUE(card.PowerOn().empty());
  EXPECT_TRUE(card.Transmit(H("F0DB000000")).empty());
  card.Insert();
  EXPECT_FALSE(card.Powered());
  EXPECT_EQ(card.PowerOn().size(), 20u);
  EXPECT_EQ(Sw(card.Transmit(H("F0DB000000"))), "9000");
  EXPECT_EQ(card.Transmit(nullptr, 5), H("6700"));
}

TEST(TessivCard, DefaultAtrCarriesGenerationAtByte17) {
  const TessivCard card;
  EXPECT_EQ(card.config().atr.size(), 20u);
  EXPECT_EQ(card.config().atr[0], 0x3B);
  EXPECT_EQ(card.VersionByte(), uint8_t{0x04});
  TessivConfig config;
  config.atr = H("3B02");
  EXPECT_FALSE(TessivCard(config).VersionByte().has_value());
}

TEST(CardState, RoundTripsThroughText) {
  TessivCard card;
  card.PowerOn();
  card.Transmit(H("F0DB000000"));
  card.Transmit(H("F0DC000102AABB"));
  card.Transmit(H("F0DC800001CC"));
  card.Transmit(H("F0DD00002C" + std::string(88, 'E')));
  ASSERT_EQ(WriteCounter(card, 4321), "9000");
  const CardState state = CaptureCardState(card);
  const auto parsed = ParseCardState(FormatCardState(state));
  ASSERT_TRUE(parsed.has_value());
  EXPECT_TRUE(parsed->present);
  EXPECT_TRUE(parsed->powered);
  EXPECT_EQ(parsed->atr, card.config().atr);
  EXPECT_EQ(parsed->counter, 4321u);
  EXPECT_EQ(parsed->formats, 1u);
  EXPECT_EQ(parsed->commands, card.Commands());
  ASSERT_EQ(parsed->pass_through.size(), 1u);
  EXPECT_EQ(parsed->pass_through[0], std::vector<uint8_t>(44, 0xEE));
  EXPECT_EQ(parsed->ByteAt(TessivApp::kApp1, 128), uint8_t{0xAA});
  EXPECT_EQ(parsed->ByteAt(TessivApp::kApp1, 129), uint8_t{0xBB});
  EXPECT_EQ(parsed->ByteAt(TessivApp::kApp1, 130), std::nullopt);
  EXPECT_EQ(parsed->ByteAt(TessivApp::kApp2, 0), uint8_t{0xCC});
  EXPECT_EQ(parsed->ByteAt(TessivApp::kApp2, 128), std::nullopt);
}

TEST(CardState, RefusesMalformedText) {
  const std::string good =
      "tessiv-state 1\npresent 1\npowered 0\natr 3B00\ncounter none\n"
      "formats 0\nend\n";
  ASSERT_TRUE(ParseCardState(good).has_value());
  const std::string bad[] = {
      "",
      "tessiv-state 2\nend\n",
      "tessiv-state 1\n",               // incomplete: no end
      "tessiv-state 1\nend",            // last line unterminated
      "tessiv-state 1\nend\ncmd 00\n",  // after end
      "tessiv-state 1\ncmd 0\nend\n",   // odd hex
      "tessiv-state 1\ncmd 0G\nend\n",  // not hex
      "tessiv-state 1\ncounter -1\nend\n",
      "tessiv-state 1\ncounter 4294967296\nend\n",  // beyond 32 bits
      "tessiv-state 1\npresent yes\nend\n",
      "tessiv-state 1\nmem 3 0 AA\nend\n",
      "tessiv-state 1\nmem 1 XYZ AA\nend\n",
      "tessiv-state 1\nmem 1 0\nend\n",  // no bytes field
      "tessiv-state 1\nbogus 1\nend\n",
  };
  for (const std::string& text : bad) {
    EXPECT_FALSE(ParseCardState(text).has_value()) << text;
  }
}

}  // namespace
}  // namespace pelliton::sim
