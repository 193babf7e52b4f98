#include "cli/commands/station.h"

#include <winscard.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>

#include "cardaccess/card_presence.h"
#include "cardaccess/orvo_api.h"
#include "cardaccess/pcsc_api.h"
#include "cardaccess/pcsc_codes.h"
#include "cardaccess/watchdog.h"
#include "cli/commands/journal.h"
#include "cli/commands/plant.h"
#include "cli/platform/platform.h"
#include "cli/reader_choice.h"
#include "cli/render/console_panel.h"
#include "cli/render/output.h"
#include "cli/render/status_lines.h"
#include "engine/card_info.h"
#include "engine/counter_rule.h"
#include "engine/pauser.h"
#include "journal/card_record.h"

namespace pelliton::cli {

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

// The one writer of the station's output: live lines on a terminal, lines prefixed
// with the reader's name otherwise, one JSON object per card with --json; after each card
// its verdict and its hook, as a single run has them.
class StationOutput final : public station::StationEvents {
 public:
  enum class Mode { kLines, kTerminal, kJson };

  StationOutput(const CliOptions& options, const Streams& streams, CardInProgress& in_progress)
      : options_(options),
        streams_(streams),
        in_progress_(in_progress),
        mode_(options.json              ? Mode::kJson
              : streams.out_is_terminal ? Mode::kTerminal
                                        : Mode::kLines),
        lines_(mode_ == Mode::kTerminal ? TerminalColumns(streams.out) : 80) {}

  void Step(const std::string& reader, const std::string& text) override {
    const std::lock_guard lock(mutex_);
    if (mode_ == Mode::kLines) {
      Emit(streams_.out, Prefixed(reader, text));
    } else if (mode_ == Mode::kTerminal) {
      ReaderStatus& status = lines_[lines_.LineOf(reader)];
      status.step = text;
      Draw();
    }
  }

  void Progress(const std::string& reader, int lower, int upper, int position) override {
    if (mode_ != Mode::kTerminal)
      return;
    const std::lock_guard lock(mutex_);
    ReaderStatus& status = lines_[lines_.LineOf(reader)];
    status.progress =
        upper > lower ? std::clamp((position - lower) * 100 / (upper - lower), 0, 100) : -1;
    Draw();
  }

  // What the reader waits for between cards; said on stderr where there are no lines.
  void Waiting(const std::string& reader, bool for_removal) override {
    const std::string step = for_removal ? "Remove the card." : "Waiting for a card ...";
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

  void CardStarted(const std::string& reader, int card) override {
    in_progress_.Begin(card, reader);
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

  // The card's line, its -q result, -v outcome and verdict, then its hook. False when
  // the output could not be written: the card's record is lost.
  bool CardEnded(const std::string& reader, int card, const CardRun& run) override {
    in_progress_.End(reader);
    const bool written = Told(reader, card, run);
    // The hook runs outside the output's lock: the other readers go on meanwhile.
    const std::string hook = RunCardHook(options_, reader, run);
    if (!hook.empty())
      Line(hook);
    return written;
  }

  void Stuck(const std::string& reader, const Stall& stall) override {
    Note(reader, StallText(stall));
  }
  void ReaderEnded(const std::string& reader, const std::string& why) override {
    in_progress_.End(reader);
    Note(reader, why);
  }
  void ServiceLost() override {
    Line("pelliton-cli: " + PcscServiceStoppedMessage() + "; waiting for it to come back\n");
  }
  void ServiceBack() override {
    Line("pelliton-cli: the PC/SC service is back; serving the readers again\n");
  }
  void Tally(const std::vector<station::ReaderTally>& tallies, bool interrupted) override {
    const std::string text = StationTallyOutput(options_.json, tallies, interrupted);
    const std::lock_guard lock(mutex_);
    if (mode_ == Mode::kTerminal)
      Emit(streams_.out, lines_.Leave());
    Emit(streams_.out, text);
  }

 private:
  bool Told(const std::string& reader, int card, const CardRun& run) {
    const std::lock_guard lock(mutex_);
    // The banner names the reader; on a terminal it goes above the live lines.
    CardReport report = ReportCard(options_, reader, run, card,
                                   streams_.err_is_terminal && mode_ != Mode::kTerminal);
    report.err = RunNotesFor(reader, run) + report.err;
    if (mode_ == Mode::kJson) {
      Emit(streams_.out, RunJson(options_, reader, run, card));
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
                           (run.outcome.Succeeded() ? " ok" : " FAILED: " + run.outcome.message) +
                           PlantBacklogNote();
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

  // The run's notes (a script that cannot be read, a record that failed), each line
  // prefixed with the reader.
  std::string RunNotesFor(const std::string& reader, const CardRun& run) const {
    const std::string notes = RunNotes(run, options_.script);
    return notes.empty() ? notes : Prefixed(reader, notes);
  }

  const CliOptions& options_;
  Streams streams_;
  CardInProgress& in_progress_;
  const Mode mode_;
  std::mutex mutex_;
  StatusLines lines_;
};

Station::Station(const CliOptions& options, const Streams& streams, const std::atomic<bool>& stop,
                 CardInProgress& in_progress, journal::Journal* journal, PcscApi& pcsc)
    : options_(options),
      pcsc_(pcsc),
      streams_(streams),
      stop_(stop),
      journal_(journal),
      output_(std::make_unique<StationOutput>(options, streams, in_progress)) {}

Station::~Station() = default;

void Station::Cancel() {
  const std::lock_guard lock(mutex_);
  cancelled_ = true;
  if (station_)
    station_->Cancel();
}

bool Station::LeftStuck() const {
  return left_stuck_;
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
  const StationPick pick = PickReaders(options_.readers_wanted, listed);
  if (!pick.error.empty()) {
    Emit(streams_.err, "pelliton-cli: " + AsTerminalText(pick.error) + "\n");
    return kExitFailed;
  }
  if (pick.all && pick.names.empty())
    Emit(streams_.err, "pelliton-cli: no PC/SC reader yet; serving each one plugged in\n");
  station::StationConfig config;
  config.job = JobOrderOf(options_);
  config.readers = pick.names;
  config.all = pick.all;
  config.card_limit = options_.card_limit;
  config.wait = std::chrono::seconds(options_.wait_seconds);
  {
    const std::lock_guard lock(mutex_);
    station_.emplace(std::move(config), *output_, pcsc_, journal_, stop_);
    if (cancelled_)
      station_->Cancel();
  }
  const station::StationEnd end = station_->Run();
  left_stuck_ = end.left_stuck;
  bool failed = false;
  for (const station::ReaderTally& tally : end.tallies)
    failed = failed || !tally.failures.empty() || !tally.ended.empty();
  if (end.journal_failed)
    return CheckedExit(kExitJournal, streams_);
  return CheckedExit(failed || end.output_lost ? kExitFailed : kExitSuccess, streams_);
}

}  // namespace pelliton::cli
