// The card generation, read from byte 17 of the answer to reset: which texts name it and
// whether the card keeps a counter. The download's version gate and the card information
// query both read it here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "cardaccess/card_access.h"

namespace pelliton {

// kUnknown cards get an empty card line and their application line is left exactly as
// formatted (no counter label, nothing removed).
enum class VersionClass : int8_t { kUnknown = -1, kV100 = 0, kV110 = 1, kV200 = 2 };

inline constexpr size_t kAtrVersionOffset = 17;

VersionClass VersionClassOf(uint8_t atr_byte17);
// The generation of the card whose ATR the last reset read; kUnknown for an ATR too short
// to hold the byte.
VersionClass VersionClassOfAtr(const CardConnection& connection);
// "V1.00", "V1.10", "V2.00"; empty for kUnknown.
std::string_view GenerationName(VersionClass version);
// "Tessiv Card Version: V1.10 \r\n\r\n" and the like; empty for kUnknown.
std::string CardLineOf(VersionClass version);
// V1.10 and V2.00 cards keep a counter.
bool HasCounter(VersionClass version);

}  // namespace pelliton
