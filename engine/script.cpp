#include "engine/script.h"

#include <array>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace pelliton {

namespace {

// Appends bytes from chunk[*pos] up to the next LF to *line and steps past the LF.
// True when an LF ended the line; false when the chunk ran out first.
bool AppendUntilLf(const char* chunk, size_t size, size_t* pos, std::string* line) {
  const char* start = chunk + *pos;
  const size_t left = size - *pos;
  const void* lf = std::memchr(start, '\n', left);
  if (lf == nullptr) {
    line->append(start, left);
    *pos = size;
    return false;
  }
  const size_t taken = static_cast<size_t>(static_cast<const char*>(lf) - start);
  line->append(start, taken);
  *pos += taken + 1;
  return true;
}

void DropTrailingCr(std::string* line) {
  if (!line->empty() && line->back() == '\r')
    line->pop_back();
}

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

}  // namespace

std::vector<std::string> SplitScriptText(std::string_view bytes) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < bytes.size()) {
    std::string line;
    AppendUntilLf(bytes.data(), bytes.size(), &pos, &line);
    DropTrailingCr(&line);
    lines.push_back(std::move(line));
  }
  return lines;
}

ScriptLineReader::ScriptLineReader(size_t buffer_size)
    : buffer_(buffer_size == 0 ? 1 : buffer_size) {}

ScriptLineReader::~ScriptLineReader() {
  Close();
}

bool ScriptLineReader::Open(const std::string& path) {
  Close();
  // Checked before opening: opening a pipe would wait for a writer, and a directory
  // or a device opens fine on some systems but is no script.
  std::error_code ec;
  if (path.empty() || !std::filesystem::is_regular_file(path, ec) || ec)
    return false;
  const uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec || size > kMaxScriptFileBytes)
    return false;
  file_ = std::fopen(path.c_str(), "rb");
  return file_ != nullptr;
}

void ScriptLineReader::Close() {
  if (file_ != nullptr)
    std::fclose(file_);
  file_ = nullptr;
  pos_ = len_ = 0;
  failed_ = false;
}

bool ScriptLineReader::Refill() {
  if (file_ == nullptr || failed_)
    return false;
  pos_ = 0;
  len_ = std::fread(buffer_.data(), 1, buffer_.size(), file_);
  if (len_ == 0 && std::ferror(file_) != 0)
    failed_ = true;
  return len_ > 0;
}

bool ScriptLineReader::Next(std::string* line) {
  line->clear();
  bool started = false;  // some byte of this line has been read
  for (;;) {
    if (pos_ == len_ && !Refill()) {
      if (failed_ || !started)
        return false;
      DropTrailingCr(line);
      return true;
    }
    started = true;
    if (AppendUntilLf(buffer_.data(), len_, &pos_, line)) {
      DropTrailingCr(line);
      return true;
    }
  }
}

bool ReadScriptLines(const std::string& path, std::vector<std::string>* lines) {
  ScriptLineReader reader;
  if (!reader.Open(path))
    return false;
  std::vector<std::string> read;
  std::string line;
  while (reader.Next(&line))
    read.push_back(line);
  if (reader.Failed())
    return false;
  lines->swap(read);
  return true;
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
