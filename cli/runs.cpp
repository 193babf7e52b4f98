#include "cli/runs.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <vector>

#include "cardaccess/card_access.h"
#include "cardaccess/pcsc_codes.h"
#include "cli/console_panel.h"
#include "cli/hooks.h"
#include "cli/journal_command.h"
#include "cli/output.h"
#include "cli/platform.h"
#include "cli/read_back.h"
#include "cli/reader_choice.h"
#include "cli/render.h"
#include "cli/trace.h"
#include "cli/verdict.h"
#include "engine/browse.h"
#include "engine/bytes.h"
#include "engine/card_info.h"
#include "engine/counter_rule.h"
#include "engine/download.h"
#include "engine/script.h"
#include "engine/script_check.h"
#include "journal/card_record.h"

namespace pelliton::cli {

namespace {

void Put(std::FILE* out, const std::string& text) {
  Emit(out, text);
}

// When the service is not there the window only sees no readers; this says why.
std::string ServiceDownNote() {
  return "pelliton-cli: " + PcscServiceDownMessage() + "\n";
}

// What the window's message cannot say about a script that was refused: why the file
// could not be read, or that it looks like UTF-16 text.
void NoteScriptTrouble(std::FILE* err, const std::string& path, ScriptReadError read, bool utf16) {
  if (read != ScriptReadError::kNone) {
    Put(err, "pelliton-cli: cannot read " + AsTerminalText(path) + ": " +
                 ScriptReadErrorText(read) + "\n");
  } else if (utf16) {
    Put(err, "pelliton-cli: the script looks like UTF-16 text; save it as ASCII/UTF-8\n");
  }
}

// One procedure on the card in the chosen reader, as the window's button would run it.
class CardSession final : public ReaderSession {
 public:
  // watcher: a station worker's, whose panel prints nothing itself.
  CardSession(const CliOptions& options, PcscApi& pcsc, OrvoApi& orvo, Pauser& pauser,
              const Streams& streams, journal::Journal* journal, PanelWatcher* watcher = nullptr)
      : options_(options),
        pauser_(pauser),
        streams_(streams),
        panel_(options.json || options.quiet || watcher != nullptr ? nullptr : streams.out,
               options.command == Command::kDownload && streams.out_is_terminal && !options.json &&
                   !options.quiet && watcher == nullptr),
        card_(pcsc, orvo),
        journal_(journal) {
    panel_.SetWatcher(watcher);
  }

  // Lists the PC/SC readers and takes the chosen transport and reader. False, with a
  // note on err, when -r names no listed reader or more than one. presence (optional)
  // tells which readers hold a card.
  bool ChooseReader(CardPresence* presence) {
    std::vector<std::string> readers;
    const LONG listed = card_.ListReaders(&readers);
    if (options_.reader == ReaderChoice::kOrvo) {
      card_.Mode() = ReaderMode::UsbReader;
      return true;
    }
    card_.Mode() = ReaderMode::Pcsc;
    if (PcscServiceDown(listed))
      Put(streams_.err, ServiceDownNote());
    const bool named = options_.reader == ReaderChoice::kNamedPcsc;
    std::vector<bool> holds_card;
    if (!named && readers.size() > 1 && presence != nullptr)
      holds_card = presence->HoldsCard(readers);
    const ReaderPick pick = PickReader(readers, named ? options_.reader_name : "", holds_card);
    if (!pick.error.empty()) {
      Put(streams_.err, "pelliton-cli: " + pick.error + "\n");
      return false;
    }
    if (pick.index) {
      card_.SelectReader(readers[*pick.index]);
      if (options_.verbosity > 0)
        Put(streams_.err, "pelliton-cli: reader " + AsTerminalText(readers[*pick.index]) + " (" +
                              pick.reason + ")\n");
    }
    return true;
  }

