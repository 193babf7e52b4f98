// Serving a Tessiv card model to the vpcd virtual reader of pcscd.
//
// vpcd messages are a 2-byte big-endian length followed by that many bytes. From the
// reader, a 1-byte message is a control (0 power off, 1 power on, 2 reset, 4 send the
// ATR) and a longer one a command APDU. The card answers the ATR request with its ATR
// and each APDU with its response; other controls get no answer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/card/tessiv_card.h"

namespace pelliton::sim {

struct BridgeOptions {
  std::string host = "127.0.0.1";
  uint16_t port = 0x8C7B;
  TessivConfig card;
  std::vector<Fault> faults;
  // The card leaves the reader after answering this command (1-based); 0 = never.
  size_t remove_after = 0;
  // Where the card's state text goes after every event; empty = nowhere.
  std::string state_path;
  // Cards served one after the other: when one leaves, a fresh one is inserted.
  unsigned cards = 1;
  // Pause before each card is inserted (connects to the reader).
  unsigned insert_after_ms = 0;
  // How long to keep trying to reach the reader.
  unsigned connect_timeout_ms = 10000;
};

// Reads the command line. On a bad argument returns nullopt and says why in `error`.
// "--help" returns nullopt with an empty error.
std::optional<BridgeOptions> ParseBridgeOptions(const std::vector<std::string>& args,
                                                std::string& error);
std::string BridgeUsage();

// The message stream of one card connection. Bytes arrive in pieces of any size.
class VpcdSession {
 public:
  VpcdSession(TessivCard& card, size_t remove_after) : card_(card), remove_after_(remove_after) {}

  // Takes bytes read from the reader and appends the messages to send back to `out`.
  // Returns false once the card has left the reader: the connection is to be closed
  // after `out` is sent.
  bool Feed(const uint8_t* data, size_t length, std::vector<uint8_t>& out);
  // Number of events (controls and commands) handled so far.
  size_t events() const { return events_; }
  // True when the card left in the middle of a command, leaving it unanswered. (vpcd
  // passes the closed connection on as an empty, successful reply.)
  bool left_during_command() const { return left_during_command_; }

 private:
  bool Handle(const std::vector<uint8_t>& message, std::vector<uint8_t>& out);

  TessivCard& card_;
  size_t remove_after_;
  std::vector<uint8_t> pending_;
  size_t events_ = 0;
  size_t commands_ = 0;
  bool gone_ = false;
  bool left_during_command_ = false;
};

}  // namespace pelliton::sim
