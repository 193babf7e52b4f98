#include "cardaccess/card_presence.h"

#include "cardaccess/pcsc_codes.h"

namespace pelliton {

namespace {

// Bounds each wait so that a stop asked for just before a wait begins is still seen.
constexpr DWORD kWaitSliceMs = 500;

}  // namespace

bool HoldsWorkingCard(DWORD state) {
  return (state & SCARD_STATE_PRESENT) != 0 && (state & SCARD_STATE_MUTE) == 0;
}

PcscPresence::~PcscPresence() {
  DropContext();
}

void PcscPresence::Cancel() {
  const std::lock_guard lock(mutex_);
  if (has_context_)
    pcsc_.Cancel(context_);
}

bool PcscPresence::HaveContext(long* error) {
  const std::lock_guard lock(mutex_);
  if (has_context_)
    return true;
  SCARDCONTEXT context = 0;
  const LONG rv = pcsc_.EstablishContext(SCARD_SCOPE_USER, &context);
  if (rv != SCARD_S_SUCCESS) {
    *error = rv;
    return false;
  }
  context_ = context;
  has_context_ = true;
  return true;
}

void PcscPresence::DropContext() {
  const std::lock_guard lock(mutex_);
  if (has_context_)
    pcsc_.ReleaseContext(context_);
  has_context_ = false;
}

std::vector<bool> PcscPresence::HoldsCard(const std::vector<std::string>& readers) {
  long error = 0;
  if (readers.empty() || !HaveContext(&error))
    return {};
  std::vector<ReaderState> states(readers.size());
  for (size_t i = 0; i < readers.size(); ++i)
    states[i].reader = readers[i];
  if (pcsc_.GetStatusChange(context_, 0, &states) != SCARD_S_SUCCESS)
    return {};
  std::vector<bool> holds(readers.size());
  for (size_t i = 0; i < readers.size(); ++i)
    holds[i] = HoldsWorkingCard(states[i].event);
  return holds;
}

template <typename Reached>
CardPresence::Wait PcscPresence::WaitUntil(const std::string& reader, const Reached& reached,
                                           DWORD* seen, long* error) {
  *error = 0;
  if (!HaveContext(error))
    return Wait::kFailed;
  std::vector<ReaderState> state(1);
  state[0].reader = reader;
  while (!stop_.load()) {
    const LONG rv = pcsc_.GetStatusChange(context_, kWaitSliceMs, &state);
    if (rv == SCARD_E_TIMEOUT || rv == SCARD_E_CANCELLED)
      continue;
    if (rv != SCARD_S_SUCCESS) {
      *error = rv;
      // A service that went away leaves the context dead: the next wait makes a new one.
      if (PcscServiceDown(rv))
        DropContext();
      return Wait::kFailed;
    }
    const DWORD event = state[0].event;
    if ((event & SCARD_STATE_UNKNOWN) != 0) {  // the reader went away
      *error = SCARD_E_UNKNOWN_READER;
      return Wait::kFailed;
    }
    if (reached(event)) {
      if (seen != nullptr)
        *seen = event;
      return Wait::kReady;
    }
    state[0].current = event & ~static_cast<DWORD>(SCARD_STATE_CHANGED);
  }
  return Wait::kStopped;
}

CardPresence::Wait PcscPresence::WaitForCard(const std::string& reader, DWORD* seen, long* error) {
  return WaitUntil(reader, HoldsWorkingCard, seen, error);
}

CardPresence::Wait PcscPresence::WaitForRemoval(const std::string& reader, DWORD seen,
                                                long* error) {
  return WaitUntil(
      reader,
      [seen](DWORD event) {
        return (event & SCARD_STATE_EMPTY) != 0 || EventCount(event) != EventCount(seen);
      },
      nullptr, error);
}

}  // namespace pelliton
