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

// The service's reader-change notification: a status-change wait on this name ends when
// a reader comes or goes.
inline constexpr char kReaderChangeName[] = "\\\\?PnP?\\Notification";

// One reader in a status-change wait: the state the caller knows goes in, the state the
// service sees comes out. Both the service and winscard keep a count of card insertions
// and removals in the high 16 bits of the state (EventCount).
struct ReaderState {
  std::string reader;
  DWORD current = SCARD_STATE_UNAWARE;
  DWORD event = 0;
};

// The card insertions and removals the service has counted on a reader: a new card in
// the reader changes it even when its present/empty state looks the same as before.
inline uint32_t EventCount(DWORD state) {
  return static_cast<uint32_t>(state >> 16) & 0xFFFFu;
}

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
  // Waits up to timeout_ms (INFINITE: no bound) until a state differs from its current
  // one, then fills in every event. SCARD_E_TIMEOUT when nothing changed, SCARD_E_CANCELLED
  // when Cancel() ended the wait. Implementations without waits answer
  // SCARD_E_UNSUPPORTED_FEATURE.
  virtual LONG GetStatusChange(SCARDCONTEXT /*context*/, DWORD /*timeout_ms*/,
                               std::vector<ReaderState>* /*states*/) {
    return SCARD_E_UNSUPPORTED_FEATURE;
  }
  // Ends a GetStatusChange in progress on context; safe from any thread.
  virtual LONG Cancel(SCARDCONTEXT /*context*/) { return SCARD_E_UNSUPPORTED_FEATURE; }
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
  LONG GetStatusChange(SCARDCONTEXT context, DWORD timeout_ms,
                       std::vector<ReaderState>* states) override;
  LONG Cancel(SCARDCONTEXT context) override;
};

}  // namespace pelliton
