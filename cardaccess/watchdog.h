// A bound on the PC/SC calls that can wait without end: joining the card's transaction
// while another program holds it, and a call to a card or reader that stopped answering.
// pcsc-lite gives no way to take such a call back, so after a second the wait is told,
// and when the limit is reached the card is given up: the call stays stuck, every later
// call through the watchdog fails at once, and the owner decides what becomes of the run
// (a single run ends the process; a station gives up that reader alone).
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "cardaccess/forwarding.h"

namespace pelliton {

// A call that waits too long.
struct Stall {
  std::string reader;  // of the last connect, as the service names it
  bool held = false;   // another program holds the card (else the card does not answer)
  bool given_up = false;
  std::chrono::seconds limit{0};
};

// "waiting for the card in R to answer (giving up after 30 s)", "gave up after 30 s waiting
// for the card in R: held by another program": the reader's name as the service gives it.
std::string StallText(const Stall& stall);

class WatchedPcsc final : public ForwardingPcsc {
 public:
  // Told on the watching thread while the stuck call still waits (the call's thread cannot
  // go on until it returns): once after a second, and once more when it is given up.
  using Tell = std::function<void(const Stall& stall)>;

  // Starts the watching thread: construct it after the signals are blocked, so that it
  // inherits that.
  WatchedPcsc(PcscApi& inner, std::chrono::seconds limit, Tell tell);
  // Whether a call was given up: every call since failed with SCARD_E_TIMEOUT.
  bool GaveUp() const;
  ~WatchedPcsc() override;
  WatchedPcsc(const WatchedPcsc&) = delete;
  WatchedPcsc& operator=(const WatchedPcsc&) = delete;

  LONG Connect(SCARDCONTEXT context, const std::string& reader, DWORD share_mode,
               DWORD preferred_protocols, SCARDHANDLE* card, DWORD* active_protocol) override;
  LONG Status(SCARDHANDLE card, uint8_t* atr, DWORD* atr_length) override;
  LONG BeginTransaction(SCARDHANDLE card) override;
  LONG EndTransaction(SCARDHANDLE card, DWORD disposition) override;
  LONG Disconnect(SCARDHANDLE card, DWORD disposition) override;
  LONG Transmit(SCARDHANDLE card, const SCARD_IO_REQUEST* send_header, const uint8_t* command,
                DWORD command_length, uint8_t* response, DWORD* response_length) override;

 private:
  using Clock = std::chrono::steady_clock;
  // What a call in progress waits for: the card's transaction to be let go (a connect or
  // a transaction), or the card's or reader's answer.
  enum class Waiting { kNothing, kTransaction, kAnswer };

  template <typename Call>
  LONG Watch(Waiting what, const Call& call);
  void Patrol();
  Stall Current(bool given_up) const;

  const std::chrono::seconds limit_;
  Tell tell_;
  mutable std::mutex mutex_;
  bool gave_up_ = false;
  std::condition_variable wake_;
  Waiting waiting_ = Waiting::kNothing;
  Clock::time_point since_;
  bool noticed_ = false;
  bool quit_ = false;
  std::string reader_;  // of the last connect
  std::thread patrol_;
};

}  // namespace pelliton
