#include "plant/sender.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>

#include "plant/plant.h"

namespace pelliton::plant {

using journal::Journal;
using journal::JournalRecord;

PushResult PushPending(Journal& journal, Destination& destination, size_t batch) {
  PushResult result;
  Journal::OutboxCursor cursor;
  std::vector<JournalRecord> records;
  std::string error;
  // A batch that fails ends the push: the next one begins where it stopped, so each
  // station's records reach the plant in their order.
  bool going = true;
  while ((going = journal.Pending(&cursor, std::max<size_t>(batch, 1), &records, &error)) &&
         !records.empty() && (going = destination.Deliver(records, &error)) &&
         (going = journal.MarkDelivered(records, &error)))
    result.delivered += static_cast<int64_t>(records.size());
  if (!going)
    result.error = error;
  if (!journal.CountPending(&result.pending, &error)) {
    result.pending = -1;
    if (result.error.empty())
      result.error = error;
  }
  return result;
}

PlantDestination::PlantDestination(std::string url) : url_(std::move(url)) {}

PlantDestination::~PlantDestination() = default;

bool PlantDestination::Reach(std::string* error) {
  if (plant_ == nullptr)
    plant_ = Plant::Connect(url_, error);
  return plant_ != nullptr;
}

bool PlantDestination::Deliver(const std::vector<JournalRecord>& records, std::string* error) {
  if (!Reach(error))
    return false;
  if (plant_->Deliver(records, error))
    return true;
  // Whatever failed, the next batch starts on a new connection.
  plant_.reset();
  return false;
}

struct Sender::State {
  std::unique_ptr<Journal> journal;
  std::unique_ptr<Destination> destination;
  std::function<void(const std::string&)> notice;
  Options options;
  std::atomic<int64_t> backlog{0};
  std::mutex mutex;
  std::condition_variable wake;
  bool notified = true;  // the first pass goes at once: the backlog from before
  bool stopping = false;
  bool finished = false;
  std::chrono::steady_clock::time_point deadline;
};

Sender::Sender(std::unique_ptr<Journal> journal, std::unique_ptr<Destination> destination,
               std::function<void(const std::string&)> notice, Options options)
    : state_(std::make_shared<State>()) {
  state_->journal = std::move(journal);
  state_->destination = std::move(destination);
  state_->notice = std::move(notice);
  state_->options = options;
  thread_ = std::thread(&Sender::Run, state_);
}

Sender::~Sender() {
  Stop(std::chrono::milliseconds(0));
}

void Sender::Notify() {
  {
    const std::lock_guard lock(state_->mutex);
    state_->notified = true;
  }
  state_->wake.notify_all();
}

int64_t Sender::Backlog() const {
  return state_->backlog.load();
}

void Sender::Stop(std::chrono::milliseconds grace) {
  if (!thread_.joinable())
    return;
  std::unique_lock lock(state_->mutex);
  state_->stopping = true;
  state_->deadline = std::chrono::steady_clock::now() + grace;
  state_->wake.notify_all();
  const bool finished = state_->wake.wait_until(
      lock, state_->deadline + std::chrono::milliseconds(50), [this] { return state_->finished; });
  lock.unlock();
  if (finished)
    thread_.join();
  else
    thread_.detach();  // it holds the state it uses, and ends when its call returns
}

void Sender::Run(const std::shared_ptr<State>& state) {
  using Clock = std::chrono::steady_clock;
  std::chrono::milliseconds retry = state->options.first_retry;
  std::optional<Clock::time_point> retry_at;  // while deliveries fail
  std::string failing;                        // the cause last said
  bool recount = false;  // records came while it fails: the backlog is to be counted
  Clock::time_point next_count;
  const auto count = [&] {
    int64_t pending = 0;
    std::string error;
    if (state->journal->CountPending(&pending, &error))
      state->backlog.store(pending);
  };
  std::unique_lock lock(state->mutex);
  for (;;) {
    // A record goes at once while the plant takes them; while it does not, the next
    // attempt waits for its retry time, and a record meanwhile is only counted.
    while (!state->stopping) {
      if (!retry_at) {
        if (state->notified)
          break;
        state->wake.wait(lock);
      } else if (Clock::now() >= *retry_at) {
        break;
      } else if (state->notified) {
        state->notified = false;
        recount = true;
      } else if (recount && Clock::now() >= next_count) {
        // At most once a second: the count walks the whole outbox, beside the card path.
        recount = false;
        next_count = Clock::now() + std::chrono::seconds(1);
        lock.unlock();
        count();
        lock.lock();
      } else {
        state->wake.wait_until(lock, recount ? std::min(*retry_at, next_count) : *retry_at);
      }
    }
    // Stopping: one last pass for the records in flight, while the grace lasts and the
    // plant takes records.
    if (state->stopping && (retry_at || !state->notified || Clock::now() >= state->deadline))
      break;
    state->notified = false;
    const bool last = state->stopping;
    lock.unlock();
    const PushResult pushed =
        PushPending(*state->journal, *state->destination, state->options.batch);
    if (pushed.pending >= 0)
      state->backlog.store(pushed.pending);
    if (pushed.error.empty()) {
      if (!failing.empty())
        state->notice("plant: delivering again; " + std::to_string(pushed.delivered) +
                      " records delivered");
      failing.clear();
      retry = state->options.first_retry;
      retry_at.reset();
    } else {
      if (pushed.error != failing)
        state->notice("plant: " + pushed.error + "; the records wait in the journal");
      failing = pushed.error;
      retry_at = Clock::now() + retry;
      retry = std::min(retry * 2, state->options.longest_retry);
    }
    lock.lock();
    if (last)
      break;
  }
  state->finished = true;
  state->wake.notify_all();
}

}  // namespace pelliton::plant