  // A station worker's reader: lists the readers under this thread's own context and
  // takes reader when listed; otherwise the service's code in *error (0 when the service
  // answered but does not list it).
  bool UseReader(const std::string& reader, long* error) {
    std::vector<std::string> readers;
    *error = card_.ListReaders(&readers);
    card_.Mode() = ReaderMode::Pcsc;
    if (std::find(readers.begin(), readers.end(), reader) == readers.end())
      return false;
    card_.SelectReader(reader);
    return true;
  }

  const std::string& ReaderName() { return card_.Connection().reader_name; }
  // The reader as named in messages and records.
  std::string ReaderLabel() {
    return options_.reader == ReaderChoice::kOrvo ? std::string("Orvo reader") : ReaderName();
  }

  bool JournalFailed() const override { return journal_failed_; }
  void SetGivenUp(const std::atomic<bool>* given_up) { given_up_ = given_up; }

  CardRun Run() override {
    panel_.StartRun();
    const auto start = std::chrono::steady_clock::now();
    CardRun run;
    run_id_.clear();
    const journal::RunClock clock(card_);
    if (options_.command == Command::kDownload) {
      DownloadOutcome download = RunDownload(clock, &run.read_back);
      run.counter_written = download.counter;
      run.outcome = std::move(download);
    } else {
      CardInfoOutcome info = GetCardInfo(panel_, card_, pauser_);
      Record(journal::InfoRecord(clock, info, card_));
      run.info = std::move(info.info);
      run.outcome = std::move(info);
    }
    panel_.ClearProgress();
    run.messages = panel_.Shown();
    run.run_id = run_id_;
    run.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    // Only this run's own reset names the card: a run refused before it (an unreadable
    // script) must not carry the previous card's ATR into its JSON, hook and record.
    const CardConnection& connection = card_.Connection();
    run.atr_hex =
        clock.ReadAtrSinceStart(card_)
            ? HexText(connection.atr, std::min<size_t>(connection.atr_length, kAtrBufferSize))
            : std::string();
    return run;
  }

 private:
  void Record(journal::JournalRecord record) {
    if (given_up_ != nullptr && given_up_->load())
      return;
    if (!RecordCardRun(journal_, std::move(record), streams_.err, &run_id_))
      journal_failed_ = true;
  }

  // The script is read once: the checks, the load and the record all take these bytes.
  DownloadOutcome RunDownload(const journal::RunClock& clock, std::optional<CardInfo>* read_back) {
    ScriptText script;
    const ScriptReadError read = ReadScriptText(options_.script, &script);
    // The browse procedure's check comes first, as in the window, where no script
    // reaches the path box without it.
    const ScriptPrecheck precheck =
        read == ScriptReadError::kNone ? PrecheckScript(script) : ScriptPrecheck::kUnreadable;
    if (precheck != ScriptPrecheck::kAccepted) {
      DownloadOutcome refused;
      ShowPrecheckRefusal(panel_, precheck, refused);
      NoteScriptTrouble(streams_.err, options_.script, read, script.LooksLikeUtf16());
      // A script that could not be read has no size or digest to record.
      journal::JournalRecord record =
          read == ScriptReadError::kNone
              ? journal::DownloadRecord(clock, refused, card_, options_.script, script.Bytes())
              : journal::DownloadRecord(clock, refused, card_, std::string());
      record.script_path = options_.script;
      Record(std::move(record));
      return refused;
    }
    panel_.SetPathBoxText(options_.script);
    panel_.SetCounterText(options_.counter_text);
    DownloadOutcome outcome = OnDownload(panel_, card_, pauser_, script);
    if (!outcome.Succeeded())
      NoteScriptTrouble(streams_.err, options_.script, read, script.LooksLikeUtf16());
    if (options_.verify && outcome.Succeeded())
      ReadBack(outcome, read_back);
    // One record per card: the download, and with --verify what was read back.
    journal::JournalRecord record =
        journal::DownloadRecord(clock, outcome, card_, options_.script, script.Bytes());
    if (*read_back)
      journal::AddReadBack(**read_back, &record);
    Record(std::move(record));
    return outcome;
  }

