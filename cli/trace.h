// --trace: every APDU and its response in hex, with the round trip in milliseconds.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "cardaccess/orvo_api.h"
#include "cardaccess/pcsc_api.h"

namespace pelliton::cli {

// Bytes as upper-case hex pairs separated by blanks.
std::string HexBytes(const uint8_t* bytes, size_t count);

// "> F0 DB 00 00 00\n< 90 00  (0.412 ms)\n"; on a failed exchange (result not 0) the
// second line names the transport's code instead of a response.
std::string TraceExchange(const uint8_t* command, size_t command_length, int64_t result,
                          const uint8_t* response, size_t response_length, double milliseconds);

// Passes every call on to the real service and traces the exchanges.
class TracingPcsc final : public PcscApi {
 public:
  TracingPcsc(PcscApi& inner, std::FILE* out) : inner_(inner), out_(out) {}
  LONG EstablishContext(DWORD scope, SCARDCONTEXT* context) override {
    return inner_.EstablishContext(scope, context);
  }
  LONG ReleaseContext(SCARDCONTEXT context) override { return inner_.ReleaseContext(context); }
  LONG ListReaders(SCARDCONTEXT context, std::vector<std::string>* names) override {
    return inner_.ListReaders(context, names);
  }
  LONG Connect(SCARDCONTEXT context, const std::string& reader, DWORD share_mode,
               DWORD preferred_protocols, SCARDHANDLE* card, DWORD* active_protocol) override {
    return inner_.Connect(context, reader, share_mode, preferred_protocols, card, active_protocol);
  }
  LONG Status(SCARDHANDLE card, uint8_t* atr, DWORD* atr_length) override;
  LONG BeginTransaction(SCARDHANDLE card) override { return inner_.BeginTransaction(card); }
  LONG EndTransaction(SCARDHANDLE card, DWORD disposition) override {
    return inner_.EndTransaction(card, disposition);
  }
  LONG Disconnect(SCARDHANDLE card, DWORD disposition) override {
    return inner_.Disconnect(card, disposition);
  }
  LONG Transmit(SCARDHANDLE card, const SCARD_IO_REQUEST* send_header, const uint8_t* command,
                DWORD command_length, uint8_t* response, DWORD* response_length) override;

 private:
  PcscApi& inner_;
  std::FILE* out_;
};

class TracingOrvo final : public OrvoApi {
 public:
  TracingOrvo(OrvoApi& inner, std::FILE* out) : inner_(inner), out_(out) {}
  int32_t OpenReader() override { return inner_.OpenReader(); }
  int32_t CloseReader(int32_t handle) override { return inner_.CloseReader(handle); }
  int32_t ResetCard(int32_t handle, int32_t slot, uint8_t* atr, int32_t* atr_length) override;
  int32_t CardApdu(int32_t handle, int32_t slot, const uint8_t* command, int32_t command_length,
                   uint8_t* response, int32_t* response_length, uint32_t capacity) override;

 private:
  OrvoApi& inner_;
  std::FILE* out_;
};

}  // namespace pelliton::cli
