// Cost of the card information query on our side of the card: the reply decoding alone,
// and the whole query over the in-process PC/SC service and over the simulated Orvo
// reader (link framing and HID reports included, no real device).
#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <string>
#include <vector>

#include "cardaccess/card_access.h"
#include "cardaccess/reader_controls.h"
#include "engine/card_info.h"
#include "reader/reader_api.h"
#include "sim/reader/simulated_orvo_reader.h"
#include "tests/support/fake_pcsc.h"
#include "tests/support/recording_panel.h"
#include "tests/support/sim_pcsc.h"

namespace {

using namespace pelliton;

class InfoCard : public sim::CardModel {
 public:
  bool Present() const override { return true; }
  std::vector<uint8_t> PowerOn() override {
    return {0x3B, 0x9F, 0x95, 0x81, 0x31, 0xFE, 0x9F, 0x00, 0x66, 0x46,
            0x53, 0x05, 0x10, 0x00, 0x11, 0x71, 0xDF, 0x03, 0x00};
  }
  void PowerOff() override {}
  std::vector<uint8_t> Transmit(const uint8_t* apdu, size_t length) override {
    if (length >= 2 && apdu[0] == 0xF0) {
      return {0x61, 0x2C};
    }
    std::vector<uint8_t> reply(44, 0);
    const std::string first = "ABCDEFGHI";
    const std::string second = "ABCDXFGHI";
    std::copy(first.begin(), first.end(), reply.begin() + 11);
    std::copy(second.begin(), second.end(), reply.begin() + 31);
    reply.insert(reply.end(), {0x90, 0x00});
    return reply;
  }
};

class NoPause : public Pauser {
 public:
  void Sleep(uint32_t) override {}
};

void BM_CardInfoText(benchmark::State& state) {
  std::array<uint8_t, kCardInfoReplyBytes> reply{};
  const std::string first = "ABCDEFGHI";
  std::copy(first.begin(), first.end(), reply.begin() + 11);
  reply[31] = 'X';
  for (auto _ : state) {
    benchmark::DoNotOptimize(CardInfoTextOf(ReadCardInfo(VersionClass::kV110, reply)));
  }
}
BENCHMARK(BM_CardInfoText);

void BM_GetCardInfoOverSimPcsc(benchmark::State& state) {
  InfoCard card;
  testing::SimPcsc pcsc;
  pcsc.AttachReader("Reader", &card);
  SystemOrvo orvo;
  CardAccess access(pcsc, orvo);
  RecordingPanel panel;
  NoPause pauser;
  ReloadReaderList(access, panel);
  OnReaderModeClicked(access, panel, kPcscRadio);
  for (auto _ : state) {
    GetCardInfo(panel, access, pauser);
    panel.ClearLog();
  }
  if (panel.CardInfoText().empty()) {
    state.SkipWithError("query failed");
  }
}
BENCHMARK(BM_GetCardInfoOverSimPcsc);

void BM_GetCardInfoOverSimulatedOrvoReader(benchmark::State& state) {
  InfoCard card;
  sim::SimulatedOrvoReader reader(&card);
  reader.Install();
  testing::FakePcsc pcsc;
  SystemOrvo orvo;
  CardAccess access(pcsc, orvo);
  RecordingPanel panel;
  NoPause pauser;
  for (auto _ : state) {
    GetCardInfo(panel, access, pauser);
    panel.ClearLog();
  }
  if (panel.CardInfoText().empty()) {
    state.SkipWithError("query failed");
  }
  if (access.Connection().handle_kind == HandleKind::Orvo) {
    DllCloseReader(static_cast<int32_t>(access.Connection().card_handle));
  }
  reader.Uninstall();
}
BENCHMARK(BM_GetCardInfoOverSimulatedOrvoReader);

}  // namespace
