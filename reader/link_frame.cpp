#include "reader/link_frame.h"

#include <algorithm>
#include <cstring>

#include "reader/reader_api.h"

namespace pelliton::reader {

uint8_t SKXorChecksum(const uint8_t* bytes, size_t count) {
  uint8_t sum = 0;
  for (size_t i = 0; i < count; ++i) {
    sum ^= bytes[i];
  }
  return sum;
}

int32_t SKStatusToError(uint8_t status) {
  switch (status) {
    case 0x00:
      return 0;
    case 0x01:
      return PELLITON_READER_BAD_CHECKSUM;
    case 0x03:
      return PELLITON_READER_STATUS_03;
    case 0x04:
      return PELLITON_READER_STATUS_04;
    case 0x05:
    case 0x06:
      return PELLITON_READER_STATUS_05_06;
    case 0x08:
      return PELLITON_READER_STATUS_08;
    case 0x09:
      return PELLITON_READER_STATUS_09;
    case 0x0A:
      return PELLITON_READER_STATUS_0A;
    case 0x0B:
      return PELLITON_READER_STATUS_0B;
    case 0x0C:
      return PELLITON_READER_STATUS_0C;
    case 0xFE:
      return PELLITON_READER_STATUS_FE;
    default:
      return PELLITON_READER_STATUS_OTHER;
  }
}

size_t BuildRequestFrame(uint8_t slot, uint8_t command, const uint8_t* payload,
                         size_t payload_length, uint8_t* frame) {
  if (payload_length > kMaxRequestPayload) {
    return 0;
  }
  frame[0] = slot;
  frame[1] = command;
  frame[2] = static_cast<uint8_t>(payload_length & 0xFF);
  frame[3] = static_cast<uint8_t>(payload_length >> 8);
  if (payload_length != 0) {
    std::memcpy(frame + 4, payload, payload_length);
  }
  frame[4 + payload_length] = SKXorChecksum(frame + 1, payload_length + 3);
  return payload_length + 5;
}

void CutOutputReport(const uint8_t* frame, size_t frame_length, size_t index, uint8_t* report) {
  std::memset(report, 0, kHidReportSize);
  report[0] = kOutputReportId;
  const size_t position = index * kReportFrameBytes;
  if (position >= frame_length) {
    return;
  }
  const size_t n = std::min(frame_length - position, kReportFrameBytes);
  std::memcpy(report + 1, frame + position, n);
}

ReplyGatherer::ReplyGatherer(size_t capacity) : capacity_(std::min(capacity, kMaxReplyPayload)) {}

ReplyGatherer::Step ReplyGatherer::Feed(const uint8_t* report, size_t bytes_read) {
  if (finished_) {
    return Step::kFailed;
  }
  bytes_read = std::min(bytes_read, kHidReportSize);
  if (!started_) {
    started_ = true;
    // Status and length are taken from the report buffer as it stands, even when the
    // device delivered fewer bytes: the rest is the cleared buffer.
    const int32_t status_code = SKStatusToError(report[3]);
    if (status_code != 0) {
      finished_ = true;
      error_ = status_code;
      return Step::kFailed;
    }
    const size_t n = static_cast<size_t>(report[4]) | (static_cast<size_t>(report[5]) << 8);
    if (n > capacity_) {
      finished_ = true;
      error_ = PELLITON_READER_TOO_LARGE;
      return Step::kFailed;
    }
    total_ = n + 6;
  }
  const size_t available = bytes_read > 0 ? bytes_read - 1 : 0;
  const size_t take = std::min(available, total_ - gathered_);
  std::memcpy(frame_ + gathered_, report + 1, take);
  gathered_ += take;
  if (gathered_ < total_) {
    return Step::kNeedMore;
  }
  finished_ = true;
  if (SKXorChecksum(frame_ + 1, total_ - 2) != frame_[total_ - 1]) {
    error_ = PELLITON_READER_BAD_CHECKSUM;
    return Step::kFailed;
  }
  return Step::kDone;
}

}  // namespace pelliton::reader
