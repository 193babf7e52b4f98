// The single door through which the procedures reach a card: the transport choice,
// the PC/SC reader choice, the connection state and the one exchange area. A plain
// transport that answers with codes; what the operator is shown of it lives in
// reader_controls.h.
#pragma once

#include <winscard.h>

#include <cstdint>
#include <string>
#include <vector>

#include "cardaccess/orvo_api.h"
#include "cardaccess/pcsc_api.h"
#include "reader/reader_api.h"

namespace pelliton {

enum class ReaderMode : uint8_t { Pcsc = 0, UsbReader = 1 };

// Which transport made the handle in CardConnection, so that the next reset releases
// it with that transport's own call, and only once.
enum class HandleKind : uint8_t { None, Pcsc, Orvo };

// Which step of the last ResetCard failed, so that the operator can be told why.
enum class ResetFault : uint8_t {
  kNone,
  kConnect,     // PC/SC: the card could not be connected
  kStatus,      // PC/SC: connected, but its ATR could not be read
  kOpenReader,  // Orvo: no usable reader
  kCardReset,   // Orvo: the reader could not reset the card
};

inline constexpr size_t kAtrBufferSize = 100;
inline constexpr size_t kApduBufferSize = 300;
// Code returned for a failed card reset on the Orvo reader (SCARD_W_UNRESPONSIVE_CARD).
inline constexpr int32_t kOrvoResetFailed = static_cast<int32_t>(0x80100066);
// The Orvo reader is always driven on this slot.
inline constexpr int32_t kOrvoSlot = 0;
// The response length an Orvo exchange leaves behind when it fails.
inline constexpr uint32_t kOrvoFailedResponseLength = 200;

// TransmitApdu results of exchanges refused before or after the transport ran:
// - a response that would not fit the 300-byte response buffer: SCARD_E_INSUFFICIENT_BUFFER
//   over PC/SC, PELLITON_READER_TOO_LARGE from the Orvo reader;
// - a response under two bytes, which carries no status word: SCARD_F_COMM_ERROR over
//   PC/SC, PELLITON_READER_MALFORMED_REPLY over the Orvo reader;
// - a command length outside 0..300: SCARD_E_INVALID_PARAMETER over PC/SC,
//   PELLITON_READER_TOO_LARGE over the Orvo reader;
// - a handle made by the other transport (no reset since the mode switch):
//   SCARD_E_INVALID_HANDLE over PC/SC, PELLITON_READER_NOT_FOUND over the Orvo reader.

struct CardConnection {
  std::string reader_name;  // selected PC/SC reader; empty when none
  SCARDCONTEXT context = 0;
  int64_t card_handle = 0;  // SCARDHANDLE or Orvo reader handle; 0 and -2: nothing open
  HandleKind handle_kind = HandleKind::None;
  uint32_t active_protocol = 0;
  SCARD_IO_REQUEST send_header{};
  uint8_t atr[kAtrBufferSize] = {};
  uint32_t atr_length = 0;
};

struct ApduExchange {
  uint8_t command[kApduBufferSize] = {};
  int32_t command_length = 0;
  uint8_t response[kApduBufferSize] = {};
  uint32_t response_length = 0;  // capacity in, received length out
  int32_t last_result = 0;
};

class CardAccess {
 public:
  CardAccess(PcscApi& pcsc, OrvoApi& orvo);
  CardAccess(const CardAccess&) = delete;
  CardAccess& operator=(const CardAccess&) = delete;

  ReaderMode& Mode() { return mode_; }
  CardConnection& Connection() { return connection_; }
  ApduExchange& Exchange() { return exchange_; }

  // Clears the reader selection, establishes a new PC/SC context and lists its readers
  // into *names, in the service's order (empty on failure). The context it replaces is
  // released at once, unless the card handle still held was made under it: then it is
  // released right after that handle's disconnect at the next reset, because releasing
  // it earlier would end that card's connection behind our back. The service's code.
  LONG ListReaders(std::vector<std::string>* names);
  // The PC/SC reader the next reset connects to; empty for none.
  void SelectReader(const std::string& name) { connection_.reader_name = name; }

  // Powers the card up afresh and reads its ATR into Connection().atr / atr_length.
  // 0 on success; otherwise a PC/SC code, PELLITON_READER_NOT_FOUND (no Orvo reader) or
  // kOrvoResetFailed, with the failing step in LastResetFault(). Whatever handle the cell
  // holds is first released with the call of the transport that made it (HandleKind), once.
  int32_t ResetCard();
  ResetFault LastResetFault() const { return last_reset_fault_; }
  // How many resets have read an ATR so far: a run that wants the ATR of its own reset
  // compares it before and after (the cell keeps an earlier card's ATR otherwise).
  uint64_t AtrReads() const { return atr_reads_; }
  // Sends Exchange().command (command_length bytes) and receives into
  // Exchange().response; response_length goes in as the granted capacity (at most
  // 300) and comes back as the received length. 0 when a response with a status word
  // was received; otherwise the transport's code.
  int32_t TransmitApdu();

 private:
  int32_t ResetCardPcsc();
  int32_t ResetCardOrvo();
  void ReleaseHandle();
  int32_t TransmitPcsc();
  int32_t TransmitOrvo();

  PcscApi& pcsc_;
  OrvoApi& orvo_;
  // The context the PC/SC card handle was made under, and a replaced context whose release
  // waits for that handle's disconnect (0: none).
  SCARDCONTEXT handle_context_ = 0;
  SCARDCONTEXT retired_context_ = 0;
  ReaderMode mode_ = ReaderMode::UsbReader;
  ResetFault last_reset_fault_ = ResetFault::kNone;
  uint64_t atr_reads_ = 0;
  CardConnection connection_;
  ApduExchange exchange_;
};

}  // namespace pelliton
