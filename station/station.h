// The production station: several PC/SC readers served at once. One worker thread per
// reader, each with its own PC/SC context, card access, panel, watchdog and presence
// wait, runs the card loop; with "all", readers plugged in later get a worker too. A card
// that stops answering, or that another program holds, gives up its reader alone. When
// the PC/SC service goes away, the station waits for it and serves the readers again
// once it is back. Front ends learn everything through StationEvents.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "cardaccess/pcsc_api.h"
#include "cardaccess/watchdog.h"
#include "journal/journal.h"
#include "station/card_job.h"
#include "station/card_loop.h"

namespace pelliton::station {

// What one reader's workers did, in the station's tally.
struct ReaderTally {
  std::string reader;
  int cards = 0;
  std::vector<TallyFailure> failures;  // numbered as the reader counts its cards
  std::string ended;  // why the reader was left before its cards were done; empty otherwise
};

// What the station tells, from its workers' threads and its own. Calls about one reader
// come in order from one thread at a time; calls about different readers may come at
// once, so an implementation serialises what they share. Nothing here may block long:
// the reader's card waits meanwhile (a hook run from CardEnded holds that reader only).
class StationEvents {
 public:
  virtual ~StationEvents() = default;
  // The reader waits for a card (for_removal false) or for its last card to leave.
  virtual void Waiting(const std::string& reader, bool for_removal) = 0;
  virtual void CardStarted(const std::string& reader, int card) = 0;
  // A text the card's run showed, as the window shows it.
  virtual void Step(const std::string& reader, const std::string& text) = 0;
  virtual void Progress(const std::string& reader, int lower, int upper, int position) = 0;
  // The card's run ended, or it was given up (outcome unfinished). False when the output
  // that carries it could not be written: the station ends.
  virtual bool CardEnded(const std::string& reader, int card, const CardRun& run) = 0;
  // A call to the reader's card waits too long: told after a second. When it is given up,
  // the card ends as unfinished and the reader with why.
  virtual void Stuck(const std::string& reader, const Stall& stall) = 0;
  // The reader is left: gone, given up, or its waits failed; why says which.
  virtual void ReaderEnded(const std::string& reader, const std::string& why) = 0;
  // The PC/SC service went away; the station waits for it.
  virtual void ServiceLost() = 0;
  // It is back: the readers are served again.
  virtual void ServiceBack() = 0;
  // The station's end: every reader's tally, in the order the readers were first served.
  virtual void Tally(const std::vector<ReaderTally>& tallies, bool interrupted) = 0;
};

struct StationConfig {
  JobOrder job;
  std::vector<std::string> readers;  // served from the start
  bool all = false;                  // also every reader that appears later
  uint32_t card_limit = 0;           // per reader; 0: until stopped
  std::chrono::seconds wait{30};     // how long a call to a card may wait
  // How often the reader watch looks again when it can wait on nothing (no service, no
  // reader-change notification).
  std::chrono::milliseconds slice{500};
};

// How the station ended.
struct StationEnd {
  std::vector<ReaderTally> tallies;
  bool interrupted = false;
  bool output_lost = false;
  bool journal_failed = false;
  // A reader's card was given up while a call to it was stuck: that call's thread cannot
  // be ended, so the process must end without waiting for it.
  bool left_stuck = false;
};

class ReaderWorker;

class Station {
 public:
  // stop: an interruption (a signal); every card in progress is finished first. journal
  // (optional) records every card of every reader; pcsc: the service, for every worker's
  // own context.
  Station(StationConfig config, StationEvents& events, PcscApi& pcsc, journal::Journal* journal,
          const std::atomic<bool>& stop);
  ~Station();
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  // Serves the readers until stopped, until every reader has had its cards, until every
  // reader served without "all" is gone, or until the output or the journal is lost.
  StationEnd Run();
  // Ends the waits for cards and readers: every card in progress is finished first.
  // Safe from any thread (the signal watcher's).
  void Cancel();

 private:
  // Starts a worker for reader unless one is serving it. Call with mutex_ held.
  void StartWorker(const std::string& reader);
  // From a worker's thread when it ended; service_lost: its waits failed because the
  // service went away.
  void WorkerEnded(const std::string& reader, bool service_lost);
  // The reader watch: readers that appear (with "all", or again after the service came
  // back) get a worker; the service's loss and return are told.
  void WatchReaders();
  void SetServiceLost(bool lost);
  bool AllDone() const;
  // Waits slice or until the station ends.
  void Pause();

  const StationConfig config_;
  StationEvents& events_;
  PcscApi& pcsc_;
  journal::Journal* journal_;
  const std::atomic<bool>& stop_;
  std::atomic<bool> end_{false};  // every wait ends; set by Cancel() or a lost output
  std::atomic<bool> output_lost_{false};
  std::atomic<bool> journal_failed_{false};

  std::mutex mutex_;
  std::condition_variable changed_;  // a worker ended or was added, or the station ends
  std::list<std::unique_ptr<ReaderWorker>> workers_;
  // Readers left when the service went away, served again when they are listed again.
  std::set<std::string> awaited_;
  bool service_lost_ = false;
  std::atomic<SCARDCONTEXT> watch_context_{0};  // the watch's PC/SC context, 0: none
};

}  // namespace pelliton::station
