// The Download button: loads the chosen upgrade script onto the card and writes the
// card's counter, protected by a card challenge and a CRC-32.
#pragma once

#include <cstdint>
#include <optional>

#include "cardaccess/card_access.h"
#include "engine/operator_panel.h"
#include "engine/outcome.h"
#include "engine/pauser.h"
#include "engine/script.h"

namespace pelliton {

// Runs the download against the window and returns how it ended: the message the
// operator was shown, the line, transport result or status word that ended it.
DownloadOutcome OnDownload(OperatorPanel& panel, CardAccess& card, Pauser& pauser);
// The same with the script already read, for a front end that has checked those very
// bytes: the run reads no file, and the panel's path only names the script.
DownloadOutcome OnDownload(OperatorPanel& panel, CardAccess& card, Pauser& pauser,
                           const ScriptText& script);
// The same as the first, handing back in *read the script as the run read it (nullopt
// when the run ended before reading it, or could not read it): the bytes that were
// checked and loaded, for the run's record.
DownloadOutcome OnDownload(OperatorPanel& panel, CardAccess& card, Pauser& pauser,
                           std::optional<ScriptText>* read);

// Number of script lines between two steps of the progress bar.
uint32_t ProgressStep(uint32_t line_count);

// The bar's range during a download and its position at success.
inline constexpr int kDownloadProgressMax = 55;

}  // namespace pelliton
