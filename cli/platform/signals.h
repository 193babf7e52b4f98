// How pelliton-cli ends when asked to: the first request to stop (SIGINT, SIGTERM or
// SIGHUP; on Windows Ctrl-C, Ctrl-Break or closing the console) lets the card in
// progress finish (a card left half-loaded is worse than a late exit); a second one ends
// the process at once, naming the card it leaves unfinished. Also the one way any thread
// ends the process at once.
#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "cli/commands/card.h"
#include "cli/platform/platform.h"

namespace pelliton::cli {

// Writes message on stderr and ends the process with status at once, without running
// destructors or flushing streams (everything printed so far is already flushed). Safe
// from any thread; when two threads call it, the first one's message and status win.
[[noreturn]] void EndNow(const std::string& message, int status);

// While alive, requests to stop no longer end the process: at the first one stop is set
// and on_stop called; at the second EndNow is called with 128 + the signal's number (130
// for Ctrl-C, 143 for SIGTERM and Ctrl-Break) and a message naming in_progress's card.
// Before that, the records journal (optional) began and has not completed are completed
// as "interrupted". Construct before any other thread starts, so that every thread
// inherits the blocked signals.
class StopOnSignals {
 public:
  StopOnSignals(std::atomic<bool>& stop, std::function<void()> on_stop,
                const CardInProgress& in_progress, journal::Journal* journal = nullptr);
  StopOnSignals(const StopOnSignals&) = delete;
  StopOnSignals& operator=(const StopOnSignals&) = delete;

 private:
  StopRequests requests_;
};

}  // namespace pelliton::cli
