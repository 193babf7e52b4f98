// Names of reader results: the reader codes of the C API and the OS codes the link
// passes on.
#include "reader/result_name.h"

#include <cerrno>
#include <cstddef>
#include <iterator>

#include "reader/reader_api.h"

namespace pelliton::reader {
namespace {

struct Named {
  int32_t code;
  const char* name;
};

// Spelled through the macros, so a name here is always the header's name.
#define PELLITON_NAMED(suffix) \
  { PELLITON_READER_##suffix, #suffix }
constexpr Named kReaderCodes[] = {
    PELLITON_NAMED(NOT_FOUND),       PELLITON_NAMED(CLOSE_FAILED),  PELLITON_NAMED(BAD_ATR),
    PELLITON_NAMED(STATUS_05_06),    PELLITON_NAMED(STATUS_03),     PELLITON_NAMED(STATUS_FE),
    PELLITON_NAMED(STATUS_04),       PELLITON_NAMED(BAD_CHECKSUM),  PELLITON_NAMED(STATUS_08),
    PELLITON_NAMED(STATUS_09),       PELLITON_NAMED(STATUS_0A),     PELLITON_NAMED(STATUS_0B),
    PELLITON_NAMED(STATUS_0C),       PELLITON_NAMED(STATUS_OTHER),  PELLITON_NAMED(TOO_LARGE),
    PELLITON_NAMED(MALFORMED_REPLY), PELLITON_NAMED(NULL_ARGUMENT),
};
#undef PELLITON_NAMED

// The OS codes a failed report write or read brings in practice.
#define PELLITON_NAMED(symbol) \
  { symbol, #symbol }
constexpr Named kOsCodes[] = {
    PELLITON_NAMED(EPERM),  PELLITON_NAMED(ENOENT), PELLITON_NAMED(EINTR),
    PELLITON_NAMED(EIO),    PELLITON_NAMED(ENXIO),  PELLITON_NAMED(EBADF),
    PELLITON_NAMED(EAGAIN), PELLITON_NAMED(ENOMEM), PELLITON_NAMED(EACCES),
    PELLITON_NAMED(EBUSY),  PELLITON_NAMED(ENODEV), PELLITON_NAMED(EINVAL),
    PELLITON_NAMED(EPIPE),  PELLITON_NAMED(EPROTO), PELLITON_NAMED(ETIMEDOUT),
};
#undef PELLITON_NAMED

const char* Find(const Named* table, size_t count, int32_t code) {
  for (size_t i = 0; i < count; ++i) {
    if (table[i].code == code) {
      return table[i].name;
    }
  }
  return nullptr;
}

}  // namespace

std::string ResultName(int32_t code) {
  if (code == 0) {
    return "OK";
  }
  if (code > 0) {
    const char* name = Find(kOsCodes, std::size(kOsCodes), code);
    return name != nullptr ? name : "errno " + std::to_string(code);
  }
  const char* name = Find(kReaderCodes, std::size(kReaderCodes), code);
  return name != nullptr ? name : "reader code " + std::to_string(code);
}

}  // namespace pelliton::reader
