// What pelliton-cli needs of the operating system beyond standard C++: its standard
// streams and terminals, the requests to stop that come from outside, the hook processes
// it starts and where its settings live. One implementation file per platform,
// platform_posix.cpp and platform_windows.cpp; everything above this header is the same
// code on both.
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace pelliton::cli {

// Sets up the standard streams once, at the start. POSIX: a reader of the output that
// went away becomes a write error instead of SIGPIPE. Windows: bytes are written as they
// are (no line-end translation, so every record is the same as on Linux), and a console
// is switched to ANSI sequences where it takes them.
void PrepareStandardStreams();

// Whether stream is a terminal that takes ANSI sequences (on Windows a console that was
// switched to them).
bool IsTerminal(std::FILE* stream);

// The terminal's width in columns; 80 when stream is no terminal or says nothing.
size_t TerminalColumns(std::FILE* stream);

// Writes text to the standard error descriptor itself, past the stream's buffer and
// lock (the thread that owns the stream may be the one that is stuck).
void WriteStandardError(const std::string& text);

// While alive, requests to stop no longer end the process; on_request gets each one's
// signal number, on a thread of the system's or its own, until destruction. POSIX:
// SIGINT, SIGTERM and SIGHUP (construct before any other thread starts, so that every
// thread inherits the blocked signals). Windows: Ctrl-C as SIGINT; Ctrl-Break and
// closing the console (or logging off, shutting down) as SIGTERM; a close waits for the
// end of the run, as long as Windows grants it.
class StopRequests {
 public:
  explicit StopRequests(std::function<void(int signal)> on_request);
  ~StopRequests();
  StopRequests(const StopRequests&) = delete;
  StopRequests& operator=(const StopRequests&) = delete;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// This process's environment, one "NAME=value" entry each.
std::vector<std::string> ProcessEnvironment();

// Runs command through the system's shell (/bin/sh -c; cmd.exe /c on Windows) with
// exactly environment, its stdin empty and its stdout on our stderr, in a process group
// (a job on Windows) of its own, and waits at most timeout; then it is ended with
// everything it started. Empty when it ended with status 0, else what happened as the
// end of a sentence: "exited with status 7", "did not end within 10 s; ...", "could not
// be started: REASON".
std::string RunShellCommand(const std::string& command, const std::vector<std::string>& environment,
                            std::chrono::milliseconds timeout);

}  // namespace pelliton::cli
