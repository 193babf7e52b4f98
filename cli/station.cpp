#include "cli/station.h"

#include <winscard.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <nlohmann/json.hpp>

#include "cardaccess/card_presence.h"
#include "cardaccess/orvo_api.h"
#include "cardaccess/pcsc_api.h"
#include "cardaccess/pcsc_codes.h"
#include "cli/console_panel.h"
#include "cli/journal_command.h"
#include "cli/output.h"
#include "cli/platform.h"
#include "cli/reader_choice.h"
#include "cli/status_lines.h"
#include "cli/watchdog.h"
#include "engine/card_info.h"
#include "engine/counter_rule.h"
#include "engine/pauser.h"
#include "journal/card_record.h"

namespace pelliton::cli {

namespace {

using Json = nlohmann::ordered_json;

// Bounds each wait of the reader watch, so that an end asked for between waits is seen.
constexpr DWORD kWatchSliceMs = 500;

// Card lines, file paths and version texts may hold any byte: bytes that are not UTF-8
// come out as U+FFFD rather than as an exception.
std::string Dump(const Json& json) {
  return json.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace

StationPick PickReaders(const std::string& wanted, const std::vector<std::string>& listed) {
  StationPick pick;
  if (wanted == "all") {
    pick.all = true;
    pick.names = listed;
    return pick;
  }
  const auto fail = [&pick](std::string error) {
    pick.names.clear();
    pick.error = std::move(error);
    return pick;
  };
  size_t from = 0;
  while (true) {
    const size_t comma = wanted.find(',', from);
    const std::string item = wanted.substr(from, comma == std::string::npos ? comma : comma - from);
    if (item.empty())
      return fail("--readers has an empty item");
    const ReaderMatch match = MatchReader(listed, item);
    switch (match.kind) {
      case ReaderMatch::Kind::kNumberOutOfRange:
        return fail("no PC/SC reader has index " + item + " (see pelliton-cli readers)");
      case ReaderMatch::Kind::kNoName:
        return fail("no PC/SC reader is named \"" + item + "\" (see pelliton-cli readers)");
      case ReaderMatch::Kind::kSeveralNames:
        return fail("\"" + item + "\" is part of " + std::to_string(match.several.size()) +
                    " reader names; give more of the name");
      case ReaderMatch::Kind::kWholeName:
      case ReaderMatch::Kind::kNumber:
      case ReaderMatch::Kind::kPart:
        break;
    }
    const std::string& chosen = listed[match.index];
    if (std::find(pick.names.begin(), pick.names.end(), chosen) != pick.names.end())
      return fail("reader \"" + chosen + "\" is chosen twice");
    pick.names.push_back(chosen);
    if (comma == std::string::npos)
      return pick;
    from = comma + 1;
  }
}

std::string StationCardJson(const CliOptions& options, const std::string& reader, int card,
                            const CardRun& run) {
  return RunJson(options, reader, run, card);
}

std::string StationTallyOutput(bool json, const std::vector<ReaderTally>& tallies,
                               bool interrupted) {
  int cards = 0;
  int failed = 0;
  for (const ReaderTally& tally : tallies) {
    cards += tally.cards;
    failed += static_cast<int>(tally.failures.size());
  }
  if (json) {
    Json out;
    out["schema"] = 1;
    out["command"] = "tally";
    out["cards"] = cards;
    out["succeeded"] = cards - failed;
    out["failed"] = failed;
    out["interrupted"] = interrupted;
    out["readers"] = Json::array();
    for (const ReaderTally& tally : tallies) {
      Json reader;
      reader["reader"] = tally.reader;
      reader["cards"] = tally.cards;
      reader["succeeded"] = tally.cards - static_cast<int>(tally.failures.size());
      reader["failed"] = tally.failures.size();
      reader["failures"] = Json::array();
      for (const TallyFailure& failure : tally.failures)
        reader["failures"].push_back(
            {{"card", failure.card}, {"message", WithLineFeeds(failure.message)}});
      reader["ended"] = tally.ended.empty() ? Json(nullptr) : Json(tally.ended);
      out["readers"].push_back(std::move(reader));
    }
    return Dump(out);
  }
  std::string text = "\n";
  for (const ReaderTally& tally : tallies) {
    const int reader_failed = static_cast<int>(tally.failures.size());
    text += "Reader " + AsTerminalText(tally.reader) + ": cards " + std::to_string(tally.cards) +
            ", succeeded " + std::to_string(tally.cards - reader_failed) + ", failed " +
            std::to_string(reader_failed) +
            (tally.ended.empty() ? std::string() : "; " + AsTerminalText(tally.ended)) + "\n";
    for (const TallyFailure& failure : tally.failures) {
      text += "  Card " + std::to_string(failure.card) +
              " failed: " + AsTerminalText(WithLineFeeds(failure.message)) + "\n";
    }
  }
  text += "Total: cards " + std::to_string(cards) + ", succeeded " +
          std::to_string(cards - failed) + ", failed " + std::to_string(failed) + " (" +
          std::to_string(tallies.size()) + (tallies.size() == 1 ? " reader" : " readers") +
          (interrupted ? ", interrupted" : "") + ")\n";
  return text;
}

// The one writer of the station's output: live lines on a terminal, lines prefixed
// with the reader's name otherwise, one JSON object per card with --json.
class StationOutput {
 public:
  enum class Mode { kLines, kTerminal, kJson };

  StationOutput(const CliOptions& options, const Streams& streams)
      : options_(options),
        streams_(streams),
        mode_(options.json              ? Mode::kJson
              : streams.out_is_terminal ? Mode::kTerminal
                                        : Mode::kLines),
        lines_(mode_ == Mode::kTerminal ? TerminalColumns(streams.out) : 80) {}

  // A text the reader's panel showed.
  void Shown(const std::string& reader, const std::string& text) {
    const std::lock_guard lock(mutex_);
    if (mode_ == Mode::kLines) {
      Emit(streams_.out, Prefixed(reader, text));
    } else if (mode_ == Mode::kTerminal) {
      ReaderStatus& status = lines_[lines_.LineOf(reader)];
      status.step = text;
      Draw();
    }
  }

  void Progress(const std::string& reader, int lower, int upper, int position) {
    if (mode_ != Mode::kTerminal)
      return;
    const std::lock_guard lock(mutex_);
    ReaderStatus& status = lines_[lines_.LineOf(reader)];
    status.progress =
        upper > lower ? std::clamp((position - lower) * 100 / (upper - lower), 0, 100) : -1;
    Draw();
  }

  // What the reader waits for between cards; said on stderr where there are no lines.
  void Waiting(const std::string& reader, const std::string& step) {
    const std::lock_guard lock(mutex_);
    if (mode_ == Mode::kTerminal) {
      ReaderStatus& status = lines_[lines_.LineOf(reader)];
      status.step = step;
      status.progress = -1;
      Draw();
    } else {
      Emit(streams_.err, Prefixed(reader, step));
    }
  }

  void CardStarted(const std::string& reader, int card) {
    const std::lock_guard lock(mutex_);
    if (mode_ == Mode::kLines) {
      Emit(streams_.out, Prefixed(reader, "== Card " + std::to_string(card)));
    } else if (mode_ == Mode::kTerminal) {
      ReaderStatus& status = lines_[lines_.LineOf(reader)];
      status.cards = card;
      status.step = "card " + std::to_string(card);
      status.progress = -1;
      Draw();
    }
  }

  // The card's line, its -q result, -v outcome and verdict, as a single run has them.
  // False when the output could not be written: the card's record is lost.
  bool CardDone(const std::string& reader, int card, const CardRun& run) {
    const std::lock_guard lock(mutex_);
    // The banner names the reader; on a terminal it goes above the live lines.
    const CardReport report = ReportCard(options_, reader, run, card,
                                         streams_.err_is_terminal && mode_ != Mode::kTerminal);
    if (mode_ == Mode::kJson) {
      Emit(streams_.out, StationCardJson(options_, reader, card, run));
    } else if (mode_ == Mode::kLines) {
      Emit(streams_.out, Prefixed(reader, report.out));
    }
    if (mode_ == Mode::kTerminal) {
      if (!report.err.empty())
        Emit(streams_.out, lines_.Note(report.err));
    } else {
      Emit(streams_.err, report.err);
    }
    if (mode_ == Mode::kTerminal) {
      ReaderStatus& status = lines_[lines_.LineOf(reader)];
      if (!run.outcome.Succeeded())
        ++status.failed;
      status.progress = -1;
      status.last_result = "card " + std::to_string(card) +
                           (run.outcome.Succeeded() ? " ok" : " FAILED: " + run.outcome.message);
      Draw();
    }
    return !OutputFailed(streams_.out);
  }

  // Something the operator must read (a reader gone): above the lines on a terminal,
  // on stderr otherwise.
  void Note(const std::string& reader, const std::string& text) {
    const std::lock_guard lock(mutex_);
    if (mode_ == Mode::kTerminal) {
      Emit(streams_.out, lines_.Note(AsTerminalText("[" + reader + "] " + text)));
    } else {
      Emit(streams_.err, Prefixed(reader, text));
    }
  }

  // A line of the tool's own (a hook's failure): above the lines on a terminal, on
  // stderr otherwise.
  void Line(const std::string& text) {
    const std::lock_guard lock(mutex_);
    if (mode_ == Mode::kTerminal) {
      Emit(streams_.out, lines_.Note(text));
    } else {
      Emit(streams_.err, text);
    }
  }

  void Tally(const std::string& text) {
    const std::lock_guard lock(mutex_);
    if (mode_ == Mode::kTerminal)
      Emit(streams_.out, lines_.Leave());
    Emit(streams_.out, text);
  }

 private:
  void Draw() { Emit(streams_.out, lines_.Redraw()); }

  // Every line of text that is not blank, as "[READER] line".
  static std::string Prefixed(const std::string& reader, const std::string& text) {
    const std::string prefix = "[" + AsTerminalText(reader) + "] ";
    std::string out;
    size_t from = 0;
    while (from <= text.size()) {
      size_t end = text.find('\n', from);
      if (end == std::string::npos)
        end = text.size();
      std::string line = text.substr(from, end - from);
      if (!line.empty() && line.back() == '\r')
        line.pop_back();
      if (line.find_first_not_of(' ') != std::string::npos)
        out += prefix + AsTerminalText(line) + "\n";
      from = end + 1;
    }
    return out;
  }

  const CliOptions& options_;
  Streams streams_;
  const Mode mode_;
  std::mutex mutex_;
  StatusLines lines_;
};

// One reader's worker: its thread runs cards on the reader until the station ends, the
// reader's cards are done, the reader goes away or its card is given up.
class ReaderWorker final : public PanelWatcher, public CardLoopEvents {
 public:
  ReaderWorker(const CliOptions& options, PcscApi& pcsc, std::string reader, StationOutput& output,
               CardInProgress& in_progress, const std::atomic<bool>& end, journal::Journal* journal,
               std::function<void()> ended, std::function<void()> output_lost,
               std::function<void()> journal_lost)
      : options_(options),
        pcsc_(pcsc),
        journal_(journal),
        journal_lost_(std::move(journal_lost)),
        output_(output),
        in_progress_(in_progress),
        end_(end),
        ended_(std::move(ended)),
        output_lost_(std::move(output_lost)),
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
  // Whether the worker's card was given up while a call to it was stuck.
  bool Stuck() const { return stuck_.load(); }
  const std::string& Reader() const { return tally_.reader; }
  // Read after Done() only.
  ReaderTally Tally() const {
    const std::lock_guard lock(mutex_);
    return tally_;
  }

  // PanelWatcher, from this worker's thread.
  void Shown(const std::string& text) override {
    if (!stuck_.load())
      output_.Shown(tally_.reader, text);
  }
  void Progress(int lower, int upper, int position) override {
    if (!stuck_.load())
      output_.Progress(tally_.reader, lower, upper, position);
  }

  // CardLoopEvents, from this worker's thread.
  void Waiting(bool for_removal) override {
    output_.Waiting(tally_.reader, for_removal ? "Remove the card." : "Waiting for a card ...");
  }
  void CardStarted(int card) override {
    {
      const std::lock_guard lock(mutex_);
      card_ = card;
      card_start_ = std::chrono::steady_clock::now();
      tally_.cards = card;
    }
    in_progress_.Begin(card, tally_.reader);
    output_.CardStarted(tally_.reader, card);
  }
  bool CardEnded(int card, const CardRun& run) override {
    {
      const std::lock_guard lock(mutex_);
      // A card given up was told already; what its stuck call came back with is not.
      if (stuck_.load())
        return false;
      card_ = 0;
      if (!run.outcome.Succeeded())
        tally_.failures.push_back({card, run.outcome.message});
    }
    in_progress_.End(tally_.reader);
    return Told(card, run);
  }

 private:
  // The card's line, verdict and hook. False when the output could not be written.
  bool Told(int card, const CardRun& run) {
    const bool written = output_.CardDone(tally_.reader, card, run);
    // The hook runs outside the output's lock: the other readers go on meanwhile.
    const std::string hook = RunCardHook(options_, tally_.reader, run);
    if (!hook.empty())
      output_.Line(hook);
    if (!written)
      output_lost_();
    return written;
  }

  // From the watchdog's thread while a call to this reader's card is stuck: the card is
  // told and recorded as unfinished, and the station goes on without this reader.
  void GiveUp(bool held, const std::string& message) {
    CardRun run;
    int card = 0;
    {
      const std::lock_guard lock(mutex_);
      stuck_.store(true);
      card = card_;
      tally_.ended = held ? "gave up: the card is held by another program"
                          : "gave up: the card does not answer";
      run.outcome.end = RunEnd::kUnfinished;
      std::string text = message;
      const std::string prefix = "pelliton-cli: ";
      if (text.starts_with(prefix))
        text.erase(0, prefix.size());
      while (!text.empty() && text.back() == '\n')
        text.pop_back();
      run.outcome.message = text;
      run.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
          std::chrono::steady_clock::now() - card_start_);
      if (card != 0)
        tally_.failures.push_back({card, run.outcome.message});
    }
    if (card != 0) {
      in_progress_.End(tally_.reader);
      if (journal_ != nullptr) {
        journal::JournalRecord record;
        record.time_utc = journal::UtcText(std::chrono::system_clock::now() - run.elapsed);
        record.procedure = CommandName(options_.command);
        record.reader = tally_.reader;
        record.outcome = std::string(RunEndName(run.outcome.end));
        record.message = run.outcome.message;
        record.duration_ms = run.elapsed.count();
        if (options_.command == Command::kDownload)
          record.script_path = options_.script;
        if (!RecordCardRun(journal_, std::move(record), stderr, &run.run_id))
          journal_lost_();
      }
      Told(card, run);
    }
    output_.Note(tally_.reader, tally_.ended);
    done_.store(true);
    ended_();
  }

  void Main() {
    // Everything PC/SC of this reader lives on this thread: pcsc-lite wants one context
    // per thread, and a reader's fault then stays with its own worker.
    SystemOrvo system_orvo;  // never used: the session runs on PC/SC
    WatchedPcsc pcsc(pcsc_, std::chrono::seconds(options_.wait_seconds),
                     [this](bool held, const std::string& message) { GiveUp(held, message); });
    RealPauser pauser;
    long error = 0;
    std::string ended;
    // One session per worker; the journal is shared (it serialises its writers).
    const std::unique_ptr<ReaderSession> session = MakeReaderSession(
        options_, pcsc, system_orvo, pauser, tally_.reader, this, journal_, &error, &stuck_);
    if (session == nullptr) {
      ended = error == SCARD_S_SUCCESS ? "the reader is no longer listed"
                                       : "listing the readers failed (" + PcscCodeText(error) + ")";
    } else {
      const CardLoopEnd end =
          RunCardLoop(tally_.reader, *session, presence_, options_.card_limit, end_, *this);
      if (end.journal_failed) {
        ended = "its record could not be written to the journal";
        journal_lost_();
      } else if (end.error == SCARD_E_UNKNOWN_READER || end.error == SCARD_E_READER_UNAVAILABLE) {
        ended = "the reader is gone";
      } else if (PcscServiceDown(end.error)) {
        ended = std::string("the PC/SC service (") + kPcscServiceName + ") stopped";
      } else if (end.error != 0) {
        ended = "waiting for a card failed (" + PcscCodeText(end.error) + ")";
      }
    }
    if (!stuck_.load()) {
      {
        const std::lock_guard lock(mutex_);
        tally_.ended = ended;
      }
      if (!ended.empty())
        output_.Note(tally_.reader, ended);
      done_.store(true);
      ended_();
    }
    // The stuck call's session and watchdog end here, on their own thread.
    const std::lock_guard lock(mutex_);
    thread_ended_ = true;
    thread_done_.notify_all();
  }

  const CliOptions& options_;
  PcscApi& pcsc_;
  journal::Journal* journal_;
  std::function<void()> journal_lost_;
  StationOutput& output_;
  CardInProgress& in_progress_;
  const std::atomic<bool>& end_;
  std::function<void()> ended_;
  std::function<void()> output_lost_;
  PcscPresence presence_;
  mutable std::mutex mutex_;  // tally_, card_ and card_start_: the watchdog's thread reads them
  std::condition_variable thread_done_;
  bool thread_ended_ = false;
  ReaderTally tally_;
  int card_ = 0;  // the card in progress; 0 between cards
  std::chrono::steady_clock::time_point card_start_;
  std::atomic<bool> stuck_{false};
  std::atomic<bool> done_{false};
  std::thread thread_;
};

Station::Station(const CliOptions& options, const Streams& streams, const std::atomic<bool>& stop,
                 CardInProgress& in_progress, journal::Journal* journal, PcscApi& pcsc)
    : options_(options),
      pcsc_(pcsc),
      streams_(streams),
      stop_(stop),
      in_progress_(in_progress),
      journal_(journal),
      output_(std::make_unique<StationOutput>(options, streams)) {}

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
  for (const auto& worker : workers_) {
    if (worker->Reader() == reader && !worker->Done())
      return;
  }
  if (end_.load())
    return;
  auto worker = std::make_unique<ReaderWorker>(
      options_, pcsc_, reader, *output_, in_progress_, end_, journal_,
      [this] {
        { const std::lock_guard lock(mutex_); }
        changed_.notify_all();
      },
      [this] { Cancel(); },
      [this] {
        journal_failed_.store(true);
        Cancel();
      });
  worker->Start();
  workers_.push_back(std::move(worker));
  changed_.notify_all();
}

bool Station::AllDone() const {
  if (all_ && (options_.card_limit == 0 || workers_.empty()))
    return false;  // a reader plugged in later is still served
  for (const auto& worker : workers_) {
    if (!worker->Done())
      return false;
  }
  return true;
}

void Station::WatchReaders() {
  SCARDCONTEXT context = 0;
  if (pcsc_.EstablishContext(SCARD_SCOPE_USER, &context) != SCARD_S_SUCCESS)
    return;
  watch_context_.store(context);
  std::vector<ReaderState> change(1);
  change[0].reader = kReaderChangeName;
  while (!end_.load()) {
    const LONG rv = pcsc_.GetStatusChange(context, kWatchSliceMs, &change);
    if (rv == SCARD_E_TIMEOUT || rv == SCARD_E_CANCELLED)
      continue;
    if (rv == SCARD_S_SUCCESS) {
      change[0].current = change[0].event & ~static_cast<DWORD>(SCARD_STATE_CHANGED);
    } else {
      // A service without the notification: look again after a while.
      std::this_thread::sleep_for(std::chrono::milliseconds(kWatchSliceMs));
    }
    std::vector<std::string> readers;
    if (pcsc_.ListReaders(context, &readers) != SCARD_S_SUCCESS)
      continue;
    const std::lock_guard lock(mutex_);
    for (const std::string& reader : readers)
      StartWorker(reader);
  }
  watch_context_.store(0);
  pcsc_.ReleaseContext(context);
}

bool Station::LeftStuck() const {
  for (const auto& worker : workers_) {
    if (worker->Stuck())
      return true;
  }
  return false;
}

int Station::Run() {
  if (options_.command == Command::kDownload) {
    uint32_t counter = 0;
    if (ParseCounterText(options_.counter_text, &counter) == CounterParse::kNotANumber) {
      Emit(streams_.err, std::string(kCounterNotANumberMessage) + "\n\n" + UsageText());
      return kExitUsage;
    }
  }
  std::vector<std::string> listed;
  {
    SCARDCONTEXT context = 0;
    LONG rv = pcsc_.EstablishContext(SCARD_SCOPE_USER, &context);
    if (rv == SCARD_S_SUCCESS) {
      rv = pcsc_.ListReaders(context, &listed);
      pcsc_.ReleaseContext(context);
    }
    if (PcscServiceDown(rv)) {
      Emit(streams_.err, "pelliton-cli: " + PcscServiceDownMessage() + "\n");
      return kExitFailed;
    }
  }
  const StationPick pick = PickReaders(options_.readers_spec, listed);
  if (!pick.error.empty()) {
    Emit(streams_.err, "pelliton-cli: " + AsTerminalText(pick.error) + "\n");
    return kExitFailed;
  }
  std::thread watch;
  {
    const std::lock_guard lock(mutex_);
    all_ = pick.all;
    for (const std::string& reader : pick.names)
      StartWorker(reader);
  }
  if (pick.all) {
    if (pick.names.empty())
      Emit(streams_.err, "pelliton-cli: no PC/SC reader yet; serving each one plugged in\n");
    watch = std::thread([this] { WatchReaders(); });
  }
  {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return end_.load() || AllDone(); });
  }
  Cancel();
  if (watch.joinable())
    watch.join();
  // From here on no worker is added: the tallies are read after every thread's end.
  std::vector<ReaderTally> tallies;
  for (auto& worker : workers_) {
    // A worker given up is done although its thread is not: it is joined at the end.
    if (!worker->Stuck())
      worker->Join();
    const ReaderTally tally = worker->Tally();
    auto same = std::find_if(tallies.begin(), tallies.end(),
                             [&](const ReaderTally& t) { return t.reader == tally.reader; });
    if (same == tallies.end()) {
      tallies.push_back(tally);
      continue;
    }
    // A reader that went away and came back: one line for both of its workers.
    for (TallyFailure failure : tally.failures) {
      failure.card += same->cards;
      same->failures.push_back(failure);
    }
    same->cards += tally.cards;
    same->ended = tally.ended;
  }
  output_->Tally(StationTallyOutput(options_.json, tallies, stop_.load()));
  bool failed = false;
  for (const ReaderTally& tally : tallies)
    failed = failed || !tally.failures.empty() || !tally.ended.empty();
  if (journal_failed_.load())
    return CheckedExit(kExitJournal, streams_);
  return CheckedExit(failed ? kExitFailed : kExitSuccess, streams_);
}

}  // namespace pelliton::cli
