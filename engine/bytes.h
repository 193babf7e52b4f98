// Byte helpers shared by the download and the script planner: the counter block's
// CRC-32 and the big-endian integers that commands carry.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pelliton {

// CRC-32, polynomial 0x04C11DB7, initial value 0, no reflection, no final XOR.
uint32_t Crc32(const uint8_t* bytes, size_t count);
// Most significant byte first.
void PutU32BE(uint32_t value, uint8_t* dest);
// Folds count bytes (only its low 8 bits count) into a value, most significant first.
uint32_t GetU32BE(const uint8_t* bytes, uint32_t count);

}  // namespace pelliton
