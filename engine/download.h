// The Download button: loads the chosen upgrade script onto the card and writes the
// card's counter, protected by a card challenge and a CRC-32.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cardaccess/card_access.h"
#include "engine/operator_panel.h"
#include "engine/pauser.h"

namespace pelliton {

void OnDownload(OperatorPanel& panel, CardAccess& card, Pauser& pauser);

// CRC-32, polynomial 0x04C11DB7, initial value 0, no reflection, no final XOR.
uint32_t Crc32(const uint8_t* bytes, size_t count);
// Most significant byte first.
void PutU32BE(uint32_t value, uint8_t* dest);
// Folds count bytes (only its low 8 bits count) into a value, most significant first.
uint32_t GetU32BE(const uint8_t* bytes, uint32_t count);

// Number of script lines between two steps of the progress bar.
uint32_t ProgressStep(uint32_t line_count);

// The bar's range during a download and its position at success.
inline constexpr int kDownloadProgressMax = 55;

}  // namespace pelliton
