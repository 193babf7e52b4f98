#include "cli/platform/signals.h"

#include <chrono>
#include <cstdlib>
#include <thread>

#include "cli/exit_status.h"

namespace pelliton::cli {

void EndNow(const std::string& message, int status) {
  static std::atomic<bool> ending{false};
  if (ending.exchange(true)) {
    for (;;)  // the first caller is ending the process
      std::this_thread::sleep_for(std::chrono::hours(1));
  }
  WriteStandardError(message);
  std::_Exit(status);
}

StopOnSignals::StopOnSignals(std::atomic<bool>& stop, std::function<void()> on_stop,
                             const CardInProgress& in_progress, journal::Journal* journal)
    : requests_([&stop, on_stop = std::move(on_stop), &in_progress, journal](int signal) {
        const std::string card = in_progress.Describe();
        const bool several = in_progress.Count() > 1;
        if (stop.exchange(true)) {
          // The cards left now may be half-loaded: their records say so.
          std::string error;
          if (journal != nullptr)
            journal->AbandonAll(journal::kOutcomeInterrupted, "Stopped at once by a second signal.",
                                &error);
          EndNow(
              "pelliton-cli: stopped at once by a second signal" +
                  (card.empty() ? std::string()
                                : "; " + card + (several ? " are" : " is") + " left unfinished") +
                  "\n",
              kExitSignalBase + signal);
        }
        if (!card.empty()) {
          WriteStandardError("pelliton-cli: finishing " + card +
                             " first; a second signal stops at once and" +
                             (several ? " leaves them" : " leaves it") + " unfinished\n");
        }
        if (on_stop)
          on_stop();
      }) {}

}  // namespace pelliton::cli
