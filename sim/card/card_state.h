// The card's state as a text that another process can read back: the vpcd bridge
// writes it (atomically, by renaming) once the reader has been quiet for 2 ms after a
// command or control, and when a card leaves; the test rig parses it.
//
// Format: one record per line, fields separated by single spaces, hex in upper case.
//   tessiv-state 1                 first line, format version
//   card DECIMAL                   1-based number of the card in the reader
//   present 0|1
//   powered 0|1
//   atr HEX
//   counter DECIMAL | counter none
//   formats DECIMAL                format commands carried out
//   cmd HEX                        one per command received, in order
//   passthrough HEX                one per accepted F0 DD block, in order
//   mem 1|2 OFFSETHEX HEX          one per written range of App1/App2 since the last
//                                  format; OFFSETHEX from the application's start
//   end                            last line; a file without it is incomplete
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/card/tessiv_card.h"

namespace pelliton::sim {

struct CardState {
  uint64_t card = 1;
  bool present = false;
  bool powered = false;
  std::vector<uint8_t> atr;
  std::optional<uint32_t> counter;
  uint64_t formats = 0;
  std::vector<std::vector<uint8_t>> commands;
  std::vector<std::vector<uint8_t>> pass_through;
  std::vector<WrittenExtent> written;

  // The byte at `offset` of the application as written since the last format, or
  // nullopt where nothing was written.
  std::optional<uint8_t> ByteAt(TessivApp app, uint32_t offset) const;
};

CardState CaptureCardState(const TessivCard& card);
std::string FormatCardState(const CardState& state);
// nullopt for a text that is not a complete, well-formed state.
std::optional<CardState> ParseCardState(std::string_view text);

std::string ToHex(const uint8_t* data, size_t length);
inline std::string ToHex(const std::vector<uint8_t>& bytes) {
  return ToHex(bytes.data(), bytes.size());
}
// Two digits per byte, either case; nullopt on an odd length or a non-hex character.
std::optional<std::vector<uint8_t>> FromHex(std::string_view text);

}  // namespace pelliton::sim
