// The production station: pelliton-cli serving several PC/SC readers at once. One worker
// thread per reader, each with its own PC/SC context, card session, panel and card
// presence wait, runs the unchanged procedures card after card; with "all", readers
// plugged in later get a worker too. Workers share nothing but the output, which one
// writer serialises, and the record of the cards in progress for the signal rule.
#pragma once

#include <atomic>
#include <condition_variable>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cardaccess/pcsc_api.h"
#include "cli/args.h"
#include "cli/render.h"
#include "cli/runs.h"

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

// What one reader's worker did.
struct ReaderTally {
  std::string reader;
  int cards = 0;
  std::vector<TallyFailure> failures;
  std::string ended;  // why the worker ended before its cards were done; empty otherwise
};

// The station's closing tally, per reader and in total, as JSON (one object) or text.
std::string StationTallyOutput(bool json, const std::vector<ReaderTally>& tallies,
                               bool interrupted);

// One JSON line for a card of the station.
std::string StationCardJson(const CliOptions& options, const std::string& reader, int card,
                            const CardRun& run);

class StationOutput;
class ReaderWorker;

class Station {
 public:
  // stop: set by the signal rule (an interruption); in_progress: every reader's card in
  // progress, for the second signal's message.
  // journal (optional) records every card of every reader; pcsc: the service, for every
  // worker's own context.
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
  // Starts a worker for reader unless one is serving it. Call with mutex_ held.
  void StartWorker(const std::string& reader);
  // The reader-change watch of "all": a worker for every reader that appears.
  void WatchReaders();
  bool AllDone() const;

  const CliOptions& options_;
  PcscApi& pcsc_;
  Streams streams_;
  const std::atomic<bool>& stop_;
  CardInProgress& in_progress_;
  journal::Journal* journal_;
  std::atomic<bool> end_{false};             // every wait ends; set by Cancel() or a lost output
  std::atomic<bool> journal_failed_{false};  // a card's record could not be written
  std::unique_ptr<StationOutput> output_;

  std::mutex mutex_;
  std::condition_variable changed_;  // a worker ended or was added
  std::list<std::unique_ptr<ReaderWorker>> workers_;
  bool all_ = false;
  std::atomic<unsigned long> watch_context_{0};  // the watch's PC/SC context, 0: none
};

}  // namespace pelliton::cli
