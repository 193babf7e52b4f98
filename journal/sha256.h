// SHA-256 of a file's bytes, so a journal record names exactly which script went onto a
// card. Small and self-contained: the only digest the tool needs.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace pelliton::journal {

// Incremental SHA-256: Update with the bytes in any pieces, then Finish once.
class Sha256 {
 public:
  Sha256();
  void Update(const void* data, size_t size);
  // The digest of everything given so far; the object is spent afterwards.
  std::array<uint8_t, 32> Finish();

 private:
  void Block(const uint8_t* block);

  std::array<uint32_t, 8> state_;
  std::array<uint8_t, 64> pending_{};
  size_t pending_size_ = 0;
  uint64_t total_bytes_ = 0;
};

// The digest of bytes, as 64 lower-case hexadecimal digits.
std::string Sha256Hex(std::string_view bytes);

}  // namespace pelliton::journal
