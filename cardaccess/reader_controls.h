// The window's reader controls over the card-access transport: the reader drop-down, the
// reload button, the two reader-mode radio buttons, and what the operator is shown when
// a card cannot be reset. The only card-access unit that knows control ids and tones.
#pragma once

#include <cstdint>

#include "cardaccess/access_panel.h"
#include "cardaccess/card_access.h"

namespace pelliton {

// Lists the PC/SC readers into the drop-down, selects the first and takes it as the
// reader (none when the list is empty). Run once while the window initialises.
void ReloadReaderList(CardAccess& card, AccessPanel& panel);
// "PC/SC Reload": the list again, and whether it found a reader in the status box.
void OnPcscReload(CardAccess& card, AccessPanel& panel);
// The operator picked an entry of the drop-down.
void OnReaderSelChange(CardAccess& card, AccessPanel& panel);
// Either reader-mode radio button (kPcscRadio or kOrvoRadio): sets the transport and
// enables the PC/SC controls only for PC/SC.
void OnReaderModeClicked(CardAccess& card, AccessPanel& panel, int control_id);

// CardAccess::ResetCard as the operator meets it: a PC/SC connection that fails shows
// its reason and beeps; an Orvo reader that fails leaves its reason in StatusText for
// the caller to show. Returns the transport's code.
int32_t ResetCardShowingFault(CardAccess& card, AccessPanel& panel);

}  // namespace pelliton
