// The Orvo reader's operations: each one request/reply exchange over the link.
#include <chrono>
#include <cstring>
#include <thread>
#include <utility>

#include "reader/bounded_calls.h"
#include "reader/handle_table.h"
#include "reader/hid_device.h"
#include "reader/link_frame.h"
#include "reader/protocol.h"
#include "reader/reader_api.h"

namespace pelliton::reader {
namespace {

SleepFunction& Sleeper() {
  static SleepFunction sleeper;
  return sleeper;
}

void Pause(uint32_t milliseconds) {
  if (Sleeper()) {
    Sleeper()(milliseconds);
  } else {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
}

// One exchange: request out, reply payload into reply (capacity bytes).
int32_t Exchange(int32_t handle, int32_t slot, uint8_t command, const uint8_t* request,
                 int32_t request_length, uint8_t* reply, int32_t* reply_length, size_t capacity) {
  if (SKSendData(handle, slot, command, request, request_length) != 1) {
    return SKLastError();
  }
  if (SKRevDataBounded(handle, slot, command, reply, reply_length, capacity) != 1) {
    return SKLastError();
  }
  return 0;
}

// Reader-level command whose reply payload is not used.
int32_t Command(int32_t handle, uint8_t command, const uint8_t* request, int32_t request_length) {
  uint8_t area[kReplyArea];
  int32_t length = 0;
  return Exchange(handle, 0, command, request, request_length, area, &length, kReplyArea);
}

int32_t CheckBlock(const uint8_t* data, int32_t data_length, size_t limit) {
  if (data_length < 0 || static_cast<size_t>(data_length) > limit) {
    return PELLITON_READER_TOO_LARGE;
  }
  if (data == nullptr && data_length != 0) {
    return PELLITON_READER_NULL_ARGUMENT;
  }
  return 0;
}

int32_t FirmwareBlock(int32_t handle, uint8_t command, const uint8_t* data, int32_t data_length,
                      size_t limit, bool pause) {
  if (const int32_t refused = CheckBlock(data, data_length, limit); refused != 0) {
    return refused;
  }
  const int32_t result = Command(handle, command, data, data_length);
  if (result == 0 && pause) {
    Pause(kFirmwarePauseMs);
  }
  return result;
}

}  // namespace

void SetSleepFunction(SleepFunction sleep) {
  Sleeper() = std::move(sleep);
}

int32_t DecodeAtr(const uint8_t* payload, size_t length) {
  if (length < kMinAtr || length > kMaxAtr) {
    return PELLITON_READER_BAD_ATR;
  }
  if (payload[0] != 0x3B && payload[0] != 0x3F) {
    return PELLITON_READER_BAD_ATR;
  }
  return 0;
}

int32_t DecodeCardState(const uint8_t* payload, size_t length, uint8_t* state) {
  if (length == 0) {
    return PELLITON_READER_MALFORMED_REPLY;
  }
  *state = (payload[0] & 0x03) == 0 ? 1 : 0;
  return 0;
}

int32_t DecodeFirmwareVersion(const uint8_t* payload, size_t length, size_t* text_offset,
                              size_t* text_length, uint32_t* firmware_number) {
  if (length < 4) {
    return PELLITON_READER_MALFORMED_REPLY;
  }
  const size_t l = static_cast<size_t>(payload[0]) | (static_cast<size_t>(payload[1]) << 8);
  if (l < 4 || l > length) {
    return PELLITON_READER_MALFORMED_REPLY;
  }
  *text_offset = 2;
  *text_length = l - 4;
  *firmware_number =
      static_cast<uint32_t>(payload[l - 2]) | (static_cast<uint32_t>(payload[l - 1]) << 8);
  return 0;
}

int32_t CardApduBounded(int32_t handle, int32_t slot, const uint8_t* command,
                        int32_t command_length, uint8_t* response, int32_t* response_length,
                        uint32_t capacity) {
  if (const int32_t refused = CheckBlock(command, command_length, kMaxRequestPayload);
      refused != 0) {
    return refused;
  }
  if (response == nullptr || response_length == nullptr) {
    return PELLITON_READER_NULL_ARGUMENT;
  }
  return Exchange(handle, slot, kCmdApdu, command, command_length, response, response_length,
                  capacity);
}

}  // namespace pelliton::reader

using namespace pelliton::reader;

extern "C" {

int32_t DllOpenReader(void) {
  HidBackend& backend = CurrentHidBackend();
  for (const HidDeviceInfo& info : backend.Enumerate()) {
    if (!IsOrvoReader(info)) {
      continue;
    }
    std::unique_ptr<HidDevice> device = backend.Open(info.path);
    if (device == nullptr) {
      continue;  // held by another program: try the next one
    }
    const int32_t handle = AddReaderHandle(std::move(device));
    return handle > 0 ? handle : PELLITON_READER_NOT_FOUND;
  }
  return PELLITON_READER_NOT_FOUND;
}

int32_t DllCloseReader(int32_t handle) {
  return CloseReaderHandle(handle) ? 0 : PELLITON_READER_CLOSE_FAILED;
}

int32_t DllReset7816Card(int32_t handle, int32_t slot, uint8_t* atr, int32_t* atr_length) {
  if (atr == nullptr || atr_length == nullptr) {
    return PELLITON_READER_NULL_ARGUMENT;
  }
  const uint8_t power_on = 0x01;
  uint8_t area[kReplyArea];
  int32_t length = 0;
  if (const int32_t failed =
          Exchange(handle, slot, kCmdPowerOn, &power_on, 1, area, &length, kReplyArea);
      failed != 0) {
    return failed;
  }
  if (const int32_t bad = DecodeAtr(area, static_cast<size_t>(length)); bad != 0) {
    return bad;
  }
  std::memcpy(atr, area, static_cast<size_t>(length));
  *atr_length = length;
  return 0;
}

int32_t Dll7816CardPowerdown(int32_t handle, int32_t slot) {
  uint8_t area[kReplyArea];
  int32_t length = 0;
  return Exchange(handle, slot, kCmdPowerOff, nullptr, 0, area, &length, kReplyArea);
}

int32_t Dll7816CardAPDU(int32_t handle, int32_t slot, const uint8_t* command,
                        int32_t command_length, uint8_t* response, int32_t* response_length) {
  return CardApduBounded(handle, slot, command, command_length, response, response_length,
                         kMaxReplyPayload);
}

int32_t DllGet7816CardState(int32_t handle, int32_t slot, uint8_t* state) {
  if (state == nullptr) {
    return PELLITON_READER_NULL_ARGUMENT;
  }
  uint8_t area[kReplyArea];
  int32_t length = 0;
  if (const int32_t failed =
          Exchange(handle, slot, kCmdCardState, nullptr, 0, area, &length, kReplyArea);
      failed != 0) {
    return failed;
  }
  return DecodeCardState(area, static_cast<size_t>(length), state);
}

int32_t DllGetFirmwareVersion(int32_t handle, char* version_text, uint32_t* text_length,
                              uint32_t* firmware_number) {
  if (version_text == nullptr || text_length == nullptr || firmware_number == nullptr) {
    return PELLITON_READER_NULL_ARGUMENT;
  }
  uint8_t area[kReplyArea];
  int32_t length = 0;
  if (const int32_t failed =
          Exchange(handle, 0, kCmdFirmwareVersion, nullptr, 0, area, &length, kReplyArea);
      failed != 0) {
    return failed;
  }
  size_t offset = 0;
  size_t text = 0;
  uint32_t number = 0;
  if (const int32_t bad =
          DecodeFirmwareVersion(area, static_cast<size_t>(length), &offset, &text, &number);
      bad != 0) {
    return bad;
  }
  if (text != 0) {
    std::memcpy(version_text, area + offset, text);
  }
  *text_length = static_cast<uint32_t>(text);
  *firmware_number = number;
  return 0;
}

int32_t DllDownloadFirmwareStart(int32_t handle, const uint8_t* data, int32_t data_length) {
  return FirmwareBlock(handle, kCmdFirmwareStart, data, data_length, kMaxRequestPayload, true);
}

int32_t DllDownloadFirmwareFirst(int32_t handle, const uint8_t* data, int32_t data_length) {
  return FirmwareBlock(handle, kCmdFirmwareFirst, data, data_length, kMaxRequestPayload, true);
}

int32_t DllDownloadFirmware(int32_t handle, const uint8_t* data, int32_t data_length) {
  return FirmwareBlock(handle, kCmdFirmwareBlock, data, data_length, kMaxRequestPayload, false);
}

int32_t DllDownloadFirmwareComplete(int32_t handle, const uint8_t* data, int32_t data_length) {
  return FirmwareBlock(handle, kCmdFirmwareComplete, data, data_length, kMaxFirmwareCompleteBlock,
                       true);
}

int32_t DllLedControl(int32_t handle, uint8_t value) {
  return Command(handle, kCmdLed, &value, 1);
}

int32_t DllSpeakerControl(int32_t handle, uint8_t value) {
  return Command(handle, kCmdSpeaker, &value, 1);
}

int32_t DllGetOfflineFileName(int32_t handle, char* name, uint32_t* name_length) {
  if (name == nullptr || name_length == nullptr) {
    return PELLITON_READER_NULL_ARGUMENT;
  }
  uint8_t area[kReplyArea];
  int32_t length = 0;
  if (const int32_t failed =
          Exchange(handle, 0, kCmdGetOfflineName, nullptr, 0, area, &length, kReplyArea);
      failed != 0) {
    return failed;
  }
  if (length != 0) {
    std::memcpy(name, area, static_cast<size_t>(length));
  }
  *name_length = static_cast<uint32_t>(length);
  return 0;
}

int32_t DllSetOfflineFileName(int32_t handle, const char* name, uint32_t name_length) {
  if (name_length > kMaxOfflineName) {
    return PELLITON_READER_TOO_LARGE;
  }
  if (name == nullptr && name_length != 0) {
    return PELLITON_READER_NULL_ARGUMENT;
  }
  uint8_t area[kMaxOfflineName] = {};
  if (name_length != 0) {
    std::memcpy(area, name, name_length);
  }
  return Command(handle, kCmdSetOfflineName, area, static_cast<int32_t>(name_length));
}

int32_t DllEraseOfflineData(int32_t handle) {
  return Command(handle, kCmdEraseOffline, nullptr, 0);
}

int32_t DllWriteOfflineData(int32_t handle, uint8_t value, const uint8_t* data,
                            uint8_t data_length) {
  if (data == nullptr && data_length != 0) {
    return PELLITON_READER_NULL_ARGUMENT;
  }
  uint8_t area[2 + 255];
  area[0] = value;
  area[1] = data_length;
  if (data_length != 0) {
    std::memcpy(area + 2, data, data_length);
  }
  return Command(handle, kCmdWriteOffline, area, 2 + data_length);
}

}  // extern "C"
