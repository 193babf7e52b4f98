#include "app/engine_procedures.h"

#include "engine/browse.h"
#include "engine/card_info.h"
#include "engine/download.h"

namespace pelliton {

void EngineProcedures::OnBrowseScript(OperatorPanel& panel) {
  pelliton::OnBrowseScript(panel);
}

void EngineProcedures::OnDownload(OperatorPanel& panel) {
  pelliton::OnDownload(panel, card_, pauser_);
}

void EngineProcedures::GetCardInfo(OperatorPanel& panel) {
  pelliton::GetCardInfo(panel, card_, pauser_);
}

void EngineProcedures::ReloadReaderList(OperatorPanel& panel) {
  card_.ReloadReaderList(panel);
}

void EngineProcedures::OnPcscReload(OperatorPanel& panel) {
  card_.OnPcscReload(panel);
}

void EngineProcedures::OnReaderSelChange(OperatorPanel& panel) {
  card_.OnReaderSelChange(panel);
}

void EngineProcedures::OnReaderModeClicked(OperatorPanel& panel, int id) {
  card_.OnReaderModeClicked(panel, id);
}

}  // namespace pelliton
