// pelliton-cli's own text handling on arbitrary bytes: the JSON string escaper must
// always give one valid JSON string literal; the card information splitter, the
// terminal text and the argument parser must take anything without fault.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "cli/args.h"
#include "cli/card_info_fields.h"
#include "cli/console_panel.h"
#include "cli/json.h"

namespace {

// Independent of the escaper's own check: strict UTF-8 (no overlong forms, surrogates or
// values above U+10FFFF).
bool ValidUtf8(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    size_t length = 0;
    uint32_t value = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      length = 2;
      value = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      length = 3;
      value = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      length = 4;
      value = c & 0x07;
    } else {
      return false;
    }
    if (i + length > text.size())
      return false;
    for (size_t k = 1; k < length; ++k) {
      const unsigned char next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80)
        return false;
      value = value << 6 | (next & 0x3F);
    }
    static constexpr uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < kSmallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
      return false;
    i += length;
  }
  return true;
}

// A JSON string literal: quoted, no raw control character, only the escapes JSON knows.
bool ValidJsonString(std::string_view text) {
  if (text.size() < 2 || text.front() != '"' || text.back() != '"' || !ValidUtf8(text))
    return false;
  for (size_t i = 1; i + 1 < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == '"')
      return false;
    if (c != '\\')
      continue;
    if (i + 2 >= text.size())
      return false;
    const char e = text[++i];
    if (e == 'u') {
      if (i + 4 >= text.size())
        return false;
      for (int k = 1; k <= 4; ++k) {
        if (std::string_view("0123456789abcdefABCDEF").find(text[i + k]) == std::string_view::npos)
          return false;
      }
      i += 4;
    } else if (std::string_view("\"\\/bfnrt").find(e) == std::string_view::npos) {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  if (!ValidJsonString(pelliton::cli::JsonString(text)))
    std::abort();

  const pelliton::cli::CardInfoFields fields = pelliton::cli::SplitCardInfo(text);
  if (fields.application_line.size() > text.size())
    std::abort();
  if (pelliton::cli::AsTerminalText(text).size() > text.size())
    std::abort();

  std::vector<std::string> args;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == '\0') {
      args.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  pelliton::cli::ParseArgs(args);
  return 0;
}
