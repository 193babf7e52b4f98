// The journal: one record per card run of either program, kept in a local SQLite
// database, so a plant can say for any card when it was programmed, with which script,
// at which station and with what result. A card's record is written before the card is
// touched and completed when its run ends; records are never removed, and each station's
// records form a chain of digests that shows a record changed, removed or slipped in.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "journal/file_identity.h"

struct sqlite3;
struct sqlite3_stmt;

namespace pelliton::journal {

// One card run. Texts are empty and numbers absent where the run did not get that far
// or the procedure has no such thing (an info run writes no counter).
struct JournalRecord {
  std::string run_id;         // unique; Append makes one when empty
  std::string time_utc;       // when the run began: "2024-05-01T09:30:12.345Z"
  std::string station;        // host name; Append fills it when empty
  std::string program;        // "pelliton" or "pelliton-cli"; Append fills it when empty
  std::string procedure;      // "download" or "info"
  std::string reader;         // PC/SC reader name, or "Orvo reader"
  std::string atr;            // the answer to reset the run read, upper-case hex
  std::string generation;     // "V1.00", "V1.10", "V2.00"; empty when unknown
  std::string first_version;  // version texts as the card stores them (info)
  std::string second_version;
  std::string counter_read;  // the counter's four characters (info)
  std::string script_path;   // download
  std::optional<int64_t> script_size;
  std::string script_sha256;               // 64 lower-case hex digits
  std::optional<int64_t> counter_written;  // the counter the download wrote or was to write
  std::string outcome;                     // RunEndName of the run's end
  std::string message;                     // as shown, "\r\n" line breaks
  int64_t failing_line = 0;                // 0: no line ended the run
  std::optional<int64_t> transport_result;
  std::string status_word;  // "6A82" when a status word ended the run
  int64_t duration_ms = 0;
  int64_t apdu_count = 0;
  // The record's place in its station's chain, set by the journal when it writes it.
  std::optional<int64_t> station_seq;  // 1, 2, ... per station
  std::string chain_hash;              // SHA-256 hex: the previous link and the first fields
  std::string record_hash;             // SHA-256 hex: chain_hash and every field

  bool operator==(const JournalRecord&) const = default;
};

// Which records List returns; an empty field does not filter.
struct JournalQuery {
  std::string since;        // a time prefix as ParseSinceTime makes it: records at or after it
  std::string reader;       // exactly this reader
  std::string card;         // a run id, or an ATR in hex (any case, blanks and colons ignored)
  bool unfinished = false;  // only runs left in the middle (the outcomes below)
  bool pending = false;     // only records the plant has not acknowledged as they are
};

// The outcomes of a card left in the middle of its run, whose card may be half-loaded:
// "unfinished" (the program died, or is still running it), "abandoned" (its reader was
// given up while a call to it was stuck), "interrupted" (a second signal ended the
// program).
inline constexpr const char* kOutcomeUnfinished = "unfinished";
inline constexpr const char* kOutcomeAbandoned = "abandoned";
inline constexpr const char* kOutcomeInterrupted = "interrupted";
bool LeftUnfinished(std::string_view outcome);

// What Verify found.
struct ChainReport {
  int64_t records = 0;
  int64_t stations = 0;
  int64_t unfinished = 0;  // records left unfinished, abandoned or interrupted
  // The first record (by station, then sequence) that breaks its chain, said as
  // "station S, record N (run id ...): ..."; empty when every chain holds.
  std::string first_break;
};

class Journal {
 public:
  enum class Access { kAppend, kRead };

  // Opens (for kAppend creating it and its folders) the journal at path and checks that
  // it can be written: WAL mode, the table in place, not read-only. program fills the
  // records' program field. nullptr with a one-line *error on any failure.
  static std::unique_ptr<Journal> Open(const std::string& path, const std::string& program,
                                       Access access, std::string* error);
  ~Journal();
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  // Adds the record in a transaction of its own, durable when it returns true. Waits
  // (up to kBusyTimeoutMs) while another program writes. Safe from several threads.
  // run_id (optional) receives the record's run id once it is written. Every write first
  // checks that the journal's path still names the file it opened: a journal moved,
  // replaced or deleted takes no record, and says so.
  bool Append(JournalRecord record, std::string* error, std::string* run_id = nullptr);

  // Writes the record of a run about to touch a card, with the outcome "unfinished",
  // so a card whose program dies mid-run still has one. *run_id receives its run id.
  bool Begin(JournalRecord record, std::string* run_id, std::string* error);
  // Completes the unfinished record run_id in place with the run's end: every field but
  // the run id, time, station, program and chain link, which stay as Begin wrote them.
  // False when no unfinished record has that run id.
  bool Complete(const std::string& run_id, JournalRecord record, std::string* error);

