#include "engine/card_info.h"

#include "cardaccess/reader_controls.h"
#include "engine/counter_rule.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/fake_orvo.h"
#include "tests/support/fake_pcsc.h"
#include "tests/support/recording_panel.h"

namespace pelliton {
namespace {

using ::testing::ElementsAre;
using testing::FakeOrvo;
using testing::FakePcsc;

const std::string kV100 = "Tessiv Card Version: V1.00 \r\n\r\n";
const std::string kV110 = "Tessiv Card Version: V1.10 \r\n\r\n";
const std::string kV200 = "Tessiv Card Version: V2.00 \r\n\r\n";
const std::string kSuccess = "Obtained upgrade card information for Norvane-IC Successfully!";

// The first 40 bytes of a GET RESPONSE reply with the two version fields filled in.
std::array<uint8_t, kCardInfoReplyBytes> Reply(const std::string& first,
                                               const std::string& second) {
  std::array<uint8_t, kCardInfoReplyBytes> reply{};
  for (size_t i = 0; i < 11; ++i) {
    reply[i] = static_cast<uint8_t>(0xA0 + i);  // never read
  }
  std::copy_n(first.begin(), std::min<size_t>(first.size(), 20), reply.begin() + 11);
  std::copy_n(second.begin(), std::min<size_t>(second.size(), 9), reply.begin() + 31);
  return reply;
}

// --- card line and application line ------------------------------------------------

struct CardLineCase {
  uint8_t byte17;
  std::string line;
  VersionClass version;
};

class CardLineTest : public ::testing::TestWithParam<CardLineCase> {};

TEST_P(CardLineTest, ComesFromAtrByte17) {
  EXPECT_EQ(CardLineOf(VersionClassOf(GetParam().byte17)), GetParam().line);
  EXPECT_EQ(VersionClassOf(GetParam().byte17), GetParam().version);
}

INSTANTIATE_TEST_SUITE_P(Bytes, CardLineTest,
                         ::testing::Values(CardLineCase{0x02, kV100, VersionClass::kV100},
                                           CardLineCase{0x03, kV110, VersionClass::kV110},
                                           CardLineCase{0x04, kV200, VersionClass::kV200},
                                           CardLineCase{0x00, "", VersionClass::kUnknown},
                                           CardLineCase{0x01, "", VersionClass::kUnknown},
                                           CardLineCase{0x05, "", VersionClass::kUnknown},
                                           CardLineCase{0xFF, "", VersionClass::kUnknown}));

struct LineCase {
  const char* name;
  std::array<uint8_t, kCardInfoReplyBytes> reply;
  VersionClass version;
  std::string line;
};

class ApplicationLineTest : public ::testing::TestWithParam<LineCase> {};

TEST_P(ApplicationLineTest, Builds) {
  EXPECT_EQ(ApplicationLine(ReadCardInfo(GetParam().version, GetParam().reply)), GetParam().line);
}

std::array<uint8_t, kCardInfoReplyBytes> NoZeroAnywhere() {
  std::array<uint8_t, kCardInfoReplyBytes> reply{};
  for (size_t i = 0; i < reply.size(); ++i) {
    reply[i] = static_cast<uint8_t>('a' + i % 26);
  }
  return reply;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ApplicationLineTest,
    ::testing::Values(
        LineCase{"WorkedExampleV110", Reply("ABCDEFGHI", "ABCDXFGHI"), VersionClass::kV110,
                 "Norvane App1 Version:ABCDE  Norvane App2 Version:ABCDX  counter:FGHI"},
        LineCase{"TwoVersionsV200", Reply("ABCDEFGHI", "ABCDXFGHI"), VersionClass::kV200,
                 "Norvane App1 Version:ABCDE  Norvane App2 Version:ABCDX  counter:FGHI"},
        LineCase{"TwoVersionsV100", Reply("ABCDEFGHI", "ABCDXFGHI"), VersionClass::kV100,
                 "Norvane App1 Version:ABCDEFGHI  Norvane App2 Version:ABCDXFGHI"},
        LineCase{"TwoVersionsUnknownCard", Reply("ABCDEFGHI", "ABCDXFGHI"), VersionClass::kUnknown,
                 "Norvane App1 Version:ABCDEFGHI  Norvane App2 Version:ABCDXFGHI"},
        LineCase{"OneVersionV110", Reply("ABCDEFGHI", "ABCDEFGHI"), VersionClass::kV110,
                 "Norvane App Version:ABCDE  counter:FGHI"},
        LineCase{"OneVersionV100", Reply("ABCDEFGHI", "ABCDEFGHI"), VersionClass::kV100,
                 "Norvane App Version:ABCDEFGHI"},
        LineCase{"OneVersionUnknownCard", Reply("ABCDEFGHI", "ABCDEFGHI"), VersionClass::kUnknown,
                 "Norvane App Version:ABCDEFGHI"},
        LineCase{"SameNineFirstLonger", Reply("ABCDEFGHIJK", "ABCDEFGHI"), VersionClass::kV200,
                 "Norvane App Version:ABCDEFG  counter:HIJK"},
        LineCase{"ZeroBytesCompareToo", Reply("ABC", "ABC"), VersionClass::kV100,
                 "Norvane App Version:ABC"},
        LineCase{"ZeroBytesDiffer", Reply("ABC", std::string("ABC\0\0\0\0\0X", 9)),
                 VersionClass::kV100, "Norvane App1 Version:ABC  Norvane App2 Version:ABC"},
        LineCase{"FirstRunsIntoSecond", Reply("ABCDEFGHIJKLMNOPQRST", "XY"), VersionClass::kV100,
                 "Norvane App1 Version:ABCDEFGHIJKLMNOPQRSTXY  Norvane App2 Version:XY"},
        LineCase{"NoZeroAnywhere", NoZeroAnywhere(), VersionClass::kV100,
                 "Norvane App1 Version:lmnopqrstuvwxyzabcdefghijklmn  Norvane App2 "
                 "Version:fghijklmn"},
        LineCase{"EmptyTextsWithCounter", Reply("", ""), VersionClass::kV110,
                 "Norvane App Vers  counter:ion:"},
        LineCase{"ShortTextsTwoVersions", Reply("A", "B"), VersionClass::kV200,
                 "Norvane App1 Version:A  Noe App2 Versi  counter:on:B"},
        LineCase{"HighBytesKept", Reply("\xC3\xA9t\xE9", "\xFF\x80"), VersionClass::kV100,
                 "Norvane App1 Version:\xC3\xA9t\xE9  Norvane App2 Version:\xFF\x80"}),
    [](const auto& info) { return info.param.name; });

TEST(CardInfoTextTest, JoinsCardLineApplicationLineAndBreaks) {
  EXPECT_EQ(CardInfoTextOf(ReadCardInfo(VersionClass::kV110, Reply("ABCDEFGHI", "ABCDXFGHI"))),
            kV110 + "Norvane App1 Version:ABCDE  Norvane App2 Version:ABCDX  counter:FGHI\r\n\r\n");
  EXPECT_EQ(CardInfoTextOf(ReadCardInfo(VersionClass::kUnknown, Reply("V1", "V1"))),
            "Norvane App Version:V1\r\n\r\n");
}

// The versions and counter as the operator reads them on the application line.
struct FieldsCase {
  const char* name;
  std::array<uint8_t, kCardInfoReplyBytes> reply;
  VersionClass version;
  std::vector<std::string> versions;
  std::optional<std::string> counter;
};

class CardInfoFieldsTest : public ::testing::TestWithParam<FieldsCase> {};

TEST_P(CardInfoFieldsTest, SplitsVersionsAndCounter) {
  const CardInfo info = ReadCardInfo(GetParam().version, GetParam().reply);
  EXPECT_EQ(info.versions, GetParam().versions);
  EXPECT_EQ(info.counter, GetParam().counter);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, CardInfoFieldsTest,
    ::testing::Values(FieldsCase{"OneVersionWithCounter",
                                 Reply("V3.050500", "V3.050500"),
                                 VersionClass::kV200,
                                 {"V3.05"},
                                 "0500"},
                      FieldsCase{"TwoVersionsWithCounter",
                                 Reply("ABCDEFGHI", "ABCDXFGHI"),
                                 VersionClass::kV110,
                                 {"ABCDE", "ABCDX"},
                                 "FGHI"},
                      FieldsCase{"OldCardHasNoCounter",
                                 Reply("ABCDEFGHI", "ABCDXFGHI"),
                                 VersionClass::kV100,
                                 {"ABCDEFGHI", "ABCDXFGHI"},
                                 std::nullopt},
                      FieldsCase{"UnknownCardHasNoCounter",
                                 Reply("X1", "X1"),
                                 VersionClass::kUnknown,
                                 {"X1"},
                                 std::nullopt},
                      FieldsCase{
                          "ShortTextIsAllCounter", Reply("", ""), VersionClass::kV110, {""}, ""}),
    [](const auto& info) { return info.param.name; });

// --- the whole query -----------------------------------------------------------------

class RecordingPauser : public Pauser {
 public:
  void Sleep(uint32_t ms) override { sleeps.push_back(ms); }
  std::vector<uint32_t> sleeps;
};

std::vector<uint8_t> Atr(uint8_t byte17, size_t length = 19) {
  std::vector<uint8_t> atr(length, 0x11);
  atr[0] = 0x3B;
  if (length > 17) {
    atr[17] = byte17;
  }
  return atr;
}

std::vector<uint8_t> Response(const std::array<uint8_t, kCardInfoReplyBytes>& head,
                              uint8_t sw1 = 0x90, uint8_t sw2 = 0x00) {
  std::vector<uint8_t> bytes(head.begin(), head.end());
  bytes.insert(bytes.end(), {0xE1, 0xE2, 0xE3, 0xE4, sw1, sw2});
  return bytes;
}

class GetCardInfoTest : public ::testing::Test {
 protected:
  GetCardInfoTest() {
    pcsc.readers = {"Alpha"};
    ReloadReaderList(access, panel);
    OnReaderModeClicked(access, panel, kPcscRadio);
    panel.ClearLog();
    pcsc.calls.clear();
  }

