// Card access over the real Orvo reader code, with the simulated reader on the HID seam.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "cardaccess/card_access.h"
#include "cardaccess/reader_controls.h"
#include "engine/card_info.h"
#include "reader/bounded_calls.h"
#include "reader/reader_api.h"
#include "sim/reader/simulated_orvo_reader.h"
#include "tests/support/fake_pcsc.h"
#include "tests/support/recording_panel.h"

namespace pelliton {
namespace {

using ::testing::ElementsAre;
using testing::FakePcsc;

// Answers the card information query the way a V1.10 card holding two versions does,
// and anything else with a reply the test sets.
class InfoCard : public sim::CardModel {
 public:
  bool Present() const override { return present; }
  std::vector<uint8_t> PowerOn() override { return present ? atr : std::vector<uint8_t>{}; }
  void PowerOff() override {}
  std::vector<uint8_t> Transmit(const uint8_t* apdu, size_t length) override {
    received.emplace_back(apdu, apdu + length);
    if (length >= 2 && apdu[0] == 0xF0 && apdu[1] == 0x88) {
      return {0x61, 0x2C};
    }
    if (length >= 2 && apdu[0] == 0x00 && apdu[1] == 0xC0) {
      std::vector<uint8_t> reply(44, 0);
      const std::string first = "ABCDEFGHI";
      const std::string second = "ABCDXFGHI";
      std::copy(first.begin(), first.end(), reply.begin() + 11);
      std::copy(second.begin(), second.end(), reply.begin() + 31);
      reply.insert(reply.end(), {0x90, 0x00});
      return reply;
    }
    return other_reply;
  }

  bool present = true;
  std::vector<uint8_t> atr = {0x3B, 0x9F, 0x95, 0x81, 0x31, 0xFE, 0x9F, 0x00, 0x66, 0x46,
                              0x53, 0x05, 0x10, 0x00, 0x11, 0x71, 0xDF, 0x03, 0x00};
  std::vector<uint8_t> other_reply = {0x90, 0x00};
  std::vector<std::vector<uint8_t>> received;
};

class NoPause : public Pauser {
 public:
  void Sleep(uint32_t) override {}
};

class OrvoPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reader_.Install();
    reader_.SetReplyDeadline(std::chrono::milliseconds(40));
  }
  void TearDown() override {
    // The tool never closes the reader at the end; the tests do, so none leaks into the next.
    if (access.Connection().handle_kind == HandleKind::Orvo) {
      DllCloseReader(static_cast<int32_t>(access.Connection().card_handle));
    }
    reader_.Uninstall();
  }

  int32_t Send(std::vector<uint8_t> command) {
    ApduExchange& ex = access.Exchange();
    std::copy(command.begin(), command.end(), ex.command);
    ex.command_length = static_cast<int32_t>(command.size());
    ex.response_length = kApduBufferSize;
    ex.last_result = access.TransmitApdu();
    return ex.last_result;
  }

  InfoCard card;
  sim::SimulatedOrvoReader reader_{&card};
  FakePcsc pcsc;
  SystemOrvo orvo;
  RecordingPanel panel;
  CardAccess access{pcsc, orvo};
};

TEST_F(OrvoPathTest, UnpluggedReaderIsReportedAndNeverClosed) {
  reader_.Unplug();
  EXPECT_EQ(ResetCardShowingFault(access, panel), -2);
  EXPECT_EQ(panel.StatusText(), "Error: Reader open error!");
  EXPECT_EQ(access.Connection().card_handle, -2);
  EXPECT_EQ(ResetCardShowingFault(access, panel), -2);
  EXPECT_EQ(reader::OpenReaderCount(), 0u);
  EXPECT_TRUE(panel.Log().empty()) << "no refresh, no beep";
}

TEST_F(OrvoPathTest, ReaderWithoutCardGivesCardConnectError) {
  card.present = false;
  EXPECT_EQ(ResetCardShowingFault(access, panel), kOrvoResetFailed);
  EXPECT_EQ(panel.StatusText(), "Error: Card connect error!");
  EXPECT_EQ(reader::OpenReaderCount(), 1u);
  EXPECT_EQ(ResetCardShowingFault(access, panel), kOrvoResetFailed);
  EXPECT_EQ(reader::OpenReaderCount(), 1u) << "the previous handle is closed before reopening";
}

