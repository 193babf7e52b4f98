#include "cli/signals.h"

#include <pthread.h>
#include <unistd.h>

#include <cerrno>

namespace pelliton::cli {

namespace {

// Straight to the descriptor: the thread that owns stderr's stream may be the one stuck.
void WriteErr(const std::string& message) {
  size_t written = 0;
  while (written < message.size()) {
    const ssize_t n = write(STDERR_FILENO, message.data() + written, message.size() - written);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      break;
    written += static_cast<size_t>(n);
  }
}

}  // namespace

void EndNow(const std::string& message, int status) {
  static std::atomic<bool> ending{false};
  if (ending.exchange(true)) {
    for (;;)
      pause();  // the first caller is ending the process
  }
  WriteErr(message);
  _exit(status);
}

StopOnSignals::StopOnSignals(std::atomic<bool>& stop, std::function<void()> on_stop,
                             const CardInProgress& in_progress) {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  sigaddset(&set, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &set, &old_mask_);
  watcher_ = std::thread([set, &stop, on_stop = std::move(on_stop), &in_progress] {
    for (;;) {
      int signal = 0;
      if (sigwait(&set, &signal) != 0)
        return;
      if (signal == SIGUSR1)  // the run is over
        return;
      const std::string card = in_progress.Describe();
      const char* verb = in_progress.Count() > 1 ? " are" : " is";
      if (stop.exchange(true)) {
        EndNow("pelliton-cli: stopped at once by a second signal" +
                   (card.empty() ? std::string() : "; " + card + verb + " left unfinished") + "\n",
               128 + signal);
      }
      if (!card.empty()) {
        WriteErr("pelliton-cli: finishing " + card + " first; a second signal stops at once and" +
                 (in_progress.Count() > 1 ? " leaves them" : " leaves it") + " unfinished\n");
      }
      if (on_stop)
        on_stop();
    }
  });
}

StopOnSignals::~StopOnSignals() {
  pthread_kill(watcher_.native_handle(), SIGUSR1);
  watcher_.join();
  pthread_sigmask(SIG_SETMASK, &old_mask_, nullptr);
}

}  // namespace pelliton::cli
