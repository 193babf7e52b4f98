// One APDU round trip through pcscd + vpcd + tessiv-sim. Run inside the rig:
//   tests/rig/pcsc-rig build/bench/sim/sim_bench --benchmark_repetitions=5
#include <benchmark/benchmark.h>
#include <winscard.h>

#include <vector>

#include "tests/rig/sim_process.h"

namespace {

using pelliton::rig::RigReaderName;
using pelliton::rig::SimProcess;
using pelliton::rig::VpcdPort;

void RoundTrip(benchmark::State& state, std::vector<uint8_t> apdu) {
  if (VpcdPort() == 0) {
    state.SkipWithError("run through tests/rig/pcsc-rig");
    return;
  }
  SimProcess sim;
  SCARDCONTEXT context = 0;
  SCARDHANDLE card = 0;
  DWORD protocol = 0;
  if (!sim.StartAndWait(0) ||
      SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context) != SCARD_S_SUCCESS ||
      SCardConnect(context, RigReaderName(0).c_str(), SCARD_SHARE_SHARED,
                   SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &card, &protocol) != SCARD_S_SUCCESS) {
    state.SkipWithError("no card in the rig");
    return;
  }
  const SCARD_IO_REQUEST header = {protocol, sizeof(SCARD_IO_REQUEST)};
  uint8_t reply[300];
  for (auto _ : state) {
    DWORD length = sizeof reply;
    if (SCardTransmit(card, &header, apdu.data(), static_cast<DWORD>(apdu.size()), nullptr, reply,
                      &length) != SCARD_S_SUCCESS) {
      state.SkipWithError("transmit failed");
      break;
    }
    benchmark::DoNotOptimize(reply);
  }
  SCardDisconnect(card, SCARD_UNPOWER_CARD);
  SCardReleaseContext(context);
}

void GetChallenge(benchmark::State& state) {
  RoundTrip(state, {0x00, 0x84, 0x00, 0x00, 0x04});
}

// A load command as the download sends it: 5 header bytes and 128 data bytes.
void Load128(benchmark::State& state) {
  std::vector<uint8_t> apdu = {0xF0, 0xDC, 0x00, 0x00, 0x80};
  apdu.resize(133, 0x5A);
  RoundTrip(state, apdu);
}

BENCHMARK(GetChallenge)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(Load128)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
