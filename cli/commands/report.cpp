#include "cli/commands/report.h"

#include "plant/plant.h"

#include <algorithm>
#include <array>
#include <limits>
#include <memory>
#include <string_view>
#include <tuple>
#include <vector>

#include "cli/exit_status.h"
#include "cli/render/cells.h"
#include "cli/render/console_panel.h"
#include "cli/render/json_line.h"
#include "cli/render/output.h"
#include "engine/outcome.h"

namespace pelliton::cli {

namespace {

using journal::JournalRecord;

constexpr const char* kNone = "(none)";
constexpr size_t kScriptDigestShown = 12;

struct Grouping {
  ReportGrouping by;
  const char* name;     // as --by takes it
  const char* heading;  // the table's first column
};

constexpr std::array<Grouping, 6> kGroupings = {{
    {ReportGrouping::kAll, "", "GROUP"},
    {ReportGrouping::kDay, "day", "DAY (UTC)"},
    {ReportGrouping::kStation, "station", "STATION"},
    {ReportGrouping::kReader, "reader", "READER"},
    {ReportGrouping::kScript, "script", "SCRIPT"},
    {ReportGrouping::kOutcome, "outcome", "OUTCOME"},
}};

const Grouping& GroupingOf(ReportGrouping by) {
  return kGroupings[static_cast<size_t>(by)];
}

// A time prefix made whole, so that "2024-05-02" and "2024-05-02T00:00" compare equal.
std::string WholeTime(const std::string& prefix) {
  static constexpr std::string_view kStart = "0000-01-01T00:00:00.000";
  return prefix + std::string(kStart.substr(std::min(prefix.size(), kStart.size())));
}

// A journal written by hand may hold any counter: the sum stops at the ends of int64.
int64_t AddClamped(int64_t sum, int64_t value) {
  if (value > 0 && sum > std::numeric_limits<int64_t>::max() - value)
    return std::numeric_limits<int64_t>::max();
  if (value < 0 && sum < std::numeric_limits<int64_t>::min() - value)
    return std::numeric_limits<int64_t>::min();
  return sum + value;
}

std::string OrNone(const std::string& text) {
  return text.empty() ? kNone : text;
}

std::string ScriptKey(const JournalRecord& record) {
  // Either program runs on either platform: a path may use either separator.
  const size_t slash = record.script_path.find_last_of("/\\");
  const std::string name =
      slash == std::string::npos ? record.script_path : record.script_path.substr(slash + 1);
  if (name.empty() && record.script_sha256.empty())
    return kNone;
  // A run left unfinished, or a script that could not be read, has no digest.
  return (name.empty() ? std::string("(no name)") : name) + " (" +
         (record.script_sha256.empty() ? std::string("no digest")
                                       : record.script_sha256.substr(0, kScriptDigestShown)) +
         ")";
}

void Put(std::FILE* stream, const std::string& text) {
  std::fputs(text.c_str(), stream);
  std::fflush(stream);
}

std::vector<int64_t> Numbers(const ReportCounts& c) {
  return {c.cards, c.passed, c.failed, c.unfinished, c.counter_units};
}

std::string TableText(const ReportTally& tally) {
  std::vector<std::vector<std::string>> rows;
  rows.push_back(
      {GroupingOf(tally.By()).heading, "CARDS", "PASSED", "FAILED", "UNFINISHED", "COUNTER UNITS"});
  const auto add = [&rows](const std::string& key, const ReportCounts& counts) {
    std::vector<std::string>& row = rows.emplace_back(1);
    SetTableCell(row[0], key);
    for (const int64_t number : Numbers(counts))
      row.push_back(std::to_string(number));
  };
  for (const auto& [key, counts] : tally.Groups())
    add(key, counts);
  if (tally.By() != ReportGrouping::kAll)
    add("total", tally.Total());
  std::vector<size_t> widths(rows.front().size(), 0);
  for (const auto& row : rows) {
    for (size_t i = 0; i < row.size(); ++i)
      widths[i] = std::max(widths[i], CellWidth(row[i]));
  }
  // The group left-aligned, the numbers right-aligned under their headings.
  std::string text;
  for (const auto& row : rows) {
    text += row[0];
    text.append(widths[0] - CellWidth(row[0]), ' ');
    for (size_t i = 1; i < row.size(); ++i) {
      text.append(2 + widths[i] - CellWidth(row[i]), ' ');
      text += row[i];
    }
    text += '\n';
  }
  return text;
}

}  // namespace

std::string ReadReportOptions(const CliOptions& options, ReportOptions* report) {
  *report = ReportOptions();
  const auto grouping =
      std::find_if(kGroupings.begin() + 1, kGroupings.end(),
                   [&](const Grouping& g) { return options.report_by == g.name; });
  if (grouping != kGroupings.end())
    report->by = grouping->by;
  else if (!options.report_by.empty())
    return "--by: \"" + options.report_by + "\" is not day, station, reader, script or outcome";
  if (options.json || options.journal_format == "json")
    report->format = JournalFormat::kJson;
  else if (options.journal_format == "csv")
    report->format = JournalFormat::kCsv;
  else if (options.journal_format != "table")
    return "--format: \"" + options.journal_format + "\" is not table, csv or json";
  for (const auto& [name, text, prefix] :
       {std::tuple{"--since", &options.journal_since, &report->since},
        std::tuple{"--until", &options.report_until, &report->until}}) {
    if (!text->empty() && !journal::ParseSinceTime(*text, prefix))
      return std::string(name) + ": \"" + *text +
             "\" is not a UTC time YYYY-MM-DD[THH:MM[:SS[.mmm]]]";
  }
  if (!report->since.empty() && !report->until.empty() &&
      WholeTime(report->since) > WholeTime(report->until))
    return "--since " + options.journal_since + " is after --until " + options.report_until;
  return "";
}

void ReportCounts::Add(const ReportCounts& other) {
  cards += other.cards;
  passed += other.passed;
  failed += other.failed;
  unfinished += other.unfinished;
  counter_units = AddClamped(counter_units, other.counter_units);
}

std::string ReportGroupKey(ReportGrouping by, const JournalRecord& record) {
  switch (by) {
    case ReportGrouping::kAll:
      return "all";
    case ReportGrouping::kDay:
      return OrNone(record.time_utc.substr(0, std::min<size_t>(record.time_utc.size(), 10)));
    case ReportGrouping::kStation:
      return OrNone(record.station);
    case ReportGrouping::kReader:
      return OrNone(record.reader);
    case ReportGrouping::kScript:
      return ScriptKey(record);
    case ReportGrouping::kOutcome:
      return OrNone(record.outcome);
  }
  return kNone;
}

ReportTally::ReportTally(ReportGrouping by) : by_(by) {
  // The one row is there when no record is: none ran.
  if (by == ReportGrouping::kAll)
    groups_["all"];
}

void ReportTally::Add(const JournalRecord& record) {
  ReportCounts counts;
  counts.cards = 1;
  if (record.outcome == RunEndName(RunEnd::kSuccess)) {
    counts.passed = 1;
    // Only a download that passed wrote its counter for certain; an info run has none.
    if (record.procedure == "download")
      counts.counter_units = record.counter_written.value_or(0);
  } else if (journal::LeftUnfinished(record.outcome)) {
    counts.unfinished = 1;
  } else {
    counts.failed = 1;
  }
  groups_[ReportGroupKey(by_, record)].Add(counts);
}

ReportCounts ReportTally::Total() const {
  ReportCounts total;
  for (const auto& [key, counts] : groups_)
    total.Add(counts);
  return total;
}

std::string ReportText(const ReportTally& tally, JournalFormat format) {
  if (format == JournalFormat::kTable)
    return TableText(tally);
  std::string text;
  if (format == JournalFormat::kCsv)
    text = "group,cards,passed,failed,unfinished,counter_units\r\n";
  const char* by = GroupingOf(tally.By()).name;
  for (const auto& [key, counts] : tally.Groups()) {
    if (format == JournalFormat::kCsv) {
      AppendCsvText(text, key);
      for (const int64_t number : Numbers(counts))
        text += ',' + std::to_string(number);
      text += "\r\n";
      continue;
    }
    Json json = JsonHeader("report");
    json["by"] = *by == '\0' ? Json(nullptr) : Json(by);
    json["group"] = key;
    json["cards"] = counts.cards;
    json["passed"] = counts.passed;
    json["failed"] = counts.failed;
    json["unfinished"] = counts.unfinished;
    json["counter_units"] = counts.counter_units;
    text += JsonLine(json);
  }
  return text;
}

int WriteReport(const ReportOptions& options, const RecordSource& source, std::FILE* out,
                std::FILE* err, int source_failed) {
  ReportTally tally(options.by);
  std::string error;
  const bool read = source(
      [&](const JournalRecord& record) {
        if ((options.since.empty() || record.time_utc >= options.since) &&
            (options.until.empty() || record.time_utc < options.until))
          tally.Add(record);
        return true;
      },
      &error);
  if (!read) {
    Put(err, "pelliton-cli: " + AsTerminalText(error) + "\n");
    return source_failed;
  }
  Emit(out, ReportText(tally, options.format));
  return CheckedExit(kExitSuccess, Streams{out, err});
}

int RunReportCommand(const CliOptions& options, std::FILE* out, std::FILE* err) {
  const bool from_plant = !options.plant_url.empty();
  if (!from_plant && !journal::JournalKept()) {
    Put(err, "pelliton-cli: this build keeps no journal\n");
    return kExitJournal;
  }
  ReportOptions report;
  if (const std::string why = ReadReportOptions(options, &report); !why.empty()) {
    Put(err, "pelliton-cli: " + AsTerminalText(why) + " (see pelliton-cli report --help)\n");
    return kExitUsage;
  }
  std::string error;
  if (from_plant) {
    // The same counts over every station's records.
    const std::unique_ptr<plant::Plant> plant = plant::Plant::Connect(options.plant_url, &error);
    if (plant == nullptr) {
      Put(err, "pelliton-cli: report: " + AsTerminalText(error) + "\n");
      return kExitPlant;
    }
    const RecordSource plant_records = [&](const RecordEach& each, std::string* read_error) {
      return plant->ForEach({report.since, report.until}, each, read_error);
    };
    return WriteReport(report, plant_records, out, err, kExitPlant);
  }
  const std::unique_ptr<journal::Journal> journal = journal::Journal::Open(
      PathOf(options), "pelliton-cli", journal::Journal::Access::kRead, &error);
  if (journal == nullptr) {
    Put(err, "pelliton-cli: the journal cannot be read: " + AsTerminalText(error) + "\n");
    return kExitJournal;
  }
  const RecordSource from_journal = [&](const RecordEach& each, std::string* source_error) {
    journal::JournalQuery query;
    query.since = report.since;
    // The journal gives its records oldest first: the first one at or after --until
    // ends the reading.
    const bool read = journal->ForEach(
        query,
        [&](const JournalRecord& record) {
          return (report.until.empty() || record.time_utc < report.until) && each(record);
        },
        source_error);
    if (!read)
      *source_error = "the journal cannot be read: " + *source_error;
    return read;
  };
  return WriteReport(report, from_journal, out, err, kExitJournal);
}

}  // namespace pelliton::cli
