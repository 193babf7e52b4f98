// The script check's and the commands' tests' scripts, built from the shared script
// builder: DataLines of one fill byte, and one sound two-application script whose line
// numbers tests name.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/script_builder.h"

namespace pelliton::testing_scripts {

using pelliton::testing::AddressCheckLine;
using pelliton::testing::AddressLine;
using pelliton::testing::Hex8;

// F0 D1 (or D2), P1 P2 00 00, P3 = 4 + data bytes, the address, then data_bytes of fill.
inline std::string DataLine(uint32_t address, size_t data_bytes = 128, uint8_t ins = 0xD1,
                            uint8_t fill = 0x5A) {
  return pelliton::testing::DataLine(address, std::vector<uint8_t>(data_bytes, fill),
                                     ins == 0xD2 ? "D2" : "D1");
}

inline std::string PassThroughLine() {
  return pelliton::testing::PassThroughLine(std::vector<uint8_t>(44, 0x11));
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
  return pelliton::testing::JoinLines(lines, "\r\n");
}

}  // namespace pelliton::testing_scripts
