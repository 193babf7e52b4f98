#include "engine/browse.h"

#include <optional>
#include <string>
#include <string_view>

namespace pelliton {

namespace {

void ErrorBeep(OperatorPanel& panel) {
  panel.Beep(kErrorBeepHz, kErrorBeepMs);
}

}  // namespace

ScriptPrecheck PrecheckScript(const std::string& path) {
  ScriptText script;
  if (ReadScriptText(path, &script) != ScriptReadError::kNone)
    return ScriptPrecheck::kUnreadable;
  return PrecheckScript(script);
}

// The first AddressLine (prefix in any case) is App1; every AddressLine must be the
// prefix and 18 hexadecimal digits and nothing else, wherever it stands among the
// other lines.
ScriptPrecheck PrecheckScript(const ScriptText& script) {
  AddressRecord app1;
  bool seen_address_line = false;
  bool all_well_formed = true;
  ScriptLines lines(script.Body());
  std::string_view line;
  while (lines.Next(&line)) {
    if (!IsAddressLineAnyCase(line))
      continue;
    if (!seen_address_line) {
      // A line too short to decode leaves App1 absent: refused for its start address.
      DecodeAddressLine(line, &app1);
      seen_address_line = true;
    }
    if (!IsWellFormedAddressLine(line))
      all_well_formed = false;
  }
  if (!app1.present || app1.start != kApp1StartAddress)
    return ScriptPrecheck::kNoApp1Start;
  if (!all_well_formed)
    return ScriptPrecheck::kBadFormat;
  return ScriptPrecheck::kAccepted;
}

const char* PrecheckMessage(ScriptPrecheck precheck) {
  switch (precheck) {
    case ScriptPrecheck::kUnreadable:
      return kOpenScriptErrorMessage;
    case ScriptPrecheck::kNoApp1Start:
      return kStartAddrErrorMessage;
    case ScriptPrecheck::kBadFormat:
      return kScriptFormatErrorMessage;
    case ScriptPrecheck::kAccepted:
      break;
  }
  return nullptr;
}

RunEnd PrecheckEnd(ScriptPrecheck precheck) {
  switch (precheck) {
    case ScriptPrecheck::kUnreadable:
      return RunEnd::kScriptUnreadable;
    case ScriptPrecheck::kNoApp1Start:
    case ScriptPrecheck::kBadFormat:
      return RunEnd::kScriptRefused;
    case ScriptPrecheck::kAccepted:
      break;
  }
  return RunEnd::kSuccess;
}

void ShowPrecheckRefusal(OperatorPanel& panel, ScriptPrecheck precheck, Outcome& outcome) {
  outcome.end = PrecheckEnd(precheck);
  outcome.message = PrecheckMessage(precheck);
  ErrorBeep(panel);
  panel.AppMessageBox(outcome.message);
  if (precheck == ScriptPrecheck::kNoApp1Start) {
    // Field and box are emptied together so that the next ReadControls and the
    // download that follows find no script.
    panel.ScriptPath().clear();
    panel.HiddenLabelText().clear();
    panel.RefreshControls();
    panel.SetPathBoxText("");
  }
}

Outcome OnBrowseScript(OperatorPanel& panel) {
  Outcome outcome;
  // Its result is not looked at: a bad counter does not stop picking a script.
  panel.ReadControls();
  panel.StatusText().clear();
  panel.SetProgressPos(0);

  const std::optional<std::string> chosen = panel.ChooseScriptFile(kScriptFileFilter);
  if (!chosen) {
    outcome.end = RunEnd::kNoScript;
    panel.RefreshControls();
    ErrorBeep(panel);
    return outcome;
  }
  const std::string& path = *chosen;
  if (path.empty()) {
    outcome.end = RunEnd::kNoScript;
    outcome.message = kSelectScriptMessage;
    panel.StatusText() = kSelectScriptMessage;
    panel.RefreshControls();
    ErrorBeep(panel);
    return outcome;
  }

  const ScriptPrecheck precheck = PrecheckScript(path);
  if (precheck != ScriptPrecheck::kAccepted) {
    ShowPrecheckRefusal(panel, precheck, outcome);
    return outcome;
  }

  outcome.end = RunEnd::kSuccess;
  panel.ShowScriptPath(path);
  panel.ScriptPath() = path;
  panel.RefreshControls();
  return outcome;
}

}  // namespace pelliton
