// The journal store: what it refuses to open, two writers at once, and the records made
// from the procedures' outcomes.
#include "journal/journal.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "journal/card_record.h"
#include "journal/sha256.h"
#include "tests/support/fake_orvo.h"
#include "tests/support/fake_pcsc.h"
#include "tests/support/scratch_dir.h"

namespace pelliton::journal {
namespace {

struct OpenFailure {
  const char* name;
  // Makes the path to open inside the scratch folder.
  std::string (*prepare)(const ScratchDir& dir);
  Journal::Access access;
  const char* error_part;
};

const OpenFailure kOpenFailures[] = {
    {"FolderIsAFile",
     [](const ScratchDir& dir) { return dir.Write("plain", "x") + "/journal.sqlite"; },
     Journal::Access::kAppend, "cannot create the folder"},
    {"PathIsAFolder",
     [](const ScratchDir& dir) {
       std::filesystem::create_directories(dir.PathOf("folder"));
       return dir.PathOf("folder");
     },
     Journal::Access::kAppend, "cannot open"},
    {"NotADatabase",
     [](const ScratchDir& dir) { return dir.Write("text.sqlite", std::string(4096, 'x')); },
     Journal::Access::kAppend, "not a database"},
    {"ReadingAMissingJournal", [](const ScratchDir& dir) { return dir.PathOf("missing.sqlite"); },
     Journal::Access::kRead, "cannot open"},
    {"NoPathAtAll", [](const ScratchDir&) { return std::string(); }, Journal::Access::kAppend,
     "no journal path"},
};

TEST(JournalOpen, RefusesWhatCannotHoldRecords) {
  for (const OpenFailure& c : kOpenFailures) {
    ScratchDir dir;
    std::string error;
    EXPECT_EQ(Journal::Open(c.prepare(dir), "test", c.access, &error), nullptr) << c.name;
    EXPECT_NE(error.find(c.error_part), std::string::npos) << c.name << ": " << error;
  }
}

// Two programs append at once: each waits for the other, no record is lost or failed.
TEST(JournalWriters, TwoConnectionsAppendingAtOnceLoseNothing) {
  ScratchDir dir;
  const std::string path = dir.PathOf("deep/folder/journal.sqlite");
  constexpr int kPerWriter = 150;
  std::vector<int> failures(2, 0);
  std::vector<std::thread> writers;
  for (int w = 0; w < 2; ++w) {
    writers.emplace_back([&, w] {
      std::string error;
      const auto journal =
          Journal::Open(path, "writer" + std::to_string(w), Journal::Access::kAppend, &error);
      if (journal == nullptr) {
        failures[w] = kPerWriter;
        return;
      }
      for (int i = 0; i < kPerWriter; ++i) {
        JournalRecord record;
        record.time_utc = "2024-05-01T10:00:00.000Z";
        record.procedure = "info";
        record.outcome = "success";
        record.apdu_count = i;
        if (!journal->Append(record, &error))
          ++failures[w];
      }
    });
  }
  for (std::thread& writer : writers)
    writer.join();
  EXPECT_EQ(failures, (std::vector<int>{0, 0}));

  std::string error;
  const auto reader = Journal::Open(path, "reader", Journal::Access::kRead, &error);
  ASSERT_NE(reader, nullptr) << error;
  std::vector<JournalRecord> records;
  ASSERT_TRUE(reader->List({}, &records, &error)) << error;
  ASSERT_EQ(records.size(), 2u * kPerWriter);
  std::set<std::string> ids;
  std::multiset<std::string> programs;
  for (const JournalRecord& r : records) {
    ids.insert(r.run_id);
    programs.insert(r.program);
  }
  EXPECT_EQ(ids.size(), records.size());
  EXPECT_EQ(programs.count("writer0"), static_cast<size_t>(kPerWriter));
  EXPECT_EQ(programs.count("writer1"), static_cast<size_t>(kPerWriter));
}

// A V2.00 card's answer to reset (the generation byte at offset 17).
const std::vector<uint8_t> kAtr = {0x3B, 0x9F, 0x95, 0x81, 0x31, 0xFE, 0x9F, 0x00, 0x66, 0x46,
                                   0x53, 0x05, 0x01, 0x00, 0x11, 0x71, 0xDF, 0x04, 0x00, 0x00};
const char kAtrHex[] = "3B9F958131FE9F006646530501001171DF040000";

struct RecordCase {
  const char* name;
  bool download;
  ReaderMode mode;
  RunEnd end;
  uint32_t counter;  // download
  bool with_info;    // info: the card's texts were read
  const char* reader;
  const char* atr;
  const char* generation;
  const char* outcome;
  const char* status_word;
  bool reset = true;  // the run reset the card and read its ATR
};

const RecordCase kRecordCases[] = {
    {"DownloadSucceeded", true, ReaderMode::Pcsc, RunEnd::kSuccess, 1000, false, "PCD 0", kAtrHex,
     "V2.00", "success", ""},
    // Refused before the reset: the ATR in the connection is an earlier card's.
    {"DownloadRefusedBeforeReset", true, ReaderMode::Pcsc, RunEnd::kRefused, 9000, false, "PCD 0",
     "", "", "refused", ""},
    // Written, but what the card read back afterwards differs.
    {"DownloadReadBackDiffers", true, ReaderMode::Pcsc, RunEnd::kReadBack, 1000, false, "PCD 0",
     kAtrHex, "V2.00", "read_back", ""},
    {"DownloadRefusedByCard", true, ReaderMode::UsbReader, RunEnd::kCardRefused, 500, false,
     "Orvo reader", kAtrHex, "V2.00", "card_refused", "6A82"},
    {"InfoRead", false, ReaderMode::Pcsc, RunEnd::kSuccess, 0, true, "PCD 0", kAtrHex, "V2.00",
     "success", ""},
    // The script was refused before any reset: the ATR in the connection is the last card's.
    {"DownloadScriptRefusedAfterAnotherCard", true, ReaderMode::Pcsc, RunEnd::kScriptRefused, 500,
     false, "PCD 0", "", "", "script_refused", "", false},
    {"InfoResetFailed", false, ReaderMode::Pcsc, RunEnd::kResetFailed, 0, false, "PCD 0", "", "",
     "reset_failed", ""},
};

TEST(CardRecord, FromOutcomeAndConnection) {
  ScratchDir dir;
  const std::string script = dir.Write("app.bin", "F05D0100090000200000011FFF00\r\n");
  for (const RecordCase& c : kRecordCases) {
    testing::FakePcsc pcsc;
    testing::FakeOrvo orvo;
    CardAccess card(pcsc, orvo);
    card.Mode() = c.mode;
    // An earlier card's ATR stays in the connection; only this run's reset may name one.
    std::copy(kAtr.begin(), kAtr.end(), card.Connection().atr);
    card.Connection().atr_length = static_cast<uint32_t>(kAtr.size());
    pcsc.readers = {"PCD 0"};
    pcsc.atr = kAtr;
    orvo.atr = kAtr;
    std::vector<std::string> names;
    card.ListReaders(&names);
    card.SelectReader("PCD 0");

    const RunClock clock(card);
    if (c.reset)
      card.ResetCard();
    JournalRecord record;
    if (c.download) {
      DownloadOutcome outcome;
      outcome.end = c.end;
      outcome.counter = c.counter;
      outcome.exchanges = 7;
      if (c.end == RunEnd::kCardRefused)
        outcome.status_word = StatusWord{0x6A, 0x82};
      record = DownloadRecord(clock, outcome, card, script);
      EXPECT_EQ(record.procedure, "download") << c.name;
      EXPECT_EQ(record.counter_written, c.counter) << c.name;
      EXPECT_EQ(record.script_size, 30) << c.name;
      EXPECT_EQ(record.script_sha256, Sha256Hex("F05D0100090000200000011FFF00\r\n")) << c.name;
      EXPECT_EQ(record.apdu_count, 7) << c.name;
    } else {
      CardInfoOutcome outcome;
      outcome.end = c.end;
      if (c.end == RunEnd::kResetFailed)
        outcome.transport_result = -2146435060;
      if (c.with_info) {
        CardInfo info;
        info.generation = VersionClass::kV200;
        info.first_text = "V3.050500";
        info.second_text = "V3.050500";
        info.counter = "0500";
        outcome.info = info;
      }
      record = InfoRecord(clock, outcome, card);
      EXPECT_EQ(record.procedure, "info") << c.name;
      EXPECT_FALSE(record.counter_written) << c.name;
      EXPECT_EQ(record.first_version, c.with_info ? "V3.050500" : "") << c.name;
      EXPECT_EQ(record.counter_read, c.with_info ? "0500" : "") << c.name;
      EXPECT_EQ(record.transport_result.has_value(), c.end == RunEnd::kResetFailed) << c.name;
    }
    EXPECT_EQ(record.reader, c.reader) << c.name;
    EXPECT_EQ(record.atr, c.atr) << c.name;
    EXPECT_EQ(record.generation, c.generation) << c.name;
    EXPECT_EQ(record.outcome, c.outcome) << c.name;
    EXPECT_EQ(record.status_word, c.status_word) << c.name;
    EXPECT_EQ(record.time_utc.size(), 24u) << record.time_utc;
    EXPECT_EQ(record.time_utc.back(), 'Z') << record.time_utc;
  }
}

TEST(CardRecord, UtcTextKeepsMillisecondsAndTheDate) {
  using namespace std::chrono;
  const struct {
    sys_time<milliseconds> time;
    const char* text;
  } cases[] = {
      {sys_days{year{2024} / 2 / 29} + hours{23} + minutes{59} + seconds{59} + milliseconds{999},
       "2024-02-29T23:59:59.999Z"},
      {sys_days{year{1970} / 1 / 1} + milliseconds{7}, "1970-01-01T00:00:00.007Z"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(UtcText(c.time), c.text);
}

}  // namespace
}  // namespace pelliton::journal
