#include "cardaccess/trace.h"

#include <algorithm>

#include "cardaccess/pcsc_codes.h"
#include "engine/bytes.h"
#include "reader/result_name.h"

namespace pelliton {

namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void Put(std::FILE* out, const std::string& text) {
  std::fputs(text.c_str(), out);
  std::fflush(out);
}

// The Orvo reader's own codes.
// Orvo reader codes are small negative numbers and its OS codes small positive ones;
// PC/SC codes have the 0x80100000 bits (negative too when they come as 32 bits).
bool IsReaderCode(int64_t result) {
  return result != 0 && result > -0x10000 && result < 0x10000;
}

std::string ReaderResultName(int32_t result) {
  const std::string name = reader::ResultName(result);
  if (result > 0)
    return name;
  // ResultName numbers a code it does not know; the caller prints the number already.
  return name.rfind("reader code", 0) == 0 ? std::string() : "PELLITON_READER_" + name;
}

}  // namespace

std::string ResultCodeName(int64_t result) {
  if (IsReaderCode(result))
    return ReaderResultName(static_cast<int32_t>(result));
  return std::string(PcscCodeName(result));
}

std::string HexBytes(const uint8_t* bytes, size_t count) {
  return HexText(bytes, count, HexCase::kUpper, " ");
}

std::string TraceExchange(const uint8_t* command, size_t command_length, int64_t result,
                          const uint8_t* response, size_t response_length, double milliseconds) {
  char timing[48];
  std::snprintf(timing, sizeof timing, "(%.3f ms)", milliseconds);
  std::string text = "> " + HexBytes(command, command_length) + "\n< ";
  if (result == 0) {
    text += response_length == 0 ? "empty reply" : HexBytes(response, response_length);
  } else {
    char code[24];
    if (IsReaderCode(result)) {
      std::snprintf(code, sizeof code, "(%lld)", static_cast<long long>(result));
    } else {
      std::snprintf(code, sizeof code, "(0x%08llX)",
                    static_cast<unsigned long long>(result) & 0xFFFFFFFFull);
    }
    const std::string name = ResultCodeName(result);
    text += "failed " + (name.empty() ? std::string() : name + " ") + code;
  }
  text += "  ";
  text += timing;
  text += '\n';
  return text;
}

// The longest ATR a card can give: pcsc-lite's MAX_ATR_SIZE, Windows' SCARD_ATR_LENGTH.
constexpr DWORD kLongestAtr = 33;

LONG TracingPcsc::Status(SCARDHANDLE card, uint8_t* atr, DWORD* atr_length) {
  const LONG result = inner_.Status(card, atr, atr_length);
  if (result == SCARD_S_SUCCESS && atr != nullptr && atr_length != nullptr)
    Put(out_, "ATR " + HexBytes(atr, std::min<DWORD>(*atr_length, kLongestAtr)) + "\n");
  return result;
}

LONG TracingPcsc::Transmit(SCARDHANDLE card, const SCARD_IO_REQUEST* send_header,
                           const uint8_t* command, DWORD command_length, uint8_t* response,
                           DWORD* response_length) {
  const DWORD capacity = response_length != nullptr ? *response_length : 0;
  const Clock::time_point start = Clock::now();
  const LONG result =
      inner_.Transmit(card, send_header, command, command_length, response, response_length);
  const double elapsed = MillisecondsSince(start);
  const size_t received =
      response_length != nullptr ? std::min<DWORD>(*response_length, capacity) : 0;
  Put(out_, TraceExchange(command, command != nullptr ? command_length : 0, result, response,
                          result == SCARD_S_SUCCESS ? received : 0, elapsed));
  return result;
}

int32_t TracingOrvo::ResetCard(int32_t handle, int32_t slot, uint8_t* atr, int32_t* atr_length) {
  const int32_t result = inner_.ResetCard(handle, slot, atr, atr_length);
  // The reader never answers more than 33 ATR bytes; a longer count is not trusted.
  if (result == 0 && atr != nullptr && atr_length != nullptr && *atr_length > 0)
    Put(out_,
        "ATR " + HexBytes(atr, std::min<size_t>(static_cast<size_t>(*atr_length), 33)) + "\n");
  return result;
}

int32_t TracingOrvo::CardApdu(int32_t handle, int32_t slot, const uint8_t* command,
                              int32_t command_length, uint8_t* response, int32_t* response_length,
                              uint32_t capacity) {
  const Clock::time_point start = Clock::now();
  const int32_t result =
      inner_.CardApdu(handle, slot, command, command_length, response, response_length, capacity);
  const double elapsed = MillisecondsSince(start);
  size_t received = 0;
  if (result == 0 && response_length != nullptr && *response_length > 0)
    received = std::min<size_t>(static_cast<size_t>(*response_length), capacity);
  const size_t sent = command != nullptr && command_length > 0 ? size_t(command_length) : 0;
  Put(out_, TraceExchange(command, sent, result, response, received, elapsed));
  return result;
}

}  // namespace pelliton
