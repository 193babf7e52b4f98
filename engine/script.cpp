#include "engine/script.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace pelliton {

namespace {

constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";
// How much of the start the UTF-16 guess looks at.
constexpr size_t kUtf16SampleBytes = 512;

char ToUpperAscii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Nibble value of every byte: hexadecimal digits their value, anything else its own
// low four bits.
constexpr std::array<uint8_t, 256> MakeNibbleTable() {
  std::array<uint8_t, 256> table{};
  for (int c = 0; c < 256; ++c) {
    if (c >= '0' && c <= '9')
      table[c] = static_cast<uint8_t>(c - '0');
    else if (c >= 'A' && c <= 'F')
      table[c] = static_cast<uint8_t>(c - 'A' + 10);
    else if (c >= 'a' && c <= 'f')
      table[c] = static_cast<uint8_t>(c - 'a' + 10);
    else
      table[c] = static_cast<uint8_t>(c & 0x0F);
  }
  return table;
}
constexpr std::array<uint8_t, 256> kNibble = MakeNibbleTable();

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

uint8_t Nibble(char c) {
  return kNibble[static_cast<unsigned char>(c)];
}

uint32_t BigEndian32(const uint8_t* bytes) {
  return (static_cast<uint32_t>(bytes[0]) << 24) | (static_cast<uint32_t>(bytes[1]) << 16) |
         (static_cast<uint32_t>(bytes[2]) << 8) | static_cast<uint32_t>(bytes[3]);
}

ScriptReadError ErrorOfCode(int code) {
  switch (code) {
    case ENOENT:
    case ENOTDIR:
      return ScriptReadError::kNoSuchFile;
    case EACCES:
    case EPERM:
      return ScriptReadError::kPermissionDenied;
    case EISDIR:
      return ScriptReadError::kDirectory;
    default:
      return ScriptReadError::kReadFailed;
  }
}

}  // namespace

std::string ScriptReadErrorText(ScriptReadError error) {
  switch (error) {
    case ScriptReadError::kNone:
      break;
    case ScriptReadError::kNoSuchFile:
      return "no such file";
    case ScriptReadError::kPermissionDenied:
      return "permission denied";
    case ScriptReadError::kDirectory:
      return "a directory";
    case ScriptReadError::kNotRegularFile:
      return "not a regular file";
    case ScriptReadError::kTooLarge:
      return "larger than 16 MiB (" + std::to_string(kMaxScriptFileBytes) +
             " bytes), the limit for a script";
    case ScriptReadError::kReadFailed:
      return "read error";
  }
  return {};
}

std::string_view ScriptText::Body() const {
  std::string_view body = bytes_;
  if (body.substr(0, kUtf8ByteOrderMark.size()) == kUtf8ByteOrderMark)
    body.remove_prefix(kUtf8ByteOrderMark.size());
  return body;
}

bool ScriptText::LooksLikeUtf16() const {
  const std::string_view bytes = bytes_;
  if (bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF")
    return true;
  // ASCII text in UTF-16 without a mark: every high byte NUL, on the same side of each
  // pair. A look at the start settles it.
  const size_t examined = std::min<size_t>(bytes.size(), kUtf16SampleBytes) & ~size_t{1};
  if (examined < 4)
    return false;
  bool even_nul = true;
  bool odd_nul = true;
  for (size_t i = 0; i < examined; i += 2) {
    even_nul = even_nul && bytes[i] == '\0';
    odd_nul = odd_nul && bytes[i + 1] == '\0';
  }
  return even_nul != odd_nul;
}

ScriptReadError ReadScriptText(const std::string& path, ScriptText* text) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::file_status status =
      path.empty() ? fs::file_status(fs::file_type::not_found) : fs::status(path, ec);
  if (status.type() == fs::file_type::not_found)
    return ScriptReadError::kNoSuchFile;
  if (ec)
    return ErrorOfCode(ec.value());
  if (status.type() == fs::file_type::directory)
    return ScriptReadError::kDirectory;
  if (status.type() != fs::file_type::regular)
    return ScriptReadError::kNotRegularFile;
  const uintmax_t size = fs::file_size(path, ec);
  if (ec)
    return ErrorOfCode(ec.value());
  if (size > kMaxScriptFileBytes)
    return ScriptReadError::kTooLarge;

  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr)
    return ErrorOfCode(errno);
  // One byte more than the size just seen, so that a file that grew shows itself; it is
  // read on only up to one byte past the limit.
  std::string bytes(static_cast<size_t>(size) + 1, '\0');
  size_t got = 0;
  for (;;) {
    got += std::fread(bytes.data() + got, 1, bytes.size() - got, file);
    if (got < bytes.size() || bytes.size() > kMaxScriptFileBytes)
      break;
    bytes.resize(std::min<size_t>(bytes.size() * 2, kMaxScriptFileBytes + 1));
  }
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed)
    return ScriptReadError::kReadFailed;
  if (got > kMaxScriptFileBytes)
    return ScriptReadError::kTooLarge;
  bytes.resize(got);
  *text = ScriptText(std::move(bytes));
  return ScriptReadError::kNone;
}

