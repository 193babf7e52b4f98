#include "cli/runs.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "cardaccess/card_access.h"
#include "cli/console_panel.h"
#include "cli/journal_command.h"
#include "cli/render.h"
#include "cli/script_check.h"
#include "engine/browse.h"
#include "engine/card_info.h"
#include "engine/counter_rule.h"
#include "engine/download.h"
#include "journal/card_record.h"

namespace pelliton::cli {

namespace {

void Put(std::FILE* out, const std::string& text) {
  std::fputs(text.c_str(), out);
  std::fflush(out);
}

// One procedure on the card in the chosen reader, as the window's button would run it.
class CardSession {
 public:
  CardSession(const CliOptions& options, PcscApi& pcsc, OrvoApi& orvo, Pauser& pauser,
              const Streams& streams, journal::Journal* journal)
      : options_(options),
        pauser_(pauser),
        streams_(streams),
        panel_(options.json ? nullptr : streams.out,
               options.command == Command::kDownload && streams.out_is_terminal && !options.json),
        card_(pcsc, orvo),
        journal_(journal) {}

  // Lists the PC/SC readers and takes the chosen transport and reader. False, with a
  // note on err, when a named reader is not listed.
  bool ChooseReader() {
    std::vector<std::string> readers;
    card_.ListReaders(&readers);
    if (options_.reader == ReaderChoice::kOrvo) {
      card_.Mode() = ReaderMode::UsbReader;
      return true;
    }
    card_.Mode() = ReaderMode::Pcsc;
    if (options_.reader == ReaderChoice::kNamedPcsc) {
      if (std::find(readers.begin(), readers.end(), options_.reader_name) == readers.end()) {
        Put(streams_.err, "pelliton-cli: no PC/SC reader named \"" + options_.reader_name +
                              "\" is listed (see pelliton-cli readers)\n");
        return false;
      }
      card_.SelectReader(options_.reader_name);
    } else if (!readers.empty()) {
      card_.SelectReader(readers.front());
    }
    return true;
  }

  const std::string& ReaderName() { return card_.Connection().reader_name; }

  // Whether a run's record could not be written to the journal.
  bool JournalFailed() const { return journal_failed_; }

  CardRun Run() {
    panel_.StartRun();
    CardRun run;
    const journal::RunClock clock;
    if (options_.command == Command::kDownload) {
      DownloadOutcome download = RunDownload();
      Record(journal::DownloadRecord(clock, download, card_, options_.script));
      run.outcome = std::move(download);
    } else {
      CardInfoOutcome info = GetCardInfo(panel_, card_, pauser_);
      Record(journal::InfoRecord(clock, info, card_));
      run.info = std::move(info.info);
      run.outcome = std::move(info);
    }
    panel_.ClearProgress();
    run.messages = panel_.Shown();
    return run;
  }

 private:
  void Record(journal::JournalRecord record) {
    if (!RecordCardRun(journal_, std::move(record), streams_.err))
      journal_failed_ = true;
  }

  DownloadOutcome RunDownload() {
    // The browse procedure's check comes first, as in the window, where no script
    // reaches the path box without it.
    const ScriptPrecheck precheck = PrecheckScript(options_.script);
    if (precheck != ScriptPrecheck::kAccepted) {
      DownloadOutcome refused;
      refused.end = PrecheckEnd(precheck);
      refused.message = PrecheckMessage(precheck);
      panel_.AppMessageBox(refused.message);
      return refused;
    }
    panel_.SetPathBoxText(options_.script);
    panel_.SetCounterText(options_.counter_text);
    return OnDownload(panel_, card_, pauser_);
  }

