// The Orvo reader's protocol: its device identity, command codes, the sizes of the
// operations' own areas, and the decoders of reply payloads. Shared by the reader
// code, the simulated reader, pelliton-cli and the fuzz targets.
#pragma once

#include <cstddef>
#include <cstdint>

#include "reader/hid_device.h"

namespace pelliton::reader {

// Device identity of the Orvo reader: all three must match.
inline constexpr uint16_t kReaderVendorId = 0x0755;
inline constexpr uint16_t kReaderProductId = 0x0001;
inline constexpr uint16_t kReaderVersion = 0x0205;

// True when the device is an Orvo reader. The reader search and the tool's reader
// listing both decide with this.
inline bool IsOrvoReader(const HidDeviceInfo& info) {
  return info.vendor_id == kReaderVendorId && info.product_id == kReaderProductId &&
         info.release_number == kReaderVersion;
}

// Command codes.
inline constexpr uint8_t kCmdPowerOn = 0x62;
inline constexpr uint8_t kCmdPowerOff = 0x63;
inline constexpr uint8_t kCmdCardState = 0x65;
inline constexpr uint8_t kCmdApdu = 0x6F;
inline constexpr uint8_t kCmdLed = 0x78;
inline constexpr uint8_t kCmdSpeaker = 0x79;
inline constexpr uint8_t kCmdGetOfflineName = 0x7A;
inline constexpr uint8_t kCmdSetOfflineName = 0x7B;
inline constexpr uint8_t kCmdEraseOffline = 0x7C;
inline constexpr uint8_t kCmdWriteOffline = 0x7D;
inline constexpr uint8_t kCmdFirmwareVersion = 0x89;
inline constexpr uint8_t kCmdFirmwareStart = 0x8A;
inline constexpr uint8_t kCmdFirmwareFirst = 0x8B;
inline constexpr uint8_t kCmdFirmwareBlock = 0x8C;
inline constexpr uint8_t kCmdFirmwareComplete = 0x8D;

// Sizes of the operations' own areas.
inline constexpr size_t kReplyArea = 280;
inline constexpr size_t kMaxOfflineName = 261;
inline constexpr size_t kMaxFirmwareCompleteBlock = 264;
inline constexpr size_t kMinAtr = 2;
inline constexpr size_t kMaxAtr = 33;
inline constexpr uint32_t kFirmwarePauseMs = 800;

// Reply payload decoders, shared by the operations and the fuzz targets. Each
// returns 0 or a reader code and writes its outputs only on 0.
int32_t DecodeAtr(const uint8_t* payload, size_t length);
int32_t DecodeCardState(const uint8_t* payload, size_t length, uint8_t* state);
// text_offset/text_length locate the version text inside payload.
int32_t DecodeFirmwareVersion(const uint8_t* payload, size_t length, size_t* text_offset,
                              size_t* text_length, uint32_t* firmware_number);

}  // namespace pelliton::reader