  // --verify: the query on the same card; a failed query or a counter other than the one
  // written makes the card a failure.
  void ReadBack(DownloadOutcome& outcome, std::optional<CardInfo>* read_back) {
    CardInfoOutcome query = GetCardInfo(panel_, card_, pauser_);
    const uint32_t exchanges = outcome.exchanges + query.exchanges;
    if (!query.Succeeded()) {
      static_cast<Outcome&>(outcome) = query;
      outcome.exchanges = exchanges;
      return;
    }
    *read_back = query.info;
    if (const auto mismatch = CounterMismatch(*query.info, outcome.counter)) {
      outcome.end = RunEnd::kReadBack;
      outcome.message = *mismatch;
      panel_.AppMessageBox(*mismatch);
    }
    outcome.exchanges = exchanges;
  }

  const CliOptions& options_;
  Pauser& pauser_;
  Streams streams_;
  ConsolePanel panel_;
  CardAccess card_;
  journal::Journal* journal_;
  bool journal_failed_ = false;
  const std::atomic<bool>* given_up_ = nullptr;
  std::string run_id_;  // the run id of the current run's record; empty until written
};

// Keeps in_progress up to date for as long as one card is run.
class CardScope {
 public:
  CardScope(CardInProgress* in_progress, std::optional<int> number, const std::string& reader)
      : in_progress_(in_progress), reader_(reader) {
    if (in_progress_ != nullptr)
      in_progress_->Begin(number, reader);
  }
  ~CardScope() {
    if (in_progress_ != nullptr)
      in_progress_->End(reader_);
  }
  CardScope(const CardScope&) = delete;
  CardScope& operator=(const CardScope&) = delete;

 private:
  CardInProgress* in_progress_;
  std::string reader_;
};

// What follows each card: its report, then the hook for its verdict.
void AfterCard(const CliOptions& options, const std::string& reader, const CardRun& run,
               std::optional<int> card_number, const Streams& streams) {
  const CardReport report = ReportCard(options, reader, run, card_number, streams.err_is_terminal);
  Put(streams.out, report.out);
  Put(streams.err, report.err);
  Put(streams.err, RunCardHook(options, reader, run));
}

// --each-card on one reader: the card loop, its texts on the terminal.
class EachCardEvents final : public CardLoopEvents {
 public:
  EachCardEvents(const CliOptions& options, const std::string& reader, const Streams& streams,
                 CardInProgress* in_progress)
      : options_(options), reader_(reader), streams_(streams), in_progress_(in_progress) {}

  void Waiting(bool for_removal) override {
    if (options_.quiet)
      return;
    Put(streams_.err, for_removal ? std::string("Remove the card.\n")
                                  : "Waiting for a card in " + AsTerminalText(reader_) + " ...\n");
  }
  void CardStarted(int card) override {
    if (in_progress_ != nullptr)
      in_progress_->Begin(card, reader_);
    if (!options_.json && !options_.quiet)
      Put(streams_.out, "== Card " + std::to_string(card) + "\n");
  }
  bool CardEnded(int card, const CardRun& run) override {
    if (in_progress_ != nullptr)
      in_progress_->End(reader_);
    if (options_.json)
      Put(streams_.out, RunJson(options_, reader_, run, card));
    AfterCard(options_, reader_, run, card, streams_);
    return !OutputFailed(streams_.out);
  }

