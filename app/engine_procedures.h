// The window's buttons bound to the card procedures and the reader controls; each card
// run is recorded in the journal when there is one.
#pragma once

#include <memory>
#include <string>

#include "app/window_procedures.h"
#include "cardaccess/card_access.h"
#include "engine/pauser.h"
#include "journal/journal.h"
#include "station/card_job.h"

namespace pelliton {

// The journal of the window's card runs at the default path, opened before the window can
// touch a card. Null when the build keeps none (message left empty) or when it cannot be
// opened for writing: *message then says so, for the window to show before it opens; the
// window runs without a journal.
std::unique_ptr<journal::Journal> OpenWindowJournal(std::string* message);

class EngineProcedures final : public WindowProcedures {
 public:
  // journal may be null: no records. A record that cannot be written is said once in an
  // application message box, and the window goes on without the journal.
  EngineProcedures(CardAccess& card, Pauser& pauser, journal::Journal* journal = nullptr)
      : card_(card), pauser_(pauser), journal_(journal) {}

  void OnBrowseScript(OperatorPanel& panel) override;
  void OnDownload(OperatorPanel& panel) override;
  void GetCardInfo(OperatorPanel& panel) override;
  void ReloadReaderList(OperatorPanel& panel) override;
  void OnPcscReload(OperatorPanel& panel) override;
  void OnReaderSelChange(OperatorPanel& panel) override;
  void OnReaderModeClicked(OperatorPanel& panel, int id) override;

 private:
  void Run(OperatorPanel& panel, station::Procedure procedure);

  CardAccess& card_;
  Pauser& pauser_;
  journal::Journal* journal_;
};

}  // namespace pelliton
