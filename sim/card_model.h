// A card as a reader sees it. The Tessiv card model implements it; the simulated
// Orvo reader and the vpcd bridge drive it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pelliton::sim {

class CardModel {
 public:
  virtual ~CardModel() = default;
  // False while no card sits in the reader.
  virtual bool Present() const = 0;
  // Cold reset: powers the card up and answers its ATR (empty when there is no card).
  virtual std::vector<uint8_t> PowerOn() = 0;
  virtual void PowerOff() = 0;
  // One command APDU; the response ends with SW1 SW2. Empty when the card is mute
  // or was removed during the command.
  virtual std::vector<uint8_t> Transmit(const uint8_t* apdu, size_t length) = 0;
};

}  // namespace pelliton::sim
