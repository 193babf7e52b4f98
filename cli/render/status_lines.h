// The station's live view on a terminal: one line per reader (its name, its cards, what
// it is doing, its last result), redrawn in place with ANSI cursor movement, and notes
// printed above the lines without tearing them.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace pelliton::cli {

// What one reader's line shows.
struct ReaderStatus {
  std::string reader;
  int cards = 0;
  int failed = 0;
  std::string step;         // what the reader is doing now ("waiting for a card", a text shown)
  int progress = -1;        // percent of the bar, -1 when no bar is drawn
  std::string last_result;  // "card 3 ok", "card 4 FAILED: ...", empty before the first
};

// The line for a terminal of width columns (at least 20): control characters escaped,
// cut to width - 1 characters so that it never wraps.
std::string StatusLineText(const ReaderStatus& status, size_t width);

// The lines as drawn on the terminal. Not thread-safe: its owner serialises the calls.
class StatusLines {
 public:
  explicit StatusLines(size_t width) : width_(width) {}

  // Index of the reader's line, added at the bottom when new.
  size_t LineOf(const std::string& reader);
  ReaderStatus& operator[](size_t line) { return lines_[line]; }
  const std::vector<ReaderStatus>& Lines() const { return lines_; }

  // What to write to bring the terminal up to date: the changed lines redrawn, the new
  // ones added. Empty when nothing changed.
  std::string Redraw();
  // The block taken off, note (whole lines) written where it was, then the block drawn
  // again below it.
  std::string Note(const std::string& note);
  // The lines brought up to date and then let go of: they stay on the terminal as they
  // are, and what is written next (a tally) goes below them.
  std::string Leave();

 private:
  size_t width_;
  std::vector<ReaderStatus> lines_;
  std::vector<std::string> drawn_;  // the text of each line on the terminal
};

}  // namespace pelliton::cli
