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

std::string HexText(const uint8_t* bytes, size_t count, HexCase letters,
                    std::string_view separator) {
  const char* const digits = letters == HexCase::kUpper ? "0123456789ABCDEF" : "0123456789abcdef";
  std::string text;
  text.reserve(count * (2 + separator.size()));
  for (size_t i = 0; i < count; ++i) {
    if (i != 0)
      text += separator;
    text += digits[bytes[i] >> 4];
    text += digits[bytes[i] & 0x0F];
  }
  return text;
}

std::string HexText(std::string_view bytes, HexCase letters, std::string_view separator) {
  return HexText(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), letters, separator);
}

}  // namespace pelliton
