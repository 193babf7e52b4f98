// The journal's texts that need no database: where it lives by default, the --since
// times its queries take, and byte strings typed by hand. Built with or without SQLite.
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "journal/journal.h"

namespace pelliton::journal {

bool LeftUnfinished(std::string_view outcome) {
  return outcome == kOutcomeUnfinished || outcome == kOutcomeAbandoned ||
         outcome == kOutcomeInterrupted;
}

std::string DefaultJournalPath() {
  const char* data_home = std::getenv("XDG_DATA_HOME");
  std::filesystem::path base;
  if (data_home != nullptr && data_home[0] == '/') {
    base = data_home;
  } else {
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/')
      return "";
    base = std::filesystem::path(home) / ".local" / "share";
  }
  return (base / "pelliton" / "journal.sqlite").string();
}

bool ParseSinceTime(std::string_view text, std::string* prefix) {
  if (!text.empty() && (text.back() == 'Z' || text.back() == 'z'))
    text.remove_suffix(1);
  // Each pattern character: 'd' a digit, anything else itself (' ' read as 'T').
  static constexpr std::string_view kPattern = "dddd-dd-ddTdd:dd:dd.ddd";
  // The lengths a prefix may stop at: date, minutes, seconds, milliseconds.
  if (text.size() != 10 && text.size() != 16 && text.size() != 19 && text.size() != 23)
    return false;
  std::string out(text);
  for (size_t i = 0; i < out.size(); ++i) {
    const char want = kPattern[i];
    if (want == 'd') {
      if (!std::isdigit(static_cast<unsigned char>(out[i])))
        return false;
    } else if (want == 'T') {
      if (out[i] != 'T' && out[i] != 't' && out[i] != ' ')
        return false;
      out[i] = 'T';
    } else if (out[i] != want) {
      return false;
    }
  }
  const auto field = [&](size_t at) { return std::stoi(out.substr(at, 2)); };
  if (field(5) < 1 || field(5) > 12 || field(8) < 1 || field(8) > 31)
    return false;
  if (out.size() >= 16 && (field(11) > 23 || field(14) > 59))
    return false;
  if (out.size() >= 19 && field(17) > 60)
    return false;
  *prefix = out;
  return true;
}

std::string NormalizeHex(std::string_view text) {
  std::string hex;
  for (char c : text) {
    if (c == ' ' || c == ':' || c == '\t')
      continue;
    if (!std::isxdigit(static_cast<unsigned char>(c)))
      return "";
    hex.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
  }
  return hex;
}

}  // namespace pelliton::journal