  const CliOptions& options_;
  Pauser& pauser_;
  Streams streams_;
  ConsolePanel panel_;
  CardAccess card_;
  journal::Journal* journal_;
  bool journal_failed_ = false;
};

int EachCard(const CliOptions& options, CardSession& session, CardPresence& presence,
             const std::atomic<bool>& stop, const Streams& streams) {
  const std::string reader = session.ReaderName();
  if (reader.empty()) {
    Put(streams.err, "pelliton-cli: No PC/SC card reader exists!\n");
    return kExitFailed;
  }
  int cards = 0;
  std::vector<TallyFailure> failures;
  bool stopped = false;
  long error = 0;
  while (options.card_limit == 0 || cards < static_cast<int>(options.card_limit)) {
    Put(streams.err, "Waiting for a card in " + reader + " ...\n");
    const CardPresence::Wait arrived = presence.WaitFor(reader, true, &error);
    if (arrived == CardPresence::Wait::kStopped) {
      stopped = true;
      break;
    }
    if (arrived == CardPresence::Wait::kFailed)
      break;

    ++cards;
    if (!options.json)
      Put(streams.out, "== Card " + std::to_string(cards) + "\n");
    const CardRun run = session.Run();
    if (options.json)
      Put(streams.out, RunJson(options, reader, run, cards));
    if (!run.outcome.Succeeded())
      failures.push_back({cards, run.outcome.message});
    if (session.JournalFailed())
      break;

    if (options.card_limit != 0 && cards >= static_cast<int>(options.card_limit))
      break;
    if (stop.load()) {
      stopped = true;
      break;
    }
    Put(streams.err, "Remove the card.\n");
    const CardPresence::Wait left = presence.WaitFor(reader, false, &error);
    if (left == CardPresence::Wait::kStopped) {
      stopped = true;
      break;
    }
    if (left == CardPresence::Wait::kFailed)
      break;
  }
  if (error != 0) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(error) & 0xFFFFFFFFul);
    Put(streams.err, std::string("pelliton-cli: waiting for a card failed (PC/SC ") + code + ")\n");
  }
  Put(streams.out, TallyOutput(options, cards, failures, stopped));
  return failures.empty() && error == 0 ? kExitSuccess : kExitFailed;
}

}  // namespace

int RunReaders(const CliOptions& options, PcscApi& pcsc, OrvoApi& orvo, bool orvo_attached,
               const Streams& streams) {
  CardAccess card(pcsc, orvo);
  std::vector<std::string> readers;
  card.ListReaders(&readers);
  Put(streams.out, ReadersOutput(options, readers, orvo_attached));
  return !readers.empty() || orvo_attached ? kExitSuccess : kExitFailed;
}

int RunCheck(const CliOptions& options, const Streams& streams) {
  const ScriptCheckReport report = CheckScript(options.script);
  Put(streams.out, CheckOutput(options, report));
  return report.sound ? kExitSuccess : kExitFailed;
}

int RunOnCard(const CliOptions& options, PcscApi& pcsc, OrvoApi& orvo, Pauser& pauser,
              CardPresence* presence, const std::atomic<bool>& stop, const Streams& streams,
              journal::Journal* journal) {
  if (options.command == Command::kDownload) {
    // A counter that is no number at all would let the window go on with the previous
    // one; on a production line that is a typing error, not a value.
    uint32_t counter = 0;
    if (ParseCounterText(options.counter_text, &counter) == CounterParse::kNotANumber) {
      Put(streams.err, std::string(kCounterNotANumberMessage) + "\n\n" + UsageText());
      return kExitUsage;
    }
  }

  CardSession session(options, pcsc, orvo, pauser, streams, journal);
  if (!session.ChooseReader())
    return kExitFailed;
  int status = kExitFailed;
  if (options.each_card) {
    if (presence == nullptr)
      return kExitUsage;
    status = EachCard(options, session, *presence, stop, streams);
  } else {
    const CardRun run = session.Run();
    if (options.json)
      Put(streams.out, RunJson(options, session.ReaderName(), run, std::nullopt));
    status = run.outcome.Succeeded() ? kExitSuccess : kExitFailed;
  }
  return session.JournalFailed() ? kExitJournal : status;
}

}  // namespace pelliton::cli
