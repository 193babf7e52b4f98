// The card information query of the "Get Card Info" button: card generation from the
// ATR, application version(s) and counter from the card's information reply.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "cardaccess/card_access.h"
#include "engine/card_generation.h"
#include "engine/operator_panel.h"
#include "engine/outcome.h"
#include "engine/pauser.h"

namespace pelliton {

// Bytes of the GET RESPONSE reply the query reads, whatever the reply's length.
inline constexpr size_t kCardInfoReplyBytes = 40;

// What the first 40 bytes of the response buffer say of a card of that generation: its
// version text(s), one version when the two 9-byte version fields agree, and the counter
// of V1.10 and V2.00 cards.
CardInfo ReadCardInfo(VersionClass version, std::span<const uint8_t, kCardInfoReplyBytes> reply);

// The application line the window shows: one version or two, with the counter label for
// V1.10 and V2.00 cards.
std::string ApplicationLine(const CardInfo& info);

// CardInfoText after a successful query: card line, application line, "\r\n\r\n".
std::string CardInfoTextOf(const CardInfo& info);

// The "Get Card Info" button; returns what the query read and how it ended.
CardInfoOutcome GetCardInfo(OperatorPanel& panel, CardAccess& card, Pauser& pauser);

}  // namespace pelliton
