// Arbitrary sequences of input reports into the reply gatherer.
// Input: one capacity byte, then records of one length byte and up to 64 report bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "reader/link_frame.h"

using pelliton::reader::kHidReportSize;
using pelliton::reader::kMaxReplyPayload;
using pelliton::reader::ReplyGatherer;
using pelliton::reader::SKXorChecksum;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) {
    return 0;
  }
  // Capacities around the interesting limits: the 280-byte areas and the frame area.
  static const size_t kCapacities[] = {0, 1, 57, 58, 280, 300, 594, 595, 65535};
  const size_t capacity = kCapacities[data[0] % (sizeof(kCapacities) / sizeof(kCapacities[0]))];
  ++data;
  --size;
  ReplyGatherer gatherer(capacity);
  ReplyGatherer::Step step = ReplyGatherer::Step::kNeedMore;
  while (size > 0 && step == ReplyGatherer::Step::kNeedMore) {
    const size_t bytes_read = data[0] % (kHidReportSize + 2);  // also 65: clamped
    ++data;
    --size;
    uint8_t report[kHidReportSize] = {0x04};
    const size_t n = size < kHidReportSize ? size : kHidReportSize;
    std::memcpy(report, data, n);
    data += n;
    size -= n;
    step = gatherer.Feed(report, bytes_read);
  }
  if (step == ReplyGatherer::Step::kDone) {
    const size_t n = gatherer.payload_length();
    if (n > capacity || n > kMaxReplyPayload) {
      std::abort();
    }
    // The payload must be readable in full.
    volatile uint8_t sum = SKXorChecksum(gatherer.payload(), n);
    (void)sum;
  } else if (step == ReplyGatherer::Step::kFailed && gatherer.error() >= 0) {
    std::abort();
  }
  return 0;
}
