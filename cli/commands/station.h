// The production station on the command line: which readers --readers picks, and the
// station's output (live lines, prefixed lines or JSON, verdicts, hooks and the tally).
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cardaccess/pcsc_api.h"
#include "cli/args.h"
#include "cli/commands/card.h"
#include "cli/render/render.h"
#include "station/station.h"

namespace pelliton::cli {

// The readers --readers chose among those the service lists.
struct StationPick {
  bool all = false;                // "all": also the readers that appear later
  std::vector<std::string> names;  // in the order given (all: the service's order)
  std::string error;               // one line; names is empty then
};

// wanted: "all", or a comma-separated list whose items each name a listed reader by its
// whole name, by its index in listed (as "pelliton-cli readers" numbers them), or by a
// part of its name (in any case) that no other listed reader has, as -r chooses.
StationPick PickReaders(const std::string& wanted, const std::vector<std::string>& listed);

using station::ReaderTally;

class StationOutput;

// pelliton-cli --readers: the station library with the CLI's output as its observer.
class Station {
 public:
  // stop: set by the signal rule (an interruption); in_progress: every reader's card in
  // progress, for the second signal's message. journal (optional) records every card of
  // every reader; pcsc: the service, for every worker's own context.
  Station(const CliOptions& options, const Streams& streams, const std::atomic<bool>& stop,
          CardInProgress& in_progress, journal::Journal* journal, PcscApi& pcsc);
  ~Station();
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  // Serves the readers until interrupted, until every reader has had --cards cards, or
  // until every named reader is gone; then prints the tally. The exit status.
  int Run();
  // Ends the waits for cards and readers: every card in progress is finished first.
  // Safe from any thread (the signal watcher's).
  void Cancel();
  // After Run(): whether a reader's card was given up while a call to it was stuck. That
  // call's thread cannot be ended: the process must end without waiting for it.
  bool LeftStuck() const;

 private:
  const CliOptions& options_;
  PcscApi& pcsc_;
  Streams streams_;
  const std::atomic<bool>& stop_;
  journal::Journal* journal_;
  std::unique_ptr<StationOutput> output_;
  std::mutex mutex_;  // station_ and cancelled_: Cancel() comes from the signal watcher
  std::optional<station::Station> station_;
  bool cancelled_ = false;
  bool left_stuck_ = false;
};

}  // namespace pelliton::cli
