// How pelliton-cli ends when asked to: the first SIGINT, SIGTERM or SIGHUP lets the card
// in progress finish (a card left half-loaded is worse than a late exit); a second one
// ends the process at once, naming the card it leaves unfinished. Also the one way any
// thread ends the process at once.
#pragma once

#include <signal.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "cli/runs.h"

namespace pelliton::cli {

// Writes message on stderr and ends the process with status at once, without running
// destructors or flushing streams (everything printed so far is already flushed). Safe
// from any thread; when two threads call it, the first one's message and status win.
[[noreturn]] void EndNow(const std::string& message, int status);

// While alive, SIGINT, SIGTERM and SIGHUP no longer end the process: a watcher thread
// sets stop and calls on_stop at the first one, and at the second calls EndNow with
// 128 + the signal's number and a message naming in_progress's card. Construct before any
// other thread starts, so that every thread inherits the blocked signals.
class StopOnSignals {
 public:
  StopOnSignals(std::atomic<bool>& stop, std::function<void()> on_stop,
                const CardInProgress& in_progress);
  ~StopOnSignals();
  StopOnSignals(const StopOnSignals&) = delete;
  StopOnSignals& operator=(const StopOnSignals&) = delete;

 private:
  sigset_t old_mask_;
  std::thread watcher_;
};

}  // namespace pelliton::cli
