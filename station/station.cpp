#include "station/station.h"

#include <algorithm>
#include <functional>
#include <thread>

#include "cardaccess/card_access.h"
#include "cardaccess/card_presence.h"
#include "cardaccess/orvo_api.h"
#include "cardaccess/pcsc_codes.h"
#include "engine/pauser.h"
#include "station/run_panel.h"

namespace pelliton::station {

namespace {

bool ReaderLeft(long error) {
  return error == SCARD_E_UNKNOWN_READER || error == SCARD_E_READER_UNAVAILABLE;
}

}  // namespace

enum class WorkerEnd { kDone, kServiceLost, kOutputLost, kJournalLost };

// One reader's worker: its thread runs cards on the reader until the station ends, the
// reader's cards are done, the reader goes away, the service stops or its card is given
// up.
class ReaderWorker final : public PanelWatcher, public CardLoopEvents, public ReaderSession {
 public:
  // first_card: the number of the worker's first card; card_limit: how many it may run
  // (0: no limit). ended: told once, from the thread that ended the worker.
  ReaderWorker(const StationConfig& config, StationEvents& events, PcscApi& pcsc,
               journal::Journal* journal, const std::atomic<bool>& end, std::string reader,
               int first_card, uint32_t card_limit, bool resumed,
               std::function<void(const std::string&, WorkerEnd)> ended)
      : config_(config),
        events_(events),
        pcsc_(pcsc),
        journal_(journal),
        end_(end),
        first_card_(first_card),
        card_limit_(card_limit),
        resumed_(resumed),
        ended_(std::move(ended)),
        presence_(pcsc, end) {
    tally_.reader = std::move(reader);
  }
  ~ReaderWorker() override { Join(); }
  ReaderWorker(const ReaderWorker&) = delete;
  ReaderWorker& operator=(const ReaderWorker&) = delete;

  void Start() {
    thread_ = std::thread([this] { Main(); });
  }
  // Joins the thread. One stuck in a call that was given up is waited for at most
  // bound; false when it is still stuck (the worker must then outlive the station).
  bool Join(std::chrono::milliseconds bound = std::chrono::milliseconds(2000)) {
    if (!thread_.joinable())
      return true;
    if (stuck_.load()) {
      std::unique_lock lock(mutex_);
      if (!thread_done_.wait_for(lock, bound, [this] { return thread_ended_; })) {
        lock.unlock();
        thread_.detach();
        return false;
      }
    }
    thread_.join();
    return true;
  }
  // Wakes the worker's wait for a card; it then sees the station's end.
  void Cancel() { presence_.Cancel(); }
  bool Done() const { return done_.load(); }
  bool Stuck() const { return stuck_.load(); }
  const std::string& Reader() const { return tally_.reader; }
  ReaderTally Tally() const {
    const std::lock_guard lock(mutex_);
    return tally_;
  }

  // PanelWatcher, from this worker's thread.
  void Shown(const std::string& text) override {
    if (!stuck_.load())
      events_.Step(tally_.reader, text);
  }
  void Progress(int lower, int upper, int position) override {
    if (!stuck_.load())
      events_.Progress(tally_.reader, lower, upper, position);
  }

  // CardLoopEvents, from this worker's thread.
  void Waiting(bool for_removal) override { events_.Waiting(tally_.reader, for_removal); }
  void CardStarted(int card) override {
    {
      const std::lock_guard lock(mutex_);
      card_ = card;
      card_start_ = std::chrono::steady_clock::now();
      tally_.cards = card - first_card_ + 1;
    }
    events_.CardStarted(tally_.reader, card);
  }
  bool CardEnded(int card, const CardRun& run) override {
    {
      const std::lock_guard lock(mutex_);
      // A card given up was told already; what its stuck call came back with is not.
      if (stuck_.load())
        return false;
      card_ = 0;
      if (!run.Passed())
        tally_.failures.push_back({card, run.outcome.message});
    }
    return events_.CardEnded(tally_.reader, card, run);
  }

