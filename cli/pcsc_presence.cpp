#include "cli/pcsc_presence.h"

#include "cardaccess/pcsc_api.h"

namespace pelliton::cli {

namespace {

// Bounds each wait so that a stop asked for just before a wait begins is still seen.
constexpr DWORD kWaitSliceMs = 500;

bool Reached(DWORD state, bool present) {
  if (present)
    return (state & SCARD_STATE_PRESENT) != 0 && (state & SCARD_STATE_MUTE) == 0;
  return (state & SCARD_STATE_EMPTY) != 0;
}

}  // namespace

PcscPresence::~PcscPresence() {
  if (has_context_.load())
    SCardReleaseContext(context_.load());
}

void PcscPresence::Cancel() {
  if (has_context_.load())
    SCardCancel(context_.load());
}

bool PcscPresence::HaveContext(long* error) {
  if (has_context_.load())
    return true;
  SCARDCONTEXT context = 0;
  const LONG rv = SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context);
  if (rv != SCARD_S_SUCCESS) {
    *error = rv;
    return false;
  }
  context_.store(context);
  has_context_.store(true);
  return true;
}

std::vector<bool> PcscPresence::HoldsCard(const std::vector<std::string>& readers) {
  long error = 0;
  if (readers.empty() || !HaveContext(&error))
    return {};
  std::vector<PELLITON_SCARD_BYTES(SCARD_READERSTATE)> states(readers.size());
  for (size_t i = 0; i < readers.size(); ++i) {
    states[i].szReader = readers[i].c_str();
    states[i].dwCurrentState = SCARD_STATE_UNAWARE;
  }
  const LONG rv = PELLITON_SCARD_BYTES(SCardGetStatusChange)(context_.load(), 0, states.data(),
                                                             static_cast<DWORD>(states.size()));
  if (rv != SCARD_S_SUCCESS)
    return {};
  std::vector<bool> holds(readers.size());
  for (size_t i = 0; i < readers.size(); ++i)
    holds[i] = Reached(states[i].dwEventState, true);
  return holds;
}

CardPresence::Wait PcscPresence::WaitFor(const std::string& reader, bool present, long* error) {
  *error = 0;
  if (!HaveContext(error))
    return Wait::kFailed;
  PELLITON_SCARD_BYTES(SCARD_READERSTATE) state{};
  state.szReader = reader.c_str();
  state.dwCurrentState = SCARD_STATE_UNAWARE;
  while (!stop_.load()) {
    const LONG rv =
        PELLITON_SCARD_BYTES(SCardGetStatusChange)(context_.load(), kWaitSliceMs, &state, 1);
    if (rv == SCARD_E_TIMEOUT || rv == SCARD_E_CANCELLED)
      continue;
    if (rv != SCARD_S_SUCCESS) {
      *error = rv;
      return Wait::kFailed;
    }
    const DWORD event = state.dwEventState;
    if ((event & SCARD_STATE_UNKNOWN) != 0) {  // the reader went away
      *error = SCARD_E_UNKNOWN_READER;
      return Wait::kFailed;
    }
    if (Reached(event, present))
      return Wait::kReady;
    state.dwCurrentState = event & ~SCARD_STATE_CHANGED;
  }
  return Wait::kStopped;
}

}  // namespace pelliton::cli
