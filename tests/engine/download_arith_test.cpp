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

TEST(HexTextTest, EachByteTwoDigitsInTheCaseAskedFor) {
  const struct {
    std::string bytes;
    HexCase letters;
    std::string separator;
    std::string text;
  } cases[] = {
      {"", HexCase::kUpper, " ", ""},
      {"\x3B\x9F\x0A", HexCase::kUpper, "", "3B9F0A"},
      // A byte above 0x7F in a string is still one byte, not a negative char.
      {"caf\xE9", HexCase::kLower, "", "636166e9"},
      {std::string("\xF0\xDB\x00", 3), HexCase::kUpper, " ", "F0 DB 00"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(HexText(c.bytes, c.letters, c.separator), c.text) << c.text;
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
