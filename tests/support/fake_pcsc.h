// A scripted PC/SC service for unit tests: every call is logged in order, every result
// can be scripted, and the ATR and the card's replies are set by the test.
#pragma once

#include <winscard.h>

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "cardaccess/pcsc_api.h"

namespace pelliton::testing {

class FakePcsc : public PcscApi {
 public:
  // One scripted card reply: the result of the transmit call and the bytes it returns.
  // reported_length, when set, is what the call claims to have received instead of the
  // bytes' count (the bytes copied are never more than the caller's capacity).
  struct Reply {
    LONG result = SCARD_S_SUCCESS;
    std::vector<uint8_t> bytes;
    int64_t reported_length = -1;
  };

  LONG EstablishContext(DWORD scope, SCARDCONTEXT* context) override;
  LONG ReleaseContext(SCARDCONTEXT context) override;
  LONG ListReaders(SCARDCONTEXT context, std::vector<std::string>* names) override;
  LONG Connect(SCARDCONTEXT context, const std::string& reader, DWORD share_mode,
               DWORD preferred_protocols, SCARDHANDLE* card, DWORD* active_protocol) override;
  LONG Status(SCARDHANDLE card, uint8_t* atr, DWORD* atr_length) override;
  LONG BeginTransaction(SCARDHANDLE card) override;
  LONG EndTransaction(SCARDHANDLE card, DWORD disposition) override;
  LONG Disconnect(SCARDHANDLE card, DWORD disposition) override;
  LONG Transmit(SCARDHANDLE card, const SCARD_IO_REQUEST* send_header, const uint8_t* command,
                DWORD command_length, uint8_t* response, DWORD* response_length) override;

  // Calls in order, e.g. "EstablishContext(0)", "Connect(0x1000,Reader A,2,3)",
  // "Status(0x2000,0)", "Transmit(0x2000,T1,5,300)", "Disconnect(0x2000,2)".
  std::vector<std::string> calls;
  // Every command transmitted, in order.
  std::vector<std::vector<uint8_t>> commands;

  // Results popped one per call; once a queue is empty the call succeeds.
  std::deque<LONG> establish_results;
  std::deque<LONG> list_results;
  std::deque<LONG> connect_results;
  // When empty, Status behaves as pcsc-lite: SCARD_E_INSUFFICIENT_BUFFER with the count
  // needed when the capacity is below the ATR's size, the ATR otherwise.
  std::deque<LONG> status_results;

  std::vector<std::string> readers;
  std::vector<uint8_t> atr;
  DWORD protocol = SCARD_PROTOCOL_T1;
  // Replies popped one per transmit; with none left the transmit answers
  // SCARD_E_NOT_TRANSACTED.
  std::deque<Reply> replies;

  // Handles and contexts handed out count up from these.
  SCARDCONTEXT next_context = 0x1000;
  SCARDHANDLE next_handle = 0x2000;

 private:
  static LONG Pop(std::deque<LONG>& results);
};

}  // namespace pelliton::testing
