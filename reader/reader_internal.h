// What the tool's own card access uses of the reader beyond the C API.
#pragma once

#include <cstdint>

namespace pelliton::reader {

// Dll7816CardAPDU with the capacity of the caller's response buffer: a reply payload
// larger than capacity is refused with -31 and nothing is copied.
int32_t CardApduBounded(int32_t handle, int32_t slot, const uint8_t* command,
                        int32_t command_length, uint8_t* response, int32_t* response_length,
                        uint32_t capacity);

}  // namespace pelliton::reader
