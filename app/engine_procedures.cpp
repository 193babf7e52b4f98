#include "app/engine_procedures.h"

#include "cardaccess/reader_controls.h"
#include "engine/browse.h"
#include "engine/card_info.h"
#include "engine/download.h"
#include "journal/card_record.h"

namespace pelliton {

void EngineProcedures::OnBrowseScript(OperatorPanel& panel) {
  (void)pelliton::OnBrowseScript(panel);
}

void EngineProcedures::OnDownload(OperatorPanel& panel) {
  const journal::RunClock clock(card_);
  std::optional<ScriptText> read;
  const DownloadOutcome outcome = pelliton::OnDownload(panel, card_, pauser_, &read);
  if (journal_ == nullptr)
    return;
  // The record names the bytes the run checked and loaded, not the file as it is now.
  Record(panel,
         read ? journal::DownloadRecord(clock, outcome, card_, panel.ScriptPath(), read->Bytes())
              : journal::DownloadRecord(clock, outcome, card_, panel.ScriptPath()));
}

void EngineProcedures::GetCardInfo(OperatorPanel& panel) {
  const journal::RunClock clock(card_);
  const CardInfoOutcome outcome = pelliton::GetCardInfo(panel, card_, pauser_);
  if (journal_ != nullptr)
    Record(panel, journal::InfoRecord(clock, outcome, card_));
}

void EngineProcedures::Record(OperatorPanel& panel, journal::JournalRecord record) {
  std::string error;
  if (journal_->Append(std::move(record), &error))
    return;
  journal_ = nullptr;
  panel.AppMessageBox("This card's run could not be recorded in the journal:\r\n" + error +
                      "\r\nThe window goes on without recording card runs.");
}

void EngineProcedures::ReloadReaderList(OperatorPanel& panel) {
  pelliton::ReloadReaderList(card_, panel);
}

void EngineProcedures::OnPcscReload(OperatorPanel& panel) {
  pelliton::OnPcscReload(card_, panel);
}

void EngineProcedures::OnReaderSelChange(OperatorPanel& panel) {
  pelliton::OnReaderSelChange(card_, panel);
}

void EngineProcedures::OnReaderModeClicked(OperatorPanel& panel, int id) {
  pelliton::OnReaderModeClicked(card_, panel, id);
}

}  // namespace pelliton
