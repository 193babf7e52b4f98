// The tool's executable on Windows: the native window over the card procedures, PC/SC
// through winscard and the Orvo reader through its own library (linked in, and exported
// by name as from pelliton-reader.dll).
#include "app/win32/upgrade_dialog.h"
// After windows.h, which it needs.
#include <commctrl.h>

#include <memory>
#include <string>

#include "app/engine_procedures.h"
#include "cardaccess/card_access.h"
#include "cardaccess/pcsc_api.h"
#include "engine/pauser.h"

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*command_line*/,
                   int /*show*/) {
  // The classes of the dialog's progress bar, in their current look; the tool reads no
  // argument and keeps no setting.
  INITCOMMONCONTROLSEX classes{sizeof(classes), ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&classes);
  pelliton::win32::SystemPresenter presenter;
  const std::wstring title = pelliton::win32::ModuleTitle(nullptr);

  // Opened before the window can touch a card; null when this build keeps none, or after
  // a message box when it cannot be written.
  std::string message;
  const std::unique_ptr<pelliton::journal::Journal> journal = pelliton::OpenWindowJournal(&message);
  if (!message.empty())
    presenter.ShowMessage(nullptr, pelliton::win32::MessageIcon::kExclamation, title,
                          pelliton::win32::Widen(message));

  pelliton::SystemPcsc pcsc;
  pelliton::SystemOrvo orvo;
  pelliton::CardAccess card(pcsc, orvo);
  pelliton::RealPauser pauser;
  pelliton::EngineProcedures procedures(card, pauser, journal.get());
  pelliton::win32::UpgradeDialog window(procedures, presenter, title);
  window.RunModal();  // the way it was closed is not looked at
  return 0;
}
