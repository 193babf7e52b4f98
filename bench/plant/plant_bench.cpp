// The plant's two costs: how fast a station's backlog drains into a local server once it
// is back (records per second), and what a card's record costs the card path when the
// program delivers to a plant that is down, beside one that delivers to none. Run from
// the build folder, e.g.
//   bench/plant/plant_bench --benchmark_repetitions=5
// The journal goes in the current folder (or $PELLITON_BENCH_DIR), the server in /tmp.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "bench/bench_journal.h"
#include "journal/journal.h"
#include "plant/plant.h"
#include "plant/sender.h"
#include "tests/support/pg_server.h"

namespace {

using pelliton::journal::Journal;
using pelliton::journal::JournalRecord;

std::string BenchPath(const char* name) {
  const std::string path = (pelliton::bench::BenchFolder() / name).string();
  for (const char* suffix : {"", "-wal", "-shm"})
    std::filesystem::remove(path + suffix);
  return path;
}

JournalRecord TypicalRecord(int i) {
  JournalRecord record = pelliton::bench::TypicalRecord();
  record.time_utc = "2026-12-01T09:30:12.345Z";
  record.counter_written = 1000 + i % 1000;
  return record;
}

// A backlog of state.range(0) records delivered to a local server in batches of 500.
void BM_CatchUp(benchmark::State& state) {
  pelliton::PgServer server;
  std::vector<std::string> done;
  std::string error;
  if (!server.Start() || !pelliton::plant::InitPlant(server.Url(), &done, &error)) {
    state.SkipWithError(("no server: " + server.Why() + error).c_str());
    return;
  }
  const std::string path = BenchPath("plant_bench.sqlite");
  auto journal = Journal::Open(path, "plant_bench", Journal::Access::kAppend, &error);
  // The backlog written in one transaction of the bench's own: appending it record by
  // record would take longer than the delivery measured.
  for (int64_t i = 0; journal != nullptr && i < state.range(0); ++i)
    journal->Append(TypicalRecord(static_cast<int>(i)), &error);
  for (auto _ : state) {
    state.PauseTiming();
    server.Sql("TRUNCATE pelliton.card_runs");
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(db, "DELETE FROM plant_deliveries", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    pelliton::plant::PlantDestination plant(server.Url());
    state.ResumeTiming();
    const pelliton::plant::PushResult pushed = pelliton::plant::PushPending(*journal, plant);
    if (!pushed.error.empty() || pushed.pending != 0) {
      state.SkipWithError(pushed.error.c_str());
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_CatchUp)->Arg(20000)->UseRealTime()->Unit(benchmark::kMillisecond);

// One card's record as the card path writes it (begun, then completed), with no plant
// (0) or with a sender on a plant that is down (1), over a journal that already holds
// state.range(1) records.
void BM_CardRecord(benchmark::State& state) {
  const std::string path = BenchPath("plant_bench_card.sqlite");
  std::string error;
  auto journal = Journal::Open(path, "plant_bench", Journal::Access::kAppend, &error);
  if (journal == nullptr) {
    state.SkipWithError(error.c_str());
    return;
  }
  for (int64_t i = 0; i < state.range(1); ++i)
    journal->Append(TypicalRecord(static_cast<int>(i)), &error);
  std::unique_ptr<pelliton::plant::Sender> sender;
  if (state.range(0) == 1) {
    // No server listens on this socket: each attempt is refused at once.
    auto destination = std::make_unique<pelliton::plant::PlantDestination>(
        "host=/nonexistent port=1 dbname=plant connect_timeout=2");
    sender = std::make_unique<pelliton::plant::Sender>(
        Journal::Open(path, "plant_bench", Journal::Access::kAppend, &error),
        std::move(destination), [](const std::string&) {});
    pelliton::plant::Sender* notified = sender.get();
    journal->SetOnCommit([notified] { notified->Notify(); });
  }
  for (auto _ : state) {
    std::string run_id;
    if (!journal->Begin(TypicalRecord(0), &run_id, &error) ||
        !journal->Complete(run_id, TypicalRecord(0), &error)) {
      state.SkipWithError(error.c_str());
      break;
    }
  }
  journal->SetOnCommit(nullptr);
  if (sender)
    sender->Stop(std::chrono::milliseconds(0));
}
BENCHMARK(BM_CardRecord)
    ->ArgsProduct({{0, 1}, {10000}})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
