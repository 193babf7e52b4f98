#include "cardaccess/orvo_api.h"
#include "reader/bounded_calls.h"
#include "reader/reader_api.h"

namespace pelliton {

int32_t SystemOrvo::OpenReader() {
  return DllOpenReader();
}

int32_t SystemOrvo::CloseReader(int32_t handle) {
  return DllCloseReader(handle);
}

int32_t SystemOrvo::ResetCard(int32_t handle, int32_t slot, uint8_t* atr, int32_t* atr_length) {
  return DllReset7816Card(handle, slot, atr, atr_length);
}

int32_t SystemOrvo::CardApdu(int32_t handle, int32_t slot, const uint8_t* command,
                             int32_t command_length, uint8_t* response, int32_t* response_length,
                             uint32_t capacity) {
  return reader::CardApduBounded(handle, slot, command, command_length, response, response_length,
                                 capacity);
}

}  // namespace pelliton
