// The one card loop of --each-card and of every station worker: wait for a card, run the
// card job on it, tell it, wait for it to leave, again.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "cardaccess/card_presence.h"
#include "station/card_job.h"

namespace pelliton::station {

// One card job at a time on the card in one reader, as the window's button runs it.
class ReaderSession {
 public:
  virtual ~ReaderSession() = default;
  virtual CardRun Run() = 0;
  // Whether a run's record could not be written to the journal: no further card is run.
  virtual bool JournalFailed() const = 0;
};

// What the card loop tells of its cards, from the loop's thread.
class CardLoopEvents {
 public:
  virtual ~CardLoopEvents() = default;
  // The loop waits for a card (for_removal false) or for the last one to leave.
  virtual void Waiting(bool for_removal) = 0;
  virtual void CardStarted(int card) = 0;
  // The card's run ended. False ends the loop after it (its output could not be written).
  virtual bool CardEnded(int card, const CardRun& run) = 0;
};

// A failed card of a card loop.
struct TallyFailure {
  int card = 0;
  std::string message;
};

// How a card loop ended.
struct CardLoopEnd {
  int cards = 0;
  std::vector<TallyFailure> failures;
  bool stopped = false;         // a stop was asked for
  long error = 0;               // the service's code of a failed wait; 0 otherwise
  bool output_lost = false;     // CardEnded said the output is lost
  bool journal_failed = false;  // a card's record could not be written
};

// Runs cards in reader until card_limit cards (0: no limit), a stop, a failed wait, a
// lost output or a lost record. A card is gone when the reader is empty or the service's
// count of insertions and removals moved on, so a card swapped meanwhile counts as new.
// first_card: the number the loop's first card gets (a reader served again after the
// service came back goes on counting). card_in_reader_done: a card found in the reader
// at the start was run already (the service went away after or during its run), so it
// must leave before a card is run.
CardLoopEnd RunCardLoop(const std::string& reader, ReaderSession& session, CardPresence& presence,
                        uint32_t card_limit, const std::atomic<bool>& stop, CardLoopEvents& events,
                        int first_card = 1, bool card_in_reader_done = false);

}  // namespace pelliton::station
