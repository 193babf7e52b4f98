// The table of PC/SC code names and the service rule, with the platform's service name
// and codes chosen here, so that no caller needs to know which system it runs on.
#include "cardaccess/pcsc_codes.h"

#include <winscard.h>

#include <cstdio>
#include <utility>

namespace pelliton {

namespace {

// The codes a card run or a reader wait can meet.
constexpr std::pair<uint32_t, const char*> kPcscNames[] = {
    {0x80100001, "SCARD_F_INTERNAL_ERROR"},
    {0x80100002, "SCARD_E_CANCELLED"},
    {0x80100003, "SCARD_E_INVALID_HANDLE"},
    {0x80100004, "SCARD_E_INVALID_PARAMETER"},
    {0x80100006, "SCARD_E_NO_MEMORY"},
    {0x80100008, "SCARD_E_INSUFFICIENT_BUFFER"},
    {0x80100009, "SCARD_E_UNKNOWN_READER"},
    {0x8010000A, "SCARD_E_TIMEOUT"},
    {0x8010000B, "SCARD_E_SHARING_VIOLATION"},
    {0x8010000C, "SCARD_E_NO_SMARTCARD"},
    {0x8010000F, "SCARD_E_PROTO_MISMATCH"},
    {0x80100010, "SCARD_E_NOT_READY"},
    {0x80100011, "SCARD_E_INVALID_VALUE"},
    {0x80100013, "SCARD_F_COMM_ERROR"},
    {0x80100014, "SCARD_F_UNKNOWN_ERROR"},
    {0x80100016, "SCARD_E_NOT_TRANSACTED"},
    {0x80100017, "SCARD_E_READER_UNAVAILABLE"},
    {0x8010001D, "SCARD_E_NO_SERVICE"},
    {0x8010001E, "SCARD_E_SERVICE_STOPPED"},
    {0x8010001F, "SCARD_E_UNEXPECTED"},
    {0x8010002E, "SCARD_E_NO_READERS_AVAILABLE"},
    {0x8010002F, "SCARD_E_COMM_DATA_LOST"},
    {0x80100065, "SCARD_W_UNSUPPORTED_CARD"},
    {0x80100066, "SCARD_W_UNRESPONSIVE_CARD"},
    {0x80100067, "SCARD_W_UNPOWERED_CARD"},
    {0x80100068, "SCARD_W_RESET_CARD"},
    {0x80100069, "SCARD_W_REMOVED_CARD"},
};

uint32_t Low32(int64_t code) {
  return static_cast<uint32_t>(static_cast<uint64_t>(code) & 0xFFFFFFFFull);
}

}  // namespace

#ifdef _WIN32
const char* const kPcscServiceName = "Smart Card";
#else
const char* const kPcscServiceName = "pcscd";
#endif

std::string_view PcscCodeName(int64_t code) {
  for (const auto& [value, name] : kPcscNames) {
    if (value == Low32(code))
      return name;
  }
  return {};
}

std::string PcscCodeText(int64_t code) {
  char number[16];
  std::snprintf(number, sizeof number, "0x%08lX", static_cast<unsigned long>(Low32(code)));
  const std::string_view name = PcscCodeName(code);
  return "PC/SC " + (name.empty() ? std::string() : std::string(name) + " ") + number;
}

bool PcscServiceDown(int64_t code) {
  const uint32_t value = Low32(code);
#ifdef _WIN32
  // Wine's winscard answers nothing else where no service can be reached at all.
  if (value == static_cast<uint32_t>(SCARD_F_INTERNAL_ERROR))
    return true;
#endif
  return value == static_cast<uint32_t>(SCARD_E_NO_SERVICE) ||
         value == static_cast<uint32_t>(SCARD_E_SERVICE_STOPPED);
}

std::string PcscServiceDownMessage() {
  return std::string("the PC/SC service (") + kPcscServiceName + ") is not running";
}

std::string PcscServiceStoppedMessage() {
  return std::string("the PC/SC service (") + kPcscServiceName + ") stopped";
}

}  // namespace pelliton
