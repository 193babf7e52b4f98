// The commands a production line runs after each card (a stack light, a sorter, a label
// printer): one shell command per verdict, told the card's result in its environment.
// A hook never changes the card's result; a hook that fails or hangs is reported and,
// after its time, ended with everything it started.
#pragma once

#include <chrono>
#include <string>

namespace pelliton::cli {

// What a hook is told, as PELLITON_READER, PELLITON_RESULT ("PASS" or "FAIL"),
// PELLITON_MESSAGE and PELLITON_ATR (hex, no blanks; empty when no ATR was read).
struct CardResult {
  std::string reader;
  bool passed = false;
  std::string message;  // line breaks as "\n"
  std::string atr_hex;
};

// Runs command with the system's shell (/bin/sh -c; cmd.exe /c on Windows) in a process
// group (a job on Windows) of its own, its stdin empty and its stdout on our stderr
// (stdout stays the tool's records), and waits at most timeout.
// Returns an empty text when the hook ended with status 0, otherwise one line for
// stderr: "pelliton-cli: --on-fail hook exited with status 127 (command not found)", "...
// was ended after 10 s", "... could not be started: REASON". option: "--on-pass" or
// "--on-fail", for that line.
std::string RunHook(const std::string& option, const std::string& command, const CardResult& result,
                    std::chrono::milliseconds timeout);

}  // namespace pelliton::cli
