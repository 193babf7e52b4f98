// The "..." button: the operator picks an upgrade script, which is pre-checked before
// its path goes into the path box for the download to take.
#pragma once

#include "engine/operator_panel.h"

namespace pelliton {

inline constexpr const char* kSelectScriptMessage = "Plesae Select the apdu file!";
inline constexpr const char* kStartAddrErrorMessage = "APP1 file StartAddr error!";
inline constexpr const char* kScriptFormatErrorMessage = "APP1 file format error!";

// Runs the browse procedure against the window. Reads the chosen file one line at a
// time and never touches the card.
void OnBrowseScript(OperatorPanel& panel);

}  // namespace pelliton
