// The journal command over a real journal file: the records each query selects, in each
// format, and the exit status pelliton-cli gives when its journal cannot be written.
#include "cli/commands/journal.h"

#include <sys/wait.h>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/args.h"
#include "cli/commands/card.h"
#include "cli/render/json_line.h"
#include "journal/record_fields.h"
#include "tests/cli/capture.h"
#include "tests/support/scratch_dir.h"

namespace pelliton::cli {
namespace {

using journal::Journal;
using journal::JournalRecord;

std::vector<JournalRecord> Sample() {
  JournalRecord a;
  a.run_id = "run-a";
  a.time_utc = "2024-05-01T08:00:00.000Z";
  a.procedure = "download";
  a.reader = "PCD 0";
  a.atr = "3B00AA";
  a.generation = "V2.00";
  a.script_path = "/srv/app, v3.bin";
  a.script_size = 1234;
  a.script_sha256 = std::string(64, 'c');
  a.counter_written = 1000;
  a.outcome = "success";
  a.message = "Download APP Successfull!";
  a.duration_ms = 812;
  a.apdu_count = 40;
  JournalRecord b = a;
  b.run_id = "run-b";
  b.time_utc = "2024-05-02T09:30:00.500Z";
  b.procedure = "info";
  b.reader = "PCD 1";
  b.script_path.clear();
  b.script_size.reset();
  b.script_sha256.clear();
  b.counter_written.reset();
  b.first_version = "V3.050500";
  b.counter_read = "0500";
  b.message = "Tessiv Card Version: V2.00 \r\n\r\nNorvane App Version:\"V3.05\"  counter:0500";
  JournalRecord c = a;
  c.run_id = "run-c";
  c.time_utc = "2024-05-03T10:00:00.000Z";
  c.atr = "3B00BB";
  c.outcome = "card_refused";
  c.status_word = "6A82";
  c.failing_line = 17;
  c.message = "App1 Download error! at line 17!";
  // A card cut short by a second signal, in a reader whose name would retitle a terminal.
  JournalRecord d = a;
  d.run_id = "run-d";
  d.time_utc = "2024-05-04T11:00:00.000Z";
  d.reader = "PCD \x1b]0;owned\x07 caf\xc3\xa9";
  d.atr = "3B00DD";
  d.outcome = "interrupted";
  return {a, b, c, d};
}

// RFC 4180 rows, for reading the export back.
std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
  std::vector<std::vector<std::string>> rows(1);
  std::string field;
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char ch = text[i];
    if (quoted) {
      if (ch == '"' && i + 1 < text.size() && text[i + 1] == '"')
        field += text[++i];
      else if (ch == '"')
        quoted = false;
      else
        field += ch;
    } else if (ch == '"') {
      quoted = true;
    } else if (ch == ',') {
      rows.back().push_back(field);
      field.clear();
    } else if (ch == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      rows.back().push_back(field);
      field.clear();
      rows.emplace_back();
      ++i;
    } else {
      field += ch;
    }
  }
  rows.pop_back();  // after the last line break
  return rows;
}

// Where text begins in a line of the table, in characters on the terminal.
size_t ColumnOf(const std::string& line, const std::string& text) {
  const size_t at = line.find(text);
  return static_cast<size_t>(std::count_if(line.begin(), line.begin() + std::min(at, line.size()),
                                           [](char c) { return (c & 0xC0) != 0x80; }));
}

struct QueryCase {
  const char* name;
  std::vector<std::string> args;  // after "journal --journal PATH"
  int status;
  std::vector<std::string> run_ids;  // in the order printed
};

