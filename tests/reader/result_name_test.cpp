// Names of reader results as trace lines and error output show them.
#include "reader/result_name.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <set>
#include <string>

#include "reader/reader_api.h"

namespace pelliton::reader {
namespace {

TEST(ResultName, EveryKindOfResult) {
  struct Case {
    int32_t code;
    const char* name;
  };
  const Case cases[] = {
      {0, "OK"},
      {PELLITON_READER_NOT_FOUND, "NOT_FOUND"},
      {PELLITON_READER_STATUS_05_06, "STATUS_05_06"},
      {PELLITON_READER_BAD_CHECKSUM, "BAD_CHECKSUM"},
      {PELLITON_READER_STATUS_OTHER, "STATUS_OTHER"},
      {PELLITON_READER_NULL_ARGUMENT, "NULL_ARGUMENT"},
      {ETIMEDOUT, "ETIMEDOUT"},
      {EBADF, "EBADF"},
      {EIO, "EIO"},
      {4000, "errno 4000"},
      {INT32_MAX, "errno 2147483647"},
      {-1, "reader code -1"},
      {-34, "reader code -34"},
      {INT32_MIN, "reader code -2147483648"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ResultName(c.code), c.name) << c.code;
  }
}

// Two codes sharing a name would make a trace line ambiguous.
TEST(ResultName, NoTwoCodesShareAName) {
  std::set<std::string> seen;
  for (int32_t code = -40; code <= 200; ++code) {
    EXPECT_TRUE(seen.insert(ResultName(code)).second) << code << " " << ResultName(code);
  }
}

}  // namespace
}  // namespace pelliton::reader
