#include "cli/render/verdict.h"

#include "cli/render/console_panel.h"

namespace pelliton::cli {

namespace {

constexpr char kGreen[] = "\x1b[1;97;42m";
constexpr char kRed[] = "\x1b[1;97;41m";
constexpr char kReset[] = "\x1b[0m";

}  // namespace

std::string OneLine(const std::string& message) {
  std::string line;
  bool after_break = false;
  for (const char c : message) {
    if (c == '\r' || c == '\n') {
      after_break = true;
      continue;
    }
    if (after_break && c == ' ')
      continue;  // the blanks that indent a continued line
    if (after_break && !line.empty() && line.back() != ' ')
      line += ' ';
    after_break = false;
    line += c;
  }
  const size_t begin = line.find_first_not_of(' ');
  if (begin == std::string::npos)
    return {};
  return line.substr(begin, line.find_last_not_of(' ') - begin + 1);
}

std::string VerdictBanner(const Verdict& verdict, BannerStyle style) {
  const char* word = verdict.passed ? "PASS" : "FAIL";
  std::string banner;
  if (style.colour) {
    banner += verdict.passed ? kGreen : kRed;
    banner += std::string(" ") + word + " ";
    banner += kReset;
  } else {
    banner += word;
  }
  if (verdict.card)
    banner += "  card " + std::to_string(*verdict.card);
  banner += "  " + (verdict.reader.empty() ? std::string("no reader")
                                           : AsTerminalText(OneLine(verdict.reader)));
  const std::string message = AsTerminalText(OneLine(verdict.message));
  if (!message.empty())
    banner += "  " + message;
  const long long tenths = (verdict.elapsed.count() + 50) / 100;
  banner += "  (" + std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " s)";
  if (!verdict.passed && style.bell)
    banner += '\a';
  banner += '\n';
  return banner;
}

BannerStyle BannerStyleFor(bool is_terminal, const char* no_color) {
  BannerStyle style;
  style.bell = is_terminal;
  style.colour = is_terminal && (no_color == nullptr || *no_color == '\0');
  return style;
}

}  // namespace pelliton::cli