const QueryCase kQueries[] = {
    {"AllAsTable", {}, kExitSuccess, {"run-a", "run-b", "run-c", "run-d"}},
    {"SinceADay", {"--since", "2024-05-02"}, kExitSuccess, {"run-b", "run-c", "run-d"}},
    {"SinceToTheMillisecond",
     {"--since", "2024-05-02 09:30:00.501Z"},
     kExitSuccess,
     {"run-c", "run-d"}},
    {"OneReaderAsCsv", {"--reader", "PCD 0", "--format", "csv"}, kExitSuccess, {"run-a", "run-c"}},
    {"CardByAtrAsJson", {"--card", "3b:00:aa", "--json"}, kExitSuccess, {"run-a", "run-b"}},
    {"CardByRunId", {"--card", "run-c", "--format=json"}, kExitSuccess, {"run-c"}},
    {"UnknownCard", {"--card", "3B00CC"}, kExitFailed, {}},
    {"CardByRunIdInUpperCase", {"--card", "RUN-C"}, kExitSuccess, {"run-c"}},
    {"Unfinished", {"--unfinished"}, kExitSuccess, {"run-d"}},
    {"UnfinishedAsJson", {"--unfinished", "--json"}, kExitSuccess, {"run-d"}},
    {"NoneUnfinishedInOneReader",
     {"--unfinished", "--reader", "PCD 0", "--format", "csv"},
     kExitSuccess,
     {}},
};

TEST(JournalCommand, AppendedRecordsComeBackInEachFormat) {
  ScratchDir dir;
  const std::string path = dir.PathOf("journal.sqlite");
  {
    std::string error;
    const auto journal = Journal::Open(path, "pelliton-cli", Journal::Access::kAppend, &error);
    ASSERT_NE(journal, nullptr) << error;
    for (const JournalRecord& record : Sample())
      ASSERT_TRUE(journal->Append(record, &error)) << error;
  }
  const std::vector<JournalRecord> sample = Sample();
  for (const QueryCase& c : kQueries) {
    std::vector<std::string> args = {"journal", "--journal", path};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const ParseOutcome parsed = ParseArgs(args);
    ASSERT_TRUE(parsed.ok) << c.name << ": " << parsed.error;
    Capture out, err;
    EXPECT_EQ(RunJournalCommand(parsed.options, out.file(), err.file()), c.status) << c.name;
    const std::string text = out.Text();

    const JournalFormat format = parsed.options.json || parsed.options.journal_format == "json"
                                     ? JournalFormat::kJson
                                 : parsed.options.journal_format == "csv" ? JournalFormat::kCsv
                                                                          : JournalFormat::kTable;
    switch (format) {
      case JournalFormat::kTable: {
        size_t at = 0;
        for (const std::string& id : c.run_ids) {
          at = text.find(id, at);
          EXPECT_NE(at, std::string::npos) << c.name << ": " << id << " in\n" << text;
        }
        EXPECT_NE(text.find(std::to_string(c.run_ids.size()) + " record"), std::string::npos)
            << c.name;
        // The reader's escape sequence shown, not obeyed, and the columns after it still
        // in line: the widths are taken on the text shown.
        EXPECT_EQ(text.find_first_of("\x1b\x07"), std::string::npos) << text;
        if (std::count(c.run_ids.begin(), c.run_ids.end(), "run-d") == 1) {
          EXPECT_NE(text.find("PCD \\x1b]0;owned\\x07 caf\xc3\xa9  "), std::string::npos) << text;
        }
        std::istringstream lines(text);
        std::string line;
        std::getline(lines, line);
        const size_t run_id_column = ColumnOf(line, "RUN ID");
        for (const std::string& id : c.run_ids) {
          ASSERT_TRUE(std::getline(lines, line)) << c.name;
          EXPECT_EQ(ColumnOf(line, id), run_id_column) << c.name << "\n" << text;
        }
        // One line per record, a message's lines joined.
        if (std::count(c.run_ids.begin(), c.run_ids.end(), "run-b") == 1) {
          EXPECT_NE(text.find("V2.00 / Norvane App Version:\"V3.05\"  counter:0500"),
                    std::string::npos)
              << text;
        }
        break;
      }
      case JournalFormat::kCsv: {
        // Every field survives the export, commas, quotes and line breaks included.
        const auto rows = ParseCsv(text);
        ASSERT_EQ(rows.size(), c.run_ids.size() + 1) << c.name << "\n" << text;
        EXPECT_EQ(rows[0][0], "run_id");
        EXPECT_EQ(rows[0].back(), "record_hash");
        for (size_t i = 1; i < rows.size(); ++i) {
          ASSERT_EQ(rows[i].size(), rows[0].size()) << c.name;
          EXPECT_EQ(rows[i][0], c.run_ids[i - 1]) << c.name;
          EXPECT_EQ(rows[i][11], "/srv/app, v3.bin") << c.name;  // script_path
          EXPECT_EQ(rows[i].back().size(), 64u) << c.name;       // record_hash
        }
        break;
      }
      case JournalFormat::kJson: {
        std::istringstream lines(text);
        std::string line;
        size_t count = 0;
        while (std::getline(lines, line)) {
          ASSERT_LT(count, c.run_ids.size()) << c.name;
          EXPECT_EQ(line.rfind("{\"schema\":1,\"command\":\"journal\",\"run_id\":\"" +
                                   c.run_ids[count] + "\"",
                               0),
                    0u)
              << line;
          const bool info = c.run_ids[count] == "run-b";
          EXPECT_NE(line.find(info ? "\"counter_written\":null" : "\"counter_written\":1000"),
                    std::string::npos)
              << line;
          // Each record's place in the station's chain: Sample's order.
          const char place = static_cast<char>('1' + (c.run_ids[count].back() - 'a'));
          EXPECT_NE(line.find(std::string("\"station_seq\":") + place + ","), std::string::npos)
              << line;
          if (info) {
            EXPECT_NE(line.find("\\r\\n\\r\\nNorvane App Version:\\\"V3.05\\\""), std::string::npos)
                << line;
          }
          ++count;
        }
        EXPECT_EQ(count, c.run_ids.size()) << c.name;
        break;
      }
    }
  }
}

