// Card arrival and removal on a PC/SC reader, from the service's status-change waits: what
// a card loop waits for between two cards.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "cardaccess/pcsc_api.h"

namespace pelliton {

class CardPresence {
 public:
  enum class Wait { kReady, kStopped, kFailed };
  virtual ~CardPresence() = default;

  // Blocks until a working card (present, not mute) sits in reader, or until a stop is
  // asked for. On kReady *seen is the reader's state with that card: its event count
  // tells this card from the next one. On kFailed *error is the service's code
  // (SCARD_E_UNKNOWN_READER when the reader went away).
  virtual Wait WaitForCard(const std::string& reader, DWORD* seen, long* error) = 0;
  // Blocks until the card seen in state seen has left reader: the reader is empty, or its
  // event count moved on (the card was taken out and another put in while nobody looked).
  virtual Wait WaitForRemoval(const std::string& reader, DWORD seen, long* error) = 0;
  // Whether a working card sits in each reader now, without waiting; empty when unknown.
  virtual std::vector<bool> HoldsCard(const std::vector<std::string>& /*readers*/) { return {}; }
  // Ends a wait in progress (it then sees the stop). Safe from any thread.
  virtual void Cancel() {}
};

// Whether state shows a card that can be run: present and answering.
bool HoldsWorkingCard(DWORD state);

// The waits made with the service's GetStatusChange on a context of their own.
class PcscPresence final : public CardPresence {
 public:
  // stop is checked between waits; Cancel() wakes a wait in progress.
  PcscPresence(PcscApi& pcsc, const std::atomic<bool>& stop) : pcsc_(pcsc), stop_(stop) {}
  ~PcscPresence() override;
  PcscPresence(const PcscPresence&) = delete;
  PcscPresence& operator=(const PcscPresence&) = delete;

  Wait WaitForCard(const std::string& reader, DWORD* seen, long* error) override;
  Wait WaitForRemoval(const std::string& reader, DWORD seen, long* error) override;
  std::vector<bool> HoldsCard(const std::vector<std::string>& readers) override;
  void Cancel() override;

 private:
  template <typename Reached>
  Wait WaitUntil(const std::string& reader, const Reached& reached, DWORD* seen, long* error);
  // Establishes the context on first use; false, with the code, when the service does not
  // answer. A context the service lost is made again on the next wait.
  bool HaveContext(long* error);
  void DropContext();

  PcscApi& pcsc_;
  const std::atomic<bool>& stop_;
  std::mutex mutex_;  // guards context_ against Cancel() from another thread
  SCARDCONTEXT context_ = 0;
  bool has_context_ = false;
};

}  // namespace pelliton
