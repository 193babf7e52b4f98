// The commands of pelliton-cli, each run against the engine with a console panel in
// the window's place. Each returns the process's exit status.
#pragma once

#include <atomic>
#include <cstdio>
#include <string>

#include "cardaccess/orvo_api.h"
#include "cardaccess/pcsc_api.h"
#include "cli/args.h"
#include "engine/pauser.h"
#include "journal/journal.h"

namespace pelliton::cli {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

struct Streams {
  std::FILE* out = stdout;
  std::FILE* err = stderr;
  // Draw the download's progress bar on out.
  bool out_is_terminal = false;
};

// Waits on one PC/SC reader for a card to arrive or to leave.
class CardPresence {
 public:
  enum class Wait { kReady, kStopped, kFailed };
  virtual ~CardPresence() = default;
  // Blocks until a card sits in the reader (present) or the reader is empty (!present),
  // or until a stop is asked for. On kFailed, *error is the service's code.
  virtual Wait WaitFor(const std::string& reader, bool present, long* error) = 0;
};

int RunReaders(const CliOptions& options, PcscApi& pcsc, OrvoApi& orvo, bool orvo_attached,
               const Streams& streams);

int RunCheck(const CliOptions& options, const Streams& streams);

// info and download, once or (with --each-card) for every card that comes. stop ends
// the card loop after the run in progress. Each run is recorded in journal when it is
// not null; a record that cannot be written ends the card loop with kExitJournal.
int RunOnCard(const CliOptions& options, PcscApi& pcsc, OrvoApi& orvo, Pauser& pauser,
              CardPresence* presence, const std::atomic<bool>& stop, const Streams& streams,
              journal::Journal* journal = nullptr);

}  // namespace pelliton::cli
