// What the journal promises an auditor: each station's records chained so that a record
// changed, removed or slipped in is named; journals of the earlier schema upgraded into
// the chain; records written before the card is touched and completed in place; and no
// record taken into a file that is no longer at the journal's path.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "journal/journal.h"
#include "tests/support/scratch_dir.h"

namespace pelliton::journal {
namespace {

// Runs SQL on the file as another program would; "" or SQLite's error.
std::string Sql(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  std::string error;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK ||
      sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
    error = db != nullptr ? sqlite3_errmsg(db) : "out of memory";
  sqlite3_close(db);
  return error;
}

JournalRecord CardRun(const char* station, int counter) {
  JournalRecord record;
  record.time_utc = "2024-05-01T10:00:0" + std::to_string(counter % 10) + ".000Z";
  record.station = station;
  record.procedure = "download";
  record.reader = "PCD 0";
  record.counter_written = counter;
  record.outcome = "success";
  return record;
}

std::unique_ptr<Journal> Writer(const std::string& path) {
  std::string error;
  auto journal = Journal::Open(path, "pelliton-cli", Journal::Access::kAppend, &error);
  EXPECT_NE(journal, nullptr) << error;
  return journal;
}

ChainReport Verified(const std::string& path) {
  std::string error;
  const auto journal = Journal::Open(path, "test", Journal::Access::kRead, &error);
  ChainReport report;
  EXPECT_NE(journal, nullptr) << error;
  if (journal != nullptr) {
    EXPECT_TRUE(journal->Verify(&report, &error)) << error;
  }
  return report;
}

struct Tamper {
  const char* name;
  const char* sql;          // on a journal of station A's records 1..5 and station B's 1
  const char* first_break;  // the start of what Verify names; "" when the chains hold
  const char* why = "";     // and what it says of that record
};

const Tamper kTampers[] = {
    {"Untouched", "", ""},
    {"FieldChanged", "UPDATE card_runs SET counter_written = 5000 WHERE station_seq = 3",
     "station A, record 3 (run id ", "its fields were changed"},
    {"EmptyFieldFilled",
     "UPDATE card_runs SET message = 'x' WHERE station = 'A' AND station_seq = 2",
     "station A, record 2 ", "its fields were changed"},
    {"NumberCleared", "UPDATE card_runs SET counter_written = NULL WHERE station_seq = 4",
     "station A, record 4 ", "its fields were changed"},
    {"DigestRecomputedByHand",
     "UPDATE card_runs SET record_hash = upper(record_hash) WHERE station_seq = 5",
     "station A, record 5 ", "its fields were changed"},
    {"OneRemoved", "DELETE FROM card_runs WHERE station = 'A' AND station_seq = 2",
     "station A, record 3 ", "record 2 before it is missing"},
    {"TwoRemoved", "DELETE FROM card_runs WHERE station = 'A' AND station_seq IN (2, 3)",
     "station A, record 4 ", "records 2 to 3 before it are missing"},
    {"FirstRemoved", "DELETE FROM card_runs WHERE station = 'A' AND station_seq = 1",
     "station A, record 2 ", "record 1 before it is missing"},
    // A station's last records can go unseen: the plant's copy is the check for those.
    {"LastRemovedUnseen", "DELETE FROM card_runs WHERE station = 'B'", ""},
    {"Reordered",
     "UPDATE card_runs SET station_seq = -station_seq WHERE station = 'A' AND station_seq IN (2, "
     "3);"
     "UPDATE card_runs SET station_seq = 5 + station_seq WHERE station_seq < 0",
     "station A, record 2 ", "does not follow the record before it"},
    {"TimeChanged",
     "UPDATE card_runs SET time_utc = '2023-01-01T00:00:00.000Z' WHERE station_seq = 2",
     "station A, record 2 ", "does not follow the record before it"},
    {"ForgedAtTheEnd",
     "INSERT INTO card_runs (run_id, time_utc, station, program, procedure, outcome, station_seq,"
     " chain_hash, record_hash) SELECT 'forged', time_utc, station, program, procedure, outcome, 6,"
     " chain_hash, record_hash FROM card_runs WHERE station = 'A' AND station_seq = 5",
     "station A, record 6 (run id forged)", "does not follow"},
    {"ForgedWithoutPlace",
     "INSERT INTO card_runs (run_id, time_utc, station, program, procedure, outcome)"
     " VALUES ('loose', '2024', 'A', 'p', 'info', 'success')",
     "station A, record ? (run id loose): it has no place"},
    {"OtherStationChanged", "UPDATE card_runs SET reader = 'PCD 9' WHERE station = 'B'",
     "station B, record 1 ", "its fields were changed"},
};

TEST(JournalChain, VerifyNamesTheFirstRecordChangedRemovedOrInserted) {
  for (const Tamper& c : kTampers) {
    ScratchDir dir;
    const std::string path = dir.PathOf("journal.sqlite");
    {
      const auto journal = Writer(path);
      std::string error;
      for (int i = 1; i <= 5; ++i)
        ASSERT_TRUE(journal->Append(CardRun("A", i * 100), &error)) << error;
      ASSERT_TRUE(journal->Append(CardRun("B", 700), &error)) << error;
    }
    ASSERT_EQ(Sql(path, c.sql), "") << c.name;
    const ChainReport report = Verified(path);
    EXPECT_EQ(report.first_break.substr(0, std::string(c.first_break).size()), c.first_break)
        << c.name << ": " << report.first_break;
    EXPECT_EQ(report.first_break.empty(), std::string(c.first_break).empty()) << c.name;
    EXPECT_NE(report.first_break.find(c.why), std::string::npos) << c.name;
  }
}

TEST(JournalChain, RecordsBegunMeanwhileStayChainedWhenOneIsCompleted) {
  ScratchDir dir;
  const std::string path = dir.PathOf("journal.sqlite");
  const auto journal = Writer(path);
  std::string first;
  std::string second;
  std::string error;
  ASSERT_TRUE(journal->Begin(CardRun("A", 1), &first, &error)) << error;
  ASSERT_TRUE(journal->Begin(CardRun("A", 2), &second, &error)) << error;
  JournalQuery unfinished;
  unfinished.unfinished = true;
  std::vector<JournalRecord> records;
  ASSERT_TRUE(journal->List(unfinished, &records, &error));
  EXPECT_EQ(records.size(), 2u);

  JournalRecord done = CardRun("A", 1);
  done.atr = "3B00";
  done.run_id = "ignored";
  done.time_utc = "ignored";
  ASSERT_TRUE(journal->Complete(first, done, &error)) << error;
  // Completed once only.
  EXPECT_FALSE(journal->Complete(first, done, &error));
  EXPECT_NE(error.find("no unfinished run"), std::string::npos) << error;
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_TRUE(journal->Abandon(second, kOutcomeAbandoned, "gave up", &error)) << error;
  EXPECT_FALSE(journal->Abandon(second, kOutcomeAbandoned, "again", &error));

  ASSERT_TRUE(journal->List({}, &records, &error));
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].run_id, first);
  EXPECT_EQ(records[0].time_utc, CardRun("A", 1).time_utc);
  EXPECT_EQ(records[0].atr, "3B00");
  EXPECT_EQ(records[0].outcome, "success");
  EXPECT_EQ(records[0].station_seq, 1);
  EXPECT_EQ(records[1].outcome, "abandoned");
  EXPECT_EQ(records[1].message, "gave up");
  EXPECT_GE(records[1].duration_ms, 5);  // from its start until it was given up
  EXPECT_EQ(records[1].counter_written, 2);
  const ChainReport report = Verified(path);
  EXPECT_EQ(report.first_break, "");
  EXPECT_EQ(report.records, 2);
  EXPECT_EQ(report.unfinished, 1);
}

