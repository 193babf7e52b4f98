// The report: which group each record counts in and as what, the time range, the
// formats with hostile names, and the command over a real journal file.
#include "cli/commands/report.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "cli/args.h"
#include "cli/exit_status.h"
#include "cli/render/cells.h"
#include "tests/cli/capture.h"
#include "tests/support/scratch_dir.h"

namespace pelliton::cli {
namespace {

using journal::JournalRecord;

JournalRecord CardRun(const char* time, const char* station, const char* reader, const char* script,
                      char digest, std::optional<int64_t> counter, const char* outcome) {
  JournalRecord r;
  r.time_utc = time;
  r.station = station;
  r.reader = reader;
  r.procedure = *script == '\0' ? "info" : "download";
  r.script_path = script;
  r.script_sha256 = digest == '\0' ? "" : std::string(64, digest);
  r.counter_written = counter;
  r.outcome = outcome;
  return r;
}

std::vector<JournalRecord> Runs() {
  return {
      CardRun("2024-05-06T08:00:00.000Z", "line1", "PCD 0", "/srv/app.bin", 'a', 1000, "success"),
      CardRun("2024-05-06T09:00:00.000Z", "line1", "PCD 1", "C:\\s\\app.bin", 'b', 500, "success"),
      CardRun("2024-05-06T23:59:59.999Z", "line2", "PCD 0", "/srv/app.bin", 'a', 700,
              "card_refused"),
      CardRun("2024-05-07T00:00:00.000Z", "line2", "PCD 0", "/srv/app.bin", 'a', 300, "read_back"),
      CardRun("2024-05-07T10:00:00.000Z", "line2", "", "/srv/app.bin", '\0', 200, "unfinished"),
      CardRun("2024-05-07T11:00:00.000Z", "line1", "PCD 0", "/srv/app.bin", '\0', 200, "abandoned"),
      // An info run's counter, should a journal hold one, is no counter written.
      CardRun("2024-05-07T12:00:00.000Z", "line1", "PCD 1", "", '\0', 9999, "success"),
      CardRun("2024-05-07T13:00:00.000Z", "line1", "PCD 1", "", '\0', std::nullopt, "interrupted"),
  };
}

using Rows = std::vector<std::pair<std::string, ReportCounts>>;

const struct {
  ReportGrouping by;
  Rows rows;  // {cards, passed, failed, unfinished, counter units}
} kGroupings[] = {
    {ReportGrouping::kAll, {{"all", {8, 3, 2, 3, 1500}}}},
    {ReportGrouping::kDay, {{"2024-05-06", {3, 2, 1, 0, 1500}}, {"2024-05-07", {5, 1, 1, 3, 0}}}},
    {ReportGrouping::kReader,
     {{"(none)", {1, 0, 0, 1, 0}}, {"PCD 0", {4, 1, 2, 1, 1000}}, {"PCD 1", {3, 2, 0, 1, 500}}}},
    {ReportGrouping::kScript,
     {{"(none)", {2, 1, 0, 1, 0}},
      {"app.bin (aaaaaaaaaaaa)", {3, 1, 2, 0, 1000}},
      {"app.bin (bbbbbbbbbbbb)", {1, 1, 0, 0, 500}},
      {"app.bin (no digest)", {2, 0, 0, 2, 0}}}},
    {ReportGrouping::kOutcome,
     {{"abandoned", {1, 0, 0, 1, 0}},
      {"card_refused", {1, 0, 1, 0, 0}},
      {"interrupted", {1, 0, 0, 1, 0}},
      {"read_back", {1, 0, 1, 0, 0}},
      {"success", {3, 3, 0, 0, 1500}},
      {"unfinished", {1, 0, 0, 1, 0}}}},
};

TEST(ReportTally, CountsEachRecordInItsGroup) {
  for (const auto& c : kGroupings) {
    ReportTally tally(c.by);
    for (const JournalRecord& record : Runs())
      tally.Add(record);
    EXPECT_EQ(Rows(tally.Groups().begin(), tally.Groups().end()), c.rows) << static_cast<int>(c.by);
    EXPECT_EQ(tally.Total(), (ReportCounts{8, 3, 2, 3, 1500})) << static_cast<int>(c.by);
  }
}

// Since is inclusive, until exclusive, to the millisecond, whatever the source's order.
TEST(WriteReport, CountsTheRunsInTheRange) {
  const struct {
    std::vector<std::string> args;
    int cards;
  } cases[] = {
      {{}, 8},
      {{"--since", "2024-05-06T23:59:59.999"}, 6},
      {{"--until", "2024-05-07"}, 3},
      {{"--until", "2024-05-07T00:00:00.001Z"}, 4},
      {{"--since", "2024-05-07T10:00", "--until", "2024-05-07 12:00"}, 2},
      {{"--since", "2024-05-07T00:00", "--until", "2024-05-07"}, 0},  // one instant: no run
  };
  std::vector<JournalRecord> runs = Runs();
  std::reverse(runs.begin(), runs.end());
  const RecordSource source = [&runs](const RecordEach& each, std::string*) {
    std::for_each(runs.begin(), runs.end(), each);
    return true;
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"report", "--format=csv"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    ReportOptions options;
    ASSERT_EQ(ReadReportOptions(ParseArgs(args).options, &options), "") << args.back();
    Capture out, err;
    EXPECT_EQ(WriteReport(options, source, out.file(), err.file()), kExitSuccess);
    EXPECT_NE(out.Text().find("\r\nall," + std::to_string(c.cards) + ","), std::string::npos)
        << args.back() << "\n"
        << out.Text();
  }
}

// A reader's name is never a formula, nor a terminal's command; CSV holds no total row.
TEST(ReportText, HostileNamesStayText) {
  ReportTally tally(ReportGrouping::kReader);
  for (const char* reader : {"=cmd|' /C calc'!A0", "+1, \"x\"", "PCD \x1b]0;owned\x07 caf\xc3\xa9"})
    tally.Add(CardRun("2024-05-06T08:00:00.000Z", "-2+3", reader, "a.bin", 'a', 10, "success"));
  EXPECT_EQ(ReportText(tally, JournalFormat::kCsv),
            "group,cards,passed,failed,unfinished,counter_units\r\n"
            "\"'+1, \"\"x\"\"\",1,1,0,0,10\r\n"
            "'=cmd|' /C calc'!A0,1,1,0,0,10\r\n"
            "PCD \x1b]0;owned\x07 caf\xc3\xa9,1,1,0,0,10\r\n");
  const std::string table = ReportText(tally, JournalFormat::kTable);
  EXPECT_EQ(table.find_first_of("\x1b\x07"), std::string::npos) << table;
  std::istringstream lines(table);
  std::string line;
  std::getline(lines, line);
  const size_t width = CellWidth(line);
  std::vector<std::string> rows;
  while (std::getline(lines, line)) {
    EXPECT_EQ(CellWidth(line), width) << line;  // the numbers end under their headings
    rows.push_back(line);
  }
  ASSERT_EQ(rows.size(), 4u) << table;
  EXPECT_EQ(rows.back().substr(0, 6), "total ");
  EXPECT_EQ(rows.back().substr(rows.back().size() - 3), " 30");
}

// The command over a journal file: the range read from it, and each way it can fail.
TEST(ReportCommand, ReadsTheJournal) {
  const struct {
    const char* name;
    const char* journal;  // "runs", "empty" or "plain"
    std::vector<std::string> args;
    int status;
    std::string out;  // found in what it prints
    std::string err;
  } cases[] = {
      {"Empty",
       "empty",
       {},
       kExitSuccess,
       "COUNTER UNITS\nall        0       0       0           0              0\n",
       ""},
      {"DayUntil",
       "runs",
       {"--by", "day", "--until", "2024-05-07", "--json"},
       kExitSuccess,
       "\"group\":\"2024-05-06\",\"cards\":3,\"passed\":2,\"failed\":1,\"unfinished\":0,"
       "\"counter_units\":1500}\n",
       ""},
      {"StationSince",
       "runs",
       {"--since", "2024-05-07", "--by=station", "--format=csv"},
       kExitSuccess,
       "\r\nline1,3,1,0,2,0\r\nline2,2,0,1,1,0\r\n",
       ""},
      {"NoJournal", "plain", {}, kExitJournal, "", "the journal cannot be read"},
  };
  for (const auto& c : cases) {
    const std::string kind = c.journal;
    ScratchDir dir;
    std::string path =
        kind == "plain" ? dir.Write("plain.txt", "card runs\n") : dir.PathOf("journal.sqlite");
    if (kind == "runs" || kind == "empty") {
      std::string error;
      const auto journal =
          journal::Journal::Open(path, "pelliton-cli", journal::Journal::Access::kAppend, &error);
      ASSERT_NE(journal, nullptr) << error;
      for (const JournalRecord& record : kind == "runs" ? Runs() : std::vector<JournalRecord>())
        ASSERT_TRUE(journal->Append(record, &error)) << error;
    }
    std::vector<std::string> args = {"report", "--journal", path};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const ParseOutcome parsed = ParseArgs(args);
    ASSERT_TRUE(parsed.ok) << c.name << ": " << parsed.error;
    Capture out, err;
    EXPECT_EQ(RunReportCommand(parsed.options, out.file(), err.file()), c.status) << c.name;
    EXPECT_NE(out.Text().find(c.out), std::string::npos) << c.name << ":\n" << out.Text();
    EXPECT_NE(err.Text().find(c.err), std::string::npos) << c.name << ": " << err.Text();
  }
}

}  // namespace
}  // namespace pelliton::cli
