// The tool's executable: the window over the card procedures, PC/SC through pcsc-lite
// and the Orvo reader through its own library, recording its card runs in the journal.
#include <memory>

#include "app/engine_procedures.h"
#include "app/upgrade_app.h"
#include "cardaccess/card_access.h"
#include "cardaccess/pcsc_api.h"
#include "engine/pauser.h"

int main(int argc, char** argv) {
  pelliton::UpgradeApp app(argc, argv);
  // Opened before the window can touch a card; null (after a message box) when it fails.
  const std::unique_ptr<pelliton::journal::Journal> journal = app.OpenJournal();
  pelliton::SystemPcsc pcsc;
  pelliton::SystemOrvo orvo;
  pelliton::CardAccess card(pcsc, orvo);
  pelliton::RealPauser pauser;
  pelliton::EngineProcedures procedures(card, pauser, journal.get());
  return app.Run(procedures);
}