 private:
  const CliOptions& options_;
  const std::string& reader_;
  const Streams& streams_;
  CardInProgress* in_progress_;
};

int EachCard(const CliOptions& options, CardSession& session, CardPresence& presence,
             const std::atomic<bool>& stop, const Streams& streams, CardInProgress* in_progress) {
  const std::string reader = session.ReaderName();
  if (reader.empty()) {
    Put(streams.err, "pelliton-cli: No PC/SC card reader exists!\n");
    return kExitFailed;
  }
  EachCardEvents events(options, reader, streams, in_progress);
  const CardLoopEnd end = RunCardLoop(reader, session, presence, options.card_limit, stop, events);
  // No further card was programmed while its record would be lost.
  if (end.output_lost)
    return CheckedExit(kExitFailed, streams);
  if (end.error != 0)
    Put(streams.err, "pelliton-cli: waiting for a card failed (" + PcscCodeText(end.error) + ")\n");
  Put(streams.out, TallyOutput(options, end.cards, end.failures, end.stopped));
  return CheckedExit(end.failures.empty() && end.error == 0 ? kExitSuccess : kExitFailed, streams);
}

}  // namespace

void CardInProgress::Begin(std::optional<int> number, const std::string& reader) {
  const std::lock_guard lock(mutex_);
  cards_[reader] = number;
}

void CardInProgress::End(const std::string& reader) {
  const std::lock_guard lock(mutex_);
  cards_.erase(reader);
}

std::string CardInProgress::Describe() const {
  const std::lock_guard lock(mutex_);
  std::string text;
  for (const auto& [reader_name, number] : cards_) {
    const std::string reader =
        reader_name.empty() ? std::string("no reader") : AsTerminalText(reader_name);
    text += (text.empty() ? "" : ", ") +
            (number ? "card " + std::to_string(*number) : std::string("the card")) + " in " +
            reader;
  }
  return text;
}

size_t CardInProgress::Count() const {
  const std::lock_guard lock(mutex_);
  return cards_.size();
}

std::unique_ptr<ReaderSession> MakeReaderSession(const CliOptions& options, PcscApi& pcsc,
                                                 OrvoApi& orvo, Pauser& pauser,
                                                 const std::string& reader, PanelWatcher* watcher,
                                                 journal::Journal* journal, long* error,
                                                 const std::atomic<bool>* given_up) {
  auto session =
      std::make_unique<CardSession>(options, pcsc, orvo, pauser, Streams{}, journal, watcher);
  session->SetGivenUp(given_up);
  if (!session->UseReader(reader, error))
    return nullptr;
  return session;
}

CardLoopEnd RunCardLoop(const std::string& reader, ReaderSession& session, CardPresence& presence,
                        uint32_t card_limit, const std::atomic<bool>& stop,
                        CardLoopEvents& events) {
  CardLoopEnd end;
  long error = 0;
  const auto limit_reached = [&] {
    return card_limit != 0 && end.cards >= static_cast<int>(card_limit);
  };
  while (!limit_reached()) {
    events.Waiting(false);
    DWORD seen = 0;
    const CardPresence::Wait arrived = presence.WaitForCard(reader, &seen, &error);
    if (arrived != CardPresence::Wait::kReady) {
      end.stopped = arrived == CardPresence::Wait::kStopped;
      end.error = error;
      break;
    }
    const int card = ++end.cards;
    events.CardStarted(card);
    const CardRun run = session.Run();
    if (!run.outcome.Succeeded())
      end.failures.push_back({card, run.outcome.message});
    if (!events.CardEnded(card, run)) {
      end.output_lost = true;
      break;
    }
    if (session.JournalFailed()) {
      end.journal_failed = true;
      break;
    }
    if (limit_reached())
      break;
    if (stop.load()) {
      end.stopped = true;
      break;
    }
    events.Waiting(true);
    // By the service's count of insertions and removals: a card swapped while a hook
    // ran is a new card, although the reader never looked empty.
    const CardPresence::Wait left = presence.WaitForRemoval(reader, seen, &error);
    if (left != CardPresence::Wait::kReady) {
      end.stopped = left == CardPresence::Wait::kStopped;
      end.error = error;
      break;
    }
  }
  return end;
}

CardReport ReportCard(const CliOptions& options, const std::string& reader, const CardRun& run,
                      std::optional<int> card_number, bool err_is_terminal) {
  CardReport report;
  const bool passed = run.outcome.Succeeded();
  if (options.quiet && !options.json)
    report.out = QuietOutput(run);
  if (options.verbosity > 0)
    report.err += "pelliton-cli: outcome: " + OutcomeDetail(run.outcome) + "\n";
  if (!options.quiet) {
    const Verdict verdict{passed, reader, run.outcome.message, run.elapsed, card_number};
    report.err += VerdictBanner(verdict, BannerStyleFor(err_is_terminal, std::getenv("NO_COLOR")));
  }
  return report;
}

std::string RunCardHook(const CliOptions& options, const std::string& reader, const CardRun& run) {
  const bool passed = run.outcome.Succeeded();
  const std::string& hook = passed ? options.on_pass : options.on_fail;
  if (hook.empty())
    return std::string();
  const CardResult result{reader, passed, WithLineFeeds(run.outcome.message), run.atr_hex};
  return RunHook(passed ? "--on-pass" : "--on-fail", hook, result,
                 std::chrono::seconds(options.hook_timeout_seconds));
}

int CheckedExit(int status, const Streams& streams) {
  if (!OutputFailed(streams.out))
    return status;
  Put(streams.err, OutputFailureMessage());
  return kExitOutput;
}

int RunReaders(const CliOptions& options, PcscApi& pcsc, OrvoApi& orvo, bool orvo_attached,
               const Streams& streams) {
  CardAccess card(pcsc, orvo);
  std::vector<std::string> readers;
  const bool service_running = !PcscServiceDown(card.ListReaders(&readers));
  Put(streams.out, ReadersOutput(options, readers, service_running, orvo_attached));
  return CheckedExit(!readers.empty() || orvo_attached ? kExitSuccess : kExitFailed, streams);
}

int RunCheck(const CliOptions& options, const Streams& streams) {
  const ScriptCheckReport report = CheckScript(options.script);
  Put(streams.out, CheckOutput(options, report));
  if (!report.sound)
    NoteScriptTrouble(streams.err, options.script, report.read_error, report.utf16);
  return CheckedExit(CheckPasses(report, options.strict) ? kExitSuccess : kExitFailed, streams);
}

int RunOnCard(const CliOptions& options, PcscApi& pcsc, OrvoApi& orvo, Pauser& pauser,
              CardPresence* presence, const std::atomic<bool>& stop, const Streams& streams,
              CardInProgress* in_progress, journal::Journal* journal) {
  if (options.command == Command::kDownload) {
    // A counter that is no number at all would let the window go on with the previous
    // one; on a production line that is a typing error, not a value.
    uint32_t counter = 0;
    if (ParseCounterText(options.counter_text, &counter) == CounterParse::kNotANumber) {
      Put(streams.err, "pelliton-cli: --counter: " + std::string(kCounterNotANumberMessage) +
                           " (see pelliton-cli download --help)\n");
      return kExitUsage;
    }
  }

  CardSession session(options, pcsc, orvo, pauser, streams, journal);
  if (!session.ChooseReader(presence))
    return kExitFailed;
  int status = kExitFailed;
  if (options.each_card) {
    if (presence == nullptr)
      return kExitUsage;
    status = EachCard(options, session, *presence, stop, streams, in_progress);
  } else {
    CardRun run;
    {
      const CardScope scope(in_progress, std::nullopt, session.ReaderLabel());
      run = session.Run();
    }
    if (options.json)
      Put(streams.out, RunJson(options, session.ReaderLabel(), run, std::nullopt));
    AfterCard(options, session.ReaderLabel(), run, std::nullopt, streams);
    status = run.outcome.Succeeded() ? kExitSuccess : kExitFailed;
  }
  return CheckedExit(session.JournalFailed() ? kExitJournal : status, streams);
}

}  // namespace pelliton::cli
