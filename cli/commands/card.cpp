#include "cli/commands/card.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <vector>

#include "cardaccess/card_access.h"
#include "cardaccess/pcsc_codes.h"
#include "cardaccess/trace.h"
#include "cli/commands/journal.h"
#include "cli/platform/hooks.h"
#include "cli/platform/platform.h"
#include "cli/reader_choice.h"
#include "cli/render/console_panel.h"
#include "cli/render/output.h"
#include "cli/render/render.h"
#include "cli/render/verdict.h"
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

// One procedure on the card in the chosen reader, as the window's button would run it.
class CardSession final : public ReaderSession {
 public:
  CardSession(const CliOptions& options, PcscApi& pcsc, OrvoApi& orvo, Pauser& pauser,
              const Streams& streams, journal::Journal* journal)
      : options_(options),
        streams_(streams),
        panel_(options.json || options.quiet ? nullptr : streams.out,
               options.command == Command::kDownload && streams.out_is_terminal && !options.json &&
                   !options.quiet),
        card_(pcsc, orvo),
        job_(JobOrderOf(options), card_, pauser, journal) {}

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

  const std::string& ReaderName() { return card_.Connection().reader_name; }
  // The reader as named in messages and records.
  std::string ReaderLabel() {
    return options_.reader == ReaderChoice::kOrvo ? std::string("Orvo reader") : ReaderName();
  }

  bool JournalFailed() const override { return job_.JournalFailed(); }

  CardRun Run() override {
    CardRun run = job_.Run(panel_);
    Put(streams_.err, RunNotes(run, options_.script));
    return run;
  }

 private:
  const CliOptions& options_;
  Streams streams_;
  ConsolePanel panel_;
  CardAccess card_;
  station::CardJob job_;
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

station::JobOrder JobOrderOf(const CliOptions& options) {
  station::JobOrder order;
  order.procedure = options.command == Command::kDownload ? station::Procedure::kDownload
                                                          : station::Procedure::kInfo;
  order.script_path = options.script;
  order.counter_text = options.counter_text;
  order.verify = options.verify;
  return order;
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
