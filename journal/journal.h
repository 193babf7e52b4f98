// The journal: one record per card run of either program, kept in a local SQLite
// database, so a plant can say for any card when it was programmed, with which script,
// at which station and with what result. Records are only ever appended.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

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

  bool operator==(const JournalRecord&) const = default;
};

// Which records List returns; an empty field does not filter.
struct JournalQuery {
  std::string since;   // a time prefix as ParseSinceTime makes it: records at or after it
  std::string reader;  // exactly this reader
  std::string card;    // a run id, or an ATR in hex (any case, blanks and colons ignored)
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
  // run_id (optional) receives the record's run id once it is written.
  bool Append(JournalRecord record, std::string* error, std::string* run_id = nullptr);

  // The records that match, oldest first.
  bool List(const JournalQuery& query, std::vector<JournalRecord>* records, std::string* error);

  const std::string& Path() const { return path_; }

  // How long a writer waits for another one before a record counts as failed.
  static constexpr int kBusyTimeoutMs = 10000;

 private:
  Journal(sqlite3* db, std::string path, std::string program);
  bool Prepare(std::string* error);

  sqlite3* db_;
  sqlite3_stmt* insert_ = nullptr;
  std::string path_;
  std::string program_;
  std::string station_;
  std::mutex mutex_;
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
