// The journal as a production line fills it, through pcscd with four vpcd readers
// (tests/rig/pcsc-rig with PELLITON_RIG_PORT_PAIRS=2): what a batch records, two
// pelliton-cli processes writing one journal at once, and a batch killed with SIGKILL at
// random moments, after which every card that was touched must have one record, finished
// or left unfinished, and the record chain must hold.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "journal/journal.h"
#include "sim/card/tessiv_card.h"
#include "tests/cli/cli_process.h"
#include "tests/rig/sim_process.h"

namespace pelliton::cli {
namespace {

using Json = nlohmann::json;

// Commands a download of the example script sends.
constexpr int kDownloadCommands = 44;

// The default ATR of a simulated card of this generation byte, as records write it.
std::string AtrHex(uint8_t generation) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (const uint8_t byte : sim::TessivConfig::DefaultAtr(generation)) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
  }
  return text;
}

// The digest as coreutils computes it, not as the program under test does.
std::string Sha256Sum(const std::string& path) {
  const std::string command = "sha256sum '" + path + "'";
  std::FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr)
    return "";
  char digest[65] = {};
  const size_t read = std::fread(digest, 1, 64, pipe);
  pclose(pipe);
  return read == 64 ? std::string(digest, 64) : std::string();
}

// The station field's value: this host's name.
std::string HostName() {
  char name[256] = {};
  return gethostname(name, sizeof name - 1) == 0 ? name : "";
}

// The JSON objects of the complete lines of text: a process killed while writing may
// leave a last line without its line feed, which stands for nothing printed.
std::vector<Json> JsonLines(const std::string& text) {
  std::vector<Json> objects;
  size_t from = 0;
  for (size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', from)) {
    objects.push_back(Json::parse(text.substr(from, end - from), nullptr, false));
    from = end + 1;
  }
  return objects;
}

// The card objects among them (a tally is none).
std::vector<Json> CardLines(const std::string& text) {
  std::vector<Json> cards;
  for (Json& object : JsonLines(text)) {
    EXPECT_TRUE(object.is_object()) << text;
    if (object.is_object() && object["command"] != "tally")
      cards.push_back(std::move(object));
  }
  return cards;
}

// A record's message as JSON shows it: "\r\n" as "\n".
std::string WithLineFeeds(std::string text) {
  for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at))
    text.replace(at, 2, "\n");
  return text;
}

// "#k" in an argument: rig reader k's name (pcscd numbers its readers in no fixed order).
std::string WithReaderNames(std::string arg) {
  for (size_t at = arg.find('#'); at != std::string::npos; at = arg.find('#'))
    arg.replace(at, 2, rig::RigReaderName(arg[at + 1] - '0'));
  return arg;
}

// Skips where the rig has fewer than four readers.
class JournalRig : public testing::Test {
 protected:
  void SetUp() override {
    if (rig::VpcdPort() == 0 || rig::RigReaderName(3).empty())
      GTEST_SKIP() << "not inside a pcscd rig with two vpcd port pairs";
  }
};

// One simulated card per reader, the same options for each, cards served one after the
// other; stopped together (pcscd must count each card out, which takes its polling time).
class Sims {
 public:
  // One tessiv-sim per (reader, options); true once pcscd has counted every card in.
  bool Start(const std::vector<std::pair<int, std::vector<std::string>>>& readers) {
    for (const auto& [reader, options] : readers) {
      readers_.push_back(reader);
      sims_.push_back(std::make_unique<rig::SimProcess>());
      if (!sims_.back()->Start(reader, options))
        return false;
    }
    return std::all_of(sims_.begin(), sims_.end(),
                       [](const auto& sim) { return sim->WaitForInsertion(); });
  }
  // How many cards each sim's reader has had touched (sent a command), by reader name:
  // the earlier cards, and the present one once a command reached it.
  std::map<std::string, uint64_t> TouchedCards() const {
    // The state is written once the reader has been quiet for a moment.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::map<std::string, uint64_t> touched;
    for (size_t k = 0; k < sims_.size(); ++k) {
      const std::optional<sim::CardState> state = sims_[k]->State();
      const std::string reader = rig::RigReaderName(readers_[k]);
      touched[reader] = state ? state->card - 1 + (state->commands.empty() ? 0 : 1) : 0;
    }
    return touched;
  }
  ~Sims() {
    std::vector<std::thread> stops;
    for (auto& sim : sims_)
      stops.emplace_back([&sim] {
        sim->WaitUntilUnused();
        sim->Stop();
      });
    for (std::thread& stop : stops)
      stop.join();
  }

 private:
  std::vector<std::unique_ptr<rig::SimProcess>> sims_;
  std::vector<int> readers_;
};

