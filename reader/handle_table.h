// Reader handles: positive integers mapped to open devices. A closed handle is not
// given out again soon, so a stale one is recognised.
#pragma once

#include <cstdint>
#include <memory>

#include "reader/hid_device.h"

namespace pelliton::reader {

// The new handle, or 0 when the table is full (the device is closed then).
int32_t AddReaderHandle(std::unique_ptr<HidDevice> device);
// Null for an unknown or closed handle.
HidDevice* FindReaderHandle(int32_t handle);
// False for an unknown or closed handle.
bool CloseReaderHandle(int32_t handle);

}  // namespace pelliton::reader
