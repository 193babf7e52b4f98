// The report command: how many cards a plant ran in a time range, how many passed,
// failed or were left unfinished, and how many counter units they were given, in one
// row per day, station, reader, script or outcome. The counting takes records one at a
// time and does not know where they come from: the local journal now, other sources
// through RecordSource.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <string>

#include "cli/args.h"
#include "cli/commands/journal.h"
#include "cli/exit_status.h"
#include "journal/journal.h"

namespace pelliton::cli {

// What the rows are: kAll is one row, "all".
enum class ReportGrouping { kAll, kDay, kStation, kReader, kScript, kOutcome };

struct ReportOptions {
  ReportGrouping by = ReportGrouping::kAll;
  JournalFormat format = JournalFormat::kTable;
  // Time prefixes as journal::ParseSinceTime makes them; empty: no bound. A record counts
  // when since <= time_utc < until.
  std::string since;
  std::string until;
};

// The report's options read from the command line's: "" on success, else the one-line
// reason (a time that is no UTC time, --since after --until, an unknown --by).
std::string ReadReportOptions(const CliOptions& options, ReportOptions* report);

// One row's numbers.
struct ReportCounts {
  int64_t cards = 0;
  int64_t passed = 0;      // outcome success
  int64_t failed = 0;      // every outcome that is neither
  int64_t unfinished = 0;  // journal::LeftUnfinished: the card may be half-loaded
  // counter_written summed over the downloads that passed: a failed download (read_back
  // included, whose card took the counter but is programmed again) counts none.
  int64_t counter_units = 0;

  void Add(const ReportCounts& other);
  bool operator==(const ReportCounts&) const = default;
};

// The group a record counts in: its UTC date, station, reader, outcome, or its script
// as "NAME (first 12 hex digits of SHA-256)"; "(none)" for what the record lacks.
std::string ReportGroupKey(ReportGrouping by, const journal::JournalRecord& record);

// The counts, kept per group only: any number of records takes the memory of its groups.
class ReportTally {
 public:
  explicit ReportTally(ReportGrouping by);
  void Add(const journal::JournalRecord& record);

  ReportGrouping By() const { return by_; }
  // By key, in byte order: days run oldest first.
  const std::map<std::string, ReportCounts>& Groups() const { return groups_; }
  ReportCounts Total() const;

 private:
  ReportGrouping by_;
  std::map<std::string, ReportCounts> groups_;
};

// The report as text. The table: a row per group and, with --by, a last row "total".
// CSV (a header row) and JSON (one "report" object per line) hold the groups only, so
// that a sum over their rows counts each card once.
std::string ReportText(const ReportTally& tally, JournalFormat format);

// Where the records come from: calls each with every record, in any order, until each
// returns false; false with a one-line *error (said after "pelliton-cli: ") when the
// records could not be read.
using RecordEach = std::function<bool(const journal::JournalRecord&)>;
using RecordSource = std::function<bool(const RecordEach& each, std::string* error)>;

// The report of the records from source within the options' time range, on out.
// source_failed, said on err, when source fails; kExitOutput when out could not be written.
int WriteReport(const ReportOptions& options, const RecordSource& source, std::FILE* out,
                std::FILE* err, int source_failed = kExitJournal);

// The report command over the journal file the options name (--journal, else the
// default path), or over the plant with --plant; kExitJournal or kExitPlant when it
// cannot be read, kExitUsage for faulty options.
int RunReportCommand(const CliOptions& options, std::FILE* out, std::FILE* err);

}  // namespace pelliton::cli
