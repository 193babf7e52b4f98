// What the rest of the program and the tests use of the reader beyond the C API.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "reader/hid_device.h"
#include "reader/link_frame.h"

namespace pelliton::reader {

// Dll7816CardAPDU with the capacity of the caller's response buffer: a reply payload
// larger than capacity is refused with -31 and nothing is copied.
int32_t CardApduBounded(int32_t handle, int32_t slot, const uint8_t* command,
                        int32_t command_length, uint8_t* response, int32_t* response_length,
                        uint32_t capacity);

// The link's process-wide last error: 0 after a successful SKSendData or SKRevData,
// otherwise why the last one failed (a positive OS code or a negative reader code).
int32_t SKLastError();

// SKRevData into a destination of capacity bytes: a longer reply payload is refused
// with -31 in SKLastError and nothing is copied.
int32_t SKRevDataBounded(int32_t handle, int32_t slot, uint8_t command, uint8_t* payload,
                         int32_t* payload_length, size_t capacity);

// The pause the firmware download operations make after their reply. An empty
// function restores the real sleep; tests record instead of waiting.
using SleepFunction = std::function<void(uint32_t milliseconds)>;
void SetSleepFunction(SleepFunction sleep);

// Reader handles currently open (for tests and diagnostics).
size_t OpenReaderCount();

// The most reader handles open at once; DllOpenReader gives -2 beyond it.
inline constexpr size_t kMaxOpenReaders = 64;

// Device identity of the Orvo reader.
inline constexpr uint16_t kReaderVendorId = 0x0755;
inline constexpr uint16_t kReaderProductId = 0x0001;
inline constexpr uint16_t kReaderVersion = 0x0205;

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
