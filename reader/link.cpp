// SKSendData / SKRevData: one request frame out as output reports, one reply frame in
// from input reports.
#include <cerrno>
#include <chrono>
#include <cstring>

#include "reader/bounded_calls.h"
#include "reader/handle_table.h"
#include "reader/link_frame.h"
#include "reader/reader_api.h"

namespace pelliton::reader {
namespace {

// Not per thread and not per handle: the C API exposes one value for the process.
int32_t g_sk_last_error = 0;

// A failed call must never look like success.
int32_t OsCode(int32_t code) {
  return code > 0 ? code : EIO;
}

// The open device behind a handle; an unknown handle fails like an invalid OS handle.
HidDevice* OpenDeviceOf(int32_t handle) {
  HidDevice* device = FindReaderHandle(handle);
  if (device == nullptr) {
    g_sk_last_error = EBADF;
  }
  return device;
}

}  // namespace

int32_t SKLastError() {
  return g_sk_last_error;
}

int32_t SKRevDataBounded(int32_t handle, int32_t /*slot*/, uint8_t /*command*/, uint8_t* payload,
                         int32_t* payload_length, size_t capacity) {
  g_sk_last_error = 0;
  if (payload == nullptr || payload_length == nullptr) {
    g_sk_last_error = PELLITON_READER_NULL_ARGUMENT;
    return 0;
  }
  HidDevice* device = OpenDeviceOf(handle);
  if (device == nullptr) {
    return 0;
  }
  using Clock = std::chrono::steady_clock;
  // One deadline for the whole reply, so a reader that trickles reports cannot hold
  // the caller longer than one that falls silent.
  const Clock::time_point deadline = Clock::now() + CurrentHidBackend().ReplyDeadline();
  ReplyGatherer gatherer(capacity);
  for (;;) {
    const Clock::time_point now = Clock::now();
    if (now >= deadline) {
      g_sk_last_error = ETIMEDOUT;
      return 0;
    }
    uint8_t report[kHidReportSize] = {};
    report[0] = kInputReportPreset;
    const HidReadResult read =
        device->ReadReport(report, std::chrono::ceil<std::chrono::milliseconds>(deadline - now));
    if (read.error == EINTR) {
      continue;  // a signal interrupted the wait, not the reader: wait on to the deadline
    }
    if (read.error != 0) {
      g_sk_last_error = OsCode(read.error);
      return 0;
    }
    // A read without a single frame byte would let a broken device spin us until the
    // deadline; count it as a failed read.
    if (read.bytes_read < 2) {
      g_sk_last_error = EIO;
      return 0;
    }
    switch (gatherer.Feed(report, read.bytes_read)) {
      case ReplyGatherer::Step::kNeedMore:
        break;
      case ReplyGatherer::Step::kFailed:
        g_sk_last_error = gatherer.error();
        return 0;
      case ReplyGatherer::Step::kDone: {
        const size_t n = gatherer.payload_length();
        if (n != 0) {
          std::memcpy(payload, gatherer.payload(), n);
        }
        *payload_length = static_cast<int32_t>(n);
        return 1;
      }
    }
  }
}

}  // namespace pelliton::reader

using pelliton::reader::g_sk_last_error;

extern "C" int32_t SKSendData(int32_t handle, int32_t slot, uint8_t command, const uint8_t* payload,
                              int32_t payload_length) {
  using namespace pelliton::reader;
  g_sk_last_error = 0;
  if (payload_length < 0 || static_cast<size_t>(payload_length) > kMaxRequestPayload) {
    g_sk_last_error = PELLITON_READER_TOO_LARGE;
    return 0;
  }
  if (payload == nullptr && payload_length != 0) {
    g_sk_last_error = PELLITON_READER_NULL_ARGUMENT;
    return 0;
  }
  HidDevice* device = OpenDeviceOf(handle);
  if (device == nullptr) {
    return 0;
  }
  uint8_t frame[kFrameArea];
  const size_t frame_length = BuildRequestFrame(static_cast<uint8_t>(slot & 0xFF), command, payload,
                                                static_cast<size_t>(payload_length), frame);
  // Reports left over from an earlier reply (an error reply's tail, a late answer
  // after a timeout) would otherwise be read as the start of this request's reply.
  device->DiscardPendingInput();
  const size_t reports = ReportCount(frame_length);
  for (size_t i = 0; i < reports; ++i) {
    uint8_t report[kHidReportSize];
    CutOutputReport(frame, frame_length, i, report);
    const int32_t error = device->WriteReport(report);
    if (error != 0) {
      g_sk_last_error = OsCode(error);
      return 0;
    }
  }
  return 1;
}

extern "C" int32_t SKRevData(int32_t handle, int32_t slot, uint8_t command, uint8_t* payload,
                             int32_t* payload_length) {
  return pelliton::reader::SKRevDataBounded(handle, slot, command, payload, payload_length,
                                            pelliton::reader::kMaxReplyPayload);
}
