// A PC/SC service in process: named readers, each holding a simulated card (or none),
// answering as pcsc-lite does, so that whole procedures run without pcscd.
//
// What it mimics:
// - EstablishContext fails with SCARD_E_NO_SERVICE while the service is stopped;
//   ReleaseContext ends every connection made under the context.
// - ListReaders answers SCARD_E_NO_READERS_AVAILABLE when no reader is attached.
// - Connect: SCARD_E_UNKNOWN_READER for a name not attached, SCARD_E_NO_SMARTCARD with no
//   card present, SCARD_E_SHARING_VIOLATION against an exclusive holder (or when asking
//   for exclusive use of a card others hold), SCARD_W_UNRESPONSIVE_CARD when the card
//   gives no ATR. A card that is not powered is powered up at connect (a cold reset).
// - Status: SCARD_E_INSUFFICIENT_BUFFER and the count needed when the capacity passed in
//   is below the ATR's size.
// - A card taken out makes every handle made before SCARD_W_REMOVED_CARD, also after it
//   comes back; a card reset or powered down through one handle makes the others'
//   next call SCARD_W_RESET_CARD.
// - Transactions: one handle per reader at a time; others get SCARD_E_SHARING_VIOLATION
//   (pcsc-lite would wait; a test must never hang). Ending one not begun:
//   SCARD_E_NOT_TRANSACTED.
// - Transmit: the send header's protocol must be the active one
//   (SCARD_E_PROTO_MISMATCH); a mute card gives SCARD_E_NOT_TRANSACTED, a response above
//   the capacity SCARD_E_INSUFFICIENT_BUFFER with the count needed.
// - GetStatusChange blocks as the service's does, until a reader's state differs from the
//   one passed in (present/empty, and the count of insertions and removals in the high 16
//   bits), the time runs out or Cancel() is called on the context; a reader not attached
//   is SCARD_STATE_UNKNOWN, and kReaderChangeName changes whenever a reader comes or goes.
// - A stopped service ends every context: their calls and waits answer
//   SCARD_E_NO_SERVICE, also after the service is started again.
// - Safe from several threads, as the service is: each reader's worker calls it at once.
//
// What tests can make it do beyond the service: hold a reader for another program
// (connects and transactions wait until it is let go, as pcsc-lite's do) and make a
// reader's card stop answering after a number of commands (the command waits until it is
// let go).
#pragma once

#include <winscard.h>

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "cardaccess/pcsc_api.h"
#include "sim/card_model.h"

namespace pelliton::testing {

class SimPcsc : public PcscApi {
 public:
  // Attaches a reader; card may be null (an empty reader). Readers list in attach order.
  void AttachReader(const std::string& name, sim::CardModel* card,
                    DWORD protocol = SCARD_PROTOCOL_T1);
  void DetachReader(const std::string& name);
  // Puts another card (or none) into an attached reader.
  void InsertCard(const std::string& name, sim::CardModel* card);
  // Stopping the service ends every context made so far.
  void SetServiceRunning(bool running);
  // While held, connects to reader and transactions on it wait, as behind another
  // program's transaction.
  void HoldForOtherProgram(const std::string& reader, bool held);
  // After commands more commands, the card in reader stops answering: the next command
  // waits until StopStalling(reader), then is answered late.
  void StallAfter(const std::string& reader, int commands);
  void StopStalling(const std::string& reader);
  // Whether a command to reader is waiting in a stall now.
  bool Stalled(const std::string& reader) const;

  // What tests look at.
  int OpenContexts() const { return static_cast<int>(contexts_.size()); }
  int Connections(const std::string& reader) const;
  bool TransactionHeld(const std::string& reader) const;
  bool Powered(const std::string& reader) const;
  // Cold resets (power-ups) the reader has given its cards.
  int PowerUps(const std::string& reader) const;
  // Every call by name, in order ("Connect", "Status", "Transmit", ...).
  std::vector<std::string> Calls() const;

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

 private:
  struct Reader {
    std::string name;
    sim::CardModel* card = nullptr;
    DWORD protocol = SCARD_PROTOCOL_T1;
    bool present = false;
    bool powered = false;
    std::vector<uint8_t> atr;
    uint64_t insertion = 0;  // counts removals
    uint64_t power_cycle = 0;
    int power_ups = 0;
    SCARDHANDLE transaction_holder = 0;
    uint32_t events = 0;  // insertions and removals, as the service counts them
    bool held_by_other = false;
    int commands_before_stall = -1;  // -1: never
    bool stalled = false;
  };
  struct Connection {
    SCARDCONTEXT context = 0;
    std::string reader;
    DWORD share_mode = 0;
    DWORD protocol = 0;
    uint64_t insertion = 0;
    uint64_t power_cycle = 0;
  };

  using Lock = std::unique_lock<std::mutex>;
  // The state a status-change wait reports for name, count included.
  DWORD StateOf(const std::string& name);
  // A context's calls: SCARD_S_SUCCESS, or what a dead or unknown one answers.
  LONG CheckContext(SCARDCONTEXT context) const;
  void Changed() { changed_.notify_all(); }
  Reader* FindReader(const std::string& name);
  const Reader* FindReader(const std::string& name) const;
  // Notices a card taken out or put back since the last call.
  void Refresh(Reader& reader);
  // The connection and its reader, or the error the handle's call must answer.
  LONG Check(SCARDHANDLE card, Connection** connection, Reader** reader);
  void ApplyDisposition(Reader& reader, SCARDHANDLE card, DWORD disposition);
  void Drop(SCARDHANDLE card);

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool service_running_ = true;
  std::set<SCARDCONTEXT> dead_contexts_;  // ended by a stop of the service
  std::set<SCARDHANDLE> dead_handles_;
  std::set<SCARDCONTEXT> cancelled_;
  uint32_t reader_changes_ = 0;
  std::vector<Reader> readers_;
  std::map<SCARDCONTEXT, bool> contexts_;
  std::map<SCARDHANDLE, Connection> connections_;
  SCARDCONTEXT next_context_ = 0x5000;
  SCARDHANDLE next_handle_ = 0x7000;
  std::vector<std::string> calls_;
};

}  // namespace pelliton::testing