bool ScriptLines::Next(std::string_view* line) {
  if (rest_.empty()) {
    *line = {};
    return false;
  }
  const size_t lf = rest_.find('\n');
  *line = rest_.substr(0, lf);
  rest_.remove_prefix(lf == std::string_view::npos ? rest_.size() : lf + 1);
  if (!line->empty() && line->back() == '\r')
    line->remove_suffix(1);
  return true;
}

uint32_t CountScriptLines(std::string_view bytes) {
  uint32_t count = 0;
  ScriptLines lines(bytes);
  std::string_view line;
  while (lines.Next(&line))
    ++count;
  return count;
}

std::optional<std::string> CleanScriptLine(std::string_view line) {
  std::string text;
  text.reserve(line.size() < kMaxCommandText ? line.size() : kMaxCommandText);
  bool cut = false;
  for (char c : line) {
    if (c == ' ' || c == '\t')
      continue;
    c = ToUpperAscii(c);
    if (c == ';') {
      if (text.size() < kMinCleanLine)
        return std::nullopt;
      cut = true;
      break;
    }
    text.push_back(c);
    // Past 600 characters nothing more can change the outcome: the ten-character
    // checks are settled and the text is cut at 600 whatever follows.
    if (text.size() == kMaxCommandText)
      break;
  }
  if (!cut && text.size() < kMinCleanLine)
    return std::nullopt;
  const size_t paren = text.find('(');
  if (paren != std::string::npos)
    text.resize(paren);
  if (text.size() < kMinCommandText)
    return std::nullopt;
  return text;
}

bool IsAllHex(std::string_view text, size_t n) {
  if (n > text.size())
    return false;
  for (size_t i = 0; i < n; ++i) {
    if (!IsHexDigit(text[i]))
      return false;
  }
  return true;
}

size_t HexToBytes(std::string_view text, size_t n, uint8_t* out) {
  if (n > text.size())
    n = text.size();
  const size_t count = (n + 1) / 2;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t high = Nibble(text[2 * i]);
    const uint8_t low = (2 * i + 1 < n) ? Nibble(text[2 * i + 1]) : 0;
    out[i] = static_cast<uint8_t>((high << 4) | low);
  }
  return count;
}

bool IsAddressLine(std::string_view line) {
  return line.substr(0, kAddressLinePrefix.size()) == kAddressLinePrefix;
}

bool IsAddressLineAnyCase(std::string_view line) {
  if (line.size() < kAddressLinePrefix.size())
    return false;
  for (size_t i = 0; i < kAddressLinePrefix.size(); ++i) {
    if (ToUpperAscii(line[i]) != kAddressLinePrefix[i])
      return false;
  }
  return true;
}

bool IsWellFormedAddressLine(std::string_view line) {
  return line.size() == kAddressLineChars && IsAddressLineAnyCase(line) &&
         IsAllHex(line.substr(kAddressLinePrefix.size()), kAddressDataChars);
}

bool DecodeAddressLine(std::string_view line, AddressRecord* record) {
  if (line.size() < kAddressDataChars)
    return false;
  uint8_t bytes[kAddressDataBytes];
  HexToBytes(line.substr(line.size() - kAddressDataChars), kAddressDataChars, bytes);
  record->start = BigEndian32(bytes);
  record->end = BigEndian32(bytes + 4);
  record->present = true;
  return true;
}

}  // namespace pelliton
