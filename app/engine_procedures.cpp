#include "app/engine_procedures.h"

#include "cardaccess/reader_controls.h"
#include "engine/browse.h"
#include "engine/card_info.h"
#include "engine/download.h"

namespace pelliton {

void EngineProcedures::OnBrowseScript(OperatorPanel& panel) {
  (void)pelliton::OnBrowseScript(panel);
}

void EngineProcedures::OnDownload(OperatorPanel& panel) {
  (void)pelliton::OnDownload(panel, card_, pauser_);
}

void EngineProcedures::GetCardInfo(OperatorPanel& panel) {
  (void)pelliton::GetCardInfo(panel, card_, pauser_);
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
