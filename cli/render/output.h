// Standard output that cannot fail in silence: every write is flushed at once, and a
// write or flush that failed (a full disk, a reader of the pipe that went away) is
// remembered, so the command ends with its own exit status instead of losing the record.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace pelliton::cli {

// Writes text to out and flushes it. A failure leaves out's error flag set; the first
// failure's reason is kept for OutputFailureMessage().
void Emit(std::FILE* out, std::string_view text);

// Flushes out; true when any write or flush of it has failed so far.
bool OutputFailed(std::FILE* out);

// "pelliton-cli: could not write the output: REASON\n"
std::string OutputFailureMessage();

struct Streams {
  std::FILE* out = stdout;
  std::FILE* err = stderr;
  // Draw the download's progress bar on out.
  bool out_is_terminal = false;
  // Colour the verdict banner and ring the bell on a failed card.
  bool err_is_terminal = false;
};

// Ends with the output check: when a write or flush of streams.out failed, says so on
// err and returns kExitOutput instead of status.
int CheckedExit(int status, const Streams& streams);

}  // namespace pelliton::cli
