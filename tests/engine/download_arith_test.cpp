#include <gtest/gtest.h>

#include <string>

#include "engine/bytes.h"
#include "engine/download.h"

namespace pelliton {
namespace {

TEST(Crc32Test, KnownValues) {
  const struct {
    std::string bytes;
    uint32_t crc;
  } cases[] = {
      {"", 0x00000000u},
      {"abc", 0x2C17398Cu},
      {std::string("\x00", 1), 0x00000000u},
      {"\x80", 0x690CE0EEu},  // one byte through all eight shifts with the top bit set
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Crc32(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size()), c.crc)
        << c.bytes;
  }
}

TEST(BigEndianTest, PutAndGetRoundTrip) {
  uint8_t bytes[4];
  PutU32BE(500, bytes);
  EXPECT_EQ(bytes[0], 0x00);
  EXPECT_EQ(bytes[1], 0x00);
  EXPECT_EQ(bytes[2], 0x01);
  EXPECT_EQ(bytes[3], 0xF4);
  PutU32BE(0x12345678u, bytes);
  EXPECT_EQ(GetU32BE(bytes, 4), 0x12345678u);
  EXPECT_EQ(GetU32BE(bytes, 2), 0x1234u);
  EXPECT_EQ(GetU32BE(bytes, 0), 0u);
  // Only the low eight bits of the count matter.
  EXPECT_EQ(GetU32BE(bytes, 0x102), 0x1234u);
  EXPECT_EQ(GetU32BE(bytes, 0x100), 0u);
}

TEST(ProgressStepTest, OneStepEveryFiftiethOfTheLines) {
  const struct {
    uint32_t lines, step;
  } cases[] = {{0, 1}, {49, 1}, {60, 1}, {99, 1}, {100, 2}, {120, 2}, {149, 2}, {2500, 50}};
  for (const auto& c : cases)
    EXPECT_EQ(ProgressStep(c.lines), c.step) << c.lines;
}

}  // namespace
}  // namespace pelliton
