// Byte helpers shared by the download, the script planner and every front end and
// record: the counter block's CRC-32, the big-endian integers that commands carry, and
// bytes as hexadecimal text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace pelliton {

// CRC-32, polynomial 0x04C11DB7, initial value 0, no reflection, no final XOR.
uint32_t Crc32(const uint8_t* bytes, size_t count);
// Most significant byte first.
void PutU32BE(uint32_t value, uint8_t* dest);
// Folds count bytes (only its low 8 bits count) into a value, most significant first.
uint32_t GetU32BE(const uint8_t* bytes, uint32_t count);

// Which letters hexadecimal text takes: ATRs and traces are upper case, digests and the
// raw bytes of a path lower case.
enum class HexCase { kUpper, kLower };
// Each byte as two hexadecimal digits, high nibble first, separator between two bytes.
std::string HexText(const uint8_t* bytes, size_t count, HexCase letters = HexCase::kUpper,
                    std::string_view separator = {});
// The same for the bytes of a string.
std::string HexText(std::string_view bytes, HexCase letters = HexCase::kUpper,
                    std::string_view separator = {});

}  // namespace pelliton
