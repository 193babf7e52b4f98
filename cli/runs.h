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

// Waits on one PC/SC reader for a card to arrive or to leave.
class CardPresence {
 public:
  enum class Wait { kReady, kStopped, kFailed };
  virtual ~CardPresence() = default;
  // Blocks until a card sits in the reader (present) or the reader is empty (!present),
  // or until a stop is asked for. On kFailed, *error is the service's code.
  virtual Wait WaitFor(const std::string& reader, bool present, long* error) = 0;
  // Whether a card sits in each reader now, without waiting; empty when unknown.
  virtual std::vector<bool> HoldsCard(const std::vector<std::string>& /*readers*/) { return {}; }
};

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
// the reader is not listed.
std::unique_ptr<ReaderSession> MakeReaderSession(const CliOptions& options, PcscApi& pcsc,
                                                 OrvoApi& orvo, Pauser& pauser,
                                                 const std::string& reader, PanelWatcher* watcher,
                                                 journal::Journal* journal, long* error);

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
