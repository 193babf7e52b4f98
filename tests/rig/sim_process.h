// Test-side helpers of the pcscd rig (tests/rig/pcsc-rig): start and stop tessiv-sim
// processes on the rig's vpcd readers, wait for pcscd to see a card come or go, read
// back the simulated card's state, and read the CPU time the rig's processes used.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sim/card/card_state.h"

namespace pelliton::rig {

// Port of the rig's first vpcd reader (PELLITON_VPCD_PORT); 0 when not inside the rig.
uint16_t VpcdPort();
// The tessiv-sim executable: PELLITON_TESSIV_SIM, else the one built with this library.
std::string TessivSimPath();

// The rig's pcscd (PELLITON_RIG_PCSCD); 0 when not inside the rig.
pid_t RigPcscdPid();
// User plus system CPU seconds a running (or exited, not yet reaped) process has used, from
// /proc/PID/stat; nullopt when it cannot be read. Its resolution is the clock tick (10 ms).
std::optional<double> ProcessCpuSeconds(pid_t pid);

// Reader names in the order pcscd lists them; empty when none or no service.
std::vector<std::string> ListReaders();
// Readers a rig can have: two per vpcd port pair (PELLITON_RIG_PORT_PAIRS, up to 8).
inline constexpr int kMaxRigReaders = 16;
// Name of the rig's vpcd reader k (on VpcdPort() + k); empty when pcscd does not list it.
std::string RigReaderName(int reader);
// Polls pcscd until `reader` shows a card (present) or no card (!present). False when
// that did not happen within `timeout_ms`. This only says what pcscd shows now: after a
// card left in the middle of a command it shows the reader empty before its own polling
// has noticed, and a card that arrives before that is never reported. SimProcess's
// waits below go by what pcscd has counted instead.
bool WaitForCard(const std::string& reader, bool present, int timeout_ms = 5000);

// What pcscd reports of a reader: its state, and how many card insertions and removals
// its polling has counted (the upper 16 bits of the event state).
struct ReaderEvents {
  uint16_t count = 0;
  bool present = false;  // a card that answered its reset
  bool empty = false;
  bool mute = false;    // shown present, but its last reset failed
  bool in_use = false;  // some program is connected to the card
};
// Nullopt when pcscd does not answer for `reader`.
std::optional<ReaderEvents> ReadReaderEvents(const std::string& reader);

class SimProcess {
 public:
  SimProcess() = default;
  ~SimProcess() { Stop(); }
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  // Starts tessiv-sim on rig reader k (0 and 1 unless the rig has more port pairs) with further
  // tessiv-sim options (e.g.
  // {"--version-byte", "03", "--remove-at", "4"}). It writes its state to a file of its
  // own (state_path()). Waits first (up to 5 s) until pcscd has counted the reader's
  // last card out. False when the process could not be started or the reader still
  // holds a card.
  bool Start(int reader = 0, const std::vector<std::string>& options = {});
  // Starts it and waits until pcscd has counted the card in (WaitForInsertion).
  bool StartAndWait(int reader = 0, const std::vector<std::string>& options = {},
                    int timeout_ms = 5000);
  // Waits until pcscd's polling has counted a card in this process's reader and shows it
  // present; remembers that count. False on timeout.
  bool WaitForInsertion(int timeout_ms = 5000);
  // Waits until pcscd's polling has counted the card out: its count has moved on from
  // the insertion's and the reader shows no card. Only then is the next card started on the
  // reader sure to be seen. False on timeout.
  bool WaitForRemoval(int timeout_ms = 5000);
  // SIGTERM, then SIGKILL after 2 s; then WaitForRemoval(5000). Returns the exit status
  // (-1 when not started or killed by a signal).
  int Stop();
  bool Running();
  // Waits until no program is connected to the card any more: after a client was
  // killed, until pcscd has cleaned up after it, whose reset would otherwise race the
  // card's stop. False on timeout.
  bool WaitUntilUnused(int timeout_ms = 5000);
  // Takes the card out of the reader (SIGUSR1) and waits (up to 5 s) until pcscd has
  // counted it out, or, with --cards N, possibly the next card already in. False when
  // the signal could not be sent or the wait ran out.
  bool RemoveCard();

  pid_t pid() const { return pid_; }
  const std::string& state_path() const { return state_path_; }
  // The state the process last wrote; nullopt before the first write.
  std::optional<sim::CardState> State() const;
  // Polls State() until `done` holds; nullopt on timeout.
  std::optional<sim::CardState> WaitForState(const std::function<bool(const sim::CardState&)>& done,
                                             int timeout_ms = 5000) const;

 private:
  pid_t pid_ = -1;
  int reader_ = 0;
  std::string reader_name_;                 // pcscd's name of reader_, once started
  std::optional<uint16_t> inserted_count_;  // pcscd's count when it counted the card in
  std::string dir_;
  std::string state_path_;
};

// Another application holding the card in a reader: a pcsc-hold process.
class CardHolder {
 public:
  CardHolder() = default;
  ~CardHolder() { Release(); }
  CardHolder(const CardHolder&) = delete;
  CardHolder& operator=(const CardHolder&) = delete;

  // Connects to `reader` from another process, exclusively or shared. Returns the PC/SC
  // code of that connect (SCARD_S_SUCCESS when held), or -1 when the helper did not run
  // or did not answer within 5 s.
  long Hold(const std::string& reader, bool exclusive = true);
  // Lets go of the card and ends the helper.
  void Release();

 private:
  pid_t pid_ = -1;
  int to_child_ = -1;
};

}  // namespace pelliton::rig