  // ReaderSession, from this worker's thread.
  CardRun Run() override { return job_->Run(panel_); }
  bool JournalFailed() const override { return job_->JournalFailed(); }

 private:
  // From the watchdog's thread while a call to this reader's card is stuck: the card is
  // told and recorded as unfinished, and the station goes on without this reader.
  void GiveUp(const Stall& stall) {
    CardRun run;
    int card = 0;
    {
      const std::lock_guard lock(mutex_);
      stuck_.store(true);
      card = card_;
      tally_.ended = stall.held ? "gave up: the card is held by another program"
                                : "gave up: the card does not answer";
      run.outcome.end = RunEnd::kAbandoned;
      run.outcome.message = StallText(stall);
      run.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
          std::chrono::steady_clock::now() - card_start_);
      if (card != 0)
        tally_.failures.push_back({card, run.outcome.message});
    }
    if (card != 0) {
      // Its record, written before the card was touched, says now what became of it.
      const std::string run_id = job_->RecordInProgress();
      if (journal_ != nullptr && !run_id.empty()) {
        if (journal_->Abandon(run_id, journal::kOutcomeAbandoned, run.outcome.message,
                              &run.record_error))
          run.run_id = run_id;
        else
          journal_lost_ = true;
      }
      events_.CardEnded(tally_.reader, card, run);
    }
    End(tally_.ended, false);
  }

  void End(const std::string& why, bool service_lost) {
    if (!why.empty())
      events_.ReaderEnded(tally_.reader, why);
    done_.store(true);
    ended_(tally_.reader, service_lost           ? WorkerEnd::kServiceLost
                          : output_lost_.load()  ? WorkerEnd::kOutputLost
                          : journal_lost_.load() ? WorkerEnd::kJournalLost
                                                 : WorkerEnd::kDone);
  }

  void Main() {
    // Everything PC/SC of this reader lives on this thread: pcsc-lite wants one context
    // per thread, and a reader's fault then stays with its own worker.
    SystemOrvo orvo;  // never used: the worker runs on PC/SC
    WatchedPcsc pcsc(pcsc_, config_.wait, [this](const Stall& stall) {
      if (stall.given_up) {
        GiveUp(stall);
      } else {
        events_.Stuck(tally_.reader, stall);
      }
    });
    RealPauser pauser;
    CardAccess card(pcsc, orvo);
    job_ = std::make_unique<CardJob>(config_.job, card, pauser, journal_, &stuck_);
    panel_.SetWatcher(this);
    std::string ended;
    bool service_lost = false;
    std::vector<std::string> listed;
    const long listing = card.ListReaders(&listed);
    card.Mode() = ReaderMode::Pcsc;
    if (std::find(listed.begin(), listed.end(), tally_.reader) == listed.end()) {
      service_lost = PcscServiceDown(listing);
      ended = service_lost ? PcscServiceStoppedMessage()
              : listing == SCARD_S_SUCCESS
                  ? std::string("the reader is no longer listed")
                  : "listing the readers failed (" + PcscCodeText(listing) + ")";
    } else {
      card.SelectReader(tally_.reader);
      const CardLoopEnd end = RunCardLoop(tally_.reader, *this, presence_, card_limit_, end_, *this,
                                          first_card_, resumed_);
      if (end.journal_failed) {
        ended = "its record could not be written to the journal";
        journal_lost_ = true;
      } else if (ReaderLeft(end.error)) {
        ended = "the reader is gone";
      } else if (PcscServiceDown(end.error)) {
        ended = PcscServiceStoppedMessage();
        service_lost = true;
      } else if (end.error != 0) {
        ended = "waiting for a card failed (" + PcscCodeText(end.error) + ")";
      }
      // A given-up card's late return is refused by CardEnded: that is no lost output.
      output_lost_ = end.output_lost && !stuck_.load();
    }
    if (!stuck_.load()) {
      {
        const std::lock_guard lock(mutex_);
        tally_.ended = ended;
      }
      End(ended, service_lost);
    }
    // The stuck call's session and watchdog end here, on their own thread.
    job_.reset();
    const std::lock_guard lock(mutex_);
    thread_ended_ = true;
    thread_done_.notify_all();
  }