// ---------------------------------------------------------------------------------------
// What a batch records: one record per card, matched to its JSON line by run id, every
// field from the card, the script and the run.

// One reader's simulated cards and what each card's record must say.
struct ReaderSetup {
  int reader = 0;
  std::vector<std::string> sim_options;  // beside --cards and --version-byte
  uint8_t generation_byte = 0x04;
  std::string generation = "V2.00";
  std::string outcome = "success";
  int64_t apdus = 0;  // the record's APDU count; 0: any above 0
  std::string status_word;
};

// One batch: the pelliton-cli processes run at once and the readers they serve.
struct BatchCase {
  const char* name;
  std::vector<std::string> command;
  int cards = 1;  // per reader
  // One pelliton-cli process per entry, each with its own reader options ("#k": rig
  // reader k), all started at once on one journal.
  std::vector<std::vector<std::string>> processes;
  std::vector<int> statuses;  // each process's exit status
  std::vector<ReaderSetup> readers;
};

void PrintTo(const BatchCase& c, std::ostream* out) {
  *out << c.name;
}

class JournalBatch : public JournalRig, public testing::WithParamInterface<BatchCase> {};

TEST_P(JournalBatch, RecordsEveryCardOnceWithItsFields) {
  const BatchCase& c = GetParam();
  const std::string cards = std::to_string(c.cards);
  std::vector<std::pair<int, std::vector<std::string>>> sim_options;
  for (const ReaderSetup& setup : c.readers) {
    char generation[3];
    std::snprintf(generation, sizeof generation, "%02X", setup.generation_byte);
    std::vector<std::string> options = {"--cards", cards, "--version-byte", generation};
    options.insert(options.end(), setup.sim_options.begin(), setup.sim_options.end());
    sim_options.emplace_back(setup.reader, options);
  }
  Sims sims;
  ASSERT_TRUE(sims.Start(sim_options));

  ScratchDir journal_dir;
  const std::string journal = journal_dir.PathOf("journal.sqlite");
  std::vector<std::unique_ptr<ScratchDir>> dirs;
  std::vector<std::unique_ptr<CliProcess>> clis;
  for (const std::vector<std::string>& readers : c.processes) {
    std::vector<std::string> args = c.command;
    for (const char* arg : {"--each-card", "--json", "--cards"})
      args.push_back(arg);
    args.push_back(cards);
    args.push_back("--journal");
    args.push_back(journal);
    for (const std::string& arg : readers)
      args.push_back(WithReaderNames(arg));
    dirs.push_back(std::make_unique<ScratchDir>());
    clis.push_back(std::make_unique<CliProcess>(*dirs.back()));
    ASSERT_TRUE(clis.back()->Start(args));
  }
  std::vector<Json> lines;
  for (size_t i = 0; i < clis.size(); ++i) {
    EXPECT_EQ(clis[i]->Wait(), c.statuses[i]) << clis[i]->Err();
    // A writer that waited for the other one says nothing of it.
    EXPECT_EQ(clis[i]->Err().find("journal"), std::string::npos) << clis[i]->Err();
    for (Json& line : CardLines(clis[i]->Out()))
      lines.push_back(std::move(line));
  }

  ScratchDir export_dir;
  CliProcess exporter(export_dir);
  ASSERT_TRUE(exporter.Start({"journal", "--journal", journal, "--format", "json"}));
  ASSERT_EQ(exporter.Wait(), 0) << exporter.Err();
  std::map<std::string, Json> records;  // by run id
  for (Json& record : JsonLines(exporter.Out())) {
    const std::string run_id = record["run_id"].get<std::string>();
    records[run_id] = std::move(record);
  }
  EXPECT_EQ(records.size(), lines.size()) << exporter.Out();

  const bool download = c.command[0] == "download";
  const std::string script = download ? c.command[1] : "";
  const std::string digest = download ? Sha256Sum(script) : "";
  std::map<std::string, int> records_of;
  for (const Json& line : lines) {
    SCOPED_TRACE(line.dump());
    ASSERT_TRUE(line["run_id"].is_string());
    const auto found = records.find(line["run_id"].get<std::string>());
    ASSERT_NE(found, records.end());
    const Json& record = found->second;
    SCOPED_TRACE(record.dump());
    const auto setup =
        std::find_if(c.readers.begin(), c.readers.end(), [&](const ReaderSetup& setup) {
          return rig::RigReaderName(setup.reader) == line["reader"];
        });
    ASSERT_NE(setup, c.readers.end());
    ++records_of[line["reader"].get<std::string>()];

    EXPECT_EQ(record["reader"], line["reader"]);
    EXPECT_EQ(record["procedure"], c.command[0]);
    EXPECT_EQ(record["program"], "pelliton-cli");
    EXPECT_EQ(record["station"], HostName());
    EXPECT_TRUE(std::regex_match(record["time_utc"].get<std::string>(),
                                 std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)")));
    EXPECT_EQ(record["atr"], AtrHex(setup->generation_byte));
    EXPECT_EQ(line["atr"], record["atr"]);
    EXPECT_EQ(record["generation"], setup->generation);
    EXPECT_EQ(record["outcome"], setup->outcome);
    EXPECT_EQ(line["success"], setup->outcome == "success");
    EXPECT_EQ(WithLineFeeds(record["message"].get<std::string>()), line["messages"].back());
    EXPECT_EQ(record["status_word"], setup->status_word);
    if (setup->apdus != 0) {
      EXPECT_EQ(record["apdu_count"], setup->apdus);
    }
    EXPECT_GT(record["apdu_count"].get<int64_t>(), 0);
    EXPECT_GT(record["duration_ms"].get<int64_t>(), 0);
    EXPECT_LE(record["duration_ms"].get<int64_t>(), line["elapsed_ms"].get<int64_t>());
    if (download) {
      EXPECT_EQ(record["script_path"], script);
      EXPECT_EQ(record["script_size"], std::filesystem::file_size(script));
      EXPECT_EQ(record["script_sha256"], digest);
      EXPECT_EQ(record["counter_written"], line["counter"]);
    } else {
      EXPECT_EQ(record["script_sha256"], "");
      EXPECT_TRUE(record["counter_written"].is_null());
      EXPECT_EQ(record["counter_read"], line["counter_text"]);
      EXPECT_EQ(record["first_version"].get<std::string>().rfind(line["app1_version"], 0), 0u);
    }
  }
  for (const ReaderSetup& setup : c.readers)
    EXPECT_EQ(records_of[rig::RigReaderName(setup.reader)], c.cards) << setup.reader;
}

const std::vector<std::string> kDownload = {"download", PELLITON_EXAMPLE_SCRIPT, "--counter",
                                            "1234"};
const std::vector<std::string> kRemovedAfterDownload = {"--remove-after",
                                                        std::to_string(kDownloadCommands)};

INSTANTIATE_TEST_SUITE_P(
    Cli, JournalBatch,
    testing::Values(
        BatchCase{"DownloadWithAFailingCard",
                  kDownload,
                  2,
                  {{"--readers", "#0,#1,#2"}},
                  {1},
                  {{0, kRemovedAfterDownload, 0x04, "V2.00", "success", kDownloadCommands, ""},
                   {1, kRemovedAfterDownload, 0x04, "V2.00", "success", kDownloadCommands, ""},
                   {2,
                    {"--sw-at", "10:6A82", "--remove-after", "10"},
                    0x04,
                    "V2.00",
                    "card_refused",
                    10,
                    "6A82"}}},
        // The download went onto the card; the read-back that failed must not hide it.
        BatchCase{"ReadBackQueryRefused",
                  {"download", PELLITON_EXAMPLE_SCRIPT, "--counter", "1234", "--verify"},
                  1,
                  {{"--readers", "#0"}},
                  {1},
                  {{0,
                    {"--sw-at", std::to_string(kDownloadCommands + 1) + ":6A82", "--remove-after",
                     std::to_string(kDownloadCommands + 1)},
                    0x04,
                    "V2.00",
                    "read_back",
                    kDownloadCommands + 1,
                    "6A82"}}},
        BatchCase{"InfoOfTwoGenerations",
                  {"info"},
                  1,
                  {{"--readers", "#0,#3"}},
                  {0},
                  {{0, {}, 0x04, "V2.00", "success", 0, ""},
                   {3, {"--text1", "V3.06"}, 0x03, "V1.10", "success", 0, ""}}},
        // Two processes on one journal, one a station and one a single reader's card
        // loop, their cards finishing in step: each waits for the other's transaction.
        BatchCase{"TwoWritersAtOnce",
                  kDownload,
                  5,
                  {{"--readers", "#0"}, {"-r", "#1"}},
                  {0, 0},
                  {{0, kRemovedAfterDownload, 0x04, "V2.00", "success", kDownloadCommands, ""},
                   {1, kRemovedAfterDownload, 0x04, "V2.00", "success", kDownloadCommands, ""}}}),
    [](const auto& info) { return info.param.name; });

// ---------------------------------------------------------------------------------------
// A batch killed at random moments.

// The journal file through SQLite itself, as a reader after a crash opens it.
class JournalFile {
 public:
  explicit JournalFile(const std::string& path) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
      error_ = db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory";
    else
      sqlite3_busy_timeout(db_, 10000);
  }
  ~JournalFile() { sqlite3_close(db_); }
  JournalFile(const JournalFile&) = delete;
  JournalFile& operator=(const JournalFile&) = delete;

  // Every row of the query, each column as text ("NULL" for a null), joined by '|'.
  std::vector<std::string> Rows(const char* sql) {
    std::vector<std::string> rows;
    sqlite3_stmt* statement = nullptr;
    if (!error_.empty() || sqlite3_prepare_v2(db_, sql, -1, &statement, nullptr) != SQLITE_OK) {
      rows.push_back("error: " + (error_.empty() ? sqlite3_errmsg(db_) : error_));
      return rows;
    }
    int rc = SQLITE_OK;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
      std::string row;
      for (int i = 0; i < sqlite3_column_count(statement); ++i) {
        const auto* text = sqlite3_column_text(statement, i);
        row += (i == 0 ? "" : "|") +
               (text != nullptr ? std::string(reinterpret_cast<const char*>(text)) : "NULL");
      }
      rows.push_back(std::move(row));
    }
    if (rc != SQLITE_DONE)
      rows.push_back(std::string("error: ") + sqlite3_errmsg(db_));
    sqlite3_finalize(statement);
    return rows;
  }

 private:
  sqlite3* db_ = nullptr;
  std::string error_;
};

