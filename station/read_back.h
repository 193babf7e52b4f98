// The read-back after a download (--verify): what the card information query read,
// held against what the download wrote.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "engine/outcome.h"

namespace pelliton::station {

// The card keeps the counter as four decimal digits, zero-filled, ahead of nothing else
// (500 reads back "0500"). Counters run from 1 to 5000, so four digits hold every one and
// a plain comparison of the number is exact. Nullopt when read_back shows the counter
// written; otherwise "counter read back as N, written M", N the four characters as the
// card keeps them ("none" when it shows no counter), M the number written.
std::optional<std::string> CounterMismatch(const CardInfo& read_back, uint32_t written);

}  // namespace pelliton::station
