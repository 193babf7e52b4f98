// pelliton-cli: the tool's procedures from a terminal or a production-line script.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cardaccess/orvo_api.h"
#include "cardaccess/pcsc_api.h"
#include "cli/args.h"
#include "cli/journal_command.h"
#include "cli/pcsc_presence.h"
#include "cli/runs.h"
#include "cli/trace.h"
#include "reader/hid_device.h"
#include "reader/protocol.h"

namespace {

bool OrvoReaderAttached() {
  using namespace pelliton::reader;
  const std::vector<HidDeviceInfo> devices = CurrentHidBackend().Enumerate();
  return std::any_of(devices.begin(), devices.end(), IsOrvoReader);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace pelliton;
  using namespace pelliton::cli;

  const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  const ParseOutcome parsed = ParseArgs(args);
  if (!parsed.ok) {
    std::fprintf(stderr, "pelliton-cli: %s\n\n%s", parsed.error.c_str(), UsageText().c_str());
    return kExitUsage;
  }
  const CliOptions& options = parsed.options;
  Streams streams;
  streams.out_is_terminal = isatty(fileno(stdout)) == 1;

  SystemPcsc system_pcsc;
  SystemOrvo system_orvo;
  TracingPcsc traced_pcsc(system_pcsc, stderr);
  TracingOrvo traced_orvo(system_orvo, stderr);
  PcscApi& pcsc = options.trace ? static_cast<PcscApi&>(traced_pcsc) : system_pcsc;
  OrvoApi& orvo = options.trace ? static_cast<OrvoApi&>(traced_orvo) : system_orvo;

  switch (options.command) {
    case Command::kHelp:
      std::fputs(UsageText().c_str(), stdout);
      return kExitSuccess;
    case Command::kReaders:
      return RunReaders(options, pcsc, orvo, OrvoReaderAttached(), streams);
    case Command::kCheck:
      return RunCheck(options, streams);
    case Command::kJournal:
      return RunJournalCommand(options, streams.out, streams.err);
    case Command::kInfo:
    case Command::kDownload:
      break;
  }

  // Before any card is touched: a card run without its record is what the journal exists
  // to prevent.
  std::unique_ptr<journal::Journal> journal;
  if (!OpenRunJournal(options, streams.err, &journal))
    return kExitJournal;

  RealPauser pauser;
  std::atomic<bool> stop{false};
  if (!options.each_card)
    return RunOnCard(options, pcsc, orvo, pauser, nullptr, stop, streams, journal.get());
  PcscPresence presence(stop);
  StopOnSignals signals(stop, presence);
  return RunOnCard(options, pcsc, orvo, pauser, &presence, stop, streams, journal.get());
}
