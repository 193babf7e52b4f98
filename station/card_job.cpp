#include "station/card_job.h"

#include <algorithm>
#include <utility>

#include "cardaccess/pcsc_codes.h"
#include "engine/browse.h"
#include "engine/bytes.h"
#include "engine/card_info.h"
#include "engine/counter_rule.h"
#include "engine/download.h"
#include "journal/card_record.h"
#include "station/read_back.h"

namespace pelliton::station {

namespace {

const char* ProcedureName(Procedure procedure) {
  return procedure == Procedure::kDownload ? "download" : "info";
}

}  // namespace

CardJob::CardJob(JobOrder order, CardAccess& card, Pauser& pauser, journal::Journal* journal,
                 const std::atomic<bool>* given_up)
    : order_(std::move(order)),
      card_(card),
      pauser_(pauser),
      journal_(journal),
      given_up_(given_up) {}

CardRun CardJob::Run(RunPanel& panel) {
  panel.StartRun();
  const auto start = std::chrono::steady_clock::now();
  const journal::RunClock clock(card_);
  CardRun run;
  uint32_t counter = 0;
  const bool counter_read = ParseCounterText(order_.counter_text, &counter) == CounterParse::kOk;
  if (!BeginRecord(clock, order_.script_path,
                   counter_read ? std::optional<uint32_t>(counter) : std::nullopt, run)) {
    panel.EndRun();
    return Finish(std::move(run), clock, start);
  }
  if (order_.procedure == Procedure::kDownload) {
    DownloadOutcome download = Download(panel, clock, run);
    run.counter_written = download.counter;
    run.outcome = std::move(download);
  } else {
    Info(panel, clock, run);
  }
  panel.EndRun();
  run.messages = panel.Shown();
  return Finish(std::move(run), clock, start);
}

CardRun CardJob::RunInWindow(OperatorPanel& panel) {
  const auto start = std::chrono::steady_clock::now();
  const journal::RunClock clock(card_);
  CardRun run;
  // The counter box is read only once the download runs: its record gets the counter then.
  if (!BeginRecord(clock, panel.ScriptPath(), std::nullopt, run))
    return Finish(std::move(run), clock, start);
  if (order_.procedure == Procedure::kDownload) {
    std::optional<ScriptText> read;
    DownloadOutcome download = OnDownload(panel, card_, pauser_, &read);
    // The record names the bytes the run checked and loaded, not the file as it is now.
    Record(read ? journal::DownloadRecord(clock, download, card_, panel.ScriptPath(), read->Bytes())
                : journal::DownloadRecord(clock, download, card_, panel.ScriptPath()),
           run);
    run.counter_written = download.counter;
    run.outcome = std::move(download);
  } else {
    Info(panel, clock, run);
  }
  return Finish(std::move(run), clock, start);
}

void CardJob::Info(OperatorPanel& panel, const journal::RunClock& clock, CardRun& run) {
  CardInfoOutcome info = GetCardInfo(panel, card_, pauser_);
  Record(journal::InfoRecord(clock, info, card_), run);
  run.info = std::move(info.info);
  run.outcome = std::move(info);
}

CardRun CardJob::Finish(CardRun run, const journal::RunClock& clock,
                        std::chrono::steady_clock::time_point start) {
  run.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  // Only this run's own reset names the card: a run refused before it (an unreadable
  // script) must not carry the previous card's ATR into its JSON, hook and record.
  const CardConnection& connection = card_.Connection();
  if (clock.ReadAtrSinceStart(card_))
    run.atr_hex = HexText(connection.atr, std::min<size_t>(connection.atr_length, kAtrBufferSize));
  run.service_lost = !run.Passed() && run.outcome.transport_result &&
                     PcscServiceDown(*run.outcome.transport_result);
  return run;
}

DownloadOutcome CardJob::Download(RunPanel& panel, const journal::RunClock& clock, CardRun& run) {
  ScriptText script;
  const ScriptReadError read = ReadScriptText(order_.script_path, &script);
  // The browse procedure's check comes first, as in the window, where no script reaches
  // the path box without it.
  const ScriptPrecheck precheck =
      read == ScriptReadError::kNone ? PrecheckScript(script) : ScriptPrecheck::kUnreadable;
  if (precheck != ScriptPrecheck::kAccepted) {
    DownloadOutcome refused;
    ShowPrecheckRefusal(panel, precheck, refused);
    run.script_read = read;
    run.script_utf16 = script.LooksLikeUtf16();
    // A script that could not be read has no size or digest to record.
    journal::JournalRecord record =
        read == ScriptReadError::kNone
            ? journal::DownloadRecord(clock, refused, card_, order_.script_path, script.Bytes())
            : journal::DownloadRecord(clock, refused, card_, std::string());
    record.script_path = order_.script_path;
    Record(std::move(record), run);
    return refused;
  }
  panel.SetPathBoxText(order_.script_path);
  panel.SetCounterText(order_.counter_text);
  DownloadOutcome outcome = OnDownload(panel, card_, pauser_, script);
  if (!outcome.Succeeded()) {
    run.script_read = read;
    run.script_utf16 = script.LooksLikeUtf16();
  }
  if (order_.verify && outcome.Succeeded())
    ReadBack(panel, outcome, run);
  // One record per card: the download, and with --verify what was read back.
  journal::JournalRecord record =
      journal::DownloadRecord(clock, outcome, card_, order_.script_path, script.Bytes());
  if (run.read_back)
    journal::AddReadBack(*run.read_back, &record);
  Record(std::move(record), run);
  return outcome;
}

// The query on the same card; a failed query or a counter other than the one written
// makes the card a failure.
void CardJob::ReadBack(OperatorPanel& panel, DownloadOutcome& outcome, CardRun& run) {
  CardInfoOutcome query = GetCardInfo(panel, card_, pauser_);
  const uint32_t exchanges = outcome.exchanges + query.exchanges;
  if (!query.Succeeded()) {
    // The query's own failure, told as a read-back's: the download itself succeeded,
    // and its record must keep saying that the counter went onto the card.
    static_cast<Outcome&>(outcome) = query;
    outcome.end = RunEnd::kReadBack;
    outcome.exchanges = exchanges;
    return;
  }
  run.read_back = query.info;
  if (const auto mismatch = CounterMismatch(*query.info, outcome.counter)) {
    outcome.end = RunEnd::kReadBack;
    outcome.message = *mismatch;
    panel.AppMessageBox(*mismatch);
  }
  outcome.exchanges = exchanges;
}

std::string CardJob::RecordInProgress() const {
  const std::lock_guard lock(record_mutex_);
  return record_in_progress_;
}

bool CardJob::BeginRecord(const journal::RunClock& clock, const std::string& script_path,
                          std::optional<uint32_t> counter, CardRun& run) {
  if (journal_ == nullptr)
    return true;
  // What is known before the card is touched: enough to find the card and what it was
  // to be given, should the program die before the run ends.
  journal::JournalRecord record;
  record.time_utc = clock.StartText();
  record.procedure = ProcedureName(order_.procedure);
  record.reader = journal::RecordReaderName(card_);
  if (order_.procedure == Procedure::kDownload) {
    record.script_path = script_path;
    if (counter)
      record.counter_written = *counter;
  }
  std::string run_id;
  if (journal_->Begin(std::move(record), &run_id, &run.record_error)) {
    const std::lock_guard lock(record_mutex_);
    record_in_progress_ = std::move(run_id);
    return true;
  }
  journal_failed_ = true;
  if (run.record_error.empty())
    run.record_error = "the journal refused the record";
  run.outcome.end = RunEnd::kRefused;
  run.outcome.message = kNotRecordedMessage;
  return false;
}

void CardJob::Record(journal::JournalRecord record, CardRun& run) {
  std::string run_id;
  {
    const std::lock_guard lock(record_mutex_);
    run_id = std::exchange(record_in_progress_, std::string());
  }
  if (journal_ == nullptr || run_id.empty() || (given_up_ != nullptr && given_up_->load()))
    return;
  // Only a completed record names the run: a failed commit is never a recorded run id.
  if (journal_->Complete(run_id, std::move(record), &run.record_error)) {
    run.run_id = std::move(run_id);
    return;
  }
  journal_failed_ = true;
  run.run_id.clear();
  if (run.record_error.empty())
    run.record_error = "the journal refused the record";
}

}  // namespace pelliton::station