  void Run() { GetCardInfo(panel, access, pauser); }

  FakePcsc pcsc;
  FakeOrvo orvo;
  RecordingPanel panel;
  RecordingPauser pauser;
  CardAccess access{pcsc, orvo};
};

struct QueryCase {
  const char* name;
  std::vector<uint8_t> atr;
  std::vector<FakePcsc::Reply> replies;
  std::string status_text;
  std::string card_info_text;
  bool beep_before_refresh;
  uint8_t beep_hz_tag;  // 'o' for the success tone, 'e' for the error tone
};

class QueryTest : public GetCardInfoTest, public ::testing::WithParamInterface<QueryCase> {};

TEST_P(QueryTest, TextsAndSignalOrder) {
  const QueryCase& c = GetParam();
  pcsc.atr = c.atr;
  pcsc.replies.assign(c.replies.begin(), c.replies.end());
  panel.Controls().status_box = "old status";
  panel.Controls().card_info_box = "old info";

  Run();

  EXPECT_EQ(panel.StatusText(), c.status_text);
  EXPECT_EQ(panel.CardInfoText(), c.card_info_text);
  const std::string beep = c.beep_hz_tag == 'o' ? "beep 900 100" : "beep 1000 600";
  const std::string refresh = "refresh";
  EXPECT_EQ(panel.Controls().status_box, c.status_text);
  if (c.beep_before_refresh) {
    EXPECT_THAT(panel.Log(), ElementsAre("readcontrols", "pos 0", beep, refresh));
  } else {
    EXPECT_THAT(panel.Log(), ElementsAre("readcontrols", "pos 0", refresh, beep));
  }
  EXPECT_THAT(pauser.sleeps, ElementsAre(100u));
}

const auto kExample = Reply("ABCDEFGHI", "ABCDXFGHI");
const auto kSingle = Reply("ABCDEFGHI", "ABCDEFGHI");
const std::string kExampleLine =
    "Norvane App1 Version:ABCDE  Norvane App2 Version:ABCDX  counter:FGHI";

QueryCase Success(const char* name, uint8_t byte17, uint8_t sw1, uint8_t sw2,
                  const std::array<uint8_t, kCardInfoReplyBytes>& reply, const std::string& text) {
  return QueryCase{
      name, Atr(byte17), {{0, {sw1, sw2}}, {0, Response(reply)}}, text + kSuccess, text, true, 'o'};
}

QueryCase Failure(const char* name, std::vector<uint8_t> atr, std::vector<FakePcsc::Reply> replies,
                  std::string status, bool beep_first) {
  return QueryCase{name, std::move(atr), std::move(replies), std::move(status), "", beep_first,
                   'e'};
}

INSTANTIATE_TEST_SUITE_P(
    Replies, QueryTest,
    ::testing::Values(
        Success("WorkedExample", 0x03, 0x61, 0x2C, kExample, kV110 + kExampleLine + "\r\n\r\n"),
        Success("V200TwoVersions", 0x04, 0x61, 0x2C, kExample, kV200 + kExampleLine + "\r\n\r\n"),
        Success("V100TwoVersions", 0x02, 0x61, 0x2C, kExample,
                kV100 + "Norvane App1 Version:ABCDEFGHI  Norvane App2 Version:ABCDXFGHI\r\n\r\n"),
        Success("V110OneVersion", 0x03, 0x61, 0x2C, kSingle,
                kV110 + "Norvane App Version:ABCDE  counter:FGHI\r\n\r\n"),
        Success("V100OneVersion", 0x02, 0x61, 0x2C, kSingle,
                kV100 + "Norvane App Version:ABCDEFGHI\r\n\r\n"),
        Success("QueryAnswers9F", 0x04, 0x9F, 0x2C, kSingle,
                kV200 + "Norvane App Version:ABCDE  counter:FGHI\r\n\r\n"),
        Success("QueryAnswers9000", 0x04, 0x90, 0x00, kSingle,
                kV200 + "Norvane App Version:ABCDE  counter:FGHI\r\n\r\n"),
        Success("UnknownCardNoLabel", 0x07, 0x61, 0x2C, kExample,
                "Norvane App1 Version:ABCDEFGHI  Norvane App2 Version:ABCDXFGHI\r\n\r\n"),
        Failure("QueryStatusRefused", Atr(0x04), {{0, {0x6D, 0x00}}},
                kV200 + "Get Card Info Error! SW=0x6d00", true),
        Failure("QueryStatusUpperHex", Atr(0x02), {{0, {0x01, 0x02, 0x6A, 0xFF}}},
                kV100 + "Get Card Info Error! SW=0x6aff", true),
        Failure("GetResponse6110", Atr(0x03), {{0, {0x61, 0x2C}}, {0, {0x61, 0x10}}},
                kV110 + "Get Card Info Error! SW=0x6110", true),
        Failure("GetResponse9F00", Atr(0x03), {{0, {0x61, 0x2C}}, {0, {0x9F, 0x00}}},
                kV110 + "Get Card Info Error! SW=0x9f00", true),
        Failure("QueryNotExchanged", Atr(0x03), {{SCARD_W_REMOVED_CARD, {}}},
                kV110 + " Get Card Info commumation Error!", false),
        Failure("QueryWithoutStatusWord", Atr(0x03), {{0, {0x90}}},
                kV110 + " Get Card Info commumation Error!", false),
        Failure("GetResponseNotExchanged", Atr(0x04),
                {{0, {0x61, 0x2C}}, {SCARD_E_NOT_TRANSACTED, {}}},
                kV200 + "Get Card Info commumation Error!", false),
        Failure("ShortAtrEmptyCardLine", Atr(0x03, 17), {{SCARD_E_NOT_TRANSACTED, {}}},
                " Get Card Info commumation Error!", false),
        Failure("ShortAtrStatusWord", Atr(0x03, 12), {{0, {0x6E, 0x00}}},
                "Get Card Info Error! SW=0x6e00", true)),
    [](const auto& info) { return info.param.name; });

TEST_F(GetCardInfoTest, SendsBothCommandsWithTheWholeBufferAsCapacity) {
  pcsc.atr = Atr(0x03);
  pcsc.replies = {{0, {0x61, 0x2C}}, {0, Response(kExample)}};
  Run();
  EXPECT_THAT(pcsc.commands, ElementsAre(ElementsAre(0xF0, 0x88, 0x00, 0x00, 0x08, 0x11, 0x22, 0x33,
                                                     0x44, 0x55, 0x66, 0x77, 0x88),
                                         ElementsAre(0x00, 0xC0, 0x00, 0x00, 0x2C)));
  EXPECT_THAT(pcsc.calls, ::testing::Contains("Transmit(0x2001,T1,13,300)"));
  EXPECT_THAT(pcsc.calls, ::testing::Contains("Transmit(0x2001,T1,5,300)"));
  EXPECT_EQ(access.Exchange().last_result, 0);
}

TEST_F(GetCardInfoTest, KeepsTheFailedExchangeResult) {
  pcsc.atr = Atr(0x03);
  pcsc.replies = {{0, {0x61, 0x2C}}, {SCARD_E_NOT_TRANSACTED, {}}};
  Run();
  EXPECT_EQ(access.Exchange().last_result, static_cast<int32_t>(SCARD_E_NOT_TRANSACTED));
  pcsc.replies = {{0, {0x90}}};
  Run();
  EXPECT_EQ(access.Exchange().last_result, static_cast<int32_t>(SCARD_F_COMM_ERROR));
}

TEST_F(GetCardInfoTest, ShortGetResponseTakesStaleBytesOfEarlierExchanges) {
  pcsc.atr = Atr(0x02);
  // An earlier exchange left its bytes in the response buffer.
  ApduExchange& ex = access.Exchange();
  const std::string stale = "STALE1234";
  std::copy(stale.begin(), stale.end(), ex.response + 31);
  std::vector<uint8_t> short_reply(11, 0x00);
  const std::string version = "ABCDEFGHI";
  short_reply.insert(short_reply.end(), version.begin(), version.end());
  short_reply.insert(short_reply.end(), {0x90, 0x00});  // 22 bytes: SW lands at 20 and 21
  pcsc.replies = {{0, {0x61, 0x2C}}, {0, short_reply}};

  Run();

  EXPECT_EQ(panel.CardInfoText(),
            kV100 + "Norvane App1 Version:ABCDEFGHI\x90  Norvane App2 Version:STALE1234\r\n\r\n");
  EXPECT_EQ(panel.StatusText(), panel.CardInfoText() + kSuccess);
}

TEST_F(GetCardInfoTest, AtrBufferIsZeroedBeforeTheReset) {
  // A longer ATR from an earlier card must not leave its version byte behind.
  std::fill(std::begin(access.Connection().atr), std::end(access.Connection().atr), 0x04);
  pcsc.atr = Atr(0x00, 10);
  pcsc.replies = {{SCARD_E_NOT_TRANSACTED, {}}};
  Run();
  EXPECT_EQ(panel.StatusText(), " Get Card Info commumation Error!");
}

TEST_F(GetCardInfoTest, PcscConnectFailureBeepsInEachResetThenReports) {
  pcsc.connect_results = {SCARD_W_REMOVED_CARD, SCARD_W_REMOVED_CARD};
  Run();
  const std::string message = "Error: The smart Chip has been removed!";
  EXPECT_THAT(panel.Log(),
              ElementsAre("readcontrols", "pos 0", "refresh", "beep 1000 600", "refresh",
                          "beep 1000 600", "beep 1000 600", "refresh", "appbox Card Reset Error!"));
  EXPECT_EQ(panel.Controls().status_box, message);
  EXPECT_EQ(panel.CardInfoText(), "");
  EXPECT_TRUE(pcsc.commands.empty());
}

TEST_F(GetCardInfoTest, OnlyTheSecondResetCounts) {
  pcsc.connect_results = {SCARD_W_REMOVED_CARD, SCARD_S_SUCCESS};
  pcsc.atr = Atr(0x04);
  access.Connection().atr_length = 19;
  pcsc.replies = {{0, {0x61, 0x2C}}, {0, Response(kSingle)}};
  Run();
  EXPECT_EQ(panel.StatusText(),
            kV200 + "Norvane App Version:ABCDE  counter:FGHI\r\n\r\n" + kSuccess);
}

struct OrvoResetFailureCase {
  int32_t open_result;
  std::vector<int32_t> reset_results;
  std::string message;
};

class OrvoQueryTest : public GetCardInfoTest,
                      public ::testing::WithParamInterface<OrvoResetFailureCase> {};

TEST_P(OrvoQueryTest, ResetFailureShowsResetMessageAndBox) {
  OnReaderModeClicked(access, panel, kOrvoRadio);
  panel.ClearLog();
  orvo.open_results = {GetParam().open_result, GetParam().open_result};
  orvo.reset_results.assign(GetParam().reset_results.begin(), GetParam().reset_results.end());
  panel.Controls().counter_box = "0";  // the window complains, the query goes on
  Run();
  EXPECT_THAT(panel.Log(), ElementsAre("readcontrols", "appbox " + CounterRangeMessage(), "pos 0",
                                       "beep 1000 600", "refresh", "appbox Card Reset Error!"));
  EXPECT_EQ(panel.Controls().status_box, GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, OrvoQueryTest,
    ::testing::Values(OrvoResetFailureCase{-2, {}, "Error: Reader open error!"},
                      OrvoResetFailureCase{3, {-13, -13}, "Error: Card connect error!"}));

TEST_F(GetCardInfoTest, WorksOverTheOrvoReader) {
  OnReaderModeClicked(access, panel, kOrvoRadio);
  panel.ClearLog();
  orvo.atr = Atr(0x03);
  orvo.replies = {{0, {0x61, 0x2C}}, {0, Response(kExample)}};
  Run();
  EXPECT_EQ(panel.CardInfoText(), kV110 + kExampleLine + "\r\n\r\n");
  EXPECT_THAT(orvo.calls, ElementsAre("Open", "Reset(1,0)", "Close(1)", "Open", "Reset(2,0)",
                                      "Apdu(2,0,13,200,300)", "Apdu(2,0,5,200,300)"));
}

}  // namespace
}  // namespace pelliton
