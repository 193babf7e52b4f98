#include "sim/card/card_state.h"

#include <charconv>

namespace pelliton::sim {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

template <typename T>
std::optional<T> ParseNumber(std::string_view text, int base) {
  T value{};
  const char* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, value, base);
  if (text.empty() || result.ec != std::errc{} || result.ptr != end) {
    return std::nullopt;
  }
  return value;
}

// Splits "key rest" at the first space.
std::pair<std::string_view, std::string_view> SplitKey(std::string_view line) {
  const size_t space = line.find(' ');
  if (space == std::string_view::npos) {
    return {line, {}};
  }
  return {line.substr(0, space), line.substr(space + 1)};
}

}  // namespace

std::string ToHex(const uint8_t* data, size_t length) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(length * 2);
  for (size_t i = 0; i < length; ++i) {
    text.push_back(kDigits[data[i] >> 4]);
    text.push_back(kDigits[data[i] & 0x0F]);
  }
  return text;
}

std::optional<std::vector<uint8_t>> FromHex(std::string_view text) {
  if (text.size() % 2 != 0) {
    return std::nullopt;
  }
  std::vector<uint8_t> bytes;
  bytes.reserve(text.size() / 2);
  for (size_t i = 0; i < text.size(); i += 2) {
    const int high = HexDigit(text[i]);
    const int low = HexDigit(text[i + 1]);
    if (high < 0 || low < 0) {
      return std::nullopt;
    }
    bytes.push_back(static_cast<uint8_t>(high << 4 | low));
  }
  return bytes;
}

std::optional<uint8_t> CardState::ByteAt(TessivApp app, uint32_t offset) const {
  for (const WrittenExtent& extent : written) {
    if (extent.app == app && offset >= extent.offset &&
        offset - extent.offset < extent.bytes.size()) {
      return extent.bytes[offset - extent.offset];
    }
  }
  return std::nullopt;
}

CardState CaptureCardState(const TessivCard& card) {
  CardState state;
  state.present = card.Present();
  state.powered = card.Powered();
  state.atr = card.config().atr;
  state.counter = card.Counter();
  state.formats = card.FormatCount();
  state.commands = card.Commands();
  state.pass_through = card.PassThrough();
  state.written = card.Written();
  return state;
}

std::string FormatCardState(const CardState& state) {
  std::string text = "tessiv-state 1\n";
  text += "card " + std::to_string(state.card) + "\n";
  text += "present " + std::string(state.present ? "1" : "0") + "\n";
  text += "powered " + std::string(state.powered ? "1" : "0") + "\n";
  text += "atr " + ToHex(state.atr) + "\n";
  text += "counter " + (state.counter ? std::to_string(*state.counter) : "none") + "\n";
  text += "formats " + std::to_string(state.formats) + "\n";
  for (const auto& command : state.commands) {
    text += "cmd " + ToHex(command) + "\n";
  }
  for (const auto& block : state.pass_through) {
    text += "passthrough " + ToHex(block) + "\n";
  }
  for (const WrittenExtent& extent : state.written) {
    char offset[16];
    const auto end = std::to_chars(offset, offset + sizeof offset, extent.offset, 16).ptr;
    text += "mem " + std::string(extent.app == TessivApp::kApp1 ? "1" : "2") + " " +
            std::string(offset, end) + " " + ToHex(extent.bytes) + "\n";
  }
  text += "end\n";
  return text;
}

std::optional<CardState> ParseCardState(std::string_view text) {
  CardState state;
  bool header = false;
  bool complete = false;
  while (!text.empty()) {
    const size_t newline = text.find('\n');
    if (newline == std::string_view::npos) {
      return std::nullopt;  // every record ends with a line feed
    }
    const std::string_view line = text.substr(0, newline);
    text.remove_prefix(newline + 1);
    if (complete) {
      return std::nullopt;  // nothing may follow "end"
    }
    const auto [key, rest] = SplitKey(line);
    if (!header) {
      if (line != "tessiv-state 1") {
        return std::nullopt;
      }
      header = true;
      continue;
    }
    if (key == "end" && rest.empty()) {
      complete = true;
    } else if (key == "present" || key == "powered") {
      if (rest != "0" && rest != "1") {
        return std::nullopt;
      }
      (key == "present" ? state.present : state.powered) = rest == "1";
    } else if (key == "atr" || key == "cmd" || key == "passthrough") {
      auto bytes = FromHex(rest);
      if (!bytes) {
        return std::nullopt;
      }
      if (key == "atr") {
        state.atr = std::move(*bytes);
      } else {
        (key == "cmd" ? state.commands : state.pass_through).push_back(std::move(*bytes));
      }
    } else if (key == "counter") {
      if (rest != "none") {
        state.counter = ParseNumber<uint32_t>(rest, 10);
        if (!state.counter) {
          return std::nullopt;
        }
      }
    } else if (key == "formats" || key == "card") {
      const auto number = ParseNumber<uint64_t>(rest, 10);
      if (!number) {
        return std::nullopt;
      }
      (key == "card" ? state.card : state.formats) = *number;
    } else if (key == "mem") {
      const auto [app, tail] = SplitKey(rest);
      const auto [offset_text, hex] = SplitKey(tail);
      const auto offset = ParseNumber<uint32_t>(offset_text, 16);
      auto bytes = FromHex(hex);
      if ((app != "1" && app != "2") || !offset || !bytes || bytes->empty()) {
        return std::nullopt;
      }
      state.written.push_back(
          {app == "1" ? TessivApp::kApp1 : TessivApp::kApp2, *offset, std::move(*bytes)});
    } else {
      return std::nullopt;
    }
  }
  if (!complete) {
    return std::nullopt;
  }
  return state;
}

}  // namespace pelliton::sim