  // Completes a record this journal began and has not completed yet as a run left in
  // the middle: outcome (kOutcomeAbandoned, kOutcomeInterrupted) and message, the rest
  // as Begin wrote it, its duration until now.
  bool Abandon(const std::string& run_id, const char* outcome, const std::string& message,
               std::string* error);
  // The same for every record it began and has not completed: when the program ends
  // at once. Safe from any thread.
  bool AbandonAll(const char* outcome, const std::string& message, std::string* error);

  // Calls each with the records that match, oldest first, one at a time; each returns
  // false to stop early (ForEach then returns true).
  bool ForEach(const JournalQuery& query, const std::function<bool(const JournalRecord&)>& each,
               std::string* error);
  // The records that match, oldest first.
  bool List(const JournalQuery& query, std::vector<JournalRecord>* records, std::string* error);
  // Runs body with every read in it seeing the journal as it was when body began,
  // whatever other programs write meanwhile; body's own result is returned.
  bool Snapshot(const std::function<bool(std::string* error)>& body, std::string* error);

  // Walks every station's chain. False only when the journal could not be read; whether
  // the chains hold is in *report.
  bool Verify(ChainReport* report, std::string* error);

  // The plant's outbox. A record is pending until the plant has acknowledged it with the
  // digest it has now: one completed or changed after its delivery is pending again.
  // Pending gives up to `limit` pending records after *cursor in each station's order
  // and moves *cursor past them; a cursor at its start begins at the first record.
  struct OutboxCursor {
    std::string station;
    int64_t seq = -1;
  };
  bool Pending(OutboxCursor* cursor, size_t limit, std::vector<JournalRecord>* records,
               std::string* error);
  bool CountPending(int64_t* count, std::string* error);
  // Marks records delivered, each with the digest it had when it was sent.
  bool MarkDelivered(const std::vector<JournalRecord>& records, std::string* error);
  // Called after each record this journal commits (written or completed), from the
  // writing thread: how the plant's sender hears of it.
  void SetOnCommit(std::function<void()> listener) {
    const std::lock_guard lock(mutex_);
    on_commit_ = std::move(listener);
  }

  // The schema version of the file (an older one is upgraded when opened for appending).
  int SchemaVersion() const { return schema_version_; }

  const std::string& Path() const { return path_; }

  // How long a writer waits for another one before a record counts as failed.
  static constexpr int kBusyTimeoutMs = 10000;

 private:
  Journal(sqlite3* db, std::string path, std::string program);
  bool Prepare(std::string* error);
  bool Upgrade(std::string* error);
  // In a write transaction: the record's place after the last record of its station.
  bool Chain(JournalRecord& record, std::string* error);
  bool Insert(JournalRecord& record, std::string* error);
  // Ends a write transaction: COMMIT when the path still names the file, else ROLLBACK.
  bool Commit(std::string* error);
  void Fill(JournalRecord& record);

  sqlite3* db_;
  sqlite3_stmt* insert_ = nullptr;
  std::string path_;
  std::string program_;
  std::string station_;
  int schema_version_ = 0;
  std::optional<FileIdentity> identity_;
  // The records Begin wrote that are not completed yet, with when they began.
  struct Begun {
    JournalRecord record;
    std::chrono::steady_clock::time_point start;
  };
  std::map<std::string, Begun> begun_;
  std::recursive_mutex mutex_;
  std::function<void()> on_commit_;
  std::mt19937_64 random_;
};

// Whether this build keeps a journal. A build without SQLite keeps none: Open then always
// fails, saying so, and the programs run their cards without records.
bool JournalKept();

// $XDG_DATA_HOME/pelliton/journal.sqlite, else ~/.local/share/pelliton/journal.sqlite;
// empty when neither variable gives an absolute folder.
std::string DefaultJournalPath();

// A --since argument (UTC): "YYYY-MM-DD", optionally followed by "THH:MM", ":SS" and
// ".fff" (a blank may stand for the T, a trailing Z is allowed). On success *prefix is
// the text records are compared with. False for anything else.
bool ParseSinceTime(std::string_view text, std::string* prefix);

// An ATR or other byte string typed by hand as upper-case hex without separators;
// empty when it holds anything but hex digits, blanks and colons.
std::string NormalizeHex(std::string_view text);

}  // namespace pelliton::journal
