#include "engine/bytes.h"

namespace pelliton {

uint32_t Crc32(const uint8_t* bytes, size_t count) {
  uint32_t crc = 0;
  for (size_t i = 0; i < count; ++i) {
    crc ^= static_cast<uint32_t>(bytes[i]) << 24;
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
  }
  return crc;
}

void PutU32BE(uint32_t value, uint8_t* dest) {
  dest[0] = static_cast<uint8_t>(value >> 24);
  dest[1] = static_cast<uint8_t>(value >> 16);
  dest[2] = static_cast<uint8_t>(value >> 8);
  dest[3] = static_cast<uint8_t>(value);
}

uint32_t GetU32BE(const uint8_t* bytes, uint32_t count) {
  uint32_t value = 0;
  for (uint32_t i = 0; i < (count & 0xFF); ++i)
    value = (value << 8) | bytes[i];
  return value;
}

}  // namespace pelliton
