// The Tessiv upgrade card as a reader sees it: answer to reset, the load, format,
// challenge, configuration and information commands, application memory, the usage
// counter, and fault injection for tests.
//
// Status words of the model (besides 90 00 and 61 2C):
//   67 00  the command's length disagrees with its P3, or is shorter than 5 bytes
//   6B 00  known CLA/INS with other P1 P2 than the card accepts; a load (F0 DC) that
//          would write outside the application's area
//   6C xx  a challenge or GET RESPONSE asking for a length other than xx
//   69 85  F0 80 without a challenge since the last reset (challenges are single-use);
//          GET RESPONSE with no information reply pending
//   69 88  F0 80 whose CRC-32 does not match the challenge and the counter
//   6D 00  any other command; F0 80 on a V1.00 card (version byte 0x02)
// Commands go unanswered (empty response) while the card is not powered or absent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/card_model.h"

namespace pelliton::sim {

// CRC-32 as the download computes it: polynomial 0x04C11DB7, initial value 0, no
// reflection, no final XOR. "abc" gives 0x2C17398C.
uint32_t TessivCrc32(const uint8_t* data, size_t length);

enum class TessivApp { kApp1 = 0, kApp2 = 1 };

struct TessivConfig {
  // Answer to reset; byte 17 is the card generation (0x02 V1.00, 0x03 V1.10, 0x04 V2.00).
  std::vector<uint8_t> atr = DefaultAtr(0x04);
  // Version texts of the information reply. On V1.10 and V2.00 cards the card appends
  // the stored counter as four decimal digits to each (see InformationReply).
  std::string text1 = "V3.05";
  std::string text2 = "V3.05";
  // Application areas as absolute addresses (inclusive); loads are relative to start.
  uint32_t app1_start = 0x00002000;
  uint32_t app1_end = 0x00011FFF;
  uint32_t app2_start = 0x00012000;
  uint32_t app2_end = 0x00021FFF;
  // Seed of the challenge generator, so that tests can reproduce challenges.
  uint64_t seed = 0x5E551u;
  // Added to every counter the card accepts: a card that keeps another counter than it
  // was sent, for tests of the read-back.
  uint32_t counter_off_by = 0;

  // A 20-byte ATR starting 3B with `version` at byte 17.
  static std::vector<uint8_t> DefaultAtr(uint8_t version);
};

enum class FaultKind {
  kStatusWord,  // the command is not carried out; the card answers only `status_word`
  kRemove,      // the card leaves the reader before answering; Present() false from then on
  kMute,        // the command is not carried out; empty response, card stays present
  kShort,       // the command is carried out; only the first `length` bytes of its reply
  kLong,        // the command is carried out; the reply is padded to `length` bytes with
                // 0xA5 in front of its status word
  kReply,       // the command is not carried out; the card answers `reply`
};

struct Fault {
  FaultKind kind = FaultKind::kStatusWord;
  // 1-based number of the command, counting every command the card received.
  size_t at = 1;
  uint16_t status_word = 0x6F00;
  size_t length = 0;
  std::vector<uint8_t> reply;
};

// One byte range of application memory written since the last format.
struct WrittenExtent {
  TessivApp app = TessivApp::kApp1;
  uint32_t offset = 0;  // from the application's start
  std::vector<uint8_t> bytes;
};

class TessivCard : public CardModel {
 public:
  static constexpr uint8_t kErased = 0xFF;
  static constexpr size_t kInfoReplySize = 44;

  TessivCard() : TessivCard(TessivConfig{}) {}
  explicit TessivCard(TessivConfig config);

  // CardModel
  bool Present() const override { return present_; }
  std::vector<uint8_t> PowerOn() override;
  void PowerOff() override;
  std::vector<uint8_t> Transmit(const uint8_t* apdu, size_t length) override;
  std::vector<uint8_t> Transmit(const std::vector<uint8_t>& apdu) {
    return Transmit(apdu.data(), apdu.size());
  }

  // Puts the card back into the reader (unpowered), memory and counter as they were.
  void Insert() { present_ = true; }
  void Remove();
  void AddFault(const Fault& fault) { faults_.push_back(fault); }
  void ClearFaults() { faults_.clear(); }

  const TessivConfig& config() const { return config_; }
  // Byte 17 of the ATR, or nullopt for an ATR shorter than 18 bytes.
  std::optional<uint8_t> VersionByte() const;
  bool Powered() const { return powered_; }

  // Read-back for tests.
  const std::vector<uint8_t>& Memory(TessivApp app) const { return memory_[Index(app)]; }
  std::vector<WrittenExtent> Written() const;
  std::optional<uint32_t> Counter() const { return counter_; }
  std::optional<uint32_t> LastChallenge() const { return challenge_; }
  size_t FormatCount() const { return formats_; }
  // Every command received while present and powered, in order, faulted ones included.
  const std::vector<std::vector<uint8_t>>& Commands() const { return commands_; }
  // The 44-byte blocks of every F0 DD command the card accepted.
  const std::vector<std::vector<uint8_t>>& PassThrough() const { return pass_through_; }
  // The 44 data bytes that GET RESPONSE answers after F0 88: bytes 0..10 "TESSIV" and
  // the version byte, zero-filled; 11..30 text1 (+ counter digits); 31..39 text2
  // (+ counter digits); 40..43 the stored counter big-endian (0 when none).
  std::vector<uint8_t> InformationReply() const;

 private:
  static size_t Index(TessivApp app) { return app == TessivApp::kApp1 ? 0 : 1; }
  std::vector<uint8_t> Execute(const uint8_t* apdu, size_t length);
  std::vector<uint8_t> Format();
  std::vector<uint8_t> Load(const uint8_t* apdu, size_t length);
  std::vector<uint8_t> Challenge();
  std::vector<uint8_t> WriteCounter(const uint8_t* apdu);
  uint32_t NextRandom();
  bool ShowsCounter() const;

  TessivConfig config_;
  bool present_ = true;
  bool powered_ = false;
  std::vector<uint8_t> memory_[2];
  std::vector<bool> written_[2];
  std::optional<uint32_t> counter_;
  std::optional<uint32_t> challenge_;
  bool info_pending_ = false;
  size_t formats_ = 0;
  uint64_t rng_;
  std::vector<std::vector<uint8_t>> commands_;
  std::vector<std::vector<uint8_t>> pass_through_;
  std::vector<Fault> faults_;
};

}  // namespace pelliton::sim
