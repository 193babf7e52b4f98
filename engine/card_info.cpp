#include "engine/card_info.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "engine/card_exchange.h"

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

// The last four characters of a version text are the counter on cards that keep one.
std::string SplitOffCounter(std::string& text) {
  const size_t at = text.size() >= kCounterDigits ? text.size() - kCounterDigits : 0;
  std::string counter = text.substr(at);
  text.erase(at);
  return counter;
}

std::string StatusWordText(const std::string& card_line, StatusWord sw) {
  return card_line + "Get Card Info Error! " + SwText(sw);
}

}  // namespace

CardInfo ReadCardInfo(VersionClass version, std::span<const uint8_t, kCardInfoReplyBytes> reply) {
  uint8_t work_area[kWorkAreaBytes] = {};
  std::copy(reply.begin(), reply.end(), work_area);
  CardInfo info;
  info.generation = version;
  info.first_text = TextAt(work_area, kFirstVersionOffset);
  info.second_text = TextAt(work_area, kSecondVersionOffset);
  info.one_version =
      std::equal(work_area + kFirstVersionOffset, work_area + kFirstVersionOffset + kComparedBytes,
                 work_area + kSecondVersionOffset);

  std::string first = info.first_text;
  if (info.one_version) {
    if (HasCounter(version))
      info.counter = SplitOffCounter(first);
    info.versions = {first};
    return info;
  }
  std::string second = info.second_text;
  if (HasCounter(version)) {
    info.counter = SplitOffCounter(second);
    first.erase(std::min(kFirstVersionKept, first.size()), kRemovedChars);
  }
  info.versions = {first, second};
  return info;
}

std::string ApplicationLine(const CardInfo& info) {
  if (info.one_version) {
    std::string line = kSingleLabel + info.first_text;
    if (HasCounter(info.generation)) {
      InsertCounterLabel(line);
    }
    return line;
  }

  std::string line = kFirstLabel + info.first_text + kSecondLabel + info.second_text;
  if (HasCounter(info.generation)) {
    InsertCounterLabel(line);
    const size_t from = std::strlen(kFirstLabel) + kFirstVersionKept;
    if (from < line.size()) {
      line.erase(from, std::min(kRemovedChars, line.size() - from));
    }
  }
  return line;
}

std::string CardInfoTextOf(const CardInfo& info) {
  std::string text = CardLineOf(info.generation);
  text += ApplicationLine(info);
  text += "\r\n\r\n";
  return text;
}

CardInfoOutcome GetCardInfo(OperatorPanel& panel, CardAccess& card, Pauser& pauser) {
  CardInfoOutcome outcome;
  // A counter the window refuses has been pointed out to the operator; the query goes on.
  (void)panel.ReadControls();
  panel.StatusText().clear();
  panel.CardInfoText().clear();
  panel.SetProgressPos(0);

  CardConnection& connection = card.Connection();
  std::fill(std::begin(connection.atr), std::end(connection.atr), uint8_t{0});
  if (const int32_t reset = ResetTwice(card, panel, pauser); reset != 0) {
    FailReset(panel, reset, outcome);
    return outcome;
  }

  const VersionClass version = VersionClassOfAtr(connection);
  const std::string card_line = CardLineOf(version);
  const auto fail = [&](RunEnd end, const Exchanged& exchanged, std::string message) {
    outcome.end = end;
    if (end == RunEnd::kCardRefused) {
      outcome.status_word = exchanged.sw;
      FailBeepThenShow(panel, std::move(message), outcome);
    } else {
      outcome.transport_result = exchanged.result;
      FailShowThenBeep(panel, std::move(message), outcome);
    }
    return outcome;
  };

  const Exchanged query = Send(card, kInfoQuery, outcome);
  if (!query.Received())
    return fail(RunEnd::kCommunication, query, card_line + " Get Card Info commumation Error!");
  if (!IsSuccessSw(query.sw))
    return fail(RunEnd::kCardRefused, query, StatusWordText(card_line, query.sw));

  const Exchanged reply = Send(card, kGetResponse, outcome);
  if (!reply.Received())
    return fail(RunEnd::kCommunication, reply, card_line + "Get Card Info commumation Error!");
  if (reply.sw.sw1 != 0x90)
    return fail(RunEnd::kCardRefused, reply, StatusWordText(card_line, reply.sw));

  // Read regardless of the reply's length: a short reply leaves earlier bytes in place.
  const std::span<const uint8_t, kCardInfoReplyBytes> bytes(card.Exchange().response,
                                                            kCardInfoReplyBytes);
  outcome.info = ReadCardInfo(version, bytes);
  panel.CardInfoText() = CardInfoTextOf(*outcome.info);
  panel.StatusText() = panel.CardInfoText() + kSuccessMessage;
  outcome.end = RunEnd::kSuccess;
  outcome.message = panel.StatusText();
  panel.Beep(kOkBeepHz, kOkBeepMs);
  panel.RefreshControls();
  return outcome;
}

}  // namespace pelliton
