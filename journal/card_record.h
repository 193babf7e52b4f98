// A journal record made from what a card procedure returned and what the card access
// holds after it: the same record whichever program ran the card.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "cardaccess/card_access.h"
#include "engine/outcome.h"
#include "journal/journal.h"

namespace pelliton::journal {

// The start of a card run: its wall-clock time for the record, and a steady clock for
// its duration. Make one just before the procedure runs.
class RunClock {
 public:
  // card: the card access the run uses, so that the record holds an ATR only when this
  // run's own reset read it (the access keeps the previous card's otherwise).
  explicit RunClock(const CardAccess& card);
  // "2024-05-01T09:30:12.345Z".
  std::string StartText() const;
  int64_t ElapsedMs() const;
  // Whether a reset of card read an ATR since the clock was made.
  bool ReadAtrSinceStart(const CardAccess& card) const { return card.AtrReads() > atr_reads_; }

 private:
  std::chrono::system_clock::time_point wall_;
  std::chrono::steady_clock::time_point steady_;
  uint64_t atr_reads_ = 0;
};

// The reader as records name it: the PC/SC reader's name, or "Orvo reader".
std::string RecordReaderName(CardAccess& card);

// The UTC time as the journal writes it, milliseconds included.
std::string UtcText(std::chrono::system_clock::time_point time);

// The record of a download run; script_path is the script the run was given (its size
// and SHA-256 are taken now, when it can be read).
JournalRecord DownloadRecord(const RunClock& clock, const DownloadOutcome& outcome,
                             CardAccess& card, const std::string& script_path);
// The same with the size and SHA-256 of the script's bytes as the run read them.
JournalRecord DownloadRecord(const RunClock& clock, const DownloadOutcome& outcome,
                             CardAccess& card, const std::string& script_path,
                             std::string_view script_bytes);

// Adds what a card information query read back after a download to its record.
void AddReadBack(const CardInfo& info, JournalRecord* record);

// The record of a card information query.
JournalRecord InfoRecord(const RunClock& clock, const CardInfoOutcome& outcome, CardAccess& card);

}  // namespace pelliton::journal
