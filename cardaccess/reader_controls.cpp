#include "cardaccess/reader_controls.h"

#include <string>
#include <vector>

namespace pelliton {

namespace {

// PC/SC codes are compared as their 32 bits: LONG is 64 bits wide with pcsc-lite.
constexpr uint32_t CodeBits(int64_t code) {
  return static_cast<uint32_t>(code);
}

const char* ConnectFailureMessage(int32_t result) {
  switch (CodeBits(result)) {
    case CodeBits(SCARD_E_SHARING_VIOLATION):
      return "Error: Other connections outstanding!";
    case CodeBits(SCARD_W_UNRESPONSIVE_CARD):
      return "Error: The smart card is not responding to a reset!";
    case CodeBits(SCARD_W_REMOVED_CARD):
      return "Error: The smart Chip has been removed!";
    default:
      return "Error: The smart Chip can't to be connected!";
  }
}

}  // namespace

void ReloadReaderList(CardAccess& card, AccessPanel& panel) {
  panel.ReaderListClear();
  std::vector<std::string> names;
  if (card.ListReaders(&names) != SCARD_S_SUCCESS) {
    return;
  }
  int index = 0;
  for (const std::string& name : names) {
    panel.ReaderListInsert(index++, name);
  }
  panel.ReaderListSelect(0);
  card.SelectReader(panel.ReaderListCurrentText());
}

void OnPcscReload(CardAccess& card, AccessPanel& panel) {
  ReloadReaderList(card, panel);
  panel.SetStatusBoxText(card.Connection().reader_name.empty()
                             ? "No PC/SC card reader exists!"
                             : "PC/SC card Reader List Reloaded Sucessfully!");
}

void OnReaderSelChange(CardAccess& card, AccessPanel& panel) {
  card.SelectReader(panel.ReaderListCurrentText());
}

void OnReaderModeClicked(CardAccess& card, AccessPanel& panel, int control_id) {
  const bool pcsc = control_id == kPcscRadio;
  card.Mode() = pcsc ? ReaderMode::Pcsc : ReaderMode::UsbReader;
  panel.EnableControl(kReaderList, pcsc);
  panel.EnableControl(kReloadButton, pcsc);
}

int32_t ResetCardShowingFault(CardAccess& card, AccessPanel& panel) {
  const int32_t result = card.ResetCard();
  switch (card.LastResetFault()) {
    case ResetFault::kConnect:
      panel.StatusText() = ConnectFailureMessage(result);
      panel.RefreshControls();
      panel.Beep(kErrorBeepHz, kErrorBeepMs);
      break;
    case ResetFault::kOpenReader:
      panel.StatusText() = "Error: Reader open error!";
      break;
    case ResetFault::kCardReset:
      panel.StatusText() = "Error: Card connect error!";
      break;
    case ResetFault::kStatus:
    case ResetFault::kNone:
      break;
  }
  return result;
}

}  // namespace pelliton
