// The single door through which the procedures reach a card: the transport choice,
// the PC/SC reader choice, the connection state and the one exchange area.
#pragma once

#include <winscard.h>

#include <cstdint>
#include <string>

#include "cardaccess/access_panel.h"
#include "cardaccess/orvo_api.h"
#include "cardaccess/pcsc_api.h"

namespace pelliton {

enum class ReaderMode : uint8_t { Pcsc = 0, UsbReader = 1 };

// Which transport made the handle in CardConnection, so that the next reset releases
// it with that transport's own call, and only once.
enum class HandleKind : uint8_t { None, Pcsc, Usb };

inline constexpr size_t kAtrBufferSize = 100;
inline constexpr size_t kApduBufferSize = 300;
// Code returned for a failed card reset on the Orvo reader (SCARD_W_UNRESPONSIVE_CARD).
inline constexpr int32_t kUsbResetFailed = static_cast<int32_t>(0x80100066);
// What DllOpenReader answers when no usable reader is there; also kept in the card handle.
inline constexpr int32_t kUsbNoReader = -2;
// The Orvo reader is always driven on this slot.
inline constexpr int32_t kUsbSlot = 0;
// The response length a USB exchange leaves behind when it fails.
inline constexpr uint32_t kUsbFailedResponseLength = 200;

// TransmitApdu results of exchanges refused before or after the transport ran:
// - a response that would not fit the 300-byte response buffer: SCARD_E_INSUFFICIENT_BUFFER
//   over PC/SC, kUsbTooLarge (-31) from the Orvo reader;
// - a response under two bytes, which carries no status word: SCARD_F_COMM_ERROR over
//   PC/SC, kUsbMalformedReply (-32) over the Orvo reader;
// - a command length outside 0..300: SCARD_E_INVALID_PARAMETER over PC/SC,
//   kUsbTooLarge (-31) over the Orvo reader;
// - a handle made by the other transport (no reset since the mode switch):
//   SCARD_E_INVALID_HANDLE over PC/SC, kUsbNoReader (-2) over the Orvo reader.
inline constexpr int32_t kUsbTooLarge = -31;
inline constexpr int32_t kUsbMalformedReply = -32;

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

  // Reader controls of the window. Each reload establishes a new PC/SC context. The one it
  // replaces is released at once, unless the card handle still held was made under it:
  // then it is released right after that handle's disconnect at the next reset, because
  // releasing it earlier would end that card's connection behind our back.
  void ReloadReaderList(AccessPanel& panel);
  void OnPcscReload(AccessPanel& panel);
  void OnReaderSelChange(AccessPanel& panel);
  void OnReaderModeClicked(AccessPanel& panel, int control_id);

  // Powers the card up afresh and reads its ATR into Connection().atr / atr_length.
  // 0 on success; otherwise a PC/SC code, -2 (no Orvo reader) or kUsbResetFailed.
  // Whatever handle the cell holds is first released with the call of the transport that
  // made it (HandleKind), once.
  int32_t ResetCard(AccessPanel& panel);
  // Sends Exchange().command (command_length bytes) and receives into
  // Exchange().response; response_length goes in as the granted capacity (at most
  // 300) and comes back as the received length. 0 when a response with a status word
  // was received; otherwise the transport's code.
  int32_t TransmitApdu();

 private:
  int32_t ResetCardPcsc(AccessPanel& panel);
  int32_t ResetCardUsb(AccessPanel& panel);
  void ReleaseHandle();
  int32_t TransmitPcsc();
  int32_t TransmitUsb();

  PcscApi& pcsc_;
  OrvoApi& orvo_;
  // The context the PC/SC card handle was made under, and a replaced context whose release
  // waits for that handle's disconnect (0: none).
  SCARDCONTEXT handle_context_ = 0;
  SCARDCONTEXT retired_context_ = 0;
  ReaderMode mode_ = ReaderMode::UsbReader;
  CardConnection connection_;
  ApduExchange exchange_;
};

}  // namespace pelliton
