#include "engine/counter_rule.h"

#include <limits>

namespace pelliton {

namespace {

constexpr size_t kCounterTextLimit = 31;
// The longest typed counter: ten digits, or a '+' and nine.
constexpr size_t kTypedCounterLimit = 10;

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

}  // namespace

CounterParse ParseCounterText(std::string_view text, uint32_t* value) {
  text = text.substr(0, kCounterTextLimit);
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i]))
    ++i;
  const size_t first = i;
  if (i < text.size() && text[i] == '-')
    return CounterParse::kNotANumber;
  if (i < text.size() && text[i] == '+')
    ++i;

  uint64_t number = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    number = number * 10 + static_cast<uint64_t>(text[i] - '0');
    // Saturate rather than wrap, so a huge number is out of range, not small.
    if (number > std::numeric_limits<uint32_t>::max())
      number = std::numeric_limits<uint32_t>::max();
    ++i;
  }
  if (number == 0 && (first >= text.size() || text[first] != '0'))
    return CounterParse::kNotANumber;
  while (i < text.size() && IsBlank(text[i]))
    ++i;
  if (i != text.size())
    return CounterParse::kNotANumber;

  *value = static_cast<uint32_t>(number);
  if (*value < kCounterMin || *value > kCounterMax)
    return CounterParse::kOutOfRange;
  return CounterParse::kOk;
}

CounterParse ParseTypedCounterText(std::string_view text, uint32_t* value) {
  const std::string_view digits = text.starts_with('+') ? text.substr(1) : text;
  if (text.size() > kTypedCounterLimit ||
      digits.find_first_not_of("0123456789") != std::string_view::npos)
    return CounterParse::kNotANumber;
  return ParseCounterText(text, value);
}

std::string CounterRangeMessage() {
  return "“请填入一个在" + std::to_string(kCounterMin) + "和" + std::to_string(kCounterMax) +
         "之间的整数。”";
}

std::string CounterFailureMessage(CounterParse result) {
  switch (result) {
    case CounterParse::kOk:
      break;
    case CounterParse::kNotANumber:
      return kCounterNotANumberMessage;
    case CounterParse::kOutOfRange:
      return CounterRangeMessage();
  }
  return {};
}

}  // namespace pelliton
