// Store and forward: the journal is the outbox, and records go to the plant after their
// local commit, from a thread of their own, so no card ever waits for the plant. A record
// counts as delivered only once the server has acknowledged its commit; anything less is
// sent again, and the plant keeps the first copy of a run id, so an acknowledgement lost
// on the way doubles nothing.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "journal/journal.h"

namespace pelliton::plant {

class Plant;

// Where a batch goes: a plant, or a test's stand-in.
class Destination {
 public:
  virtual ~Destination() = default;
  // As Plant::Deliver: true only once the batch is committed there.
  virtual bool Deliver(const std::vector<journal::JournalRecord>& records, std::string* error) = 0;
};

struct PushResult {
  int64_t delivered = 0;  // records acknowledged in this push
  int64_t pending = 0;    // records still waiting afterwards (-1: the count failed)
  std::string error;      // why it stopped early; empty when it went through
};

// Sends every pending record of the journal in batches of `batch`, each station's records
// in their order, marking each batch delivered once it is acknowledged.
PushResult PushPending(journal::Journal& journal, Destination& destination, size_t batch = 500);

// Opens the plant for PushPending; the connection is opened at the first batch and again
// after it is lost.
class PlantDestination : public Destination {
 public:
  explicit PlantDestination(std::string url);
  ~PlantDestination() override;
  bool Deliver(const std::vector<journal::JournalRecord>& records, std::string* error) override;
  // Connects now, if not connected: false with *error as Plant::Connect says it.
  bool Reach(std::string* error);

 private:
  std::string url_;
  std::unique_ptr<Plant> plant_;
};

// The background sender of a program that writes records.
class Sender {
 public:
  struct Options {
    size_t batch = 500;
    // After a failure the next attempt waits this long, doubling each time to the most.
    std::chrono::milliseconds first_retry{1000};
    std::chrono::milliseconds longest_retry{60000};
  };
  // notice: one line when the plant cannot be reached or refuses (once per cause, not
  // at every retry) and when it is reached again; called from the sender's thread.
  // journal: a journal of its own, on the same file the program writes (its own
  // connection, so a slow plant never holds the card path's).
  Sender(std::unique_ptr<journal::Journal> journal, std::unique_ptr<Destination> destination,
         std::function<void(const std::string&)> notice, Options options);
  Sender(std::unique_ptr<journal::Journal> journal, std::unique_ptr<Destination> destination,
         std::function<void(const std::string&)> notice)
      : Sender(std::move(journal), std::move(destination), std::move(notice), Options()) {}
  ~Sender();
  Sender(const Sender&) = delete;
  Sender& operator=(const Sender&) = delete;

  // A record was committed: send it soon. Never blocks.
  void Notify();
  // Records waiting for delivery as last counted; 0 until the first count.
  int64_t Backlog() const;
  // Ends the thread, giving the records in flight up to `grace` to be acknowledged; what
  // is not stays pending in the journal for the next push. A thread still inside a call
  // to the plant then is left to end on its own: the program never waits longer.
  void Stop(std::chrono::milliseconds grace);

 private:
  struct State;
  static void Run(const std::shared_ptr<State>& state);

  std::shared_ptr<State> state_;
  std::thread thread_;
};

}  // namespace pelliton::plant
