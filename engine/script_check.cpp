// The script check: the planner's own view of every line, read for what the card would
// get wrong though the download accepts it, and said as warnings and a summary.
#include "engine/script_check.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/browse.h"
#include "engine/load_plan.h"

namespace pelliton {

namespace {

constexpr size_t kFaultTextChars = 120;
// F0 DD 00 00 2C and its 44 bytes.
constexpr size_t kPassThroughBytes = 49;

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

// Warns, at their AddressLines, about a range that ends below its start and about
// App2's range overlapping App1's.
void WarnAboutRanges(const ScriptAddresses& addresses, WarningList* warnings) {
  const AddressRecord* records[] = {&addresses.app1, &addresses.app2};
  const AddressLineSite* sites[] = {&addresses.app1_line, &addresses.app2_line};
  const ScriptApp apps[] = {ScriptApp::kApp1, ScriptApp::kApp2};
  bool ordered = true;
  for (int i = 0; i < 2; ++i) {
    const AddressRecord& record = *records[i];
    if (!record.present || record.end >= record.start)
      continue;
    ordered = false;
    warnings->Add(WarningKind::kEndBelowStart, sites[i]->number,
                  std::string(AppName(apps[i])) + " ends at " + Hex32(record.end) +
                      ", below its start " + Hex32(record.start),
                  sites[i]->text);
  }
  const AddressRecord& app1 = addresses.app1;
  const AddressRecord& app2 = addresses.app2;
  if (ordered && app1.present && app2.present && app1.start <= app2.end && app2.start <= app1.end) {
    warnings->Add(
        WarningKind::kRangesOverlap, addresses.app2_line.number,
        "App2 " + Range(app2.start, app2.end) + " overlaps App1 " + Range(app1.start, app1.end),
        addresses.app2_line.text);
  }
}

// Warns about what the card would make of one planned load command. The block the card
// writes is the one the command names, so two commands naming the same block collide.
class DataLineReview {
 public:
  explicit DataLineReview(WarningList* warnings) : warnings_(warnings) {}

  void Review(const PlannedLine& planned) {
    const DataPlacement& data = planned.data;
    const AddressRecord& range = data.range;
    const std::string block_bytes = std::to_string(kLoadBlockBytes) + "-byte block";
    if (!data.aligned) {
      warnings_->Add(WarningKind::kUnaligned, planned.number,
                     "data at " + Hex32(data.address) + " is not on a " + block_bytes +
                         " boundary; the card writes it at " + Hex32(data.block_address),
                     planned.text);
    }
    const auto [first, added] =
        first_line_of_block_.try_emplace({data.app, data.block}, planned.number);
    if (!added) {
      warnings_->Add(WarningKind::kBlockTwice, planned.number,
                     std::string(AppName(data.app)) + "'s block at " + Hex32(data.block_address) +
                         " was already written at line " + std::to_string(first->second),
                     planned.text);
    }
    if (data.data_bytes > kLoadBlockBytes) {
      warnings_->Add(WarningKind::kDataTooLong, planned.number,
                     std::to_string(data.data_bytes) + " data bytes are more than a " +
                         block_bytes + "; they run into the next one",
                     planned.text);
    }
    // An application whose end is below its start has no range to be in; that is
    // warned about once, at its AddressLine.
    const uint64_t last = uint64_t{data.address} + std::max<size_t>(data.data_bytes, 1) - 1;
    if (range.end >= range.start && (data.address < range.start || last > range.end)) {
      warnings_->Add(WarningKind::kOutsideRange, planned.number,
                     "data at " + Range(data.address, static_cast<uint32_t>(last)) +
                         " is outside " + AppName(data.app) + "'s range " +
                         Range(range.start, range.end),
                     planned.text);
    }
  }

 private:
  WarningList* warnings_;
  // The block a load command names, by application: the line that first named it.
  std::map<std::pair<ScriptApp, uint32_t>, uint32_t> first_line_of_block_;
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
  WarnAboutRanges(addresses, &warnings);
  DataLineReview data_review(&warnings);
  bool has_data = false;

  const LineFault fault = FindLineFault(body, addresses, [&](const PlannedLine& planned) {
    if (planned.verdict != LineVerdict::kSendData &&
        planned.verdict != LineVerdict::kSendPassThrough)
      return;
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
      AppTally& app = planned.data.app == ScriptApp::kApp1 ? report.app1 : report.app2;
      ++app.data_lines;
      app.data_bytes += planned.data.data_bytes;
      data_review.Review(planned);
    }
    if (planned.digits % 2 != 0) {
      warnings.Add(WarningKind::kOddDigits, planned.number,
                   std::to_string(planned.digits) +
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
