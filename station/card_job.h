// One card run as every front end makes it: reset, procedure, the read-back with
// --verify, the journal record, all told in one CardRun value from which the record, the
// JSON, the verdict and the hook are made.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cardaccess/card_access.h"
#include "engine/outcome.h"
#include "engine/pauser.h"
#include "engine/script.h"
#include "journal/card_record.h"
#include "journal/journal.h"
#include "station/run_panel.h"

namespace pelliton::station {

enum class Procedure { kInfo, kDownload };

// What a card job does to each card.
struct JobOrder {
  Procedure procedure = Procedure::kInfo;
  std::string script_path;           // download
  std::string counter_text = "500";  // download: as typed, through the counter box's rule
  bool verify = false;               // download: the card information query afterwards
};

// One procedure run on a card.
struct CardRun {
  Outcome outcome;
  std::optional<CardInfo> info;       // info, on success
  std::vector<std::string> messages;  // every text the run showed, in order
  // The ATR of this run's own reset, hex; empty when the run reset no card (it was refused
  // before), never the previous card's.
  std::string atr_hex;
  std::chrono::milliseconds elapsed{0};
  // With --verify, after a successful download: what the card information query read
  // back (none when the query failed; its outcome is then the run's).
  std::optional<CardInfo> read_back;
  uint32_t counter_written = 0;  // download: the counter the run wrote or was to write
  // The run id of the run's journal record; empty when the run was not recorded.
  std::string run_id;
  // Why the run's record could not be written; empty when it was (or none was kept).
  std::string record_error;
  // What the window's message cannot say of a script that was refused: why it could not
  // be read, or that it looks like UTF-16 text.
  ScriptReadError script_read = ScriptReadError::kNone;
  bool script_utf16 = false;
  // A failed exchange's code says the PC/SC service went away during the run.
  bool service_lost = false;

  bool Passed() const { return outcome.Succeeded(); }
};

class CardJob {
 public:
  // card: the access the job resets and talks through; journal: null keeps no records.
  // given_up (optional): once set, the card was given up and recorded by whoever gave it
  // up, so the job records nothing more.
  CardJob(JobOrder order, CardAccess& card, Pauser& pauser, journal::Journal* journal,
          const std::atomic<bool>* given_up = nullptr);

  // The job on the card in the card access's reader, through a panel in the window's
  // place: the script is read once, and the checks, the load and the record all take
  // those bytes.
  CardRun Run(RunPanel& panel);
  // The window's buttons: the script and counter the operator chose in panel.
  CardRun RunInWindow(OperatorPanel& panel);

  // Whether a run's record could not be written: no further card should be run.
  bool JournalFailed() const { return journal_failed_; }
  // The run id of the record of the run in progress (written before the card is
  // touched), for whoever gives the card up; empty between runs. Safe from any thread.
  std::string RecordInProgress() const;

 private:
  CardRun Finish(CardRun run, const journal::RunClock& clock,
                 std::chrono::steady_clock::time_point start);
  void Info(OperatorPanel& panel, const journal::RunClock& clock, CardRun& run);
  DownloadOutcome Download(RunPanel& panel, const journal::RunClock& clock, CardRun& run);
  void ReadBack(OperatorPanel& panel, DownloadOutcome& outcome, CardRun& run);
  // Writes the run's record before the card is touched; false (the run refused, no
  // card touched) when the journal does not take it.
  bool BeginRecord(const journal::RunClock& clock, const std::string& script_path,
                   std::optional<uint32_t> counter, CardRun& run);
  void Record(journal::JournalRecord record, CardRun& run);

  JobOrder order_;
  CardAccess& card_;
  Pauser& pauser_;
  journal::Journal* journal_;
  const std::atomic<bool>* given_up_;
  bool journal_failed_ = false;
  mutable std::mutex record_mutex_;
  std::string record_in_progress_;
};

// The message of a run that did not touch its card because its record could not be
// written.
inline constexpr const char* kNotRecordedMessage =
    "The card was not touched: its run could not be recorded in the journal.";

}  // namespace pelliton::station
