#include "engine/card_exchange.h"

#include <algorithm>
#include <cstdio>

#include "cardaccess/reader_controls.h"

namespace pelliton {

bool IsSuccessSw(StatusWord sw) {
  return sw.sw1 == 0x61 || sw.sw1 == 0x90 || sw.sw1 == 0x9F;
}

std::string SwText(StatusWord sw) {
  char text[16];
  std::snprintf(text, sizeof text, "SW=0x%02x%02x", sw.sw1, sw.sw2);
  return text;
}

int32_t ResetTwice(CardAccess& card, OperatorPanel& panel, Pauser& pauser) {
  (void)ResetCardShowingFault(card, panel);
  pauser.Sleep(100);
  return ResetCardShowingFault(card, panel);
}

void FailReset(OperatorPanel& panel, int32_t result, Outcome& outcome) {
  panel.Beep(kErrorBeepHz, kErrorBeepMs);
  // Shows what the reset left in the status text (the Orvo reader's reason).
  panel.RefreshControls();
  outcome.end = RunEnd::kResetFailed;
  outcome.transport_result = result;
  outcome.message = "Card Reset Error!";
  panel.AppMessageBox(outcome.message);
}

Exchanged Transmit(CardAccess& card, size_t command_length, Outcome& outcome) {
  ApduExchange& ex = card.Exchange();
  ex.command_length = static_cast<int32_t>(std::min(command_length, kApduBufferSize));
  ex.response_length = static_cast<uint32_t>(kApduBufferSize);
  ex.last_result = card.TransmitApdu();
  ++outcome.exchanges;

  Exchanged exchanged;
  exchanged.result = ex.last_result;
  // The transport promises a status word with every 0; the bounds are checked all the same.
  if (ex.last_result == 0 && ex.response_length >= 2 && ex.response_length <= kApduBufferSize) {
    exchanged.received = true;
    exchanged.sw = {ex.response[ex.response_length - 2], ex.response[ex.response_length - 1]};
  }
  return exchanged;
}

Exchanged Send(CardAccess& card, std::span<const uint8_t> command, Outcome& outcome) {
  const size_t length = std::min(command.size(), kApduBufferSize);
  std::copy_n(command.begin(), length, card.Exchange().command);
  return Transmit(card, length, outcome);
}

void FailShowThenBeep(OperatorPanel& panel, std::string text, Outcome& outcome) {
  outcome.message = text;
  panel.StatusText() = std::move(text);
  panel.RefreshControls();
  panel.Beep(kErrorBeepHz, kErrorBeepMs);
}

void FailBeepThenShow(OperatorPanel& panel, std::string text, Outcome& outcome) {
  outcome.message = text;
  panel.Beep(kErrorBeepHz, kErrorBeepMs);
  panel.StatusText() = std::move(text);
  panel.RefreshControls();
}

}  // namespace pelliton