// A record added by one round of the kill test.
struct StoredRun {
  std::string run_id;
  std::string reader;
  std::string time_utc;
  std::string row;  // every field, for messages
  bool unfinished = false;
};

// The kill test's batch: four readers, three cards each; the seed of its moments from
// PELLITON_KILL_SEED when set, so that a failure can be run again.
constexpr int kKills = 30;
constexpr int kCardsPerReader = 3;

// PELLITON_KILL_SEED, else a fresh one.
uint64_t KillSeed() {
  if (const char* text = std::getenv("PELLITON_KILL_SEED"))
    return std::strtoull(text, nullptr, 10);
  return std::random_device()();
}

TEST_F(JournalRig, BatchKilledAtRandomMomentsKeepsExactlyTheFinishedCards) {
  const uint64_t seed = KillSeed();
  std::cout << "PELLITON_KILL_SEED=" << seed << std::endl;
  RecordProperty("seed", std::to_string(seed));
  std::mt19937_64 random(seed);
  SCOPED_TRACE("PELLITON_KILL_SEED=" + std::to_string(seed));

  ScratchDir dir;
  const std::string journal = dir.PathOf("journal.sqlite");
  const std::string script = PELLITON_EXAMPLE_SCRIPT;
  const std::string digest = Sha256Sum(script);
  ASSERT_EQ(digest.size(), 64u);
  const std::string atr = AtrHex(0x04);
  const std::vector<std::string> sim_options = {"--cards", std::to_string(kCardsPerReader),
                                                "--remove-after",
                                                std::to_string(kDownloadCommands)};
  std::set<std::string> known;  // run ids of the earlier rounds
  int64_t batch_ms = 0;
  int killed = 0;
  int unfinished_records = 0;
  const auto test_start = Clock::now();

  // Round 0 runs the batch to its end: it must record every card, and it measures the
  // batch's running time within which the later rounds' kills fall.
  for (int round = 0; round <= kKills; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    Sims sims;
    ASSERT_TRUE(
        sims.Start({{0, sim_options}, {1, sim_options}, {2, sim_options}, {3, sim_options}}));
    CliProcess cli(dir);
    const auto started = Clock::now();
    ASSERT_TRUE(
        cli.Start({"download", script, "--each-card", "--json", "--cards",
                   std::to_string(kCardsPerReader), "--readers", "all", "--journal", journal}));
    int status = 0;
    if (round == 0) {
      status = cli.Wait();
      batch_ms =
          std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count();
      ASSERT_EQ(status, 0) << cli.Err();
    } else {
      // A share of the batch's time: one seed gives the same moments on a slower machine.
      const double share = std::uniform_real_distribution<double>(0.0, 1.0)(random);
      std::this_thread::sleep_until(
          started + std::chrono::milliseconds(static_cast<int64_t>(share * batch_ms)));
      kill(cli.pid(), SIGKILL);
      status = cli.Wait(10000);
      // Killed, or the batch was over before the kill.
      ASSERT_TRUE(status == -1 || status == 0) << status << cli.Err();
      killed += status == -1;
    }

    JournalFile file(journal);
    EXPECT_EQ(file.Rows("PRAGMA integrity_check"), std::vector<std::string>{"ok"});
    // No record torn: every field a download's record has is there, as this batch writes
    // it; a record left unfinished has what was known before its card was touched.
    std::vector<StoredRun> added;
    for (const std::string& row :
         file.Rows("SELECT run_id, reader, time_utc, procedure, atr, script_size, script_sha256,"
                   " counter_written, outcome, apdu_count, duration_ms, script_path"
                   " FROM card_runs")) {
      std::vector<std::string> fields;
      for (size_t from = 0, bar = 0; bar != std::string::npos; from = bar + 1) {
        bar = row.find('|', from);
        fields.push_back(row.substr(from, bar == std::string::npos ? bar : bar - from));
      }
      ASSERT_EQ(fields.size(), 12u) << row;
      EXPECT_EQ(fields[0].size(), 36u) << row;
      EXPECT_TRUE(std::regex_match(fields[2], std::regex(R"(\d{4}-\d\d-\d\dT[\d:.]{12}Z)"))) << row;
      EXPECT_EQ(fields[3], "download") << row;
      EXPECT_EQ(fields[7], "500") << row;
      EXPECT_EQ(fields[11], script) << row;
      const bool unfinished = fields[8] == "unfinished";
      EXPECT_TRUE(unfinished || fields[8] == "success") << row;
      if (!unfinished) {
        EXPECT_EQ(fields[4], atr) << row;
        EXPECT_EQ(fields[5], std::to_string(std::filesystem::file_size(script))) << row;
        EXPECT_EQ(fields[6], digest) << row;
        EXPECT_EQ(fields[9], std::to_string(kDownloadCommands)) << row;
      }
      EXPECT_NE(fields[10], "NULL") << row;
      if (!known.contains(fields[0]))
        added.push_back({fields[0], fields[1], fields[2], row, unfinished});
    }
    // The chain holds whatever moment the batch died at.
    {
      std::string error;
      const auto reader =
          journal::Journal::Open(journal, "test", journal::Journal::Access::kRead, &error);
      ASSERT_NE(reader, nullptr) << error;
      journal::ChainReport report;
      ASSERT_TRUE(reader->Verify(&report, &error)) << error;
      EXPECT_EQ(report.first_break, "");
    }

    // Every card whose line was printed is recorded as finished.
    std::map<std::string, std::set<std::string>> printed_of;
    for (const Json& line : CardLines(cli.Out())) {
      ASSERT_TRUE(line["run_id"].is_string()) << line.dump();
      const std::string run_id = line["run_id"].get<std::string>();
      printed_of[line["reader"].get<std::string>()].insert(run_id);
      EXPECT_EQ(line["card"], printed_of[line["reader"].get<std::string>()].size()) << line.dump();
      EXPECT_TRUE(std::any_of(
          added.begin(), added.end(),
          [&](const StoredRun& run) { return run.run_id == run_id && !run.unfinished; }))
          << "card " << run_id << " printed, not recorded as finished";
    }
    // Every card that was touched has one record: finished, or unfinished when the
    // batch died during its run. One more, unfinished, may stand for a card the batch
    // died on after writing its record but before its first command.
    std::map<std::string, std::vector<const StoredRun*>> added_of;
    for (const StoredRun& run : added)
      added_of[run.reader].push_back(&run);
    for (const auto& [reader, touched] : sims.TouchedCards()) {
      const std::vector<const StoredRun*>& runs = added_of[reader];
      const auto unfinished = std::count_if(runs.begin(), runs.end(),
                                            [](const StoredRun* run) { return run->unfinished; });
      EXPECT_LE(unfinished, status == 0 ? 0 : 1) << reader;
      EXPECT_GE(runs.size(), touched) << reader;
      EXPECT_LE(runs.size(), touched + (unfinished > 0 ? 1 : 0)) << reader;
      EXPECT_LE(runs.size() - static_cast<size_t>(unfinished), touched) << reader;
      for (const StoredRun* run : runs) {
        if (run->unfinished) {
          ++unfinished_records;
          for (const StoredRun* other : runs)
            EXPECT_LE(other->time_utc, run->time_utc) << reader << ": " << run->row;
        }
      }
    }
    for (const StoredRun& run : added)
      known.insert(run.run_id);
    if (round == 0) {
      EXPECT_EQ(added.size(), 4u * kCardsPerReader);
    }
  }
  std::cout << "batch " << batch_ms << " ms; " << killed << " of " << kKills
            << " rounds killed mid-batch; " << unfinished_records << " records left unfinished; "
            << known.size() << " records; test "
            << std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - test_start).count()
            << " s" << std::endl;
}

}  // namespace
}  // namespace pelliton::cli
