#include "engine/load_plan.h"

#include <algorithm>
#include <initializer_list>
#include <optional>

#include "engine/bytes.h"

namespace pelliton {

namespace {

// P1 P2 hold the block number in 15 bits; P1's top bit names App2.
constexpr uint32_t kBlockNumberMask = 0x7FFF;

bool StartsWith(const uint8_t* bytes, size_t count, std::initializer_list<uint8_t> prefix) {
  return count >= prefix.size() && std::equal(prefix.begin(), prefix.end(), bytes);
}

}  // namespace

ScriptAddresses DecodeAddressLines(std::string_view body) {
  ScriptAddresses addresses;
  bool first = true;
  ScriptLines lines(body);
  std::string_view line;
  uint32_t number = 0;
  while (lines.Next(&line)) {
    ++number;
    if (!IsAddressLine(line))
      continue;
    AddressRecord record;
    if (!DecodeAddressLine(line, &record))
      record = AddressRecord{};
    (first ? addresses.app1 : addresses.app2) = record;
    (first ? addresses.app1_line : addresses.app2_line) = {number, line};
    first = false;
  }
  return addresses;
}

LineVerdict LoadPlanner::Plan(std::string_view line, uint8_t* command, size_t* command_length) {
  last_data_ = DataPlacement{};
  last_digits_ = 0;
  const std::optional<std::string> text = CleanScriptLine(line);
  if (!text)
    return LineVerdict::kPassedOver;
  last_digits_ = text->size();
  if (!IsAllHex(*text, text->size()))
    return LineVerdict::kNotHex;

  uint8_t converted[kCommandCapacity];
  const size_t count = HexToBytes(*text, text->size(), converted);

  if (StartsWith(converted, count, {0xF0, 0xD1}) || StartsWith(converted, count, {0xF0, 0xD2})) {
    return PlanDataLine(converted, count, command, command_length);
  }
  if (StartsWith(converted, count, {0xF0, 0xD4, 0x00, 0x00, 0x08})) {
    return PlanAddressCheck(converted, count);
  }
  if (StartsWith(converted, count, {0xF0, 0xDD, 0x00, 0x00, 0x2C})) {
    std::copy(converted, converted + count, command);
    *command_length = count;
    return LineVerdict::kSendPassThrough;
  }
  if (StartsWith(converted, count, {0xF0, 0x5D, 0x01, 0x00}))
    return LineVerdict::kChecked;
  return LineVerdict::kUnknownKind;
}

LineVerdict LoadPlanner::PlanDataLine(const uint8_t* converted, size_t count, uint8_t* command,
                                      size_t* command_length) {
  if (!address_check_seen_)
    return LineVerdict::kNoAddressCheck;
  // Header, 4-byte address, then exactly P3 - 4 data bytes: anything else would send
  // bytes the line does not hold.
  const uint8_t p3 = count >= 5 ? converted[4] : 0;
  if (count < 9 || p3 < 4 || p3 != count - 5)
    return LineVerdict::kUnknownKind;

  // The load command addresses blocks from the current application's start.
  const uint32_t address = GetU32BE(converted + 5, 4);
  const uint32_t offset = address - range_.start;
  const uint32_t block = (offset / kLoadBlockBytes) & kBlockNumberMask;
  const uint8_t data_length = static_cast<uint8_t>(p3 - 4);
  command[0] = 0xF0;
  command[1] = 0xDC;
  command[2] = static_cast<uint8_t>((block >> 8) | (current_ == ScriptApp::kApp2 ? 0x80 : 0x00));
  command[3] = static_cast<uint8_t>(block & 0xFF);
  command[4] = data_length;
  std::copy(converted + 9, converted + 9 + data_length, command + 5);
  *command_length = data_length + 5u;
  last_data_ = {.app = current_,
                .range = range_,
                .address = address,
                .data_bytes = data_length,
                .block = block,
                .block_address = range_.start + block * kLoadBlockBytes,
                .aligned = offset % kLoadBlockBytes == 0};
  return LineVerdict::kSendData;
}

LineVerdict LoadPlanner::PlanAddressCheck(const uint8_t* converted, size_t count) {
  current_ = address_check_seen_ ? ScriptApp::kApp2 : ScriptApp::kApp1;
  address_check_seen_ = true;
  const AddressRecord& record = current_ == ScriptApp::kApp1 ? addresses_.app1 : addresses_.app2;
  range_ = record;
  uint8_t expected[8];
  PutU32BE(record.start, expected);
  PutU32BE(record.end, expected + 4);
  if (!record.present || count < 13 || !std::equal(expected, expected + 8, converted + 5)) {
    return current_ == ScriptApp::kApp1 ? LineVerdict::kApp1Mismatch : LineVerdict::kApp2Mismatch;
  }
  return LineVerdict::kChecked;
}

std::string LoadFailureMessage(LineVerdict verdict, uint32_t line_number) {
  const std::string line = std::to_string(line_number);
  switch (verdict) {
    case LineVerdict::kNotHex:
      return "Please check APP1 data is all HEX code! at line " + line + "!";
    case LineVerdict::kNoAddressCheck:
      return "No App1 StartAddr and  EndAddr info before download data error!";
    case LineVerdict::kApp1Mismatch:
      return "App1 StartAddr and  EndAddr info Inconsistent address error!";
    case LineVerdict::kApp2Mismatch:
      return "App2 StartAddr and  EndAddr info Inconsistent address error!";
    case LineVerdict::kUnknownKind:
      return "APP Update App1 file error! at line " + line + "!";
    case LineVerdict::kPassedOver:
    case LineVerdict::kChecked:
    case LineVerdict::kSendData:
    case LineVerdict::kSendPassThrough:
      break;
  }
  return {};
}

bool EndsTheLoad(LineVerdict verdict) {
  switch (verdict) {
    case LineVerdict::kPassedOver:
    case LineVerdict::kChecked:
    case LineVerdict::kSendData:
    case LineVerdict::kSendPassThrough:
      return false;
    case LineVerdict::kNotHex:
    case LineVerdict::kNoAddressCheck:
    case LineVerdict::kApp1Mismatch:
    case LineVerdict::kApp2Mismatch:
    case LineVerdict::kUnknownKind:
      break;
  }
  return true;
}

LineFault FindLineFault(std::string_view body, const ScriptAddresses& addresses,
                        const std::function<void(const PlannedLine&)>& on_planned) {
  LoadPlanner planner(addresses);
  uint8_t command[LoadPlanner::kCommandCapacity];
  ScriptLines lines(body);
  std::string_view line;
  uint32_t line_number = 0;
  while (lines.Next(&line)) {
    ++line_number;
    size_t command_length = 0;
    const LineVerdict verdict = planner.Plan(line, command, &command_length);
    if (EndsTheLoad(verdict))
      return {verdict, line_number, line};
    if (on_planned)
      on_planned({verdict, line_number, line, command, command_length, planner.LastDigits(),
                  planner.LastData()});
  }
  return {};
}

}  // namespace pelliton
