// Script text of any bytes held as one buffer, through the line walk, cleaning, the
// hexadecimal check and conversion, AddressLine decoding and the whole-script checks
// the download makes before the format. Each result is checked against a plain
// rendering of the rules, and every conversion writes into a buffer of exactly the
// size promised, so the sanitizers see any write past it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/browse.h"
#include "engine/load_plan.h"
#include "engine/script.h"

namespace {

using pelliton::AddressRecord;

void Check(bool ok) {
  if (!ok)
    std::abort();
}

std::vector<std::string> ReferenceSplit(std::string_view bytes) {
  std::vector<std::string> lines;
  std::string line;
  bool open = false;
  for (char c : bytes) {
    if (c == '\n') {
      if (!line.empty() && line.back() == '\r')
        line.pop_back();
      lines.push_back(line);
      line.clear();
      open = false;
    } else {
      line.push_back(c);
      open = true;
    }
  }
  if (open) {
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// The cleaning rule step by step, on the whole line.
std::optional<std::string> ReferenceClean(std::string_view line) {
  std::string s;
  for (char c : line) {
    if (c >= 'a' && c <= 'z')
      c = static_cast<char>(c - 32);
    if (c != ' ' && c != '\t')
      s.push_back(c);
  }
  const size_t semi = s.find(';');
  if (semi != std::string::npos && semi <= 9)
    return std::nullopt;
  if (s.size() < 10)
    return std::nullopt;
  if (semi != std::string::npos)
    s.resize(semi);
  size_t n = s.find('(');
  if (n == std::string::npos)
    n = s.size();
  if (n > 600)
    n = 600;
  else if (n < 5)
    return std::nullopt;
  return s.substr(0, n);
}

bool IsHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

void CheckLine(const std::string& line) {
  const std::optional<std::string> text = pelliton::CleanScriptLine(line);
  Check(text == ReferenceClean(line));

  // Conversion of the whole line, asked for more than it holds: clamped to the line.
  std::vector<uint8_t> whole((line.size() + 1) / 2 + 1);
  const size_t count = pelliton::HexToBytes(line, line.size() + 7, whole.data());
  Check(count == (line.size() + 1) / 2);
  Check(!pelliton::IsAllHex(line, line.size() + 1));

  bool all_hex = true;
  for (char c : line)
    all_hex = all_hex && IsHex(c);
  Check(pelliton::IsAllHex(line, line.size()) == all_hex);

  if (text) {
    Check(text->size() >= pelliton::kMinCommandText && text->size() <= pelliton::kMaxCommandText);
    std::vector<uint8_t> command((text->size() + 1) / 2);
    Check(pelliton::HexToBytes(*text, text->size(), command.data()) == command.size());
    Check(command.size() <= 300);
  }

  AddressRecord record;
  const bool decoded = pelliton::DecodeAddressLine(line, &record);
  Check(decoded == (line.size() >= pelliton::kAddressDataChars));
  Check(decoded == record.present);
  if (pelliton::IsAddressLine(line))
    Check(pelliton::IsAddressLineAnyCase(line));
  if (pelliton::IsWellFormedAddressLine(line)) {
    Check(line.size() == pelliton::kAddressLineChars && decoded);
    const uint32_t start = static_cast<uint32_t>(std::stoul(line.substr(10, 8), nullptr, 16));
    const uint32_t end = static_cast<uint32_t>(std::stoul(line.substr(18, 8), nullptr, 16));
    Check(record.start == start && record.end == end);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const pelliton::ScriptText script(std::string(reinterpret_cast<const char*>(data), size));
  std::string_view body = script.Bytes();
  if (body.substr(0, 3) == "\xEF\xBB\xBF")
    body.remove_prefix(3);
  Check(script.Body() == body);
  (void)script.LooksLikeUtf16();

  // The walk hands out views into the one buffer, as the plain split cuts it.
  const std::vector<std::string> expected = ReferenceSplit(body);
  pelliton::ScriptLines lines(script.Body());
  std::string_view line;
  size_t count = 0;
  while (lines.Next(&line)) {
    Check(count < expected.size() && line == expected[count]);
    Check(line.data() >= body.data() && line.data() + line.size() <= body.data() + body.size());
    CheckLine(std::string(line));
    ++count;
  }
  Check(count == expected.size() && pelliton::CountScriptLines(body) == count);

  // The checks before the format never read past the buffer, and a fault names a line
  // of the script as read.
  (void)pelliton::PrecheckScript(script);
  const pelliton::LineFault fault =
      pelliton::FindLineFault(body, pelliton::DecodeAddressLines(body));
  if (fault.Found())
    Check(fault.line <= count && fault.text == expected[fault.line - 1]);

  // The input as one line, separators included.
  CheckLine(std::string(script.Bytes()));
  return 0;
}
