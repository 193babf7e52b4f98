#include "cardaccess/watchdog.h"

namespace pelliton {

namespace {

// A call that takes longer is told: the operator must not wait in silence.
constexpr std::chrono::seconds kNoticeAfter{1};

}  // namespace

std::string StallText(const Stall& stall) {
  const std::string card = "the card in " + stall.reader;
  const std::string seconds = std::to_string(stall.limit.count()) + " s";
  if (stall.given_up) {
    return "gave up after " + seconds + " waiting for " + card +
           (stall.held ? ": held by another program"
                       : ": it does not answer; it may be left unfinished");
  }
  return "waiting for " + card + (stall.held ? ": held by another program" : " to answer") +
         " (giving up after " + seconds + ")";
}

WatchedPcsc::WatchedPcsc(PcscApi& inner, std::chrono::seconds limit, Tell tell)
    : ForwardingPcsc(inner), limit_(limit), tell_(std::move(tell)) {
  patrol_ = std::thread([this] { Patrol(); });
}

WatchedPcsc::~WatchedPcsc() {
  {
    const std::lock_guard lock(mutex_);
    quit_ = true;
  }
  wake_.notify_all();
  patrol_.join();
}

bool WatchedPcsc::GaveUp() const {
  const std::lock_guard lock(mutex_);
  return gave_up_;
}

template <typename Call>
LONG WatchedPcsc::Watch(Waiting what, const Call& call) {
  {
    const std::lock_guard lock(mutex_);
    // A given-up card gets nothing more: its reader is left to the operator.
    if (gave_up_)
      return SCARD_E_TIMEOUT;
    waiting_ = what;
    since_ = Clock::now();
    noticed_ = false;
  }
  wake_.notify_all();
  const LONG result = call();
  const std::lock_guard lock(mutex_);
  waiting_ = Waiting::kNothing;
  return gave_up_ ? SCARD_E_TIMEOUT : result;
}

Stall WatchedPcsc::Current(bool given_up) const {
  return Stall{reader_, waiting_ == Waiting::kTransaction, given_up, limit_};
}

void WatchedPcsc::Patrol() {
  std::unique_lock lock(mutex_);
  while (!quit_) {
    if (waiting_ == Waiting::kNothing) {
      wake_.wait(lock);
      continue;
    }
    const Clock::time_point now = Clock::now();
    const Clock::time_point give_up_at = since_ + limit_;
    if (now >= give_up_at) {
      gave_up_ = true;
      if (tell_)
        tell_(Current(true));
      waiting_ = Waiting::kNothing;
      continue;
    }
    const Clock::time_point notice_at = since_ + kNoticeAfter;
    if (!noticed_ && now >= notice_at) {
      noticed_ = true;
      if (tell_)
        tell_(Current(false));
      continue;
    }
    wake_.wait_until(lock, noticed_ || notice_at >= give_up_at ? give_up_at : notice_at);
  }
}

LONG WatchedPcsc::Connect(SCARDCONTEXT context, const std::string& reader, DWORD share_mode,
                          DWORD preferred_protocols, SCARDHANDLE* card, DWORD* active_protocol) {
  {
    const std::lock_guard lock(mutex_);
    reader_ = reader;
  }
  // pcsc-lite holds a connect back while another program holds the card's transaction.
  return Watch(Waiting::kTransaction, [&] {
    return inner_.Connect(context, reader, share_mode, preferred_protocols, card, active_protocol);
  });
}

LONG WatchedPcsc::Status(SCARDHANDLE card, uint8_t* atr, DWORD* atr_length) {
  return Watch(Waiting::kAnswer, [&] { return inner_.Status(card, atr, atr_length); });
}

LONG WatchedPcsc::BeginTransaction(SCARDHANDLE card) {
  return Watch(Waiting::kTransaction, [&] { return inner_.BeginTransaction(card); });
}

LONG WatchedPcsc::EndTransaction(SCARDHANDLE card, DWORD disposition) {
  return Watch(Waiting::kAnswer, [&] { return inner_.EndTransaction(card, disposition); });
}

LONG WatchedPcsc::Disconnect(SCARDHANDLE card, DWORD disposition) {
  return Watch(Waiting::kAnswer, [&] { return inner_.Disconnect(card, disposition); });
}

LONG WatchedPcsc::Transmit(SCARDHANDLE card, const SCARD_IO_REQUEST* send_header,
                           const uint8_t* command, DWORD command_length, uint8_t* response,
                           DWORD* response_length) {
  return Watch(Waiting::kAnswer, [&] {
    return inner_.Transmit(card, send_header, command, command_length, response, response_length);
  });
}

}  // namespace pelliton
