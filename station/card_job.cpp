#include "station/card_job.h"

#include <algorithm>
#include <utility>

#include "cardaccess/pcsc_codes.h"
#include "engine/browse.h"
#include "engine/bytes.h"
#include "engine/card_info.h"
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
    static_cast<Outcome&>(outcome) = query;
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

void CardJob::Record(journal::JournalRecord record, CardRun& run) {
  if (journal_ == nullptr || (given_up_ != nullptr && given_up_->load()))
    return;
  if (!journal_->Append(std::move(record), &run.record_error, &run.run_id)) {
    journal_failed_ = true;
    run.run_id.clear();
    if (run.record_error.empty())
      run.record_error = "the journal refused the record";
  }
}

journal::JournalRecord UnfinishedRecord(const JobOrder& order, const std::string& reader,
                                        const CardRun& run) {
  journal::JournalRecord record;
  record.time_utc = journal::UtcText(std::chrono::system_clock::now() - run.elapsed);
  record.procedure = ProcedureName(order.procedure);
  record.reader = reader;
  record.outcome = std::string(RunEndName(run.outcome.end));
  record.message = run.outcome.message;
  record.duration_ms = run.elapsed.count();
  if (order.procedure == Procedure::kDownload)
    record.script_path = order.script_path;
  return record;
}

}  // namespace pelliton::station