std::string SampleJournal(const ScratchDir& dir) {
  const std::string path = dir.PathOf("journal.sqlite");
  std::string error;
  const auto journal = Journal::Open(path, "pelliton-cli", Journal::Access::kAppend, &error);
  EXPECT_NE(journal, nullptr) << error;
  for (const JournalRecord& record : Sample())
    EXPECT_TRUE(journal != nullptr && journal->Append(record, &error)) << error;
  return path;
}

// A text a spreadsheet would take for a formula is exported as text; everything else, and
// every number, as it is. JSON carries the text exactly.
struct CsvCellCase {
  const char* name;
  std::string text;
  std::string cell;
};

const CsvCellCase kCsvCells[] = {
    {"Equals", "=HYPERLINK(\"http://x\",\"y\")", "'=HYPERLINK(\"http://x\",\"y\")"},
    {"Plus", "+1+2", "'+1+2"},
    {"Minus", "-2+3", "'-2+3"},
    {"At", "@SUM(A1)", "'@SUM(A1)"},
    {"Tab", "\t=1", "'\t=1"},
    {"CarriageReturn", "\r=1", "'\r=1"},
    {"ApostropheAlready", "'kept", "'kept"},
    {"MinusInside", "V3-05 -x", "V3-05 -x"},
    {"BlankFirst", " =1", " =1"},
    {"Empty", "", ""},
};

