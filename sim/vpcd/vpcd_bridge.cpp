#include "sim/vpcd/vpcd_bridge.h"

#include <charconv>
#include <string_view>

#include "sim/card/card_state.h"

namespace pelliton::sim {
namespace {

void AppendMessage(const std::vector<uint8_t>& body, std::vector<uint8_t>& out) {
  // A reply longer than a message can say is cut; the model never makes one.
  const size_t length = body.size() > 0xFFFF ? 0xFFFF : body.size();
  out.push_back(static_cast<uint8_t>(length >> 8));
  out.push_back(static_cast<uint8_t>(length & 0xFF));
  out.insert(out.end(), body.begin(), body.begin() + static_cast<ptrdiff_t>(length));
}

template <typename T>
bool Number(std::string_view text, T& value, int base = 10) {
  if (base == 16 && text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
  }
  const char* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, value, base);
  return !text.empty() && result.ec == std::errc{} && result.ptr == end;
}

// "K" or "K:VALUE" with K >= 1.
bool FaultArgument(std::string_view text, size_t& at, std::string_view& value) {
  const size_t colon = text.find(':');
  value = colon == std::string_view::npos ? std::string_view{} : text.substr(colon + 1);
  return Number(text.substr(0, colon), at) && at >= 1;
}

}  // namespace

std::string BridgeUsage() {
  return "usage: tessiv-sim [options]\n"
         "  --host HOST            vpcd host (127.0.0.1)\n"
         "  --port PORT            vpcd port (35963)\n"
         "  --version-byte HEX     ATR byte 17 of the default ATR (04)\n"
         "  --atr HEX              whole ATR (overrides --version-byte)\n"
         "  --text1 TEXT           first version text (V3.05)\n"
         "  --text2 TEXT           second version text (V3.05)\n"
         "  --seed N               challenge generator seed\n"
         "  --counter-off-by N     the card keeps every counter written plus N (0)\n"
         "  --sw-at K:SW           answer status word SW (hex) to command K\n"
         "  --remove-at K          card leaves the reader at command K, unanswered\n"
         "  --remove-after K       card leaves the reader after answering command K\n"
         "  --mute-at K            empty reply to command K, then the card leaves\n"
         "  --short-at K[:N]       only N bytes (1) of the reply to command K\n"
         "  --long-at K[:N]        reply to command K padded to N bytes (400)\n"
         "  --state FILE           card state written there when the reader pauses\n"
         "  --cards N              cards served one after the other (1)\n"
         "  --insert-after-ms MS   pause before each card is inserted (0)\n"
         "  --connect-timeout-ms MS  how long to keep trying to reach vpcd (10000)\n";
}

