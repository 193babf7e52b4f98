// What the journal costs a card: appending one record (its own transaction, synced to
// disk), and the whole record of a download run, script digest included. The journal
// file goes in the current folder (or $PELLITON_BENCH_DIR), so the disk is the one the
// station would write to, not a memory file system.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "bench/bench_journal.h"
#include "cardaccess/card_access.h"
#include "journal/card_record.h"
#include "journal/journal.h"
#include "tests/support/fake_orvo.h"
#include "tests/support/fake_pcsc.h"

namespace {

using pelliton::journal::Journal;
using pelliton::journal::JournalRecord;

using pelliton::bench::BenchFolder;

// A fresh journal for one benchmark run, removed (with its WAL files) afterwards.
class ScratchJournal {
 public:
  ScratchJournal() : path_((BenchFolder() / "journal_bench.sqlite").string()) {
    Remove();
    std::string error;
    journal_ = Journal::Open(path_, "journal_bench", Journal::Access::kAppend, &error);
    if (journal_ == nullptr)
      std::fprintf(stderr, "journal_bench: %s\n", error.c_str());
  }
  ~ScratchJournal() {
    journal_.reset();
    Remove();
  }
  Journal* get() { return journal_.get(); }

 private:
  void Remove() {
    for (const char* suffix : {"", "-wal", "-shm"})
      std::filesystem::remove(path_ + suffix);
  }
  std::string path_;
  std::unique_ptr<Journal> journal_;
};

using pelliton::bench::TypicalRecord;

void BM_AppendRecord(benchmark::State& state) {
  ScratchJournal journal;
  if (journal.get() == nullptr) {
    state.SkipWithError("journal not opened");
    return;
  }
  const JournalRecord record = TypicalRecord();
  std::string error;
  for (auto _ : state) {
    if (!journal.get()->Append(record, &error)) {
      state.SkipWithError(error.c_str());
      break;
    }
  }
}
BENCHMARK(BM_AppendRecord)->UseRealTime()->Unit(benchmark::kMillisecond);

// The journal's whole share of a download card: its record written before the card is
// touched, then the record from the outcome (the script of state.range(0) bytes read and
// hashed) completing it.
void BM_DownloadCardRecord(benchmark::State& state) {
  ScratchJournal journal;
  if (journal.get() == nullptr) {
    state.SkipWithError("journal not opened");
    return;
  }
  const std::string script = (BenchFolder() / "journal_bench_script.bin").string();
  {
    std::ofstream out(script, std::ios::binary);
    const std::string line =
        "F0 D1 00 00 84 00002000 00112233445566778899AABBCCDDEEFF00112233445566778899AABBCCDD\r\n";
    for (int64_t written = 0; written < state.range(0);
         written += static_cast<int64_t>(line.size()))
      out << line;
  }
  pelliton::testing::FakePcsc pcsc;
  pelliton::testing::FakeOrvo orvo;
  pelliton::CardAccess card(pcsc, orvo);
  card.Connection().reader_name = "Virtual PCD 00 00";
  const uint8_t atr[] = {0x3B, 0x9F, 0x95, 0x81, 0x31, 0xFE, 0x9F, 0x00, 0x66, 0x46,
                         0x53, 0x05, 0x01, 0x00, 0x11, 0x71, 0xDF, 0x04, 0x00, 0x00};
  std::copy(std::begin(atr), std::end(atr), card.Connection().atr);
  card.Connection().atr_length = sizeof atr;
  pelliton::DownloadOutcome outcome;
  outcome.end = pelliton::RunEnd::kSuccess;
  outcome.message = "Download APP Successfull!";
  outcome.counter = 1000;
  outcome.exchanges = 1030;
  std::string error;
  for (auto _ : state) {
    const pelliton::journal::RunClock clock(card);
    // Written before the card is touched, completed when its run ends: two commits.
    JournalRecord begun;
    begun.time_utc = clock.StartText();
    begun.procedure = "download";
    begun.reader = card.Connection().reader_name;
    begun.script_path = script;
    begun.counter_written = 1000;
    std::string run_id;
    if (!journal.get()->Begin(begun, &run_id, &error) ||
        !journal.get()->Complete(
            run_id, pelliton::journal::DownloadRecord(clock, outcome, card, script), &error)) {
      state.SkipWithError(error.c_str());
      break;
    }
  }
  std::filesystem::remove(script);
}
// The example script's size, and a full two-application image's script.
BENCHMARK(BM_DownloadCardRecord)
    ->Arg(14553)
    ->Arg(300000)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
