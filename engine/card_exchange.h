// The procedures' common card steps: the reset pair, one bounded exchange with its status
// word, the status-word rule and text, and the two orders in which a failure is shown.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "cardaccess/card_access.h"
#include "engine/operator_panel.h"
#include "engine/outcome.h"
#include "engine/pauser.h"

namespace pelliton {

// An exchange succeeds when SW1 is 0x61, 0x90 or 0x9F, whatever SW2 is.
bool IsSuccessSw(StatusWord sw);
// "SW=0x6982": SW1 then SW2, lower-case hexadecimal.
std::string SwText(StatusWord sw);

// Resets the card, waits 100 ms and resets it again; the first result is discarded and
// the second returned. Each reset shows its own failure as the reader controls do.
int32_t ResetTwice(CardAccess& card, OperatorPanel& panel, Pauser& pauser);
// The failed reset pair as the operator meets it: error beep, the status text the resets
// left, then "Card Reset Error!" in the application message box. Fills the outcome.
void FailReset(OperatorPanel& panel, int32_t result, Outcome& outcome);

struct Exchanged {
  int32_t result = 0;  // the transport's code
  StatusWord sw;       // valid when Received()
  // A response with its status word came back.
  bool Received() const { return received; }
  bool received = false;
};

// Sends the first command_length bytes of the exchange area's command buffer with the
// whole response buffer as capacity, stores the result as the last result and counts
// the exchange in the outcome. Never reads outside the response buffer.
Exchanged Transmit(CardAccess& card, size_t command_length, Outcome& outcome);
// Copies command into the command buffer, then Transmit.
Exchanged Send(CardAccess& card, std::span<const uint8_t> command, Outcome& outcome);

// The two orders in which a run ends with a status text: shown then the error beep, or
// the beep first. Both set the outcome's message.
void FailShowThenBeep(OperatorPanel& panel, std::string text, Outcome& outcome);
void FailBeepThenShow(OperatorPanel& panel, std::string text, Outcome& outcome);

}  // namespace pelliton
