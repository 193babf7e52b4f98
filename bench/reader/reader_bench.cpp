// Host cost of one request/reply exchange through the simulated reader: frame
// building, report cutting, the device seam and reply gathering.
#include <benchmark/benchmark.h>

#include <vector>

#include "reader/link_frame.h"
#include "reader/reader_api.h"
#include "sim/reader/simulated_orvo_reader.h"

namespace {

void BM_Exchange(benchmark::State& state) {
  const auto payload_length = static_cast<int32_t>(state.range(0));
  pelliton::sim::SimulatedOrvoReader reader;
  reader.Install();
  const int32_t handle = DllOpenReader();
  if (handle <= 0) {
    state.SkipWithError("no simulated reader");
    return;
  }
  std::vector<uint8_t> payload(static_cast<size_t>(payload_length), 0x5A);
  uint8_t reply[594];
  int32_t reply_length = 0;
  size_t iterations = 0;
  for (auto _ : state) {
    if (SKSendData(handle, 0, 0x8C, payload.data(), payload_length) != 1 ||
        SKRevData(handle, 0, 0x8C, reply, &reply_length) != 1) {
      state.SkipWithError("exchange failed");
      break;
    }
    benchmark::DoNotOptimize(reply_length);
    if (++iterations % 4096 == 0) {
      reader.ClearRecords();  // the simulator keeps every report it was sent
    }
  }
  // Reports moved per exchange: the request's output reports and one input report.
  const double reports = static_cast<double>(
      pelliton::reader::ReportCount(static_cast<size_t>(payload_length) + 5) + 1);
  state.counters["per_report"] = benchmark::Counter(
      reports, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  DllCloseReader(handle);
  reader.Uninstall();
}
BENCHMARK(BM_Exchange)->Arg(5)->Arg(595);

}  // namespace

BENCHMARK_MAIN();
