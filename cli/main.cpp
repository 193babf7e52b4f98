// pelliton-cli: the tool's procedures from a terminal or a production-line script.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cardaccess/orvo_api.h"
#include "cardaccess/pcsc_api.h"
#include "cardaccess/trace.h"
#include "cardaccess/watchdog.h"
#include "cli/args.h"
#include "cli/commands/card.h"
#include "cli/commands/check.h"
#include "cli/commands/journal.h"
#include "cli/commands/plant.h"
#include "cli/commands/readers.h"
#include "cli/commands/report.h"
#include "cli/commands/station.h"
#include "cli/defaults.h"
#include "cli/platform/platform.h"
#include "cli/platform/signals.h"
#include "cli/render/console_panel.h"
#include "cli/render/output.h"
#include "pelliton/version.h"
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

  // A reader that went away (a closed terminal, a dead "| tee") is an output error to
  // report once the card is done, not a reason to die in the middle of it.
  PrepareStandardStreams();

  const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  const ParseOutcome parsed = ParseArgs(args, SystemDefaults());
  if (!parsed.ok) {
    std::fprintf(stderr, "pelliton-cli: %s\n", AsTerminalText(parsed.error).c_str());
    return kExitUsage;
  }
  const CliOptions& options = parsed.options;
  Streams streams;
  streams.out_is_terminal = IsTerminal(stdout);
  streams.err_is_terminal = IsTerminal(stderr);
  if (options.verbosity > 0) {
    for (const std::string& applied : options.defaults_applied)
      Emit(stderr, "pelliton-cli: default " + AsTerminalText(applied) + "\n");
  }

  SystemPcsc system_pcsc;
  SystemOrvo system_orvo;
  switch (options.command) {
    case Command::kHelp:
      Emit(stdout, parsed.help);
      return CheckedExit(kExitSuccess, streams);
    case Command::kVersion:
      Emit(stdout, std::string("pelliton-cli ") + kVersion + "\n");
      return CheckedExit(kExitSuccess, streams);
    case Command::kJournal:
      return RunJournalCommand(options, streams.out, streams.err);
    case Command::kPlant:
      return RunPlantCommand(options, streams.out, streams.err);
    case Command::kReport:
      return RunReportCommand(options, streams.out, streams.err);
    case Command::kReaders:
      return RunReaders(options, system_pcsc, system_orvo, OrvoReaderAttached(), streams);
    case Command::kCheck:
      return RunCheck(options, streams);
    case Command::kInfo:
    case Command::kDownload:
      break;
  }

  // Before any card is touched: a card run without its record is what the journal exists
  // to prevent.
  std::unique_ptr<journal::Journal> journal;
  if (!OpenRunJournal(options, streams.err, &journal))
    return kExitJournal;
  // Records go to the plant from a thread of its own; no card waits for it.
  std::unique_ptr<plant::Sender> sender;
  if (journal != nullptr)
    sender = StartPlantSender(options, *journal, streams.err);
  const auto stop_sender = [&] {
    if (journal != nullptr)
      StopPlantSender(&sender, *journal);
  };

  std::atomic<bool> stop{false};
  CardInProgress in_progress;
  // Also tells which reader holds a card when none is named.
  std::optional<PcscPresence> presence;
  std::optional<Station> station;
  if (!options.readers_wanted.empty()) {
    station.emplace(options, streams, stop, in_progress, journal.get(), system_pcsc);
  } else if (options.reader != ReaderChoice::kOrvo) {
    presence.emplace(system_pcsc, stop);
  }
  // Before any other thread starts: every thread inherits the blocked signals.
  StopOnSignals signals(
      stop,
      [&presence, &station] {
        if (presence)
          presence->Cancel();
        if (station)
          station->Cancel();
      },
      in_progress, journal.get());
  if (station) {
    const int status = station->Run();
    stop_sender();
    // A reader given up still has a thread stuck inside the service's library: end here,
    // without the destructors that would wait for it (every output is flushed already).
    if (station->LeftStuck())
      std::_Exit(status);
    return status;
  }

  // A single run's stuck card ends the process: nothing else is in progress.
  WatchedPcsc watched_pcsc(
      system_pcsc, std::chrono::seconds(options.wait_seconds),
      [journal = journal.get()](const Stall& stall) {
        const std::string line = "pelliton-cli: " + AsTerminalText(StallText(stall)) + "\n";
        if (stall.given_up) {
          std::string error;
          if (journal != nullptr)
            journal->AbandonAll(journal::kOutcomeAbandoned, StallText(stall), &error);
          EndNow(line, kExitFailed);
        }
        Emit(stderr, line);
      });
  TracingPcsc traced_pcsc(watched_pcsc, stderr);
  TracingOrvo traced_orvo(system_orvo, stderr);
  PcscApi& pcsc = options.trace ? static_cast<PcscApi&>(traced_pcsc) : watched_pcsc;
  OrvoApi& orvo = options.trace ? static_cast<OrvoApi&>(traced_orvo) : system_orvo;

  RealPauser pauser;
  const int status = RunOnCard(options, pcsc, orvo, pauser, presence ? &*presence : nullptr, stop,
                               streams, &in_progress, journal.get());
  stop_sender();
  return status;
}
