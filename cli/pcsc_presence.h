// Card arrival and removal on a PC/SC reader, from the service's status-change wait.
#pragma once

#include <winscard.h>

#include <atomic>
#include <string>
#include <vector>

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
  // One status query over all the readers with a zero timeout; empty when the service
  // does not answer.
  std::vector<bool> HoldsCard(const std::vector<std::string>& readers) override;
  // Safe from another thread.
  void Cancel();

 private:
  // Establishes the context on first use; false when the service does not answer.
  bool HaveContext(long* error);

  const std::atomic<bool>& stop_;
  std::atomic<SCARDCONTEXT> context_{0};
  std::atomic<bool> has_context_{false};
};

}  // namespace pelliton::cli
