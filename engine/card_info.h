// The card information query of the "Get Card Info" button: card generation from the
// ATR, application version(s) and counter from the card's information reply.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "cardaccess/card_access.h"
#include "engine/operator_panel.h"
#include "engine/pauser.h"

namespace pelliton {

// Card generation from ATR byte 17. kUnknown cards get an empty card line and their
// application line is left exactly as formatted (no counter label, nothing removed).
enum class VersionClass : int8_t { kUnknown = -1, kV100 = 0, kV110 = 1, kV200 = 2 };

inline constexpr size_t kAtrVersionOffset = 17;
// Bytes of the GET RESPONSE reply the query reads, whatever the reply's length.
inline constexpr size_t kCardInfoReplyBytes = 40;

VersionClass VersionClassOf(uint8_t atr_byte17);
// "Tessiv Card Version: V1.10 \r\n\r\n" and the like; empty for an unknown generation.
std::string_view CardLineOf(uint8_t atr_byte17);

// The application line built from the first 40 bytes of the response buffer: one version
// when the two 9-byte version fields agree, two otherwise, with the counter label for
// V1.10 and V2.00 cards.
std::string ApplicationLine(std::span<const uint8_t, kCardInfoReplyBytes> reply,
                            VersionClass version);

// CardInfoText after a successful query: card line, application line, "\r\n\r\n".
std::string CardInfoTextOf(uint8_t atr_byte17, std::span<const uint8_t, kCardInfoReplyBytes> reply);

// The "Get Card Info" button.
void GetCardInfo(OperatorPanel& panel, CardAccess& card, Pauser& pauser);

}  // namespace pelliton
