// Decorators' base: every call passed on unchanged to another implementation, so that a
// decorator (tracing, timing) overrides only the calls it looks at.
#pragma once

#include "cardaccess/orvo_api.h"
#include "cardaccess/pcsc_api.h"

namespace pelliton {

class ForwardingPcsc : public PcscApi {
 public:
  explicit ForwardingPcsc(PcscApi& inner) : inner_(inner) {}
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
  LONG Status(SCARDHANDLE card, uint8_t* atr, DWORD* atr_length) override {
    return inner_.Status(card, atr, atr_length);
  }
  LONG BeginTransaction(SCARDHANDLE card) override { return inner_.BeginTransaction(card); }
  LONG EndTransaction(SCARDHANDLE card, DWORD disposition) override {
    return inner_.EndTransaction(card, disposition);
  }
  LONG Disconnect(SCARDHANDLE card, DWORD disposition) override {
    return inner_.Disconnect(card, disposition);
  }
  LONG Transmit(SCARDHANDLE card, const SCARD_IO_REQUEST* send_header, const uint8_t* command,
                DWORD command_length, uint8_t* response, DWORD* response_length) override {
    return inner_.Transmit(card, send_header, command, command_length, response, response_length);
  }
  LONG GetStatusChange(SCARDCONTEXT context, DWORD timeout_ms,
                       std::vector<ReaderState>* states) override {
    return inner_.GetStatusChange(context, timeout_ms, states);
  }
  LONG Cancel(SCARDCONTEXT context) override { return inner_.Cancel(context); }

 protected:
  PcscApi& inner_;
};

class ForwardingOrvo : public OrvoApi {
 public:
  explicit ForwardingOrvo(OrvoApi& inner) : inner_(inner) {}
  int32_t OpenReader() override { return inner_.OpenReader(); }
  int32_t CloseReader(int32_t handle) override { return inner_.CloseReader(handle); }
  int32_t ResetCard(int32_t handle, int32_t slot, uint8_t* atr, int32_t* atr_length) override {
    return inner_.ResetCard(handle, slot, atr, atr_length);
  }
  int32_t CardApdu(int32_t handle, int32_t slot, const uint8_t* command, int32_t command_length,
                   uint8_t* response, int32_t* response_length, uint32_t capacity) override {
    return inner_.CardApdu(handle, slot, command, command_length, response, response_length,
                           capacity);
  }

 protected:
  OrvoApi& inner_;
};

}  // namespace pelliton
