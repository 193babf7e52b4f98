// The Orvo reader operations card access makes, as a seam: the reader library in the
// product, a scripted fake in tests.
#pragma once

#include <cstdint>

namespace pelliton {

class OrvoApi {
 public:
  virtual ~OrvoApi() = default;
  // The reader's device handle, or -2 when no usable reader is there.
  virtual int32_t OpenReader() = 0;
  virtual int32_t CloseReader(int32_t handle) = 0;
  // Cold reset; 0 with the answer to reset in atr and its count in *atr_length.
  virtual int32_t ResetCard(int32_t handle, int32_t slot, uint8_t* atr, int32_t* atr_length) = 0;
  // One APDU; 0 with the response in response and its count in *response_length. A
  // response larger than capacity is refused (-31) and nothing is copied.
  virtual int32_t CardApdu(int32_t handle, int32_t slot, const uint8_t* command,
                           int32_t command_length, uint8_t* response, int32_t* response_length,
                           uint32_t capacity) = 0;
};

// The reader library (reader/reader_api.h).
class SystemOrvo final : public OrvoApi {
 public:
  int32_t OpenReader() override;
  int32_t CloseReader(int32_t handle) override;
  int32_t ResetCard(int32_t handle, int32_t slot, uint8_t* atr, int32_t* atr_length) override;
  int32_t CardApdu(int32_t handle, int32_t slot, const uint8_t* command, int32_t command_length,
                   uint8_t* response, int32_t* response_length, uint32_t capacity) override;
};

}  // namespace pelliton