 public:
  // Read after Done().
  bool OutputLost() const { return output_lost_.load(); }
  bool JournalLost() const { return journal_lost_.load(); }

 private:
  const StationConfig& config_;
  StationEvents& events_;
  PcscApi& pcsc_;
  journal::Journal* journal_;
  const std::atomic<bool>& end_;
  const int first_card_;
  const uint32_t card_limit_;
  const bool resumed_;  // served again after the service came back
  std::function<void(const std::string&, WorkerEnd)> ended_;
  PcscPresence presence_;
  RunPanel panel_;
  std::unique_ptr<CardJob> job_;
  mutable std::mutex mutex_;  // tally_, card_ and card_start_: the watchdog's thread reads them
  std::condition_variable thread_done_;
  bool thread_ended_ = false;
  ReaderTally tally_;
  int card_ = 0;  // the card in progress; 0 between cards
  std::chrono::steady_clock::time_point card_start_;
  std::atomic<bool> stuck_{false};
  std::atomic<bool> done_{false};
  std::atomic<bool> output_lost_{false};
  std::atomic<bool> journal_lost_{false};
  std::thread thread_;
};

Station::Station(StationConfig config, StationEvents& events, PcscApi& pcsc,
                 journal::Journal* journal, const std::atomic<bool>& stop)
    : config_(std::move(config)), events_(events), pcsc_(pcsc), journal_(journal), stop_(stop) {}

Station::~Station() {
  end_.store(true);
  for (auto& worker : workers_) {
    worker->Cancel();
    // A thread still stuck in the service's library keeps its worker: it is left to the
    // end of the process rather than freed under it.
    if (!worker->Join())
      (void)worker.release();
  }
}

void Station::Cancel() {
  {
    const std::lock_guard lock(mutex_);
    end_.store(true);
    for (auto& worker : workers_)
      worker->Cancel();
    if (const SCARDCONTEXT context = watch_context_.load(); context != 0)
      pcsc_.Cancel(context);
  }
  changed_.notify_all();
}

void Station::StartWorker(const std::string& reader) {
  int done = 0;
  for (const auto& worker : workers_) {
    if (worker->Reader() != reader)
      continue;
    if (!worker->Done())
      return;
    done += worker->Tally().cards;
  }
  if (end_.load())
    return;
  uint32_t limit = config_.card_limit;
  if (limit != 0) {
    if (static_cast<uint32_t>(done) >= limit)
      return;
    limit -= static_cast<uint32_t>(done);
  }
  const bool resumed = awaited_.erase(reader) != 0;
  auto worker = std::make_unique<ReaderWorker>(
      config_, events_, pcsc_, journal_, end_, reader, done + 1, limit, resumed,
      [this](const std::string& name, WorkerEnd why) {
        if (why == WorkerEnd::kOutputLost || why == WorkerEnd::kJournalLost) {
          Cancel();  // no further card while its output or record would be lost
          return;
        }
        WorkerEnded(name, why == WorkerEnd::kServiceLost);
      });
  worker->Start();
  workers_.push_back(std::move(worker));
  changed_.notify_all();
}

void Station::WorkerEnded(const std::string& reader, bool service_lost) {
  if (service_lost)
    SetServiceLost(true);
  {
    const std::lock_guard lock(mutex_);
    if (service_lost && !end_.load())
      awaited_.insert(reader);
  }
  changed_.notify_all();
}

