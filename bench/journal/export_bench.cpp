// What the journal command costs over a plant's year of cards: a million records
// exported as CSV, JSON lines and the table, to /dev/null, in records per second and
// the process's peak memory, which must not grow with the journal. The journal is
// filled once per process, straight through SQLite in one transaction, in the current
// folder (or $PELLITON_BENCH_DIR), and removed at the end.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "bench/bench_journal.h"
#include "cli/args.h"
#include "cli/commands/journal.h"
#include "journal/journal.h"
#include "journal/record_fields.h"

namespace {

using pelliton::journal::FieldKind;
using pelliton::journal::Journal;
using pelliton::journal::JournalRecord;
using pelliton::journal::RecordField;
using pelliton::journal::RecordFields;

constexpr int64_t kRecords = 1000000;

using pelliton::bench::BenchFolder;

// Nine download runs in ten, an info run (a message of several lines, quotes in it) in
// ten, and now and then a card cut short.
JournalRecord RecordNumber(int64_t i) {
  JournalRecord record;
  char text[64];
  std::snprintf(text, sizeof text, "0f3c2a7e-5d1b-4c8e-9a2f-%012lld", static_cast<long long>(i));
  record.run_id = text;
  std::snprintf(text, sizeof text, "2024-05-%02lldT%02lld:%02lld:%02lld.%03lldZ",
                static_cast<long long>(1 + i / 86400), static_cast<long long>(i / 3600 % 24),
                static_cast<long long>(i / 60 % 60), static_cast<long long>(i % 60),
                static_cast<long long>(i * 7 % 1000));
  record.time_utc = text;
  record.station = "line3-station";
  record.program = "pelliton-cli";
  record.reader = "Identiv uTrust 3700 F CL Reader [uTrust 3700 F CL Reader] (55041) 0" +
                  std::to_string(i % 4) + " 00";
  record.atr = "3B9F958131FE9F006646530501001171DF040000";
  record.generation = "V2.00";
  record.duration_ms = 9000 + i % 500;
  if (i % 10 == 9) {
    record.procedure = "info";
    record.first_version = "V3.050500";
    record.second_version = "V3.050500";
    record.counter_read = "0500";
    record.outcome = "success";
    record.message =
        "Tessiv Card Version: V2.00 \r\n\r\nNorvane App Version:\"V3.05\"  counter:0500";
    record.apdu_count = 6;
  } else {
    record.procedure = "download";
    record.script_path = "/srv/line3/app_v305.bin";
    record.script_size = 283000;
    record.script_sha256 = std::string(64, 'a');
    record.counter_written = 1000;
    record.outcome = i % 1000 == 500 ? "interrupted" : "success";
    record.message = "Download APP Successfull!";
    record.apdu_count = 1030;
  }
  // Digests of their true length; an export does not check them.
  record.station_seq = i + 1;
  record.chain_hash = std::string(64, 'c');
  record.record_hash = std::string(64, 'd');
  return record;
}

// The journal of kRecords records, made on first use and removed when the process ends.
class ExportJournal {
 public:
  static const ExportJournal& Get() {
    static const ExportJournal journal;
    return journal;
  }
  ~ExportJournal() { Remove(); }
  const std::string& Path() const { return path_; }
  const std::string& Error() const { return error_; }

 private:
  ExportJournal() : path_((BenchFolder() / "journal_bench_export.sqlite").string()) {
    Remove();
    // The journal makes its own schema; the records go in behind it, all at once.
    if (Journal::Open(path_, "journal_bench", Journal::Access::kAppend, &error_) == nullptr)
      return;
    sqlite3* db = nullptr;
    if (sqlite3_open(path_.c_str(), &db) != SQLITE_OK || !Fill(db))
      error_ = std::string("filling the journal: ") + sqlite3_errmsg(db);
    sqlite3_close(db);
  }

  bool Fill(sqlite3* db) {
    std::string names;
    std::string places;
    for (const RecordField& field : RecordFields()) {
      names += (names.empty() ? "" : ",") + std::string(field.name);
      places += places.empty() ? "?" : ",?";
    }
    const std::string insert = "INSERT INTO card_runs (" + names + ") VALUES (" + places + ")";
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_exec(db, "PRAGMA synchronous=OFF; BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK ||
        sqlite3_prepare_v2(db, insert.c_str(), -1, &statement, nullptr) != SQLITE_OK)
      return false;
    bool filled = true;
    for (int64_t i = 0; i < kRecords && filled; ++i) {
      const JournalRecord record = RecordNumber(i);
      int column = 1;
      for (const RecordField& field : RecordFields()) {
        if (field.kind == FieldKind::kText)
          sqlite3_bind_text(statement, column, (record.*field.text).c_str(), -1, SQLITE_TRANSIENT);
        else if (const auto value = pelliton::journal::FieldNumber(field, record))
          sqlite3_bind_int64(statement, column, *value);
        else
          sqlite3_bind_null(statement, column);
        ++column;
      }
      filled = sqlite3_step(statement) == SQLITE_DONE && sqlite3_reset(statement) == SQLITE_OK;
    }
    sqlite3_finalize(statement);
    return filled && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
  }

  void Remove() {
    for (const char* suffix : {"", "-wal", "-shm"})
      std::filesystem::remove(path_ + suffix);
  }

  std::string path_;
  std::string error_;
};

// The peak resident memory so far, in MiB; 0 when /proc does not say.
double PeakMiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("VmHWM:"))
      return std::strtod(line.c_str() + 6, nullptr) / 1024;
  }
  return 0;
}

// Starts the peak over from what the process holds now (Linux: "5" to clear_refs).
void ResetPeak() {
  std::ofstream("/proc/self/clear_refs") << "5";
}

void BM_Export(benchmark::State& state, const char* format) {
  const ExportJournal& journal = ExportJournal::Get();
  if (!journal.Error().empty()) {
    state.SkipWithError(journal.Error().c_str());
    return;
  }
  pelliton::cli::CliOptions options;
  options.command = pelliton::cli::Command::kJournal;
  options.journal_path = journal.Path();
  options.journal_format = format;
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> out(std::fopen("/dev/null", "w"),
                                                            &std::fclose);
  ResetPeak();
  for (auto _ : state) {
    if (pelliton::cli::RunJournalCommand(options, out.get(), stderr) != 0) {
      state.SkipWithError("the export failed");
      return;
    }
  }
  state.counters["records_per_s"] = benchmark::Counter(
      static_cast<double>(kRecords * state.iterations()), benchmark::Counter::kIsRate);
  state.counters["peak_MiB"] = PeakMiB();
}
BENCHMARK_CAPTURE(BM_Export, Csv, "csv")->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_Export, Json, "json")->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_Export, Table, "table")
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

}  // namespace
