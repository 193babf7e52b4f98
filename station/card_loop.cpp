#include "station/card_loop.h"

namespace pelliton::station {

CardLoopEnd RunCardLoop(const std::string& reader, ReaderSession& session, CardPresence& presence,
                        uint32_t card_limit, const std::atomic<bool>& stop, CardLoopEvents& events,
                        int first_card, bool card_in_reader_done) {
  CardLoopEnd end;
  long error = 0;
  const auto limit_reached = [&] {
    return card_limit != 0 && end.cards >= static_cast<int>(card_limit);
  };
  const auto ended = [&](CardPresence::Wait wait) {
    if (wait == CardPresence::Wait::kReady)
      return false;
    end.stopped = wait == CardPresence::Wait::kStopped;
    end.error = error;
    return true;
  };
  if (card_in_reader_done) {
    const std::vector<bool> holds = presence.HoldsCard({reader});
    if (!holds.empty() && holds[0]) {
      events.Waiting(true);
      DWORD seen = 0;
      if (ended(presence.WaitForCard(reader, &seen, &error)) ||
          ended(presence.WaitForRemoval(reader, seen, &error)))
        return end;
    }
  }
  while (!limit_reached()) {
    events.Waiting(false);
    DWORD seen = 0;
    if (ended(presence.WaitForCard(reader, &seen, &error)))
      break;
    const int card = first_card + end.cards++;
    events.CardStarted(card);
    const CardRun run = session.Run();
    if (!run.Passed())
      end.failures.push_back({card, run.outcome.message});
    if (!events.CardEnded(card, run)) {
      end.output_lost = true;
      break;
    }
    if (session.JournalFailed()) {
      end.journal_failed = true;
      break;
    }
    if (limit_reached())
      break;
    if (stop.load()) {
      end.stopped = true;
      break;
    }
    events.Waiting(true);
    // By the service's count of insertions and removals: a card swapped while a hook
    // ran is a new card, although the reader never looked empty.
    if (ended(presence.WaitForRemoval(reader, seen, &error)))
      break;
  }
  return end;
}

}  // namespace pelliton::station
