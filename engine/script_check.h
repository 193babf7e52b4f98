// A script checked without a card: the browse pre-check, then every line planned
// exactly as the download would plan it, stopping at the first line the download
// would stop at. Lines the download accepts but the card would surely get wrong
// (data off its block, blocks written twice, ranges crossed) are warned about.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/script.h"

namespace pelliton {

struct AppTally {
  AddressRecord addresses;
  uint32_t data_lines = 0;
  uint64_t data_bytes = 0;
};

// What a warning is about; each kind has a short code that never changes (WarningCode).
enum class WarningKind {
  kUnaligned,          // data address not on a load block from its application's start
  kBlockTwice,         // a load command for a block already loaded
  kDataTooLong,        // more data bytes than a load block holds: they run into the next
  kOutsideRange,       // data not wholly inside its application's start-end range
  kEndBelowStart,      // an AddressLine whose end address is below its start
  kRangesOverlap,      // App1's and App2's ranges share addresses
  kNoData,             // no DataLine: the download would erase the card and load nothing
  kPassThroughLength,  // a pass-through line of other than 49 bytes
  kOddDigits,          // a line sent to the card with an odd number of hex digits
};

// The kind's code for JSON and scripts: "unaligned", "block_twice", ...
const char* WarningCode(WarningKind kind);

struct ScriptWarning {
  WarningKind kind = WarningKind::kNoData;
  uint32_t line = 0;  // 1-based; 0 when the warning concerns the whole script
  std::string message;
  std::string text;  // that line as read, at most 120 characters
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

  // In line order, whole-script warnings last; for a faulty script only those about
  // the lines before the fault. At most kMaxWarnings; the rest are only counted.
  std::vector<ScriptWarning> warnings;
  uint32_t warnings_left_off = 0;
};

// A script of endless bad lines would otherwise hold a warning per line.
inline constexpr size_t kMaxWarnings = 200;

ScriptCheckReport CheckScript(const std::string& path);

// True when check ends with success: a sound script, and with strict no warning either.
bool CheckPasses(const ScriptCheckReport& report, bool strict);

// Why strict failed a sound script ("--strict: 2 warnings"); empty when it did not.
std::string StrictRefusal(const ScriptCheckReport& report, bool strict);

// The report as lines for a terminal: the summary or the fault, then the warnings.
std::string DescribeCheck(const ScriptCheckReport& report);

}  // namespace pelliton
