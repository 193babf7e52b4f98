#include "engine/browse.h"

#include <optional>
#include <string>

#include "engine/script.h"

namespace pelliton {

namespace {

enum class ScanResult { kUnreadable, kNoApp1Start, kBadFormat, kAccepted };

// One pass over the file, one line in memory at a time. The first AddressLine (prefix
// in any case) is App1; every AddressLine must be the prefix and 18 hexadecimal digits
// and nothing else, wherever it stands among the other lines.
ScanResult ScanScript(const std::string& path) {
  ScriptLineReader reader;
  if (!reader.Open(path))
    return ScanResult::kUnreadable;
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
    return ScanResult::kUnreadable;
  if (!app1.present || app1.start != kApp1StartAddress)
    return ScanResult::kNoApp1Start;
  if (!all_well_formed)
    return ScanResult::kBadFormat;
  return ScanResult::kAccepted;
}

void ErrorBeep(OperatorPanel& panel) {
  panel.Beep(kErrorBeepHz, kErrorBeepMs);
}

}  // namespace

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

  switch (ScanScript(path)) {
    case ScanResult::kUnreadable:
      ErrorBeep(panel);
      panel.AppMessageBox(kOpenScriptErrorMessage);
      return;
    case ScanResult::kNoApp1Start:
      ErrorBeep(panel);
      panel.AppMessageBox(kStartAddrErrorMessage);
      // Field and box are emptied together so that the next ReadControls and the
      // download that follows find no script.
      panel.ScriptPath().clear();
      panel.HiddenLabelText().clear();
      panel.RefreshControls();
      panel.SetPathBoxText("");
      return;
    case ScanResult::kBadFormat:
      ErrorBeep(panel);
      panel.AppMessageBox(kScriptFormatErrorMessage);
      return;
    case ScanResult::kAccepted:
      break;
  }

  panel.ShowScriptPath(path);
  panel.ScriptPath() = path;
  panel.RefreshControls();
}

}  // namespace pelliton
