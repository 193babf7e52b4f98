// The commands of pelliton-cli, each run against the engine with a console panel in
// the window's place. Each returns the process's exit status.
#pragma once

#include <atomic>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cardaccess/card_presence.h"
#include "cardaccess/orvo_api.h"
#include "cardaccess/pcsc_api.h"
#include "cli/args.h"
#include "cli/console_panel.h"
#include "cli/exit_status.h"
#include "cli/render.h"
#include "engine/pauser.h"
#include "journal/journal.h"

namespace pelliton::cli {

struct Streams {
  std::FILE* out = stdout;
  std::FILE* err = stderr;
  // Draw the download's progress bar on out.
  bool out_is_terminal = false;
  // Colour the verdict banner and ring the bell on a failed card.
  bool err_is_terminal = false;
};

using pelliton::CardPresence;

// The cards runs are working on, one per reader at most, for what other threads say
// when they end the process (a second signal, a wait given up). Safe from any thread.
class CardInProgress {
 public:
  // number: the card's number in a card loop; none for a single run. Replaces the
  // reader's earlier card.
  void Begin(std::optional<int> number, const std::string& reader);
  // The card in reader is done.
  void End(const std::string& reader);
  // "card 3 in READER", "the card in READER", several joined by ", " in the readers'
  // order; empty when no card is in progress.
  std::string Describe() const;
  // How many cards are in progress.
  size_t Count() const;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, std::optional<int>> cards_;  // by reader
};

// One procedure at a time on the card in one PC/SC reader, as the window's button runs
// it: what a station worker uses of the CLI's card session.
class ReaderSession {
 public:
  virtual ~ReaderSession() = default;
  // The command's procedure on the card in the reader (with --verify, the read-back too).
  virtual CardRun Run() = 0;
  // Whether a run's record could not be written to the journal: no further card is run.
  virtual bool JournalFailed() const = 0;
};

// A card session on the PC/SC reader named reader, printing nothing: what its runs show
// goes to watcher (null: nowhere) and into each CardRun. Makes its own PC/SC context, so
// make it on the thread that runs it. Null, with *error set to the service's code, when
// the reader is not listed. given_up (optional): once set, the card was given up and
// recorded elsewhere, so the session's run writes no record of its own.
std::unique_ptr<ReaderSession> MakeReaderSession(const CliOptions& options, PcscApi& pcsc,
                                                 OrvoApi& orvo, Pauser& pauser,
                                                 const std::string& reader, PanelWatcher* watcher,
                                                 journal::Journal* journal, long* error,
                                                 const std::atomic<bool>* given_up = nullptr);

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

// How a card loop ended.
struct CardLoopEnd {
  int cards = 0;
  std::vector<TallyFailure> failures;
  bool stopped = false;         // a stop was asked for
  long error = 0;               // the service's code of a failed wait; 0 otherwise
  bool output_lost = false;     // CardEnded said the output is lost
  bool journal_failed = false;  // a card's record could not be written
};

// The one card loop of --each-card and of every station worker: wait for a card in
// reader, run it, tell it, wait for it to leave (by the service's count of insertions and
// removals, so a card swapped meanwhile counts as new), until card_limit cards (0: no
// limit), a stop, a failed wait, a lost output or a lost record.
CardLoopEnd RunCardLoop(const std::string& reader, ReaderSession& session, CardPresence& presence,
                        uint32_t card_limit, const std::atomic<bool>& stop, CardLoopEvents& events);

// What follows each card on the terminal: its result alone (-q, on out), its outcome in
// detail (-v) and the verdict banner (on err). card_number: the card's number in a loop.
struct CardReport {
  std::string out;
  std::string err;
};
CardReport ReportCard(const CliOptions& options, const std::string& reader, const CardRun& run,
                      std::optional<int> card_number, bool err_is_terminal);

// Runs the --on-pass or --on-fail hook for the card's verdict, when one is given. Empty
// when there is none or it succeeded; otherwise its failure line. A hook never changes the
// card's result.
std::string RunCardHook(const CliOptions& options, const std::string& reader, const CardRun& run);

// Ends with the output check: when a write or flush of streams.out failed, says so on
// err and returns kExitOutput instead of status.
int CheckedExit(int status, const Streams& streams);

int RunReaders(const CliOptions& options, PcscApi& pcsc, OrvoApi& orvo, bool orvo_attached,
               const Streams& streams);

int RunCheck(const CliOptions& options, const Streams& streams);

// info and download, once or (with --each-card) for every card that comes; after each
// card the verdict banner on err and the --on-pass or --on-fail hook. presence also
// tells which reader holds a card when none is named (optional without --each-card).
// stop ends
// the card loop after the run in progress. in_progress (optional) is kept up to date
// with the card being run. A failed write of the output ends the card loop after the
// card whose result it carried. Each run is recorded in journal when it is not null; a
// record that cannot be written ends the card loop with kExitJournal.
int RunOnCard(const CliOptions& options, PcscApi& pcsc, OrvoApi& orvo, Pauser& pauser,
              CardPresence* presence, const std::atomic<bool>& stop, const Streams& streams,
              CardInProgress* in_progress = nullptr, journal::Journal* journal = nullptr);

}  // namespace pelliton::cli
