#include "cli/script_check.h"

#include <cstdio>
#include <string_view>

#include "engine/browse.h"
#include "engine/load_plan.h"

namespace pelliton::cli {

namespace {

constexpr size_t kFaultTextChars = 120;

std::string Hex32(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

std::string DescribeApp(const char* name, const AppTally& app) {
  std::string text = std::string(name) + " ";
  if (app.addresses.present) {
    text += Hex32(app.addresses.start) + "-" + Hex32(app.addresses.end) + ": ";
  } else {
    text += "(no AddressLine): ";
  }
  text += std::to_string(app.data_lines) + " data lines, " + std::to_string(app.data_bytes) +
          " data bytes\n";
  return text;
}

}  // namespace

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

  const LineFault fault =
      FindLineFault(body, addresses, [&report](const LoadPlanner& planner, LineVerdict verdict) {
        if (verdict == LineVerdict::kSendPassThrough) {
          ++report.pass_through_lines;
        } else if (verdict == LineVerdict::kSendData) {
          AppTally& app = planner.CurrentApp() == ScriptApp::kApp1 ? report.app1 : report.app2;
          ++app.data_lines;
          app.data_bytes += planner.LastDataBytes();
        }
      });
  if (fault.Found()) {
    report.message = LoadFailureMessage(fault.verdict, fault.line);
    report.fault_line = fault.line;
    report.fault_text = std::string(fault.text.substr(0, kFaultTextChars));
    return report;
  }
  report.sound = true;
  return report;
}

std::string DescribeCheck(const ScriptCheckReport& report) {
  if (!report.sound) {
    std::string text = report.message + "\n";
    if (report.fault_line != 0)
      text += "Line " + std::to_string(report.fault_line) + ": " + report.fault_text + "\n";
    return text;
  }
  std::string text = "Script is sound: " + std::to_string(report.lines) + " lines\n";
  text += DescribeApp("App1", report.app1);
  if (report.app2.addresses.present || report.app2.data_lines != 0)
    text += DescribeApp("App2", report.app2);
  text += "Pass-through lines: " + std::to_string(report.pass_through_lines) + "\n";
  text += report.suits_old_cards ? "Suits Tessiv cards V1.00, V1.10 and V2.00\n"
                                 : "Suits Tessiv cards V2.00 (App2 does not start at "
                                   "0x00012000, as V1.00 and V1.10 cards need)\n";
  return text;
}

}  // namespace pelliton::cli