TEST_F(OrvoPathTest, ResetReadsAtrAndExchangesReachTheCard) {
  ASSERT_EQ(ResetCardShowingFault(access, panel), 0);
  EXPECT_EQ(access.Connection().atr_length, 19u);
  EXPECT_EQ(access.Connection().atr[17], 0x03);
  card.other_reply = {0x01, 0x02, 0x03, 0x6A, 0x82};
  EXPECT_EQ(Send({0x00, 0xA4, 0x04, 0x00, 0x02, 0x3F, 0x00}), 0);
  EXPECT_EQ(access.Exchange().response_length, 5u);
  EXPECT_EQ(access.Exchange().response[3], 0x6A);
  EXPECT_THAT(card.received.back(), ElementsAre(0x00, 0xA4, 0x04, 0x00, 0x02, 0x3F, 0x00));
}

struct OrvoFaultCase {
  const char* name;
  std::vector<uint8_t> reply;
  uint8_t injected_status;  // 0: none
  int32_t expected;
};

class OrvoFaultTest : public OrvoPathTest, public ::testing::WithParamInterface<OrvoFaultCase> {};

TEST_P(OrvoFaultTest, FailedExchangeLeavesTwoHundredAndNothingPastTheBuffer) {
  ASSERT_EQ(ResetCardShowingFault(access, panel), 0);
  card.other_reply = GetParam().reply;
  if (GetParam().injected_status != 0) {
    reader_.InjectStatus(GetParam().injected_status);
  }
  access.Exchange().last_result = 0x1234;
  const int32_t result = [&] {
    ApduExchange& ex = access.Exchange();
    ex.command[0] = 0x80;
    ex.command_length = 5;
    return access.TransmitApdu();
  }();
  EXPECT_EQ(result, GetParam().expected);
  EXPECT_EQ(access.Exchange().response_length, 200u);
  EXPECT_EQ(access.Exchange().last_result, 0x1234) << "the field after the buffer is intact";
}

INSTANTIATE_TEST_SUITE_P(Faults, OrvoFaultTest,
                         ::testing::Values(OrvoFaultCase{"ReaderStatus01", {0x90, 0x00}, 0x01, -14},
                                           OrvoFaultCase{"NoCardStatus", {0x90, 0x00}, 0xFE, -11},
                                           OrvoFaultCase{"ResponseAboveBuffer",
                                                         std::vector<uint8_t>(301, 0x61), 0, -31},
                                           OrvoFaultCase{"ResponseOfOneByte", {0x90}, 0, -32}),
                         [](const auto& info) { return info.param.name; });

TEST_F(OrvoPathTest, ReaderHandleOutlivesSwitchToPcscAndIsClosedOnce) {
  ASSERT_EQ(ResetCardShowingFault(access, panel), 0);
  ASSERT_EQ(reader::OpenReaderCount(), 1u);
  pcsc.readers = {"Alpha"};
  ReloadReaderList(access, panel);
  OnReaderModeClicked(access, panel, kPcscRadio);
  EXPECT_EQ(reader::OpenReaderCount(), 1u) << "a mode switch closes nothing";
  pcsc.atr = {0x3B, 0x00};
  access.Connection().atr_length = 2;
  ASSERT_EQ(ResetCardShowingFault(access, panel), 0);
  EXPECT_EQ(reader::OpenReaderCount(), 0u);
  ASSERT_EQ(ResetCardShowingFault(access, panel), 0);
  EXPECT_EQ(reader::OpenReaderCount(), 0u);
  EXPECT_THAT(pcsc.calls, ::testing::Contains("Disconnect(0x2000,2)"));
}

TEST_F(OrvoPathTest, CardInformationOverTheReader) {
  NoPause pauser;
  GetCardInfo(panel, access, pauser);
  EXPECT_EQ(panel.CardInfoText(),
            "Tessiv Card Version: V1.10 \r\n\r\n"
            "Norvane App1 Version:ABCDE  Norvane App2 Version:ABCDX  counter:FGHI\r\n\r\n");
  EXPECT_EQ(
      panel.Controls().status_box,
      panel.CardInfoText() + "Obtained upgrade card information for Norvane-IC Successfully!");
  EXPECT_EQ(reader::OpenReaderCount(), 1u);
}

}  // namespace
}  // namespace pelliton
