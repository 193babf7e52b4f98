// The window's buttons bound to the card procedures and the reader controls.
#pragma once

#include "app/window_procedures.h"
#include "cardaccess/card_access.h"
#include "engine/pauser.h"

namespace pelliton {

class EngineProcedures final : public WindowProcedures {
 public:
  EngineProcedures(CardAccess& card, Pauser& pauser) : card_(card), pauser_(pauser) {}

  void OnBrowseScript(OperatorPanel& panel) override;
  void OnDownload(OperatorPanel& panel) override;
  void GetCardInfo(OperatorPanel& panel) override;
  void ReloadReaderList(OperatorPanel& panel) override;
  void OnPcscReload(OperatorPanel& panel) override;
  void OnReaderSelChange(OperatorPanel& panel) override;
  void OnReaderModeClicked(OperatorPanel& panel, int id) override;

 private:
  CardAccess& card_;
  Pauser& pauser_;
};

}  // namespace pelliton
