// Upgrade scripts built line by line for tests: AddressLines, AddressCheckLines,
// DataLines of 128 bytes at 128-byte aligned addresses, and a pass-through line.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace pelliton::cli::testing_scripts {

inline std::string Hex8(uint32_t value) {
  char text[12];
  std::snprintf(text, sizeof text, "%08X", value);
  return text;
}

inline std::string HexBytesOf(const std::vector<uint8_t>& bytes) {
  std::string text;
  char pair[4];
  for (uint8_t b : bytes) {
    std::snprintf(pair, sizeof pair, "%02X", b);
    text += pair;
  }
  return text;
}

inline std::string AddressLine(uint32_t start, uint32_t end) {
  return "F05D010009" + Hex8(start) + Hex8(end) + "00";
}

inline std::string AddressCheckLine(uint32_t start, uint32_t end) {
  return "F0D4000008" + Hex8(start) + Hex8(end);
}

// F0 D1 (or D2), P1 P2 00 00, P3 = 4 + data bytes, the address, the data.
inline std::string DataLine(uint32_t address, size_t data_bytes = 128, uint8_t ins = 0xD1,
                            uint8_t fill = 0x5A) {
  char header[16];
  std::snprintf(header, sizeof header, "F0%02X0000%02X", ins,
                static_cast<unsigned>((4 + data_bytes) & 0xFF));
  return header + Hex8(address) + HexBytesOf(std::vector<uint8_t>(data_bytes, fill));
}

inline std::string PassThroughLine() {
  return "F0DD00002C" + HexBytesOf(std::vector<uint8_t>(44, 0x11));
}

// A sound two-application script: lines 1-2 AddressLines, 3 a comment, 4 blank,
// 5 App1's check line, 6-9 App1 data, 10 App2's check line, 11-13 App2 data, 14 the
// pass-through line.
inline std::vector<std::string> SoundScript() {
  std::vector<std::string> lines = {
      AddressLine(0x00002000, 0x00011FFF),
      AddressLine(0x00012000, 0x00021FFF),
      "; two applications",
      "",
      AddressCheckLine(0x00002000, 0x00011FFF),
  };
  for (uint32_t i = 0; i < 4; ++i)
    lines.push_back(DataLine(0x00002000 + i * 128));
  lines.push_back(AddressCheckLine(0x00012000, 0x00021FFF));
  for (uint32_t i = 0; i < 3; ++i)
    lines.push_back(DataLine(0x00012000 + i * 128, 128, 0xD2));
  lines.push_back(PassThroughLine());
  return lines;
}

inline std::string Join(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines)
    text += line + "\r\n";
  return text;
}

}  // namespace pelliton::cli::testing_scripts
