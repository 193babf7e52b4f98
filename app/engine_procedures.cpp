#include "app/engine_procedures.h"

#include "cardaccess/reader_controls.h"
#include "engine/browse.h"

namespace pelliton {

std::unique_ptr<journal::Journal> OpenWindowJournal(std::string* message) {
  message->clear();
  if (!journal::JournalKept())
    return nullptr;
  std::string error;
  std::unique_ptr<journal::Journal> journal = journal::Journal::Open(
      journal::DefaultJournalPath(), "pelliton", journal::Journal::Access::kAppend, &error);
  if (journal == nullptr)
    *message = "The journal of card runs cannot be written:\r\n" + error +
               "\r\n\r\nCard runs will not be recorded until the tool is started again.";
  return journal;
}

void EngineProcedures::OnBrowseScript(OperatorPanel& panel) {
  (void)pelliton::OnBrowseScript(panel);
}

void EngineProcedures::OnDownload(OperatorPanel& panel) {
  Run(panel, station::Procedure::kDownload);
}

void EngineProcedures::GetCardInfo(OperatorPanel& panel) {
  Run(panel, station::Procedure::kInfo);
}

// The buttons run the card job every front end runs, on what the operator chose.
void EngineProcedures::Run(OperatorPanel& panel, station::Procedure procedure) {
  station::JobOrder order;
  order.procedure = procedure;
  station::CardJob job(order, card_, pauser_, journal_);
  const station::CardRun run = job.RunInWindow(panel);
  if (!job.JournalFailed())
    return;
  journal_ = nullptr;
  const bool touched = run.outcome.message != station::kNotRecordedMessage;
  panel.AppMessageBox(std::string(touched ? "This card's run could not be recorded in the journal:"
                                          : station::kNotRecordedMessage) +
                      "\r\n" + run.record_error +
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
