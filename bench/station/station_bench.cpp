// How the station scales: pelliton-cli download --each-card --readers over N virtual
// readers (N = 1, 2, 4, 8), each with its own tessiv-sim whose card leaves after the
// download's last command and is replaced by a fresh one, a fixed number of cards per
// reader. Prints cards per minute per N, the median of several rounds.
//
// station_bench [CARDS_PER_READER [ROUNDS]]   (20 and 3 by default)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "tests/cli/cli_process.h"
#include "tests/rig/sim_process.h"

namespace {

using Clock = std::chrono::steady_clock;

// Commands the download of the example script sends.
constexpr int kDownloadCommands = 44;

// Cards per minute of one round on the first `readers` rig readers; negative on failure.
double Round(int readers, int cards) {
  std::vector<std::unique_ptr<pelliton::rig::SimProcess>> sims;
  std::string names;
  for (int k = 0; k < readers; ++k) {
    sims.push_back(std::make_unique<pelliton::rig::SimProcess>());
    if (!sims.back()->StartAndWait(k, {"--cards", std::to_string(cards), "--remove-after",
                                       std::to_string(kDownloadCommands)})) {
      std::fprintf(stderr, "station_bench: no card on reader %d\n", k);
      return -1;
    }
    // By name: the service's numbering follows the order it read its configuration in.
    names += (k == 0 ? "" : ",") + pelliton::rig::RigReaderName(k);
  }
  const pelliton::ScratchDir dir;
  pelliton::cli::CliProcess cli(dir);
  const auto start = Clock::now();
  if (!cli.Start({"download", PELLITON_EXAMPLE_SCRIPT, "--no-journal", "--each-card", "--cards",
                  std::to_string(cards), "--readers", names, "--json"})) {
    std::fprintf(stderr, "station_bench: pelliton-cli did not start\n");
    return -1;
  }
  const int status = cli.Wait(10 * 60 * 1000);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (status != 0) {
    std::fprintf(stderr, "station_bench: pelliton-cli ended with %d\n", status);
    return -1;
  }
  return readers * cards * 60.0 / seconds;
}

}  // namespace

int main(int argc, char** argv) {
  const int cards = argc > 1 ? std::atoi(argv[1]) : 20;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  if (cards < 1 || rounds < 1) {
    std::fprintf(stderr, "usage: station_bench [CARDS_PER_READER [ROUNDS]]\n");
    return 2;
  }
  if (pelliton::rig::VpcdPort() == 0 || pelliton::rig::RigReaderName(7).empty()) {
    std::fprintf(stderr, "station_bench: run it in a rig with PELLITON_RIG_PORT_PAIRS=4\n");
    return 77;
  }
  std::printf("readers  cards/reader  rounds  cards/min (median)  vs 1 reader\n");
  double single = 0;
  for (const int readers : {1, 2, 4, 8}) {
    std::vector<double> rates;
    for (int round = 0; round < rounds; ++round) {
      const double rate = Round(readers, cards);
      if (rate < 0)
        return 1;
      rates.push_back(rate);
    }
    std::sort(rates.begin(), rates.end());
    const double median = rates[rates.size() / 2];
    if (readers == 1)
      single = median;
    std::printf("%7d  %12d  %6d  %18.1f  %10.2fx\n", readers, cards, rounds, median,
                median / single);
    std::fflush(stdout);
  }
  return 0;
}
