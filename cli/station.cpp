#include "cli/station.h"

#include <winscard.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <nlohmann/json.hpp>

#include "cardaccess/orvo_api.h"
#include "cardaccess/pcsc_api.h"
#include "cardaccess/pcsc_codes.h"
#include "cli/console_panel.h"
#include "cli/journal_command.h"
#include "cli/output.h"
#include "cli/pcsc_presence.h"
#include "cli/platform.h"
#include "cli/reader_choice.h"
#include "cli/status_lines.h"
#include "cli/watchdog.h"
#include "engine/card_info.h"
#include "engine/counter_rule.h"
#include "engine/pauser.h"

namespace pelliton::cli {

namespace {

using Json = nlohmann::ordered_json;

// The service's reader-change notification: a status wait on this name ends when a
// reader comes or goes.
constexpr char kReaderChangeName[] = "\\\\?PnP?\\Notification";
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
        reader["failures"].push_back({{"card", failure.card}, {"message", failure.message}});
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
              " failed: " + AsTerminalText(failure.message) + "\n";
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

  // False when the output could not be written: the card's record is lost.
  bool CardDone(const std::string& reader, int card, const CardRun& run) {
    const std::lock_guard lock(mutex_);
    if (mode_ == Mode::kJson) {
      Emit(streams_.out, StationCardJson(options_, reader, card, run));
    } else if (mode_ == Mode::kTerminal) {
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
// reader's cards are done, or the reader goes away.
class ReaderWorker final : public PanelWatcher {
 public:
  ReaderWorker(const CliOptions& options, std::string reader, StationOutput& output,
               CardInProgress& in_progress, const std::atomic<bool>& end, journal::Journal* journal,
               std::function<void()> ended, std::function<void()> output_lost,
               std::function<void()> journal_lost)
      : options_(options),
        journal_(journal),
        journal_lost_(std::move(journal_lost)),
        output_(output),
        in_progress_(in_progress),
        end_(end),
        ended_(std::move(ended)),
        output_lost_(std::move(output_lost)),
        presence_(end) {
    tally_.reader = std::move(reader);
  }
  ~ReaderWorker() override { Join(); }
  ReaderWorker(const ReaderWorker&) = delete;
  ReaderWorker& operator=(const ReaderWorker&) = delete;

  void Start() {
    thread_ = std::thread([this] { Main(); });
  }
  void Join() {
    if (thread_.joinable())
      thread_.join();
  }
  // Wakes the worker's wait for a card; it then sees the station's end.
  void Cancel() { presence_.Cancel(); }
  bool Done() const { return done_.load(); }
  const std::string& Reader() const { return tally_.reader; }
  // Read after Join() only.
  const ReaderTally& Tally() const { return tally_; }

  // PanelWatcher, from this worker's thread.
  void Shown(const std::string& text) override { output_.Shown(tally_.reader, text); }
  void Progress(int lower, int upper, int position) override {
    output_.Progress(tally_.reader, lower, upper, position);
  }

 private:
  void Main() {
    // Everything PC/SC of this reader lives on this thread: pcsc-lite wants one context
    // per thread, and a reader's fault then stays with its own worker.
    SystemPcsc system_pcsc;
    SystemOrvo system_orvo;  // never used: the session runs on PC/SC
    WatchedPcsc pcsc(system_pcsc, std::chrono::seconds(options_.wait_seconds));
    RealPauser pauser;
    long error = 0;
    // One session per worker; the journal is shared (it serialises its writers).
    const std::unique_ptr<ReaderSession> session = MakeReaderSession(
        options_, pcsc, system_orvo, pauser, tally_.reader, this, journal_, &error);
    if (session == nullptr) {
      tally_.ended = error == SCARD_S_SUCCESS
                         ? "the reader is no longer listed"
                         : "listing the readers failed (" + PcscCodeText(error) + ")";
    } else {
      error = Serve(*session);
      if (error == SCARD_E_UNKNOWN_READER || error == SCARD_E_READER_UNAVAILABLE) {
        tally_.ended = "the reader is gone";
      } else if (error != 0) {
        tally_.ended = "waiting for a card failed (" + PcscCodeText(error) + ")";
      }
    }
    if (!tally_.ended.empty())
      output_.Note(tally_.reader, tally_.ended);
    done_.store(true);
    ended_();
  }

  // The card loop; the code of a failed wait, 0 otherwise.
  long Serve(ReaderSession& session) {
    const std::string& reader = tally_.reader;
    long error = 0;
    while (options_.card_limit == 0 || tally_.cards < static_cast<int>(options_.card_limit)) {
      output_.Waiting(reader, "Waiting for a card ...");
      if (presence_.WaitFor(reader, true, &error) != CardPresence::Wait::kReady)
        return error;
      const int card = ++tally_.cards;
      in_progress_.Begin(card, reader);
      output_.CardStarted(reader, card);
      const CardRun run = session.Run();
      in_progress_.End(reader);
      if (!run.outcome.Succeeded())
        tally_.failures.push_back({card, run.outcome.message});
      // No further card is programmed while its record would be lost.
      if (!output_.CardDone(reader, card, run)) {
        output_lost_();
        return 0;
      }
      if (session.JournalFailed()) {
        tally_.ended = "its record could not be written to the journal";
        journal_lost_();
        return 0;
      }
      if ((options_.card_limit != 0 && card >= static_cast<int>(options_.card_limit)) ||
          end_.load())
        return 0;
      output_.Waiting(reader, "Remove the card.");
      if (presence_.WaitFor(reader, false, &error) != CardPresence::Wait::kReady)
        return error;
    }
    return 0;
  }

  const CliOptions& options_;
  journal::Journal* journal_;
  std::function<void()> journal_lost_;
  StationOutput& output_;
  CardInProgress& in_progress_;
  const std::atomic<bool>& end_;
  std::function<void()> ended_;
  std::function<void()> output_lost_;
  PcscPresence presence_;
  ReaderTally tally_;  // the worker thread's until Join()
  std::atomic<bool> done_{false};
  std::thread thread_;
};

Station::Station(const CliOptions& options, const Streams& streams, const std::atomic<bool>& stop,
                 CardInProgress& in_progress, journal::Journal* journal)
    : options_(options),
      streams_(streams),
      stop_(stop),
      in_progress_(in_progress),
      journal_(journal),
      output_(std::make_unique<StationOutput>(options, streams)) {}

Station::~Station() {
  end_.store(true);
  for (auto& worker : workers_) {
    worker->Cancel();
    worker->Join();
  }
}

void Station::Cancel() {
  {
    const std::lock_guard lock(mutex_);
    end_.store(true);
    for (auto& worker : workers_)
      worker->Cancel();
    if (const SCARDCONTEXT context = watch_context_.load(); context != 0)
      SCardCancel(context);
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
      options_, reader, *output_, in_progress_, end_, journal_,
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
  if (SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context) != SCARD_S_SUCCESS)
    return;
  watch_context_.store(context);
  SCARD_READERSTATE change{};
  change.szReader = kReaderChangeName;
  change.dwCurrentState = SCARD_STATE_UNAWARE;
  while (!end_.load()) {
    const LONG rv = SCardGetStatusChange(context, kWatchSliceMs, &change, 1);
    if (rv == SCARD_E_TIMEOUT || rv == SCARD_E_CANCELLED)
      continue;
    if (rv == SCARD_S_SUCCESS) {
      change.dwCurrentState = change.dwEventState & ~static_cast<DWORD>(SCARD_STATE_CHANGED);
    } else {
      // A service without the notification: look again after a while.
      std::this_thread::sleep_for(std::chrono::milliseconds(kWatchSliceMs));
    }
    std::vector<std::string> readers;
    SystemPcsc pcsc;
    if (pcsc.ListReaders(context, &readers) != SCARD_S_SUCCESS)
      continue;
    const std::lock_guard lock(mutex_);
    for (const std::string& reader : readers)
      StartWorker(reader);
  }
  watch_context_.store(0);
  SCardReleaseContext(context);
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
    SystemPcsc pcsc;
    SCARDCONTEXT context = 0;
    LONG rv = pcsc.EstablishContext(SCARD_SCOPE_USER, &context);
    if (rv == SCARD_S_SUCCESS) {
      rv = pcsc.ListReaders(context, &listed);
      pcsc.ReleaseContext(context);
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
    worker->Join();
    const ReaderTally& tally = worker->Tally();
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
