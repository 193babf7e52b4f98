// A bound on the PC/SC calls that can wait without end: joining the card's transaction
// while another program holds it, and a call to a card or reader that stopped answering.
// pcsc-lite gives no way to take such a call back, so after a second the wait is told on
// stderr, and when the limit is reached the card is given up: a single run ends the
// process with a message and exit status 1; a station worker's reader alone is given up
// (the call stays stuck, every later call fails at once) and the station goes on.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "cardaccess/forwarding.h"

namespace pelliton::cli {

class WatchedPcsc final : public ForwardingPcsc {
 public:
  // Starts the watching thread: construct after StopOnSignals, so that it inherits the
  // blocked signals.
  // What a give-up is told: whether another program holds the card (else it does not
  // answer), and the closing message. Called on the watching thread while the stuck call
  // still waits; the call's thread cannot go on until it returns.
  using GiveUp = std::function<void(bool held, const std::string& message)>;

  // give_up: null ends the process (EndNow, status 1).
  WatchedPcsc(PcscApi& inner, std::chrono::seconds limit, GiveUp give_up = nullptr);
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
  // The wait as told on stderr; give_up: the closing message.
  std::string Describe(bool give_up) const;

  const std::chrono::seconds limit_;
  GiveUp give_up_;
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

}  // namespace pelliton::cli
