// Pauses of the procedures, replaceable so that tests record them instead of waiting.
#pragma once

#include <chrono>
#include <cstdint>
#include <thread>

namespace pelliton {

class Pauser {
 public:
  virtual ~Pauser() = default;
  virtual void Sleep(uint32_t ms) = 0;
};

class RealPauser final : public Pauser {
 public:
  void Sleep(uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
};

}  // namespace pelliton
