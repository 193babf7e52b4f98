// A script checked without a card: the browse pre-check, then every line planned
// exactly as the download would plan it, stopping at the first line the download
// would stop at.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/script.h"

namespace pelliton::cli {

struct AppTally {
  AddressRecord addresses;
  uint32_t data_lines = 0;
  uint64_t data_bytes = 0;
};

struct ScriptCheckReport {
  bool sound = false;
  // When not sound: the message the browse or the download would give, and the 1-based
  // line it stopped at (0 when the refusal concerns the whole file).
  std::string message;
  uint32_t fault_line = 0;
  std::string fault_text;  // that line as read, at most 120 characters
  // Why the file could not be read (kNone when it was), and whether it looks like UTF-16
  // text: what the window cannot say but a terminal can.
  ScriptReadError read_error = ScriptReadError::kNone;
  bool utf16 = false;

  uint32_t lines = 0;  // every line of the file
  uint32_t pass_through_lines = 0;
  AppTally app1;
  AppTally app2;
  // App2 starts at 0x00012000, which V1.00 and V1.10 cards require.
  bool suits_old_cards = false;
};

ScriptCheckReport CheckScript(const std::string& path);

// The report as lines for a terminal.
std::string DescribeCheck(const ScriptCheckReport& report);

}  // namespace pelliton::cli
