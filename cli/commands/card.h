// The commands of pelliton-cli, each run against the engine with a console panel in
// the window's place. Each returns the process's exit status.
#pragma once

#include <atomic>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cardaccess/card_presence.h"
#include "cardaccess/orvo_api.h"
#include "cardaccess/pcsc_api.h"
#include "cli/args.h"
#include "cli/exit_status.h"
#include "cli/render/console_panel.h"
#include "cli/render/output.h"
#include "cli/render/render.h"
#include "engine/pauser.h"
#include "journal/journal.h"

namespace pelliton::cli {

using pelliton::CardPresence;

// The cards runs are working on, one per reader at most, for what other threads say
// when they end the process (a second signal, a wait given up). Safe from any thread.
class CardInProgress {
 public:
  // number: the card's number in a card loop; none for a single run. Replaces the
  // reader's earlier card.
  void Begin(std::optional<int> number, const std::string& reader);
  // The card in reader is done.
  void End(const std::string& reader);
  // "card 3 in READER", "the card in READER", several joined by ", " in the readers'
  // order; empty when no card is in progress.
  std::string Describe() const;
  // How many cards are in progress.
  size_t Count() const;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, std::optional<int>> cards_;  // by reader
};

using station::CardLoopEnd;
using station::CardLoopEvents;
using station::ReaderSession;
using station::RunCardLoop;

// What the command's options ask of every card.
station::JobOrder JobOrderOf(const CliOptions& options);

// Runs the --on-pass or --on-fail hook for the card's verdict, when one is given. Empty
// when there is none or it succeeded; otherwise its failure line. A hook never changes the
// card's result.
std::string RunCardHook(const CliOptions& options, const std::string& reader, const CardRun& run);

// info and download, once or (with --each-card) for every card that comes; after each
// card the verdict banner on err and the --on-pass or --on-fail hook. presence also
// tells which reader holds a card when none is named (optional without --each-card).
// stop ends
// the card loop after the run in progress. in_progress (optional) is kept up to date
// with the card being run. A failed write of the output ends the card loop after the
// card whose result it carried. Each run is recorded in journal when it is not null; a
// record that cannot be written ends the card loop with kExitJournal.
int RunOnCard(const CliOptions& options, PcscApi& pcsc, OrvoApi& orvo, Pauser& pauser,
              CardPresence* presence, const std::atomic<bool>& stop, const Streams& streams,
              CardInProgress* in_progress = nullptr, journal::Journal* journal = nullptr);

}  // namespace pelliton::cli