void Station::SetServiceLost(bool lost) {
  {
    const std::lock_guard lock(mutex_);
    if (service_lost_ == lost || (lost && end_.load()))
      return;
    service_lost_ = lost;
  }
  if (lost) {
    events_.ServiceLost();
  } else {
    events_.ServiceBack();
  }
}

bool Station::AllDone() const {
  if (!awaited_.empty())
    return false;  // served again once the service is back
  if (config_.all && (config_.card_limit == 0 || workers_.empty()))
    return false;  // a reader plugged in later is still served
  for (const auto& worker : workers_) {
    if (!worker->Done())
      return false;
  }
  return true;
}

void Station::Pause() {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, config_.slice, [this] { return end_.load(); });
}

void Station::WatchReaders() {
  SCARDCONTEXT context = 0;
  std::vector<ReaderState> change(1);
  const auto drop_context = [&] {
    watch_context_.store(0);
    pcsc_.ReleaseContext(context);
    context = 0;
  };
  while (!end_.load()) {
    if (context == 0) {
      const LONG rv = pcsc_.EstablishContext(SCARD_SCOPE_USER, &context);
      if (rv != SCARD_S_SUCCESS) {
        context = 0;
        if (PcscServiceDown(rv))
          SetServiceLost(true);
        Pause();
        continue;
      }
      watch_context_.store(context);
      change[0] = ReaderState{};
      change[0].reader = kReaderChangeName;
    }
    std::vector<std::string> readers;
    const LONG listed = pcsc_.ListReaders(context, &readers);
    if (PcscServiceDown(listed) || listed == SCARD_E_INVALID_HANDLE) {
      drop_context();
      SetServiceLost(true);
      Pause();
      continue;
    }
    // A service that lists (even no reader) is there.
    SetServiceLost(false);
    {
      const std::lock_guard lock(mutex_);
      for (const std::string& reader : readers) {
        if (config_.all || awaited_.count(reader) != 0)
          StartWorker(reader);
      }
    }
    const LONG rv =
        pcsc_.GetStatusChange(context, static_cast<DWORD>(config_.slice.count()), &change);
    if (rv == SCARD_S_SUCCESS) {
      change[0].current = change[0].event & ~static_cast<DWORD>(SCARD_STATE_CHANGED);
    } else if (PcscServiceDown(rv) || rv == SCARD_E_INVALID_HANDLE) {
      drop_context();
    } else if (rv != SCARD_E_TIMEOUT && rv != SCARD_E_CANCELLED) {
      // A service without the notification: look again after a while.
      Pause();
    }
  }
  if (context != 0)
    drop_context();
}

StationEnd Station::Run() {
  {
    const std::lock_guard lock(mutex_);
    for (const std::string& reader : config_.readers)
      StartWorker(reader);
  }
  std::thread watch([this] { WatchReaders(); });
  {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return end_.load() || AllDone() || stop_.load(); });
  }
  Cancel();
  watch.join();
  // From here on no worker is added: the tallies are read after every thread's end.
  StationEnd result;
  for (auto& worker : workers_) {
    // A worker given up is done although its thread is not: it is joined at the end.
    if (worker->Stuck()) {
      result.left_stuck = true;
    } else {
      worker->Join();
    }
    result.output_lost = result.output_lost || worker->OutputLost();
    result.journal_failed = result.journal_failed || worker->JournalLost();
    const ReaderTally tally = worker->Tally();
    auto same = std::find_if(result.tallies.begin(), result.tallies.end(),
                             [&](const ReaderTally& t) { return t.reader == tally.reader; });
    if (same == result.tallies.end()) {
      result.tallies.push_back(tally);
      continue;
    }
    // A reader served again (it came back, or the service did): one line for all its
    // workers, its cards numbered on.
    same->failures.insert(same->failures.end(), tally.failures.begin(), tally.failures.end());
    same->cards += tally.cards;
    same->ended = tally.ended;
  }
  result.interrupted = stop_.load();
  events_.Tally(result.tallies, result.interrupted);
  return result;
}

}  // namespace pelliton::station
