#include "cli/hooks.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>
#include <vector>

extern char** environ;

namespace pelliton::cli {

namespace {

constexpr const char* kResultVariables[] = {
    "PELLITON_READER=", "PELLITON_RESULT=", "PELLITON_MESSAGE=", "PELLITON_ATR="};

// This process's environment without our variables, then ours.
std::vector<std::string> HookEnvironment(const CardResult& result) {
  std::vector<std::string> entries;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    bool ours = false;
    for (const char* variable : kResultVariables)
      ours = ours || std::strncmp(*entry, variable, std::strlen(variable)) == 0;
    if (!ours)
      entries.emplace_back(*entry);
  }
  // A NUL would cut the value short where the hook reads it; no card text holds one
  // that matters.
  const auto value = [](std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '\0'), text.end());
    return text;
  };
  entries.push_back(kResultVariables[0] + value(result.reader));
  entries.push_back(std::string(kResultVariables[1]) + (result.passed ? "PASS" : "FAIL"));
  entries.push_back(kResultVariables[2] + value(result.message));
  entries.push_back(kResultVariables[3] + value(result.atr_hex));
  return entries;
}

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

std::string RunHook(const std::string& option, const std::string& command, const CardResult& result,
                    std::chrono::milliseconds timeout) {
  const std::string prefix = "pelliton-cli: " + option + " hook ";
  std::vector<std::string> environment = HookEnvironment(result);
  std::vector<char*> envp;
  for (std::string& entry : environment)
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
    return prefix + "could not be started: " + std::strerror(spawned) + "\n";

  const auto deadline = std::chrono::steady_clock::now() + timeout;
  int status = 0;
  for (;;) {
    const pid_t ended = waitpid(pid, &status, WNOHANG);
    if (ended == pid)
      break;
    if (ended < 0 && errno != EINTR)
      return prefix + "could not be waited for: " + std::strerror(errno) + "\n";
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(-pid, SIGKILL);
      waitpid(pid, &status, 0);
      const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(timeout).count();
      return prefix + "did not end within " + std::to_string(seconds) +
             " s; it was killed with its process group\n";
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
    return {};
  return prefix + StatusText(status) + "\n";
}

}  // namespace pelliton::cli