TEST(JournalCommand, CsvCellsThatLookLikeFormulasStayText) {
  for (const CsvCellCase& c : kCsvCells) {
    JournalRecord record = Sample().front();
    record.reader = c.text;
    record.message = c.text;
    record.transport_result = -2146435060;  // SCARD_E_NO_SERVICE as a signed 32-bit code
    JournalWriter csv(JournalFormat::kCsv, nullptr);
    ASSERT_TRUE(csv.Write(record) && csv.Finish());
    const auto rows = ParseCsv(csv.Text());
    ASSERT_EQ(rows.size(), 2u) << c.name << "\n" << csv.Text();
    ASSERT_EQ(rows[1].size(), rows[0].size()) << c.name;
    for (size_t i = 0; i < rows[0].size(); ++i) {
      if (rows[0][i] == "reader" || rows[0][i] == "message") {
        EXPECT_EQ(rows[1][i], c.cell) << c.name << ": " << rows[0][i];
      }
      if (rows[0][i] == "transport_result") {
        EXPECT_EQ(rows[1][i], "-2146435060") << c.name;
      }
    }
    JournalWriter json(JournalFormat::kJson, nullptr);
    ASSERT_TRUE(json.Write(record) && json.Finish());
    const auto parsed = nlohmann::json::parse(json.Text());
    EXPECT_EQ(parsed["reader"], c.text) << c.name;
    EXPECT_EQ(parsed["transport_result"], -2146435060) << c.name;
  }
}

// The export writes its JSON lines itself; they are those JsonLine makes, whatever the
// bytes: escapes, control characters, DEL, UTF-8 and what is not UTF-8.
TEST(JournalCommand, JsonLinesAreTheCliOwn) {
  const std::string texts[] = {"plain",
                               "quote \" backslash \\ slash /",
                               "\r\n\t\b\f",
                               std::string("nul \0 byte", 10),
                               "\x01\x1f\x7f",
                               "caf\xc3\xa9 \xe2\x82\xac",
                               "bad \xff\xfe",
                               "cut \xe2\x82",
                               "\xed\xa0\x80\xc2\x85"};
  for (const std::string& text : texts) {
    JournalRecord record = Sample()[1];
    record.reader = text;
    record.message = text + "\r\n" + text;
    record.transport_result = -1;
    Json json = JsonHeader("journal");
    for (const journal::RecordField& field : journal::RecordFields()) {
      const auto number = journal::FieldNumber(field, record);
      if (field.kind == journal::FieldKind::kText)
        json[field.name] = record.*field.text;
      else
        json[field.name] = number ? Json(*number) : Json(nullptr);
    }
    JournalWriter writer(JournalFormat::kJson, nullptr);
    ASSERT_TRUE(writer.Write(record) && writer.Finish());
    EXPECT_EQ(writer.Text(), JsonLine(json)) << text;
  }
}

// Standard output that cannot be written is the output's exit status, in every format.
TEST(JournalCommand, FullOutputIsTheOutputStatus) {
  ScratchDir dir;
  const std::string path = SampleJournal(dir);
  for (const char* args : {"", "--format=csv", "--json", "verify"}) {
    std::vector<std::string> line = {"journal", "--journal", path};
    if (*args != '\0')
      line.push_back(args);
    const ParseOutcome parsed = ParseArgs(line);
    ASSERT_TRUE(parsed.ok) << parsed.error;
    std::FILE* full = std::fopen("/dev/full", "w");
    ASSERT_NE(full, nullptr);
    Capture err;
    EXPECT_EQ(RunJournalCommand(parsed.options, full, err.file()), kExitOutput) << args;
    std::fclose(full);
    EXPECT_NE(err.Text().find("could not write the output"), std::string::npos) << args;
  }
}

// journal verify over the sample, as written and as changed behind the journal's back.
struct VerifyCase {
  const char* name;
  const char* change;             // SQL run on the file first; null: the file is no journal at all
  std::vector<std::string> args;  // after "journal --journal PATH verify"
  int status;
  std::string out_text;
  std::string err_text;
};

