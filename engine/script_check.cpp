#include "engine/script_check.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <string_view>
#include <vector>

#include "engine/browse.h"
#include "engine/bytes.h"
#include "engine/load_plan.h"

namespace pelliton {

namespace {

constexpr size_t kFaultTextChars = 120;
// The card loads data in blocks of this many bytes, counted from the application's start.
constexpr uint32_t kBlockBytes = 128;
constexpr uint32_t kBlockShift = 7;
// F0 DD 00 00 2C and its 44 bytes.
constexpr size_t kPassThroughBytes = 49;
// A DataLine's header and address: the part that names where its data go.
constexpr size_t kDataHeadBytes = 9;

std::string Hex32(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

std::string Range(uint32_t first, uint32_t last) {
  return Hex32(first) + "-" + Hex32(last);
}

const char* AppName(ScriptApp app) {
  return app == ScriptApp::kApp1 ? "App1" : "App2";
}

std::string DescribeApp(const char* name, const AppTally& app) {
  std::string text = std::string(name) + " ";
  if (app.addresses.present) {
    text += Range(app.addresses.start, app.addresses.end) + ": ";
  } else {
    text += "(no AddressLine): ";
  }
  text += std::to_string(app.data_lines) + " data lines, " + std::to_string(app.data_bytes) +
          " data bytes\n";
  return text;
}

// Gathers warnings up to kMaxWarnings and counts the rest.
class WarningList {
 public:
  explicit WarningList(ScriptCheckReport* report) : report_(report) {}

  void Add(WarningKind kind, uint32_t line, std::string message, std::string_view text = {}) {
    if (report_->warnings.size() >= kMaxWarnings) {
      ++report_->warnings_left_off;
      return;
    }
    report_->warnings.push_back(
        {kind, line, std::move(message), std::string(text.substr(0, kFaultTextChars))});
  }

 private:
  ScriptCheckReport* report_;
};

// The AddressLines the download reads, by line number (0: none) and text: the first
// names App1, the last of the later ones App2.
struct AddressLineNumbers {
  uint32_t app1 = 0;
  uint32_t app2 = 0;
  std::string_view app1_text;
  std::string_view app2_text;
};

AddressLineNumbers FindAddressLines(std::string_view body) {
  AddressLineNumbers numbers;
  ScriptLines lines(body);
  std::string_view line;
  uint32_t number = 0;
  while (lines.Next(&line)) {
    ++number;
    if (!IsAddressLine(line))
      continue;
    if (numbers.app1 == 0) {
      numbers.app1 = number;
      numbers.app1_text = line;
    } else {
      numbers.app2 = number;
      numbers.app2_text = line;
    }
  }
  return numbers;
}

void WarnAboutRanges(std::string_view body, const ScriptAddresses& addresses,
                     WarningList* warnings) {
  const AddressLineNumbers numbers = FindAddressLines(body);
  const AddressRecord* records[] = {&addresses.app1, &addresses.app2};
  const uint32_t line_numbers[] = {numbers.app1, numbers.app2};
  const std::string_view texts[] = {numbers.app1_text, numbers.app2_text};
  const ScriptApp apps[] = {ScriptApp::kApp1, ScriptApp::kApp2};
  bool ordered = true;
  for (int i = 0; i < 2; ++i) {
    const AddressRecord& record = *records[i];
    if (!record.present || record.end >= record.start)
      continue;
    ordered = false;
    warnings->Add(WarningKind::kEndBelowStart, line_numbers[i],
                  std::string(AppName(apps[i])) + " ends at " + Hex32(record.end) +
                      ", below its start " + Hex32(record.start),
                  texts[i]);
  }
  const AddressRecord& app1 = addresses.app1;
  const AddressRecord& app2 = addresses.app2;
  if (ordered && app1.present && app2.present && app1.start <= app2.end && app2.start <= app1.end) {
    warnings->Add(
        WarningKind::kRangesOverlap, numbers.app2,
        "App2 " + Range(app2.start, app2.end) + " overlaps App1 " + Range(app1.start, app1.end),
        numbers.app2_text);
  }
}

// Warns about what the card would make of one planned load command. The block the card
// writes is the one the command names, so two commands naming the same block collide.
class DataLineReview {
 public:
  DataLineReview(const ScriptAddresses& addresses, WarningList* warnings)
      : addresses_(addresses), warnings_(warnings) {}

  void Review(uint32_t line_number, std::string_view line, const std::string& text, ScriptApp app,
              const uint8_t* command, size_t data_bytes) {
    const AddressRecord& record = app == ScriptApp::kApp1 ? addresses_.app1 : addresses_.app2;
    uint8_t head[kDataHeadBytes];
    HexToBytes(text, 2 * kDataHeadBytes, head);
    const uint32_t address = GetU32BE(head + 5, 4);
    const uint32_t block = (static_cast<uint32_t>(command[2] & 0x7F) << 8) | command[3];
    const uint32_t written_at = record.start + (block << kBlockShift);

    if (((address - record.start) & (kBlockBytes - 1)) != 0) {
      warnings_->Add(WarningKind::kUnaligned, line_number,
                     "data at " + Hex32(address) +
                         " is not on a 128-byte block boundary; the card writes it at " +
                         Hex32(written_at),
                     line);
    }
    const auto [first, added] = first_line_of_block_.try_emplace(
        static_cast<uint16_t>((command[2] << 8) | command[3]), line_number);
    if (!added) {
      warnings_->Add(WarningKind::kBlockTwice, line_number,
                     std::string(AppName(app)) + "'s block at " + Hex32(written_at) +
                         " was already written at line " + std::to_string(first->second),
                     line);
    }
    if (data_bytes > kBlockBytes) {
      warnings_->Add(WarningKind::kDataTooLong, line_number,
                     std::to_string(data_bytes) +
                         " data bytes are more than a 128-byte block; they run into the next one",
                     line);
    }
    // An application whose end is below its start has no range to be in; that is
    // warned about once, at its AddressLine.
    const uint64_t last = uint64_t{address} + std::max<size_t>(data_bytes, 1) - 1;
    if (record.end >= record.start && (address < record.start || last > record.end)) {
      warnings_->Add(WarningKind::kOutsideRange, line_number,
                     "data at " + Range(address, static_cast<uint32_t>(last)) + " is outside " +
                         AppName(app) + "'s range " + Range(record.start, record.end),
                     line);
    }
  }

 private:
  const ScriptAddresses& addresses_;
  WarningList* warnings_;
  std::map<uint16_t, uint32_t> first_line_of_block_;  // P1 P2 of a load command: its line
};

// AddressLines may stand anywhere, so their warnings are put in line order with the
// others; whole-script warnings go last.
void SortWarnings(ScriptCheckReport* report) {
  std::stable_sort(report->warnings.begin(), report->warnings.end(),
                   [](const ScriptWarning& a, const ScriptWarning& b) {
                     return (a.line == 0 ? UINT32_MAX : a.line) <
                            (b.line == 0 ? UINT32_MAX : b.line);
                   });
}

}  // namespace

const char* WarningCode(WarningKind kind) {
  switch (kind) {
    case WarningKind::kUnaligned:
      return "unaligned";
    case WarningKind::kBlockTwice:
      return "block_twice";
    case WarningKind::kDataTooLong:
      return "data_too_long";
    case WarningKind::kOutsideRange:
      return "outside_range";
    case WarningKind::kEndBelowStart:
      return "end_below_start";
    case WarningKind::kRangesOverlap:
      return "ranges_overlap";
    case WarningKind::kNoData:
      return "no_data";
    case WarningKind::kPassThroughLength:
      return "pass_through_length";
    case WarningKind::kOddDigits:
      return "odd_digits";
  }
  return "unknown";
}

ScriptCheckReport CheckScript(const std::string& path) {
  ScriptCheckReport report;
  ScriptText script;
  report.read_error = ReadScriptText(path, &script);
  if (report.read_error != ScriptReadError::kNone) {
    report.message = kOpenScriptErrorMessage;
    return report;
  }
  report.utf16 = script.LooksLikeUtf16();
  const ScriptPrecheck precheck = PrecheckScript(script);
  if (precheck != ScriptPrecheck::kAccepted) {
    report.message = PrecheckMessage(precheck);
    return report;
  }

  const std::string_view body = script.Body();
  report.lines = CountScriptLines(body);
  const ScriptAddresses addresses = DecodeAddressLines(body);
  report.app1.addresses = addresses.app1;
  report.app2.addresses = addresses.app2;
  report.suits_old_cards = addresses.app2.present && addresses.app2.start == kApp2StartForOldCards;

  WarningList warnings(&report);
  WarnAboutRanges(body, addresses, &warnings);
  DataLineReview data_review(addresses, &warnings);
  bool has_data = false;

  const LineFault fault =
      FindLineFault(body, addresses, [&](const LoadPlanner& planner, const PlannedLine& planned) {
        if (planned.verdict != LineVerdict::kSendData &&
            planned.verdict != LineVerdict::kSendPassThrough)
          return;
        // A line the planner sends was cleaned into a text, so this has a value.
        const std::string text = CleanScriptLine(planned.text).value_or(std::string());
        if (planned.verdict == LineVerdict::kSendPassThrough) {
          ++report.pass_through_lines;
          if (planned.command_length != kPassThroughBytes) {
            warnings.Add(WarningKind::kPassThroughLength, planned.number,
                         "pass-through line of " + std::to_string(planned.command_length) +
                             " bytes; the card expects 49",
                         planned.text);
          }
        } else {
          has_data = true;
          AppTally& app = planner.CurrentApp() == ScriptApp::kApp1 ? report.app1 : report.app2;
          ++app.data_lines;
          app.data_bytes += planner.LastDataBytes();
          data_review.Review(planned.number, planned.text, text, planner.CurrentApp(),
                             planned.command, planner.LastDataBytes());
        }
        if (text.size() % 2 != 0) {
          warnings.Add(WarningKind::kOddDigits, planned.number,
                       std::to_string(text.size()) +
                           " hex digits, an odd number; the last byte is padded with 0",
                       planned.text);
        }
      });
  if (fault.Found()) {
    report.message = LoadFailureMessage(fault.verdict, fault.line);
    report.fault_line = fault.line;
    report.fault_text = std::string(fault.text.substr(0, kFaultTextChars));
    SortWarnings(&report);
    return report;
  }
  report.sound = true;
  if (!has_data) {
    warnings.Add(WarningKind::kNoData, 0,
                 "the script has no data line; the download would erase the card's "
                 "application data and load none");
  }
  SortWarnings(&report);
  return report;
}

bool CheckPasses(const ScriptCheckReport& report, bool strict) {
  return report.sound && !(strict && (!report.warnings.empty() || report.warnings_left_off != 0));
}

std::string StrictRefusal(const ScriptCheckReport& report, bool strict) {
  if (!report.sound || CheckPasses(report, strict))
    return {};
  const size_t count = report.warnings.size() + report.warnings_left_off;
  return "--strict: " + std::to_string(count) + (count == 1 ? " warning" : " warnings");
}

std::string DescribeCheck(const ScriptCheckReport& report) {
  std::string text;
  if (!report.sound) {
    text = report.message + "\n";
    if (report.fault_line != 0)
      text += "Line " + std::to_string(report.fault_line) + ": " + report.fault_text + "\n";
  } else {
    text = "Script is sound: " + std::to_string(report.lines) + " lines\n";
    text += DescribeApp("App1", report.app1);
    if (report.app2.addresses.present || report.app2.data_lines != 0)
      text += DescribeApp("App2", report.app2);
    text += "Pass-through lines: " + std::to_string(report.pass_through_lines) + "\n";
    text += report.suits_old_cards ? "Suits Tessiv cards V1.00, V1.10 and V2.00\n"
                                   : "Suits Tessiv cards V2.00 (App2 does not start at "
                                     "0x00012000, as V1.00 and V1.10 cards need)\n";
  }
  const std::vector<ScriptWarning>& warnings = report.warnings;
  for (size_t i = 0; i < warnings.size(); ++i) {
    if (warnings[i].line == 0) {
      text += "Warning: " + warnings[i].message + "\n";
      continue;
    }
    const std::string line = std::to_string(warnings[i].line);
    text += "Warning: line " + line + ": " + warnings[i].message + "\n";
    // A line with several warnings is shown once, after the last of them.
    if (i + 1 == warnings.size() || warnings[i + 1].line != warnings[i].line)
      text += "Line " + line + ": " + warnings[i].text + "\n";
  }
  if (report.warnings_left_off != 0)
    text += "Warning: " + std::to_string(report.warnings_left_off) + " more warnings not shown\n";
  return text;
}

}  // namespace pelliton
