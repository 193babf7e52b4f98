// Builds upgrade scripts for tests and benchmarks: AddressLines, AddressCheckLines,
// DataLines of chosen addresses and contents, comments and pass-through lines.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace pelliton::testing {

inline std::string Hex8(uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", value);
  return text;
}

inline std::string HexBytes(const std::vector<uint8_t>& bytes) {
  std::string text;
  char pair[3];
  for (uint8_t b : bytes) {
    std::snprintf(pair, sizeof pair, "%02X", b);
    text += pair;
  }
  return text;
}

// Data bytes that differ from line to line and from block to block.
inline std::vector<uint8_t> PatternBytes(uint32_t seed, size_t count) {
  std::vector<uint8_t> bytes(count);
  for (size_t i = 0; i < count; ++i)
    bytes[i] = static_cast<uint8_t>(seed * 31 + i * 7 + 1);
  return bytes;
}

inline std::string AddressLine(uint32_t start, uint32_t end) {
  return "F05D010009" + Hex8(start) + Hex8(end) + "00";
}

inline std::string AddressCheckLine(uint32_t start, uint32_t end) {
  return "F0D4000008" + Hex8(start) + Hex8(end);
}

// F0 D1 with P3 = 4 + data size, the absolute address, then the data.
inline std::string DataLine(uint32_t address, const std::vector<uint8_t>& data,
                            const char* ins = "D1") {
  char p3[3];
  std::snprintf(p3, sizeof p3, "%02X", static_cast<unsigned>((data.size() + 4) & 0xFF));
  return std::string("F0") + ins + "0000" + p3 + Hex8(address) + HexBytes(data);
}

inline std::string PassThroughLine(const std::vector<uint8_t>& data44) {
  return "F0DD00002C" + HexBytes(data44);
}

struct ScriptData {
  uint32_t address;
  std::vector<uint8_t> bytes;
  bool app2;
};

// A script for App1 at 0x00002000 and App2 at 0x00012000 with `blocks` 128-byte
// DataLines per application; the DataLines it holds are appended to *data.
inline std::vector<std::string> TwoAppScript(int blocks, std::vector<ScriptData>* data = nullptr) {
  constexpr uint32_t kApp1 = 0x00002000, kApp1End = 0x00011FFF;
  constexpr uint32_t kApp2 = 0x00012000, kApp2End = 0x00021FFF;
  std::vector<std::string> lines = {AddressLine(kApp1, kApp1End), AddressLine(kApp2, kApp2End),
                                    AddressCheckLine(kApp1, kApp1End)};
  for (int app = 0; app < 2; ++app) {
    if (app == 1)
      lines.push_back(AddressCheckLine(kApp2, kApp2End));
    for (int i = 0; i < blocks; ++i) {
      const uint32_t address = (app == 0 ? kApp1 : kApp2) + 128u * static_cast<uint32_t>(i);
      std::vector<uint8_t> bytes = PatternBytes(address, 128);
      lines.push_back(DataLine(address, bytes));
      if (data)
        data->push_back({address, std::move(bytes), app == 1});
    }
  }
  return lines;
}

inline std::string JoinLines(const std::vector<std::string>& lines, const char* eol = "\n") {
  std::string text;
  for (const std::string& line : lines)
    text += line + eol;
  return text;
}

}  // namespace pelliton::testing
