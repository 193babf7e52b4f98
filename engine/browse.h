// The "..." button: the operator picks an upgrade script, which is pre-checked before
// its path goes into the path box for the download to take.
#pragma once

#include <string>

#include "engine/operator_panel.h"
#include "engine/outcome.h"
#include "engine/script.h"

namespace pelliton {

inline constexpr const char* kSelectScriptMessage = "Plesae Select the apdu file!";
inline constexpr const char* kStartAddrErrorMessage = "APP1 file StartAddr error!";
inline constexpr const char* kScriptFormatErrorMessage = "APP1 file format error!";

enum class ScriptPrecheck { kUnreadable, kNoApp1Start, kBadFormat, kAccepted };

// The check a chosen script passes before its path is taken: readable, App1 starting
// at 0x00002000, every AddressLine well formed. Reads the file once, whole.
ScriptPrecheck PrecheckScript(const std::string& path);
// The same check on a script already read: never kUnreadable.
ScriptPrecheck PrecheckScript(const ScriptText& script);

// The message a refused script gets, and where that leaves the run; null and kSuccess
// for kAccepted.
const char* PrecheckMessage(ScriptPrecheck precheck);
RunEnd PrecheckEnd(ScriptPrecheck precheck);

// Shows a refused script as the browse procedure does: the error beep, the message box,
// and after a StartAddr refusal the emptied path box, so that a download that follows
// finds no script. Fills the outcome's end and message.
void ShowPrecheckRefusal(OperatorPanel& panel, ScriptPrecheck precheck, Outcome& outcome);

// Runs the browse procedure against the window. Reads the chosen file one line at a
// time and never touches the card. Succeeds when the script's path was taken.
Outcome OnBrowseScript(OperatorPanel& panel);

}  // namespace pelliton
