// Shared pieces of the reader tests: a fixed card, guarded buffers and a fixture with
// the simulated reader installed and opened.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "reader/bounded_calls.h"
#include "reader/link_frame.h"
#include "reader/protocol.h"
#include "reader/reader_api.h"
#include "sim/card_model.h"
#include "sim/reader/simulated_orvo_reader.h"

namespace pelliton::reader::test {

// A card with a fixed ATR that answers every APDU with a fixed response.
class FixedCard : public sim::CardModel {
 public:
  bool present = true;
  std::vector<uint8_t> atr = {0x3B, 0x02, 0x14, 0x50};
  std::vector<uint8_t> response = {0x90, 0x00};
  std::vector<std::vector<uint8_t>> apdus;
  int power_offs = 0;

  bool Present() const override { return present; }
  std::vector<uint8_t> PowerOn() override { return present ? atr : std::vector<uint8_t>{}; }
  void PowerOff() override { ++power_offs; }
  std::vector<uint8_t> Transmit(const uint8_t* apdu, size_t length) override {
    apdus.emplace_back(apdu, apdu + length);
    return response;
  }
};

// A destination with 32 guard bytes on each side, all preset to one pattern, so a
// test can tell whether anything at all was written.
template <size_t N>
class Guarded {
 public:
  static constexpr size_t kGuard = 32;
  static constexpr uint8_t kFill = 0xA5;
  Guarded() { bytes_.fill(kFill); }
  uint8_t* data() { return bytes_.data() + kGuard; }
  char* chars() { return reinterpret_cast<char*>(data()); }
  bool Untouched() const {
    for (uint8_t b : bytes_) {
      if (b != kFill) {
        return false;
      }
    }
    return true;
  }
  bool GuardsIntact() const {
    for (size_t i = 0; i < kGuard; ++i) {
      if (bytes_[i] != kFill || bytes_[kGuard + N + i] != kFill) {
        return false;
      }
    }
    return true;
  }
  std::vector<uint8_t> Take(size_t n) const {
    return {bytes_.begin() + kGuard, bytes_.begin() + kGuard + static_cast<long>(n)};
  }

 private:
  std::array<uint8_t, N + 2 * kGuard> bytes_{};
};

inline constexpr int32_t kUntouchedLength = 0x5A5A5A5A;

class ReaderFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    reader_.Install();
    reader_.SetReplyDeadline(std::chrono::milliseconds(40));
    SetSleepFunction([this](uint32_t ms) { pauses_.push_back(ms); });
    handle_ = DllOpenReader();
    ASSERT_GT(handle_, 0);
    reader_.ClearRecords();
  }
  void TearDown() override {
    DllCloseReader(handle_);
    SetSleepFunction(nullptr);
    reader_.Uninstall();
  }

  // The request frames the reader received, as (slot, command, payload).
  const sim::ReaderRequest& LastRequest() const { return reader_.Requests().back(); }

  FixedCard card_;
  sim::SimulatedOrvoReader reader_{&card_};
  std::vector<uint32_t> pauses_;
  int32_t handle_ = 0;
};

inline std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
  std::vector<uint8_t> out;
  for (int v : values) {
    out.push_back(static_cast<uint8_t>(v));
  }
  return out;
}

inline std::vector<uint8_t> Pattern(size_t n, uint8_t seed = 1) {
  std::vector<uint8_t> out(n);
  for (size_t i = 0; i < n; ++i) {
    out[i] = static_cast<uint8_t>(seed + i * 7);
  }
  return out;
}

}  // namespace pelliton::reader::test
