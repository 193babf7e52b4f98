// The Orvo reader's C++ calls beyond the C API: the APDU exchange and the reply read
// bounded by the caller's capacity, the link's last error, and the hooks tests and
// diagnostics use (the firmware pause, the count of open handles).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace pelliton::reader {

// Dll7816CardAPDU with the capacity of the caller's response buffer: a reply payload
// larger than capacity is refused with PELLITON_READER_TOO_LARGE and nothing is copied.
int32_t CardApduBounded(int32_t handle, int32_t slot, const uint8_t* command,
                        int32_t command_length, uint8_t* response, int32_t* response_length,
                        uint32_t capacity);

// The link's process-wide last error: 0 after a successful SKSendData or SKRevData,
// otherwise why the last one failed (a positive OS code or a negative reader code).
int32_t SKLastError();

// SKRevData into a destination of capacity bytes: a longer reply payload is refused
// with PELLITON_READER_TOO_LARGE in SKLastError and nothing is copied.
int32_t SKRevDataBounded(int32_t handle, int32_t slot, uint8_t command, uint8_t* payload,
                         int32_t* payload_length, size_t capacity);

// The pause the firmware download operations make after their reply. An empty
// function restores the real sleep; tests record instead of waiting.
using SleepFunction = std::function<void(uint32_t milliseconds)>;
void SetSleepFunction(SleepFunction sleep);

// Reader handles currently open (for tests and diagnostics).
size_t OpenReaderCount();

// The most reader handles open at once; DllOpenReader gives PELLITON_READER_NOT_FOUND
// beyond it.
inline constexpr size_t kMaxOpenReaders = 64;

}  // namespace pelliton::reader
