// The exit statuses of pelliton-cli, each with what it tells the script that ran it. The
// help's "Exit status:" paragraph says the same to people.
#pragma once

namespace pelliton::cli {

// The command did what it was asked.
inline constexpr int kExitSuccess = 0;
// The procedure failed: a card, a script check, a reader or the PC/SC service; for journal
// verify, a record chain that does not hold.
inline constexpr int kExitFailed = 1;
// The command line or a default was faulty: nothing was run.
inline constexpr int kExitUsage = 2;
// Standard output could not be written (after the card's result was decided).
inline constexpr int kExitOutput = 3;
// The journal could not be opened or written.
inline constexpr int kExitJournal = 4;
// The plant could not be reached or refused (plant init, plant check), or records still
// wait for it after journal push.
inline constexpr int kExitPlant = 5;
// Plus the signal's number: a second request to stop ended the process at once.
inline constexpr int kExitSignalBase = 128;

}  // namespace pelliton::cli
