// Card arrival and removal on a PC/SC reader, from the service's status-change wait,
// and the signals that end a card loop.
#pragma once

#include <pthread.h>
#include <winscard.h>

#include <atomic>
#include <string>
#include <thread>

#include "cli/runs.h"

namespace pelliton::cli {

class PcscPresence final : public CardPresence {
 public:
  // stop is checked between waits; Cancel() wakes a wait in progress.
  explicit PcscPresence(const std::atomic<bool>& stop) : stop_(stop) {}
  ~PcscPresence() override;
  PcscPresence(const PcscPresence&) = delete;
  PcscPresence& operator=(const PcscPresence&) = delete;

  Wait WaitFor(const std::string& reader, bool present, long* error) override;
  // Safe from another thread.
  void Cancel();

 private:
  const std::atomic<bool>& stop_;
  std::atomic<SCARDCONTEXT> context_{0};
  std::atomic<bool> has_context_{false};
};

// While alive, SIGINT and SIGTERM no longer end the process: a watcher thread sets
// stop and calls on_stop instead. Construct before any other thread starts.
class StopOnSignals {
 public:
  StopOnSignals(std::atomic<bool>& stop, PcscPresence& presence);
  ~StopOnSignals();
  StopOnSignals(const StopOnSignals&) = delete;
  StopOnSignals& operator=(const StopOnSignals&) = delete;

 private:
  sigset_t old_mask_;
  std::thread watcher_;
};

}  // namespace pelliton::cli
