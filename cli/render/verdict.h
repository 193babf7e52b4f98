// The one line per card that tells an operator at a glance whether the card is good:
// PASS or FAIL, the reader, the message and the time the card took, on stderr whatever
// stdout carries, coloured and with the bell on FAIL when stderr is a terminal.
#pragma once

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>

namespace pelliton::cli {

struct Verdict {
  bool passed = false;
  std::string reader;
  std::string message;  // as the window showed it, line breaks and all
  std::chrono::milliseconds elapsed{0};
  std::optional<int> card;  // the card's number in a card loop
};

struct BannerStyle {
  bool colour = false;  // green PASS, red FAIL
  bool bell = false;    // the terminal bell after FAIL
};

// "PASS  card 3  Virtual PCD 00 00  Download APP Successfull!  (4.2 s)\n": the message
// on one line (line breaks become single blanks), every text escaped for a terminal.
std::string VerdictBanner(const Verdict& verdict, BannerStyle style);

// Colour and bell only on a terminal; no colour when NO_COLOR is set to anything but
// an empty text.
BannerStyle BannerStyleFor(bool is_terminal, const char* no_color);

// The window's message as one line: each run of line breaks becomes one blank, blanks at
// either end go.
std::string OneLine(const std::string& message);

}  // namespace pelliton::cli