TEST(JournalChain, AbandonAllCompletesEveryRecordBegunHere) {
  ScratchDir dir;
  const std::string path = dir.PathOf("journal.sqlite");
  const auto journal = Writer(path);
  const auto other = Writer(path);
  std::string ids[3];
  std::string error;
  ASSERT_TRUE(journal->Begin(CardRun("A", 1), &ids[0], &error));
  ASSERT_TRUE(journal->Begin(CardRun("A", 2), &ids[1], &error));
  ASSERT_TRUE(other->Begin(CardRun("A", 3), &ids[2], &error));
  ASSERT_TRUE(journal->Complete(ids[1], CardRun("A", 2), &error));
  ASSERT_TRUE(journal->AbandonAll(kOutcomeInterrupted, "stopped", &error)) << error;
  std::vector<JournalRecord> records;
  ASSERT_TRUE(journal->List({}, &records, &error));
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].outcome, "interrupted");
  EXPECT_EQ(records[1].outcome, "success");
  // Another program's record is its own to complete.
  EXPECT_EQ(records[2].outcome, "unfinished");
  EXPECT_EQ(Verified(path).first_break, "");
}

// The table as the release before the record chain made it, with two records.
constexpr const char* kEarlierJournal =
    "CREATE TABLE card_runs (run_id TEXT PRIMARY KEY NOT NULL, time_utc TEXT NOT NULL,"
    " station TEXT NOT NULL, program TEXT NOT NULL, procedure TEXT NOT NULL, reader TEXT NOT NULL,"
    " atr TEXT NOT NULL, generation TEXT NOT NULL, first_version TEXT NOT NULL,"
    " second_version TEXT NOT NULL, counter_read TEXT NOT NULL, script_path TEXT NOT NULL,"
    " script_size INTEGER, script_sha256 TEXT NOT NULL, counter_written INTEGER,"
    " outcome TEXT NOT NULL, message TEXT NOT NULL, failing_line INTEGER NOT NULL,"
    " transport_result INTEGER, status_word TEXT NOT NULL, duration_ms INTEGER NOT NULL,"
    " apdu_count INTEGER NOT NULL);"
    "CREATE INDEX card_runs_time ON card_runs(time_utc);"
    "CREATE INDEX card_runs_atr ON card_runs(atr);"
    "INSERT INTO card_runs VALUES ('old-1', '2024-01-01T08:00:00.000Z', 'A', 'pelliton', 'info',"
    " 'PCD 0', '3B00', 'V2.00', 'V3.05', 'V3.05', '0500', '', NULL, '', NULL, 'success', 'ok', 0,"
    " NULL, '', 900, 6);"
    "INSERT INTO card_runs VALUES ('old-2', '2024-01-01T08:01:00.000Z', 'A', 'pelliton-cli',"
    " 'download', 'PCD 0', '3B00', 'V2.00', '', '', '', '/s/app.bin', 30, 'ab', 1000, "
    "'card_refused',"
    " 'no', 4, NULL, '6A82', 50, 4);";

