// What the benchmarks that write journals share: the folder their files go in, and the
// record of a typical download card on a station.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

#include "journal/journal.h"

namespace pelliton::bench {

// $PELLITON_BENCH_DIR, else the current folder: the disk a station would write to, not a
// memory file system.
inline std::filesystem::path BenchFolder() {
  const char* dir = std::getenv("PELLITON_BENCH_DIR");
  return dir != nullptr ? std::filesystem::path(dir) : std::filesystem::current_path();
}

inline journal::JournalRecord TypicalRecord() {
  journal::JournalRecord record;
  record.time_utc = "2024-05-01T09:30:12.345Z";
  record.procedure = "download";
  record.reader = "Identiv uTrust 3700 F CL Reader [uTrust 3700 F CL Reader] (55041) 00 00";
  record.atr = "3B9F958131FE9F006646530501001171DF040000";
  record.generation = "V2.00";
  record.script_path = "/srv/line3/app_v305.bin";
  record.script_size = 283000;
  record.script_sha256 = std::string(64, 'a');
  record.counter_written = 1000;
  record.outcome = "success";
  record.message = "Download APP Successfull!";
  record.duration_ms = 9000;
  record.apdu_count = 1030;
  return record;
}

}  // namespace pelliton::bench
