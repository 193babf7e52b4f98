// The parts of a card information text, for machine-readable output.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace pelliton::cli {

struct CardInfoFields {
  std::string card_line;         // "Tessiv Card Version: V2.00", empty for an unknown card
  std::string application_line;  // as the window shows it
  std::vector<std::string> versions;
  std::optional<std::string> counter;  // the four characters labelled "counter:"
};

// Splits the query's card information text (card line, application line, line breaks).
CardInfoFields SplitCardInfo(const std::string& card_info_text);

}  // namespace pelliton::cli
