#include "cli/runs.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "cardaccess/card_access.h"
#include "cli/console_panel.h"
#include "cli/output.h"
#include "cli/read_back.h"
#include "cli/render.h"
#include "cli/script_check.h"
#include "cli/trace.h"
#include "engine/browse.h"
#include "engine/card_info.h"
#include "engine/counter_rule.h"
#include "engine/download.h"

namespace pelliton::cli {

namespace {

void Put(std::FILE* out, const std::string& text) {
  Emit(out, text);
}

// The service's answer when pcscd is not there; the window only sees no readers.
bool PcscServiceDown(LONG code) {
  return code == SCARD_E_NO_SERVICE || code == SCARD_E_SERVICE_STOPPED;
}

constexpr char kServiceDownNote[] = "pelliton-cli: the PC/SC service (pcscd) is not running\n";

// One procedure on the card in the chosen reader, as the window's button would run it.
class CardSession final : public ReaderSession {
 public:
  // watcher: a station worker's, whose panel prints nothing itself.
  CardSession(const CliOptions& options, PcscApi& pcsc, OrvoApi& orvo, Pauser& pauser,
              const Streams& streams, PanelWatcher* watcher = nullptr)
      : options_(options),
        pauser_(pauser),
        streams_(streams),
        panel_(options.json || watcher != nullptr ? nullptr : streams.out,
               options.command == Command::kDownload && streams.out_is_terminal && !options.json &&
                   watcher == nullptr),
        card_(pcsc, orvo) {
    panel_.SetWatcher(watcher);
  }

  // Lists the PC/SC readers and takes the chosen transport and reader. False, with a
  // note on err, when a named reader is not listed.
  bool ChooseReader() {
    std::vector<std::string> readers;
    const LONG listed = card_.ListReaders(&readers);
    if (options_.reader == ReaderChoice::kOrvo) {
      card_.Mode() = ReaderMode::UsbReader;
      return true;
    }
    card_.Mode() = ReaderMode::Pcsc;
    if (PcscServiceDown(listed))
      Put(streams_.err, kServiceDownNote);
    if (options_.reader == ReaderChoice::kNamedPcsc) {
      if (std::find(readers.begin(), readers.end(), options_.reader_name) == readers.end()) {
        Put(streams_.err, "pelliton-cli: no PC/SC reader named \"" +
                              AsTerminalText(options_.reader_name) +
                              "\" is listed (see pelliton-cli readers)\n");
        return false;
      }
      card_.SelectReader(options_.reader_name);
    } else if (!readers.empty()) {
      card_.SelectReader(readers.front());
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

  CardRun Run() override {
    panel_.StartRun();
    CardRun run;
    if (options_.command == Command::kDownload) {
      const DownloadOutcome download = RunDownload();
      run.outcome = download;
      run.counter_written = download.counter;
      if (options_.verify && download.Succeeded())
        ReadBack(run);
    } else {
      CardInfoOutcome info = GetCardInfo(panel_, card_, pauser_);
      run.info = std::move(info.info);
      run.outcome = std::move(info);
    }
    panel_.ClearProgress();
    run.messages = panel_.Shown();
    return run;
  }

 private:
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

  // --verify: the query on the same card; a failed query or a counter other than the one
  // written makes the card a failure.
  void ReadBack(CardRun& run) {
    CardInfoOutcome query = GetCardInfo(panel_, card_, pauser_);
    const uint32_t exchanges = run.outcome.exchanges + query.exchanges;
    if (!query.Succeeded()) {
      run.outcome = std::move(query);
      run.outcome.exchanges = exchanges;
      return;
    }
    run.read_back = query.info;
    if (const auto mismatch = CounterMismatch(*query.info, run.counter_written)) {
      run.outcome.end = RunEnd::kReadBack;
      run.outcome.message = *mismatch;
      panel_.AppMessageBox(*mismatch);
    }
    run.outcome.exchanges = exchanges;
  }

  const CliOptions& options_;
  Pauser& pauser_;
  Streams streams_;
  ConsolePanel panel_;
  CardAccess card_;
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

int EachCard(const CliOptions& options, CardSession& session, CardPresence& presence,
             const std::atomic<bool>& stop, const Streams& streams, CardInProgress* in_progress) {
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
    Put(streams.err, "Waiting for a card in " + AsTerminalText(reader) + " ...\n");
    const CardPresence::Wait arrived = presence.WaitFor(reader, true, &error);
    if (arrived == CardPresence::Wait::kStopped) {
      stopped = true;
      break;
    }
    if (arrived == CardPresence::Wait::kFailed)
      break;

    ++cards;
    CardRun run;
    {
      const CardScope scope(in_progress, cards, reader);
      if (!options.json)
        Put(streams.out, "== Card " + std::to_string(cards) + "\n");
      run = session.Run();
    }
    if (options.json)
      Put(streams.out, RunJson(options, reader, run, cards));
    if (!run.outcome.Succeeded())
      failures.push_back({cards, run.outcome.message});
    // No further card is programmed while its record would be lost.
    if (OutputFailed(streams.out))
      return CheckedExit(kExitFailed, streams);

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
    const std::string name = ResultCodeName(error);
    Put(streams.err, "pelliton-cli: waiting for a card failed (PC/SC " +
                         (name.empty() ? std::string() : name + " ") + code + ")\n");
  }
  Put(streams.out, TallyOutput(options, cards, failures, stopped));
  return CheckedExit(failures.empty() && error == 0 ? kExitSuccess : kExitFailed, streams);
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
                                                 long* error) {
  auto session = std::make_unique<CardSession>(options, pcsc, orvo, pauser, Streams{}, watcher);
  if (!session->UseReader(reader, error))
    return nullptr;
  return session;
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
  return CheckedExit(CheckPasses(report, options.strict) ? kExitSuccess : kExitFailed, streams);
}

int RunOnCard(const CliOptions& options, PcscApi& pcsc, OrvoApi& orvo, Pauser& pauser,
              CardPresence* presence, const std::atomic<bool>& stop, const Streams& streams,
              CardInProgress* in_progress) {
  if (options.command == Command::kDownload) {
    // A counter that is no number at all would let the window go on with the previous
    // one; on a production line that is a typing error, not a value.
    uint32_t counter = 0;
    if (ParseCounterText(options.counter_text, &counter) == CounterParse::kNotANumber) {
      Put(streams.err, std::string(kCounterNotANumberMessage) + "\n\n" + UsageText());
      return kExitUsage;
    }
  }

  CardSession session(options, pcsc, orvo, pauser, streams);
  if (!session.ChooseReader())
    return kExitFailed;
  if (options.each_card) {
    if (presence == nullptr)
      return kExitUsage;
    return EachCard(options, session, *presence, stop, streams, in_progress);
  }
  CardRun run;
  {
    const CardScope scope(in_progress, std::nullopt, session.ReaderLabel());
    run = session.Run();
  }
  if (options.json)
    Put(streams.out, RunJson(options, session.ReaderName(), run, std::nullopt));
  return CheckedExit(run.outcome.Succeeded() ? kExitSuccess : kExitFailed, streams);
}

}  // namespace pelliton::cli
