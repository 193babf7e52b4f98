// One pelliton-cli process of a rig test, its standard output and error in files: started,
// waited for with a bound, its output polled while it runs.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/scratch_dir.h"

extern char** environ;

namespace pelliton::cli {

using Clock = std::chrono::steady_clock;

inline size_t CountOf(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
    ++count;
  return count;
}

// Whether the cases run the Windows build under wine (PELLITON_CLI_WINDOWS): it keeps
// no journal, runs hooks with cmd.exe, and wine gives it no console event for a signal.
inline bool UnderWine() {
  const char* windows = std::getenv("PELLITON_CLI_WINDOWS");
  return windows != nullptr && windows[0] != '\0';
}

// Where a pelliton-cli process writes its standard output.
enum class Stdout { kFile, kFull, kClosedPipe };

// One pelliton-cli process with its output in files.
class CliProcess {
 public:
  explicit CliProcess(const ScratchDir& dir) : out_(dir.PathOf("out")), err_(dir.PathOf("err")) {}
  ~CliProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  bool Start(const std::vector<std::string>& args, Stdout out = Stdout::kFile) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    int pipe_ends[2] = {-1, -1};
    if (out == Stdout::kClosedPipe) {
      if (pipe(pipe_ends) != 0)
        return false;
      posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], 1);
      posix_spawn_file_actions_addclose(&actions, pipe_ends[0]);
      posix_spawn_file_actions_addclose(&actions, pipe_ends[1]);
    } else {
      posix_spawn_file_actions_addopen(&actions, 1,
                                       out == Stdout::kFull ? "/dev/full" : out_.c_str(),
                                       O_WRONLY | O_CREAT | O_TRUNC, 0600);
    }
    posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    // PELLITON_CLI_WINDOWS: the Windows build's pelliton-cli.exe, run under wine, takes
    // the same cases as the native one.
    std::vector<std::string> all;
    if (UnderWine())
      all = {"wine", std::getenv("PELLITON_CLI_WINDOWS")};
    else
      all = {PELLITON_CLI};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all)
      argv.push_back(arg.data());
    argv.push_back(nullptr);
    const int rc = posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    for (const int end : pipe_ends) {  // nobody reads: the first write meets EPIPE
      if (end >= 0)
        close(end);
    }
    if (rc != 0)
      pid_ = -1;
    return rc == 0;
  }

  // Exit status, or -1 when it did not end in time (then it is killed).
  int Wait(int timeout_ms = 60000) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (Clock::now() > deadline) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
        return -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // Polls the output (or stderr) until it holds `part` `count` times.
  bool WaitForOutput(const std::string& part, size_t count, int timeout_ms = 40000,
                     bool err = false) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (CountOf(err ? Err() : Out(), part) < count) {
      if (Clock::now() > deadline)
        return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
  }

  pid_t pid() const { return pid_; }
  std::string Out() const { return ReadFile(out_); }
  std::string Err() const { return ReadFile(err_); }

 private:
  std::string out_;
  std::string err_;
  pid_t pid_ = -1;
};

}  // namespace pelliton::cli
