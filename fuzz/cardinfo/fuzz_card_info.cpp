// The card information reply decoder: first byte ATR byte 17, then up to 40 reply bytes
// (missing ones read as zero, as in a freshly zeroed buffer).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/card_info.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) {
    return 0;
  }
  uint8_t reply[pelliton::kCardInfoReplyBytes] = {};
  const size_t copied = std::min(size - 1, sizeof reply);
  std::copy_n(data + 1, copied, reply);

  const pelliton::CardInfo info = pelliton::ReadCardInfo(pelliton::VersionClassOf(data[0]), reply);
  const std::string text = pelliton::CardInfoTextOf(info);
  // One version or two, and a counter exactly on the generations that keep one.
  if (info.versions.size() != (info.one_version ? 1u : 2u) ||
      info.counter.has_value() != pelliton::HasCounter(info.generation) ||
      (info.counter && info.counter->size() > 4)) {
    std::abort();
  }
  // Card line (<= 31) + two labels (44) + texts (<= 29 + 9) + counter label (10) + breaks.
  if (text.size() > 31 + 44 + 38 + 10 + 4 || text.size() < 4 ||
      text.compare(text.size() - 4, 4, "\r\n\r\n") != 0) {
    std::abort();
  }
  return 0;
}
