// The POSIX side of cli/platform/platform.h: signals through a sigwait thread, hooks through
// posix_spawn in a process group of their own, settings after the XDG base directories.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <thread>

#include "cli/defaults.h"
#include "cli/platform/platform.h"

extern char** environ;

namespace pelliton::cli {

void PrepareStandardStreams() {
  std::signal(SIGPIPE, SIG_IGN);
}

bool IsTerminal(std::FILE* stream) {
  return isatty(fileno(stream)) == 1;
}

size_t TerminalColumns(std::FILE* stream) {
  winsize size{};
  if (ioctl(fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
    return size.ws_col;
  return 80;
}

void WriteStandardError(const std::string& text) {
  size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = write(STDERR_FILENO, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      break;
    written += static_cast<size_t>(n);
  }
}

struct StopRequests::State {
  sigset_t old_mask;
  std::thread watcher;
};

StopRequests::StopRequests(std::function<void(int)> on_request)
    : state_(std::make_unique<State>()) {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  sigaddset(&set, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &set, &state_->old_mask);
  state_->watcher = std::thread([set, on_request = std::move(on_request)] {
    for (;;) {
      int signal = 0;
      if (sigwait(&set, &signal) != 0)
        return;
      if (signal == SIGUSR1)  // the run is over
        return;
      on_request(signal);
    }
  });
}

StopRequests::~StopRequests() {
  pthread_kill(state_->watcher.native_handle(), SIGUSR1);
  state_->watcher.join();
  pthread_sigmask(SIG_SETMASK, &state_->old_mask, nullptr);
}

std::vector<std::string> ProcessEnvironment() {
  std::vector<std::string> entries;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry)
    entries.emplace_back(*entry);
  return entries;
}

namespace {

std::string StatusText(int status) {
  if (WIFEXITED(status)) {
    const int code = WEXITSTATUS(status);
    std::string text = "exited with status " + std::to_string(code);
    if (code == 127)
      text += " (command not found)";
    else if (code == 126)
      text += " (command not executable)";
    return text;
  }
  if (WIFSIGNALED(status))
    return std::string("was killed by signal ") + std::to_string(WTERMSIG(status)) + " (" +
           strsignal(WTERMSIG(status)) + ")";
  return "ended abnormally";
}

}  // namespace

std::string RunShellCommand(const std::string& command, const std::vector<std::string>& environment,
                            std::chrono::milliseconds timeout) {
  std::vector<std::string> entries = environment;
  std::vector<char*> envp;
  for (std::string& entry : entries)
    envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::string shell = "/bin/sh";
  std::string dash_c = "-c";
  std::string body = command;
  char* argv[] = {shell.data(), dash_c.data(), body.data(), nullptr};

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // Its own process group, so that a timeout ends everything it started; the signals we
  // block or ignore (a card loop's SIGINT, SIGPIPE) are its own again.
  sigset_t none;
  sigemptyset(&none);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGUSR1})
    sigaddset(&defaults, signal);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, shell.c_str(), &actions, &attributes, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (spawned != 0)
    return std::string("could not be started: ") + std::strerror(spawned);

  const auto deadline = std::chrono::steady_clock::now() + timeout;
  int status = 0;
  for (;;) {
    const pid_t ended = waitpid(pid, &status, WNOHANG);
    if (ended == pid)
      break;
    if (ended < 0 && errno != EINTR)
      return std::string("could not be waited for: ") + std::strerror(errno);
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(-pid, SIGKILL);
      waitpid(pid, &status, 0);
      const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(timeout).count();
      return "did not end within " + std::to_string(seconds) +
             " s; it was killed with its process group";
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
    return {};
  return StatusText(status);
}

std::string ConfigPath(const std::function<const char*(const char*)>& getenv) {
  const char* xdg = getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && *xdg == '/')  // a relative value is to be ignored
    return std::string(xdg) + "/pelliton/cli.conf";
  const char* home = getenv("HOME");
  if (home != nullptr && *home != '\0')
    return std::string(home) + "/.config/pelliton/cli.conf";
  return {};
}

}  // namespace pelliton::cli
