// --trace: every APDU and its response in hex, with the round trip in milliseconds.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "cardaccess/forwarding.h"

namespace pelliton {

// Bytes as upper-case hex pairs separated by blanks.
std::string HexBytes(const uint8_t* bytes, size_t count);

// The name of a transport's result code: a PC/SC code ("SCARD_W_REMOVED_CARD"), or an Orvo
// reader code (negative, "PELLITON_READER_NOT_FOUND"); empty for a code without a name.
std::string ResultCodeName(int64_t result);

// "> F0 DB 00 00 00\n< 90 00  (0.412 ms)\n"; on a failed exchange (result not 0) the
// second line names the transport's code instead of a response ("< failed
// SCARD_W_REMOVED_CARD (0x80100069)"), and a success without a byte says "< empty reply".
std::string TraceExchange(const uint8_t* command, size_t command_length, int64_t result,
                          const uint8_t* response, size_t response_length, double milliseconds);

// Passes every call on to the real service and traces the exchanges.
class TracingPcsc final : public ForwardingPcsc {
 public:
  TracingPcsc(PcscApi& inner, std::FILE* out) : ForwardingPcsc(inner), out_(out) {}
  LONG Status(SCARDHANDLE card, uint8_t* atr, DWORD* atr_length) override;
  LONG Transmit(SCARDHANDLE card, const SCARD_IO_REQUEST* send_header, const uint8_t* command,
                DWORD command_length, uint8_t* response, DWORD* response_length) override;

 private:
  std::FILE* out_;
};

class TracingOrvo final : public ForwardingOrvo {
 public:
  TracingOrvo(OrvoApi& inner, std::FILE* out) : ForwardingOrvo(inner), out_(out) {}
  int32_t ResetCard(int32_t handle, int32_t slot, uint8_t* atr, int32_t* atr_length) override;
  int32_t CardApdu(int32_t handle, int32_t slot, const uint8_t* command, int32_t command_length,
                   uint8_t* response, int32_t* response_length, uint32_t capacity) override;

 private:
  std::FILE* out_;
};

}  // namespace pelliton