const VerifyCase kVerifies[] = {
    {"Holds",
     "",
     {},
     kExitSuccess,
     "4 records of 1 station; the chain holds, 1 left unfinished\n",
     ""},
    {"HoldsAsJson",
     "",
     {"--json"},
     kExitSuccess,
     "\"records\":4,\"stations\":1,\"unfinished\":1,\"holds\":true,\"first_break\":null}",
     ""},
    {"FieldChanged",
     "UPDATE card_runs SET outcome = 'success' WHERE run_id = 'run-c'",
     {},
     kExitFailed,
     "",
     "record 3 (run id run-c): its fields were changed"},
    {"RecordRemoved",
     "DELETE FROM card_runs WHERE run_id = 'run-b'",
     {},
     kExitFailed,
     "",
     "record 3 (run id run-c): record 2 before it is missing"},
    {"BrokenAsJson",
     "UPDATE card_runs SET run_id = 'run-x' WHERE run_id = 'run-d'",
     {"-j"},
     kExitFailed,
     "\"holds\":false,\"first_break\":\"station ",
     "record 4 (run id run-x): it does not follow"},
    {"StationNameShownNotObeyed",
     "UPDATE card_runs SET station = 'line' || char(27) || '[2J' WHERE run_id = 'run-a'",
     {},
     kExitFailed,
     "",
     "chain is broken at station line\\x1b[2J, record 1 (run id run-a)"},
    {"NoJournal", nullptr, {}, kExitJournal, "", "the journal cannot be read"},
};

TEST(JournalCommand, VerifySaysWhetherTheChainHolds) {
  for (const VerifyCase& c : kVerifies) {
    ScratchDir dir;
    std::string path = dir.Write("plain.txt", "card runs\n");
    if (c.change != nullptr) {
      path = SampleJournal(dir);
      sqlite3* db = nullptr;
      ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK) << c.name;
      EXPECT_EQ(sqlite3_exec(db, c.change, nullptr, nullptr, nullptr), SQLITE_OK) << c.name;
      sqlite3_close(db);
    }
    std::vector<std::string> args = {"journal", "--journal", path, "verify"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const ParseOutcome parsed = ParseArgs(args);
    ASSERT_TRUE(parsed.ok) << c.name << ": " << parsed.error;
    Capture out, err;
    EXPECT_EQ(RunJournalCommand(parsed.options, out.file(), err.file()), c.status) << c.name;
    EXPECT_NE(out.Text().find(c.out_text), std::string::npos) << c.name << ": " << out.Text();
    EXPECT_NE(err.Text().find(c.err_text), std::string::npos) << c.name << ": " << err.Text();
    EXPECT_EQ(err.Text().find('\x1b'), std::string::npos) << c.name;
    if (c.status == kExitSuccess) {
      EXPECT_EQ(out.Text().rfind(parsed.options.json ? "{" : "journal " + path + ": ", 0), 0u)
          << c.name;
    }
  }
}

// The real executable: a journal it cannot write stops it before any card is touched.
TEST(JournalCommand, UnwritableJournalIsItsOwnExitStatus) {
  ScratchDir dir;
  const std::string file = dir.Write("plain", "x");
  const std::string script = dir.Write("app.bin", "F05D0100090000200000011FFF00\r\n");
  const struct {
    const char* name;
    std::string args;
    int status;
  } cases[] = {
      {"InfoUnderAFile", "info --journal " + file + "/journal.sqlite", kExitJournal},
      {"DownloadIntoAFolder", "download " + script + " --journal " + dir.PathOf(""), kExitJournal},
      {"ListingAMissingJournal", "journal --journal " + dir.PathOf("none.sqlite"), kExitJournal},
      {"VerifyingAMissingJournal", "journal verify --journal " + dir.PathOf("none.sqlite"),
       kExitJournal},
  };
  for (const auto& c : cases) {
    const std::string err = dir.PathOf("err.txt");
    const int raw =
        std::system((std::string(PELLITON_CLI) + " " + c.args + " >/dev/null 2>" + err).c_str());
    ASSERT_TRUE(WIFEXITED(raw)) << c.name;
    EXPECT_EQ(WEXITSTATUS(raw), c.status) << c.name;
    std::ifstream in(err);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("journal"), std::string::npos) << c.name << ": " << text.str();
  }
}

}  // namespace
}  // namespace pelliton::cli
