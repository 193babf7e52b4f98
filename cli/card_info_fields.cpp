#include "cli/card_info_fields.h"

#include <string_view>

namespace pelliton::cli {

namespace {

constexpr std::string_view kBreaks = "\r\n\r\n";
constexpr std::string_view kCardLineHead = "Tessiv Card Version: ";
constexpr std::string_view kOneVersion = "Norvane App Version:";
constexpr std::string_view kFirstVersion = "Norvane App1 Version:";
constexpr std::string_view kSecondVersion = "  Norvane App2 Version:";
constexpr std::string_view kCounterLabel = "  counter:";

std::string TrimTrailingBlank(std::string text) {
  while (!text.empty() && text.back() == ' ')
    text.pop_back();
  return text;
}

}  // namespace

CardInfoFields SplitCardInfo(const std::string& card_info_text) {
  CardInfoFields fields;
  std::string_view rest = card_info_text;
  if (rest.starts_with(kCardLineHead)) {
    const size_t end = rest.find(kBreaks);
    const std::string_view line = rest.substr(0, end);
    fields.card_line = TrimTrailingBlank(std::string(line));
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + kBreaks.size());
  }
  if (rest.ends_with(kBreaks))
    rest.remove_suffix(kBreaks.size());
  fields.application_line = std::string(rest);

  std::string_view versions = rest;
  if (const size_t label = versions.rfind(kCounterLabel); label != std::string_view::npos) {
    fields.counter = std::string(versions.substr(label + kCounterLabel.size()));
    versions = versions.substr(0, label);
  }
  if (versions.starts_with(kOneVersion)) {
    fields.versions.emplace_back(versions.substr(kOneVersion.size()));
  } else if (versions.starts_with(kFirstVersion)) {
    versions.remove_prefix(kFirstVersion.size());
    const size_t second = versions.find(kSecondVersion);
    fields.versions.emplace_back(versions.substr(0, second));
    if (second != std::string_view::npos)
      fields.versions.emplace_back(versions.substr(second + kSecondVersion.size()));
  }
  return fields;
}

}  // namespace pelliton::cli
