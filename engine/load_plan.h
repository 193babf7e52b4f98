// Turns an upgrade script's lines, one at a time, into the commands the card receives,
// checking each against the script's AddressLines. The download sends what it plans;
// a card-less check of a script runs the same planner.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "engine/script.h"

namespace pelliton {

// Where an application's AddressLine stands in the script.
struct AddressLineSite {
  uint32_t number = 0;    // 1-based; 0: the script has none
  std::string_view text;  // the line as read, a view into the body it was read from
};

struct ScriptAddresses {
  AddressRecord app1;  // the first AddressLine
  AddressRecord app2;  // the last of the later ones
  AddressLineSite app1_line;
  AddressLineSite app2_line;
};

// Reads the AddressLines of the script's lines (body as ScriptText::Body gives it) as
// they stand in the file (upper-case prefix only). A line too short to hold its digits
// leaves its application without addresses, but its site is still noted.
ScriptAddresses DecodeAddressLines(std::string_view body);

enum class LineVerdict {
  kPassedOver,       // blank, short or comment line
  kChecked,          // an AddressCheckLine that matches, or an AddressLine: nothing to send
  kSendData,         // a DataLine rebuilt into a load command, ready
  kSendPassThrough,  // a pass-through line, ready to go unchanged
  kNotHex,           // a character that is not a hexadecimal digit
  kNoAddressCheck,   // a DataLine before any AddressCheckLine
  kApp1Mismatch,     // an AddressCheckLine that disagrees with App1
  kApp2Mismatch,     // an AddressCheckLine that disagrees with App2
  kUnknownKind,      // no known kind, or a DataLine whose length bytes disagree with it
};

enum class ScriptApp { kApp1, kApp2 };

// The card loads data in blocks of this many bytes, numbered from the current
// application's start address.
inline constexpr uint32_t kLoadBlockBytes = 128;

// Where a planned DataLine's data go, as its load command tells the card.
struct DataPlacement {
  ScriptApp app = ScriptApp::kApp1;  // the application the last AddressCheckLine made current
  AddressRecord range;               // that application's AddressLine
  uint32_t address = 0;              // the address the line names
  size_t data_bytes = 0;
  // The block number the command carries (15 bits; P1's top bit names the application)
  // and the address the card writes that block at: the start plus that many blocks.
  uint32_t block = 0;
  uint32_t block_address = 0;
  // True when address is on a block boundary counted from the start, so that the card
  // writes the data where the line says.
  bool aligned = false;
};

class LoadPlanner {
 public:
  // Size a command buffer must have.
  static constexpr size_t kCommandCapacity = kMaxCommandText / 2;

  explicit LoadPlanner(const ScriptAddresses& addresses) : addresses_(addresses) {}

  // Plans one line as read from the file. On kSendData and kSendPassThrough, command holds
  // *command_length bytes; otherwise command is left as it was.
  LineVerdict Plan(std::string_view line, uint8_t* command, size_t* command_length);

  // The application that the last AddressCheckLine made current.
  ScriptApp CurrentApp() const { return current_; }
  // Where the last line planned puts its data, when it was a DataLine sent
  // (data_bytes 0 for other lines).
  const DataPlacement& LastData() const { return last_data_; }
  // Hexadecimal digits of the last line's command text (0 for a line passed over); for
  // an odd count the last byte was padded with 0.
  size_t LastDigits() const { return last_digits_; }

 private:
  LineVerdict PlanDataLine(const uint8_t* converted, size_t count, uint8_t* command,
                           size_t* command_length);
  LineVerdict PlanAddressCheck(const uint8_t* converted, size_t count);

  ScriptAddresses addresses_;
  bool address_check_seen_ = false;
  ScriptApp current_ = ScriptApp::kApp1;
  AddressRecord range_;  // the current application's AddressLine
  DataPlacement last_data_;
  size_t last_digits_ = 0;
};

// The download's message for a verdict that ends it (line numbers count from 1).
std::string LoadFailureMessage(LineVerdict verdict, uint32_t line_number);

// True for the verdicts that end the download at their line.
bool EndsTheLoad(LineVerdict verdict);

// The first line the download would stop at, found without a card.
struct LineFault {
  LineVerdict verdict = LineVerdict::kPassedOver;  // kPassedOver: no line would
  uint32_t line = 0;                               // 1-based; 0: no line would
  std::string_view text;                           // that line as read, a view into body

  bool Found() const { return line != 0; }
};

// One line as the planner left it.
struct PlannedLine {
  LineVerdict verdict = LineVerdict::kPassedOver;
  uint32_t number = 0;    // 1-based
  std::string_view text;  // the line as read
  // The command planned for kSendData and kSendPassThrough.
  const uint8_t* command = nullptr;
  size_t command_length = 0;
  size_t digits = 0;   // as LoadPlanner::LastDigits
  DataPlacement data;  // for kSendData: as LoadPlanner::LastData
};

// Plans every line of body in order with one planner, exactly as the download's loading
// does, and stops at the first line that would end it. on_planned, when given, sees
// each line planned before that one.
LineFault FindLineFault(std::string_view body, const ScriptAddresses& addresses,
                        const std::function<void(const PlannedLine&)>& on_planned = nullptr);

}  // namespace pelliton
