// The procedures behind the window's buttons. The window only forwards its events here;
// what each one does to the card, the reader list and the controls is the procedure's own
// business, done through the OperatorPanel it is handed (the window itself).
#pragma once

#include "engine/operator_panel.h"

namespace pelliton {

class WindowProcedures {
 public:
  virtual ~WindowProcedures() = default;

  // "..." button.
  virtual void OnBrowseScript(OperatorPanel& panel) = 0;
  // Download button.
  virtual void OnDownload(OperatorPanel& panel) = 0;
  // Get Card Info button.
  virtual void GetCardInfo(OperatorPanel& panel) = 0;
  // Fills the reader list; run once while the window initialises.
  virtual void ReloadReaderList(OperatorPanel& panel) = 0;
  // "PC/SC Reload" button.
  virtual void OnPcscReload(OperatorPanel& panel) = 0;
  // The operator picked an entry of the reader list.
  virtual void OnReaderSelChange(OperatorPanel& panel) = 0;
  // Either reader-mode radio button, with its control number (kPcscRadio or kOrvoRadio),
  // also when it was already checked, and once for kOrvoRadio while the window initialises.
  // The procedure sets the reader mode and the reader controls' states.
  virtual void OnReaderModeClicked(OperatorPanel& panel, int id) = 0;
};

}  // namespace pelliton