std::optional<BridgeOptions> ParseBridgeOptions(const std::vector<std::string>& args,
                                                std::string& error) {
  BridgeOptions options;
  std::optional<uint8_t> version;
  bool atr_given = false;
  error.clear();
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& name = args[i];
    if (name == "--help" || name == "-h") {
      return std::nullopt;
    }
    if (i + 1 >= args.size()) {
      error = name.rfind("--", 0) == 0 ? "missing value for " + name : "unknown argument " + name;
      return std::nullopt;
    }
    const std::string_view value = args[++i];
    const auto bad = [&]() {
      error = "bad value for " + name + ": " + std::string(value);
      return std::nullopt;
    };
    size_t at = 0;
    std::string_view extra;
    if (name == "--host") {
      if (value.empty()) {
        return bad();
      }
      options.host = value;
    } else if (name == "--port") {
      if (!Number(value, options.port) || options.port == 0) {
        return bad();
      }
    } else if (name == "--version-byte") {
      uint8_t byte = 0;
      if (!Number(value, byte, 16)) {
        return bad();
      }
      version = byte;
    } else if (name == "--atr") {
      auto atr = FromHex(value);
      if (!atr || atr->size() > 33) {
        return bad();
      }
      options.card.atr = std::move(*atr);
      atr_given = true;
    } else if (name == "--text1") {
      options.card.text1 = value;
    } else if (name == "--text2") {
      options.card.text2 = value;
    } else if (name == "--seed") {
      if (!Number(value, options.card.seed)) {
        return bad();
      }
    } else if (name == "--counter-off-by") {
      if (!Number(value, options.card.counter_off_by)) {
        return bad();
      }
    } else if (name == "--sw-at") {
      uint16_t sw = 0;
      if (!FaultArgument(value, at, extra) || !Number(extra, sw, 16)) {
        return bad();
      }
      options.faults.push_back({FaultKind::kStatusWord, at, sw, 0, {}});
    } else if (name == "--remove-at" || name == "--mute-at") {
      if (!FaultArgument(value, at, extra) || !extra.empty()) {
        return bad();
      }
      options.faults.push_back(
          {name == "--remove-at" ? FaultKind::kRemove : FaultKind::kMute, at, 0, 0, {}});
    } else if (name == "--short-at" || name == "--long-at") {
      const bool is_short = name == "--short-at";
      size_t length = is_short ? 1 : 400;
      if (!FaultArgument(value, at, extra) || (!extra.empty() && !Number(extra, length)) ||
          length > 0xFFFF) {
        return bad();
      }
      options.faults.push_back(
          {is_short ? FaultKind::kShort : FaultKind::kLong, at, 0, length, {}});
    } else if (name == "--remove-after") {
      if (!Number(value, options.remove_after) || options.remove_after == 0) {
        return bad();
      }
    } else if (name == "--state") {
      if (value.empty()) {
        return bad();
      }
      options.state_path = value;
    } else if (name == "--cards") {
      if (!Number(value, options.cards) || options.cards == 0) {
        return bad();
      }
    } else if (name == "--insert-after-ms") {
      if (!Number(value, options.insert_after_ms)) {
        return bad();
      }
    } else if (name == "--connect-timeout-ms") {
      if (!Number(value, options.connect_timeout_ms)) {
        return bad();
      }
    } else {
      error = "unknown option " + name;
      return std::nullopt;
    }
  }
  if (version && !atr_given) {
    options.card.atr = TessivConfig::DefaultAtr(*version);
  }
  return options;
}

bool VpcdSession::Feed(const uint8_t* data, size_t length, std::vector<uint8_t>& out) {
  if (gone_) {
    return false;
  }
  if (data != nullptr) {
    pending_.insert(pending_.end(), data, data + length);
  }
  size_t used = 0;
  while (pending_.size() - used >= 2) {
    const size_t size = size_t{pending_[used]} << 8 | pending_[used + 1];
    if (pending_.size() - used - 2 < size) {
      break;
    }
    const auto begin = pending_.begin() + static_cast<ptrdiff_t>(used + 2);
    const std::vector<uint8_t> message(begin, begin + static_cast<ptrdiff_t>(size));
    used += 2 + size;
    if (!Handle(message, out)) {
      gone_ = true;
      break;
    }
  }
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<ptrdiff_t>(used));
  return !gone_;
}

bool VpcdSession::Handle(const std::vector<uint8_t>& message, std::vector<uint8_t>& out) {
  ++events_;
  if (message.empty()) {
    return true;  // nothing asked, nothing answered
  }
  if (message.size() == 1) {
    switch (message[0]) {
      case 0:
        card_.PowerOff();
        break;
      case 1:
        card_.PowerOn();
        break;
      case 2:
        card_.PowerOff();
        card_.PowerOn();
        break;
      case 4:
        AppendMessage(card_.config().atr, out);
        break;
      default:
        break;  // unknown controls are ignored, as a reader would
    }
    return card_.Present();
  }
  ++commands_;
  const std::vector<uint8_t> reply = card_.Transmit(message.data(), message.size());
  if (!card_.Present()) {
    left_during_command_ = true;  // the command goes unanswered
    return false;
  }
  AppendMessage(reply, out);
  if (reply.empty()) {
    // vpcd waits for the bytes of an empty reply until the connection closes, so a mute
    // card has to leave the reader: the reader then gets an empty reply, not a hang.
    return false;
  }
  if (remove_after_ != 0 && commands_ == remove_after_) {
    card_.Remove();
    return false;
  }
  return true;
}

}  // namespace pelliton::sim
