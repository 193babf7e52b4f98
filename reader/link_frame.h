// Frames of the Orvo reader link and their cutting into and gathering from 64-byte
// HID reports. Pure code over byte buffers: no OS calls, no allocation.
#pragma once

#include <cstddef>
#include <cstdint>

#include "reader/hid_device.h"

namespace pelliton::reader {

inline constexpr size_t kFrameArea = 600;
inline constexpr size_t kMaxRequestPayload = kFrameArea - 5;  // 595
inline constexpr size_t kMaxReplyPayload = kFrameArea - 6;    // 594
inline constexpr size_t kReportFrameBytes = kHidReportSize - 1;
inline constexpr uint8_t kOutputReportId = 0x03;
inline constexpr uint8_t kInputReportPreset = 0x04;

// XOR of count bytes; 0 for none.
uint8_t SKXorChecksum(const uint8_t* bytes, size_t count);

// The negative code of a reply status byte; 0 for 0x00.
int32_t SKStatusToError(uint8_t status);

// Builds the request frame into frame (kFrameArea bytes). Returns its length, or 0
// when the payload is larger than kMaxRequestPayload (nothing is written then).
size_t BuildRequestFrame(uint8_t slot, uint8_t command, const uint8_t* payload,
                         size_t payload_length, uint8_t* frame);

// How many reports a frame of frame_length bytes takes.
constexpr size_t ReportCount(size_t frame_length) {
  return (frame_length + kReportFrameBytes - 1) / kReportFrameBytes;
}

// Fills report (kHidReportSize bytes) with output report number index of the frame.
void CutOutputReport(const uint8_t* frame, size_t frame_length, size_t index, uint8_t* report);

// Gathers one reply frame from input reports. The status is judged on the first
// report, then the length field against the capacity, then the checksum once the
// frame is whole.
class ReplyGatherer {
 public:
  enum class Step { kNeedMore, kDone, kFailed };

  // capacity: the most payload bytes the receiver accepts (at most kMaxReplyPayload).
  explicit ReplyGatherer(size_t capacity);

  // Takes one report as read: report holds kHidReportSize bytes (the buffer as preset
  // before the read), bytes_read of them came from the device. After kDone or
  // kFailed further reports are refused with kFailed.
  Step Feed(const uint8_t* report, size_t bytes_read);

  // The reader code of a kFailed step.
  int32_t error() const { return error_; }
  // Valid after kDone.
  const uint8_t* payload() const { return frame_ + 5; }
  size_t payload_length() const { return total_ - 6; }

 private:
  uint8_t frame_[kFrameArea] = {};
  size_t capacity_;
  size_t total_ = 0;
  size_t gathered_ = 0;
  bool started_ = false;
  bool finished_ = false;
  int32_t error_ = 0;
};

}  // namespace pelliton::reader
