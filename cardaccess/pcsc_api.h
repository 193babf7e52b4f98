// The PC/SC calls card access makes, as a seam: the system's PC/SC in the product
// (pcsc-lite on Linux, winscard on Windows, both declared by <winscard.h>), a scripted
// fake or a simulated card in tests.
#pragma once

#include <winscard.h>

// Reader names are byte strings here: on Windows the A forms of the calls and types that
// take them, whatever UNICODE says.
#ifdef _WIN32
#define PELLITON_SCARD_BYTES(name) name##A
#else
#define PELLITON_SCARD_BYTES(name) name
#endif

#include <cstdint>
#include <string>
#include <vector>

namespace pelliton {

class PcscApi {
 public:
  virtual ~PcscApi() = default;
  virtual LONG EstablishContext(DWORD scope, SCARDCONTEXT* context) = 0;
  // Ends the context and every card connection made under it. Implementations that never
  // hand out real contexts need not override it.
  virtual LONG ReleaseContext(SCARDCONTEXT /*context*/) { return SCARD_S_SUCCESS; }
  // All readers, in the service's order (an auto-allocated list, freed inside).
  virtual LONG ListReaders(SCARDCONTEXT context, std::vector<std::string>* names) = 0;
  virtual LONG Connect(SCARDCONTEXT context, const std::string& reader, DWORD share_mode,
                       DWORD preferred_protocols, SCARDHANDLE* card, DWORD* active_protocol) = 0;
  // ATR into atr; atr_length is the capacity in and the count out.
  virtual LONG Status(SCARDHANDLE card, uint8_t* atr, DWORD* atr_length) = 0;
  virtual LONG BeginTransaction(SCARDHANDLE card) = 0;
  virtual LONG EndTransaction(SCARDHANDLE card, DWORD disposition) = 0;
  virtual LONG Disconnect(SCARDHANDLE card, DWORD disposition) = 0;
  virtual LONG Transmit(SCARDHANDLE card, const SCARD_IO_REQUEST* send_header,
                        const uint8_t* command, DWORD command_length, uint8_t* response,
                        DWORD* response_length) = 0;
};

// The system's PC/SC client library.
class SystemPcsc final : public PcscApi {
 public:
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
};

}  // namespace pelliton