TEST(JournalUpgrade, EarlierJournalStartsTheChainWithItsRecords) {
  ScratchDir dir;
  const std::string path = dir.PathOf("journal.sqlite");
  ASSERT_EQ(Sql(path, kEarlierJournal), "");
  std::string error;
  {
    // Read as it is: listed, but there is no chain to check yet.
    const auto reader = Journal::Open(path, "test", Journal::Access::kRead, &error);
    ASSERT_NE(reader, nullptr) << error;
    EXPECT_EQ(reader->SchemaVersion(), 0);
    std::vector<JournalRecord> records;
    ASSERT_TRUE(reader->List({}, &records, &error)) << error;
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].status_word, "6A82");
    EXPECT_FALSE(records[1].station_seq);
    EXPECT_NE(Verified(path).first_break, "");
  }
  std::vector<JournalRecord> before;
  Journal::Open(path, "test", Journal::Access::kRead, &error)->List({}, &before, &error);
  {
    const auto journal = Writer(path);
    ASSERT_NE(journal, nullptr);
    EXPECT_EQ(journal->SchemaVersion(), 1);
    ASSERT_TRUE(journal->Append(CardRun("A", 3), &error)) << error;
  }
  std::vector<JournalRecord> after;
  Journal::Open(path, "test", Journal::Access::kRead, &error)->List({}, &after, &error);
  ASSERT_EQ(after.size(), 3u);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(after[i].station_seq, static_cast<int64_t>(i + 1));
    JournalRecord unchained = after[i];
    unchained.station_seq.reset();
    unchained.chain_hash.clear();
    unchained.record_hash.clear();
    EXPECT_EQ(unchained, before[i]) << i;
  }
  EXPECT_EQ(after[2].station_seq, 3);
  EXPECT_EQ(Verified(path).first_break, "");
  // Opened again: nothing more to upgrade, nothing renumbered.
  Writer(path);
  EXPECT_EQ(Verified(path).records, 3);

  ASSERT_EQ(Sql(path, "PRAGMA user_version = 7"), "");
  EXPECT_EQ(Journal::Open(path, "test", Journal::Access::kAppend, &error), nullptr);
  EXPECT_NE(error.find("newer release (journal schema 7"), std::string::npos) << error;
}

struct PathChange {
  const char* name;
  void (*change)(const ScratchDir& dir, const std::string& path);
};

void RemoveJournal(const std::string& path) {
  for (const char* suffix : {"", "-wal", "-shm"})
    std::filesystem::remove(path + suffix);
}

const PathChange kPathChanges[] = {
    {"Deleted", [](const ScratchDir&, const std::string& path) { RemoveJournal(path); }},
    {"Moved",
     [](const ScratchDir& dir, const std::string& path) {
       std::filesystem::rename(path, dir.PathOf("moved.sqlite"));
     }},
    {"ReplacedByAnotherJournal",
     [](const ScratchDir& dir, const std::string& path) {
       Writer(dir.PathOf("other.sqlite"));
       std::filesystem::rename(dir.PathOf("other.sqlite"), path);
     }},
    {"FolderDeleted",
     [](const ScratchDir&, const std::string& path) {
       std::filesystem::remove_all(std::filesystem::path(path).parent_path());
     }},
};

TEST(JournalPath, NoRecordGoesIntoAFileNoLongerAtThePath) {
  for (const PathChange& c : kPathChanges) {
    ScratchDir dir;
    const std::string path = dir.PathOf("station/journal.sqlite");
    const auto journal = Writer(path);
    std::string error;
    std::string begun;
    ASSERT_TRUE(journal->Begin(CardRun("A", 1), &begun, &error)) << error;
    c.change(dir, path);
    std::string run_id;
    EXPECT_FALSE(journal->Append(CardRun("A", 2), &error, &run_id)) << c.name;
    EXPECT_NE(error.find("was moved, replaced or deleted"), std::string::npos) << c.name << error;
    EXPECT_EQ(run_id, "") << c.name;
    EXPECT_FALSE(journal->Begin(CardRun("A", 3), &run_id, &error)) << c.name;
    EXPECT_FALSE(journal->Complete(begun, CardRun("A", 1), &error)) << c.name;
  }
}

}  // namespace
}  // namespace pelliton::journal
