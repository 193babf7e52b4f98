#include "engine/browse.h"

#include <optional>
#include <string>

#include "engine/script.h"

namespace pelliton {

namespace {

void ErrorBeep(OperatorPanel& panel) {
  panel.Beep(kErrorBeepHz, kErrorBeepMs);
}

}  // namespace

// One pass over the file, one line in memory at a time. The first AddressLine (prefix
// in any case) is App1; every AddressLine must be the prefix and 18 hexadecimal digits
// and nothing else, wherever it stands among the other lines.
ScriptPrecheck PrecheckScript(const std::string& path) {
  ScriptLineReader reader;
  if (!reader.Open(path))
    return ScriptPrecheck::kUnreadable;
  AddressRecord app1;
  bool seen_address_line = false;
  bool all_well_formed = true;
  std::string line;
  while (reader.Next(&line)) {
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
  if (reader.Failed())
    return ScriptPrecheck::kUnreadable;
  if (!app1.present || app1.start != kApp1StartAddress)
    return ScriptPrecheck::kNoApp1Start;
  if (!all_well_formed)
    return ScriptPrecheck::kBadFormat;
  return ScriptPrecheck::kAccepted;
}

void OnBrowseScript(OperatorPanel& panel) {
  // Its result is not looked at: a bad counter does not stop picking a script.
  panel.ReadControls();
  panel.StatusText().clear();
  panel.SetProgressPos(0);

  const std::optional<std::string> chosen = panel.ChooseScriptFile(kScriptFileFilter);
  if (!chosen) {
    panel.RefreshControls();
    ErrorBeep(panel);
    return;
  }
  const std::string& path = *chosen;
  if (path.empty()) {
    panel.StatusText() = kSelectScriptMessage;
    panel.RefreshControls();
    ErrorBeep(panel);
    return;
  }

  switch (PrecheckScript(path)) {
    case ScriptPrecheck::kUnreadable:
      ErrorBeep(panel);
      panel.AppMessageBox(kOpenScriptErrorMessage);
      return;
    case ScriptPrecheck::kNoApp1Start:
      ErrorBeep(panel);
      panel.AppMessageBox(kStartAddrErrorMessage);
      // Field and box are emptied together so that the next ReadControls and the
      // download that follows find no script.
      panel.ScriptPath().clear();
      panel.HiddenLabelText().clear();
      panel.RefreshControls();
      panel.SetPathBoxText("");
      return;
    case ScriptPrecheck::kBadFormat:
      ErrorBeep(panel);
      panel.AppMessageBox(kScriptFormatErrorMessage);
      return;
    case ScriptPrecheck::kAccepted:
      break;
  }

  panel.ShowScriptPath(path);
  panel.ScriptPath() = path;
  panel.RefreshControls();
}

}  // namespace pelliton
