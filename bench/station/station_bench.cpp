// How the station scales: pelliton-cli download --each-card --readers over N virtual
// readers (N = 1, 2, 4, 8, 16; 16 is pcsc-lite's reader limit), each with its own
// tessiv-sim whose card leaves after the download's last command and is replaced by a fresh
// one, a fixed number of cards per reader. One iteration is one such round, timed from
// pelliton-cli's start to its exit. Counters per round:
//   cards_per_min         cards of all readers per minute of the round
//   cpu_s_per_card        user + system CPU of pelliton-cli (and any child of it) per card
//   pcscd_cpu_s_per_card  the rig's pcscd, per card, over the same time
//   sim_cpu_s_per_card    all the round's tessiv-sim processes, per card, same time
//   speedup               cards_per_min over the median of this run's 1-reader rounds
// Run it inside a rig of eight vpcd port pairs (fewer pairs skip the larger N):
//   PELLITON_RIG_PORT_PAIRS=8 tests/rig/pcsc-rig build/bench/station/station_bench
//     --benchmark_repetitions=3  (one command line)
// PELLITON_STATION_CARDS sets the cards per reader (20 unless set). The speed-up needs the
// 1-reader rounds to run first, as they do in the benchmark's own order (not with
// --benchmark_enable_random_interleaving).

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/cli/cli_process.h"
#include "tests/rig/sim_process.h"

namespace {

using pelliton::rig::ProcessCpuSeconds;
using pelliton::rig::SimProcess;

// Commands the download of the example script sends.
constexpr int kDownloadCommands = 44;

// Rates of this run's 1-reader rounds: the base of every speed-up.
std::vector<double>& SingleReaderRates() {
  static std::vector<double> rates;
  return rates;
}

int CardsPerReader() {
  const char* text = std::getenv("PELLITON_STATION_CARDS");
  const int cards = text != nullptr ? std::atoi(text) : 0;
  return cards > 0 ? cards : 20;
}

double Seconds(const timeval& time) {
  return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

// User + system CPU of the children this process has reaped so far.
double ReapedChildrenCpu() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

// CPU of the daemon and of every simulator, read from /proc; a process that cannot be read
// adds nothing, which only happens once it has been reaped.
struct RigCpu {
  double pcscd = 0;
  double sims = 0;
};
RigCpu ReadRigCpu(const std::vector<std::unique_ptr<SimProcess>>& sims) {
  RigCpu cpu;
  cpu.pcscd = ProcessCpuSeconds(pelliton::rig::RigPcscdPid()).value_or(0);
  for (const auto& sim : sims)
    cpu.sims += ProcessCpuSeconds(sim->pid()).value_or(0);
  return cpu;
}

struct Round {
  double seconds = 0;
  double cli_cpu = 0;
  RigCpu rig;
};

// One round on the first `readers` rig readers; an error text on failure.
std::optional<std::string> RunRound(int readers, int cards, Round* round) {
  std::vector<std::unique_ptr<SimProcess>> sims;
  std::string names;
  // All cards started first and waited for after: pcscd's polling then sees them together.
  for (int k = 0; k < readers; ++k) {
    sims.push_back(std::make_unique<SimProcess>());
    if (!sims.back()->Start(k, {"--cards", std::to_string(cards), "--remove-after",
                                std::to_string(kDownloadCommands)}))
      return "no simulator on reader " + std::to_string(k);
    // By name: the service's numbering follows the order it read its configuration in.
    names += (k == 0 ? "" : ",") + pelliton::rig::RigReaderName(k);
  }
  for (int k = 0; k < readers; ++k) {
    if (!sims[k]->WaitForInsertion())
      return "no card on reader " + std::to_string(k);
  }
  const pelliton::ScratchDir dir;
  pelliton::cli::CliProcess cli(dir);
  // Only pelliton-cli is reaped between the two readings: the simulators are reaped when
  // they are stopped, after the round.
  const double children_before = ReapedChildrenCpu();
  const RigCpu rig_before = ReadRigCpu(sims);
  const auto start = std::chrono::steady_clock::now();
  if (!cli.Start({"download", PELLITON_EXAMPLE_SCRIPT, "--no-journal", "--each-card", "--cards",
                  std::to_string(cards), "--readers", names, "--json"}))
    return std::string("pelliton-cli did not start");
  const int status = cli.Wait(10 * 60 * 1000);
  round->seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  round->cli_cpu = ReapedChildrenCpu() - children_before;
  const RigCpu rig_after = ReadRigCpu(sims);
  round->rig.pcscd = rig_after.pcscd - rig_before.pcscd;
  round->rig.sims = rig_after.sims - rig_before.sims;
  if (status != 0)
    return "pelliton-cli ended with " + std::to_string(status) + ": " + cli.Err();
  return std::nullopt;
}

void Station(benchmark::State& state) {
  const int readers = static_cast<int>(state.range(0));
  const int cards = CardsPerReader();
  if (pelliton::rig::VpcdPort() == 0) {
    state.SkipWithError("run it through tests/rig/pcsc-rig with PELLITON_RIG_PORT_PAIRS=8");
    return;
  }
  if (pelliton::rig::RigReaderName(readers - 1).empty()) {
    state.SkipWithError("the rig has too few readers: PELLITON_RIG_PORT_PAIRS=8");
    return;
  }
  Round total;
  int64_t done = 0;
  for (auto _ : state) {
    Round round;
    if (const auto error = RunRound(readers, cards, &round)) {
      state.SkipWithError(error->c_str());
      return;
    }
    state.SetIterationTime(round.seconds);
    total.seconds += round.seconds;
    total.cli_cpu += round.cli_cpu;
    total.rig.pcscd += round.rig.pcscd;
    total.rig.sims += round.rig.sims;
    done += static_cast<int64_t>(readers) * cards;
  }
  const double rate = static_cast<double>(done) * 60.0 / total.seconds;
  const auto per_card = [done](double seconds) { return seconds / static_cast<double>(done); };
  state.counters["cards_per_min"] = rate;
  state.counters["cpu_s_per_card"] = per_card(total.cli_cpu);
  state.counters["pcscd_cpu_s_per_card"] = per_card(total.rig.pcscd);
  state.counters["sim_cpu_s_per_card"] = per_card(total.rig.sims);
  auto& single = SingleReaderRates();
  if (readers == 1) {
    // The base itself: its median speed-up is 1 by definition.
    single.push_back(rate);
    state.counters["speedup"] = 1.0;
  } else if (!single.empty()) {
    std::vector<double> sorted = single;
    std::sort(sorted.begin(), sorted.end());
    const size_t middle = sorted.size() / 2;
    const double median =
        sorted.size() % 2 == 1 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2.0;
    state.counters["speedup"] = rate / median;
  } else {
    state.SetLabel("no 1-reader round ran: no speed-up");
  }
}

BENCHMARK(Station)
    ->ArgName("readers")
    ->Arg(1)
    ->Arg(2)
    ->Arg(4)
    ->Arg(8)
    ->Arg(16)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
