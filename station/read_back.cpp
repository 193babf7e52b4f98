#include "station/read_back.h"

namespace pelliton::station {

std::optional<std::string> CounterMismatch(const CardInfo& read_back, uint32_t written) {
  const std::string written_text = std::to_string(written);
  if (!read_back.counter)
    return "counter read back as none, written " + written_text;
  const std::string& text = *read_back.counter;
  bool digits = text.size() == 4;
  uint32_t value = 0;
  for (const char c : text) {
    digits = digits && c >= '0' && c <= '9';
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  if (digits && value == written)
    return std::nullopt;
  return "counter read back as " + text + ", written " + written_text;
}

}  // namespace pelliton::station
