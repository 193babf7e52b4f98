#include "engine/card_info.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

namespace pelliton {

namespace {

constexpr size_t kFirstVersionOffset = 11;
constexpr size_t kSecondVersionOffset = 31;
constexpr size_t kComparedBytes = 9;
// The reply bytes read plus four zero bytes, so every version text ends inside it.
constexpr size_t kWorkAreaBytes = kCardInfoReplyBytes + 4;

constexpr std::array<uint8_t, 13> kInfoQuery = {0xF0, 0x88, 0x00, 0x00, 0x08, 0x11, 0x22,
                                                0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
constexpr std::array<uint8_t, 5> kGetResponse = {0x00, 0xC0, 0x00, 0x00, 0x2C};

constexpr const char* kSingleLabel = "Norvane App Version:";
constexpr const char* kFirstLabel = "Norvane App1 Version:";
constexpr const char* kSecondLabel = "  Norvane App2 Version:";
constexpr const char* kCounterLabel = "  counter:";
// Characters of the first version text kept ahead of the four removed on two-version lines.
constexpr size_t kFirstVersionKept = 5;
constexpr size_t kRemovedChars = 4;
constexpr size_t kCounterDigits = 4;

constexpr const char* kSuccessMessage =
    "Obtained upgrade card information for Norvane-IC Successfully!";

std::string TextAt(const uint8_t* work_area, size_t offset) {
  const auto* begin = reinterpret_cast<const char*>(work_area + offset);
  return std::string(begin, strnlen(begin, kWorkAreaBytes - offset));
}

void InsertCounterLabel(std::string& line) {
  const size_t at = line.size() >= kCounterDigits ? line.size() - kCounterDigits : 0;
  line.insert(at, kCounterLabel);
}

bool HasCounter(VersionClass version) {
  return version == VersionClass::kV110 || version == VersionClass::kV200;
}

std::string StatusWordText(const std::string& card_line, uint8_t sw1, uint8_t sw2) {
  char digits[8];
  std::snprintf(digits, sizeof digits, "%02x%02x", sw1, sw2);
  return card_line + "Get Card Info Error! SW=0x" + digits;
}

void Fail(OperatorPanel& panel, std::string message, bool beep_first) {
  panel.StatusText() = std::move(message);
  if (beep_first) {
    panel.Beep(kErrorBeepHz, kErrorBeepMs);
    panel.RefreshControls();
  } else {
    panel.RefreshControls();
    panel.Beep(kErrorBeepHz, kErrorBeepMs);
  }
}

// Puts one command into the exchange area and sends it with the whole buffer as capacity.
template <size_t N>
int32_t Exchange(CardAccess& card, const std::array<uint8_t, N>& command) {
  ApduExchange& ex = card.Exchange();
  std::copy(command.begin(), command.end(), ex.command);
  ex.command_length = static_cast<int32_t>(N);
  ex.response_length = static_cast<uint32_t>(kApduBufferSize);
  ex.last_result = card.TransmitApdu();
  return ex.last_result;
}

// A received response with its status word inside the buffer; TransmitApdu promises
// this on success, and the query never reads outside the buffer whatever it is handed.
bool StatusWordOf(const ApduExchange& ex, uint8_t* sw1, uint8_t* sw2) {
  if (ex.response_length < 2 || ex.response_length > kApduBufferSize) {
    return false;
  }
  *sw1 = ex.response[ex.response_length - 2];
  *sw2 = ex.response[ex.response_length - 1];
  return true;
}

}  // namespace

VersionClass VersionClassOf(uint8_t atr_byte17) {
  switch (atr_byte17) {
    case 0x04:
      return VersionClass::kV200;
    case 0x03:
      return VersionClass::kV110;
    case 0x02:
      return VersionClass::kV100;
    default:
      return VersionClass::kUnknown;
  }
}

std::string_view CardLineOf(uint8_t atr_byte17) {
  switch (VersionClassOf(atr_byte17)) {
    case VersionClass::kV200:
      return "Tessiv Card Version: V2.00 \r\n\r\n";
    case VersionClass::kV110:
      return "Tessiv Card Version: V1.10 \r\n\r\n";
    case VersionClass::kV100:
      return "Tessiv Card Version: V1.00 \r\n\r\n";
    case VersionClass::kUnknown:
      break;
  }
  return {};
}

std::string ApplicationLine(std::span<const uint8_t, kCardInfoReplyBytes> reply,
                            VersionClass version) {
  uint8_t work_area[kWorkAreaBytes] = {};
  std::copy(reply.begin(), reply.end(), work_area);
  const std::string first = TextAt(work_area, kFirstVersionOffset);
  const std::string second = TextAt(work_area, kSecondVersionOffset);
  const bool one_version =
      std::equal(work_area + kFirstVersionOffset, work_area + kFirstVersionOffset + kComparedBytes,
                 work_area + kSecondVersionOffset);
  if (one_version) {
    std::string line = kSingleLabel + first;
    if (HasCounter(version)) {
      InsertCounterLabel(line);
    }
    return line;
  }

  std::string line = kFirstLabel + first + kSecondLabel + second;
  if (HasCounter(version)) {
    InsertCounterLabel(line);
    const size_t from = std::strlen(kFirstLabel) + kFirstVersionKept;
    if (from < line.size()) {
      line.erase(from, std::min(kRemovedChars, line.size() - from));
    }
  }
  return line;
}

std::string CardInfoTextOf(uint8_t atr_byte17,
                           std::span<const uint8_t, kCardInfoReplyBytes> reply) {
  std::string text(CardLineOf(atr_byte17));
  text += ApplicationLine(reply, VersionClassOf(atr_byte17));
  text += "\r\n\r\n";
  return text;
}

void GetCardInfo(OperatorPanel& panel, CardAccess& card, Pauser& pauser) {
  // A counter the window refuses has been pointed out to the operator; the query goes on.
  (void)panel.ReadControls();
  panel.StatusText().clear();
  panel.CardInfoText().clear();
  panel.SetProgressPos(0);

  CardConnection& connection = card.Connection();
  std::fill(std::begin(connection.atr), std::end(connection.atr), uint8_t{0});
  (void)card.ResetCard(panel);
  pauser.Sleep(100);
  if (card.ResetCard(panel) != 0) {
    panel.Beep(kErrorBeepHz, kErrorBeepMs);
    panel.RefreshControls();
    panel.AppMessageBox("Card Reset Error!");
    return;
  }

  const uint8_t version_byte = connection.atr[kAtrVersionOffset];
  const std::string card_line(CardLineOf(version_byte));
  ApduExchange& ex = card.Exchange();
  uint8_t sw1 = 0;
  uint8_t sw2 = 0;

  if (Exchange(card, kInfoQuery) != 0 || !StatusWordOf(ex, &sw1, &sw2)) {
    Fail(panel, card_line + " Get Card Info commumation Error!", false);
    return;
  }
  if (sw1 != 0x61 && sw1 != 0x90 && sw1 != 0x9F) {
    Fail(panel, StatusWordText(card_line, sw1, sw2), true);
    return;
  }

  if (Exchange(card, kGetResponse) != 0 || !StatusWordOf(ex, &sw1, &sw2)) {
    Fail(panel, card_line + "Get Card Info commumation Error!", false);
    return;
  }
  if (sw1 != 0x90) {
    Fail(panel, StatusWordText(card_line, sw1, sw2), true);
    return;
  }

  // Read regardless of the reply's length: a short reply leaves earlier bytes in place.
  const std::span<const uint8_t, kCardInfoReplyBytes> reply(ex.response, kCardInfoReplyBytes);
  panel.CardInfoText() = CardInfoTextOf(version_byte, reply);
  panel.StatusText() = panel.CardInfoText() + kSuccessMessage;
  panel.Beep(kOkBeepHz, kOkBeepMs);
  panel.RefreshControls();
}

}  // namespace pelliton
