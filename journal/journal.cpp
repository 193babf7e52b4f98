// The journal over SQLite's C API. One connection per Journal; WAL so readers never block
// the writer; synchronous=FULL so a committed record survives a power cut, not only a
// crash of the program (a card that left the station must have its record); BEGIN
// IMMEDIATE so two writers queue on the busy timeout instead of failing mid-transaction.
#include "journal/journal.h"

#include "journal/card_record.h"
#include "journal/record_fields.h"

#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <system_error>
#include <thread>

namespace pelliton::journal {

namespace {

constexpr const char* kTable = "card_runs";

// A column's definition as CREATE TABLE and ALTER TABLE ADD COLUMN take it. Defaults let
// a migration add a column to a table that holds records.
std::string ColumnDefinition(const RecordField& field) {
  std::string definition = field.name;
  if (field.text == &JournalRecord::run_id)
    return definition + " TEXT PRIMARY KEY NOT NULL";
  switch (field.kind) {
    case FieldKind::kText:
      return definition + " TEXT NOT NULL DEFAULT ''";
    case FieldKind::kNumber:
      return definition + " INTEGER NOT NULL DEFAULT 0";
    case FieldKind::kOptionalNumber:
      break;
  }
  return definition + " INTEGER";
}

std::string CreateTableSql() {
  std::string sql = std::string("CREATE TABLE ") + kTable + " (";
  for (const RecordField& field : RecordFields())
    sql += (&field == RecordFields().data() ? "" : ", ") + ColumnDefinition(field);
  return sql + ")";
}

constexpr const char* kIndexes =
    "CREATE INDEX IF NOT EXISTS card_runs_time ON card_runs(time_utc);"
    "CREATE INDEX IF NOT EXISTS card_runs_atr ON card_runs(atr);"
    // One record per place in a station's chain: two writers never fork it.
    "CREATE UNIQUE INDEX IF NOT EXISTS card_runs_chain ON card_runs(station, station_seq);"
    // The plant's acknowledgements: a table beside the records, which older releases
    // pass over, so it needs no schema version of its own.
    "CREATE TABLE IF NOT EXISTS plant_deliveries (run_id TEXT PRIMARY KEY NOT NULL,"
    " record_hash TEXT NOT NULL, delivered_utc TEXT NOT NULL);";

constexpr const char* kDeliveries = "plant_deliveries";

// The columns as a file of schema version `version` has them, in RecordFields order: a
// column it does not have yet is read as its default.
std::string ColumnList(int version) {
  std::string list;
  for (const RecordField& field : RecordFields()) {
    if (!list.empty())
      list += ", ";
    if (field.since <= version)
      list += field.name;
    else
      list += field.kind == FieldKind::kText ? "''" : "NULL";
  }
  return list;
}

std::string Failure(sqlite3* db, std::string_view what) {
  return std::string(what) + ": " + (db != nullptr ? sqlite3_errmsg(db) : "out of memory");
}

bool Exec(sqlite3* db, const char* sql, std::string* error) {
  if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK)
    return true;
  *error = Failure(db, sql);
  return false;
}

std::string HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0)
    return "";
  return name;
}

// Asks for WAL mode; *mode_name is the mode the database is in after it (empty when the
// statement failed). Returns the step's primary result code.
int SetWalMode(sqlite3* db, std::string* mode_name) {
  mode_name->clear();
  sqlite3_stmt* mode = nullptr;
  int rc = sqlite3_prepare_v2(db, "PRAGMA journal_mode=WAL", -1, &mode, nullptr);
  if (rc == SQLITE_OK) {
    rc = sqlite3_step(mode);
    if (rc == SQLITE_ROW) {
      const unsigned char* name = sqlite3_column_text(mode, 0);
      *mode_name = name != nullptr ? reinterpret_cast<const char*>(name) : "";
    }
  }
  sqlite3_finalize(mode);
  return rc & 0xFF;
}

// A version 4 UUID in its usual text form.
std::string NewRunId(std::mt19937_64& random) {
  uint64_t high = random();
  uint64_t low = random();
  high = (high & ~0xF000ull) | 0x4000ull;
  low = (low & ~(0xC000ull << 48)) | (0x8000ull << 48);
  char text[37];
  std::snprintf(text, sizeof text, "%08x-%04x-%04x-%04x-%012llx", static_cast<unsigned>(high >> 32),
                static_cast<unsigned>((high >> 16) & 0xFFFF), static_cast<unsigned>(high & 0xFFFF),
                static_cast<unsigned>(low >> 48),
                static_cast<unsigned long long>(low & 0xFFFFFFFFFFFFull));
  return text;
}

// Binds the record's fields in RecordFields order, from parameter 1.
void BindRecord(sqlite3_stmt* statement, const JournalRecord& record) {
  int at = 0;
  for (const RecordField& field : RecordFields()) {
    ++at;
    if (field.kind == FieldKind::kText) {
      const std::string& value = record.*field.text;
      sqlite3_bind_text(statement, at, value.data(), static_cast<int>(value.size()),
                        SQLITE_TRANSIENT);
    } else if (const std::optional<int64_t> value = FieldNumber(field, record)) {
      sqlite3_bind_int64(statement, at, *value);
    } else {
      sqlite3_bind_null(statement, at);
    }
  }
}

// Reads the record from columns first.. in RecordFields order.
JournalRecord ReadRecord(sqlite3_stmt* statement, int first = 0) {
  JournalRecord record;
  int at = first;
  for (const RecordField& field : RecordFields()) {
    const bool null = sqlite3_column_type(statement, at) == SQLITE_NULL;
    switch (field.kind) {
      case FieldKind::kText: {
        const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement, at));
        const int size = sqlite3_column_bytes(statement, at);
        if (bytes != nullptr)
          (record.*field.text).assign(bytes, static_cast<size_t>(size));
        break;
      }
      case FieldKind::kNumber:
        record.*field.number = null ? 0 : sqlite3_column_int64(statement, at);
        break;
      case FieldKind::kOptionalNumber:
        if (!null)
          record.*field.optional_number = sqlite3_column_int64(statement, at);
        break;
    }
    ++at;
  }
  return record;
}

// Finalizes a statement on every path out of a function.
struct StatementGuard {
  sqlite3_stmt* statement = nullptr;
  ~StatementGuard() { sqlite3_finalize(statement); }
};

}  // namespace

Journal::Journal(sqlite3* db, std::string path, std::string program)
    : db_(db),
      path_(std::move(path)),
      program_(std::move(program)),
      station_(HostName()),
      random_(std::random_device{}() ^ (static_cast<uint64_t>(std::random_device{}()) << 32)) {}

Journal::~Journal() {
  sqlite3_finalize(insert_);
  sqlite3_close(db_);
}

namespace {

// PRAGMA user_version, or -1 when it cannot be read.
int UserVersion(sqlite3* db) {
  StatementGuard pragma;
  if (sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &pragma.statement, nullptr) != SQLITE_OK ||
      sqlite3_step(pragma.statement) != SQLITE_ROW)
    return -1;
  return sqlite3_column_int(pragma.statement, 0);
}

bool TableExists(sqlite3* db, const char* table = kTable) {
  StatementGuard probe;
  return sqlite3_prepare_v2(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?1",
                            -1, &probe.statement, nullptr) == SQLITE_OK &&
         sqlite3_bind_text(probe.statement, 1, table, -1, SQLITE_STATIC) == SQLITE_OK &&
         sqlite3_step(probe.statement) == SQLITE_ROW;
}

// " AND" a record of card_runs is pending: the plant holds no acknowledgement of it with
// the digest it has now. A journal never opened for appending by this release has no
// acknowledgements yet: everything is pending.
std::string PendingCondition(sqlite3* db) {
  if (!TableExists(db, kDeliveries))
    return "";
  return " AND NOT EXISTS (SELECT 1 FROM plant_deliveries d WHERE d.run_id = card_runs.run_id"
         " AND d.record_hash = card_runs.record_hash)";
}

// Version 1 starts each station's chain with the records it already holds, in the order
// they were written.
bool ChainExistingRecords(sqlite3* db, std::string* error) {
  StatementGuard select;
  StatementGuard update;
  const std::string sql =
      "SELECT rowid, " + ColumnList(kSchemaVersion) + " FROM card_runs ORDER BY rowid";
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &select.statement, nullptr) != SQLITE_OK ||
      sqlite3_prepare_v2(db,
                         "UPDATE card_runs SET station_seq = ?1, chain_hash = ?2, record_hash = ?3"
                         " WHERE rowid = ?4",
                         -1, &update.statement, nullptr) != SQLITE_OK) {
    *error = Failure(db, "upgrading the journal");
    return false;
  }
  struct Last {
    int64_t seq = 0;
    std::string link;
  };
  std::map<std::string, Last> last_of;
  int rc = SQLITE_OK;
  while ((rc = sqlite3_step(select.statement)) == SQLITE_ROW) {
    JournalRecord record = ReadRecord(select.statement, 1);
    Last& last = last_of[record.station];
    record.station_seq = ++last.seq;
    record.chain_hash = ChainLink(last.link, record);
    record.record_hash = RecordDigest(record);
    last.link = record.chain_hash;
    sqlite3_bind_int64(update.statement, 1, *record.station_seq);
    sqlite3_bind_text(update.statement, 2, record.chain_hash.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(update.statement, 3, record.record_hash.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(update.statement, 4, sqlite3_column_int64(select.statement, 0));
    const int step = sqlite3_step(update.statement);
    sqlite3_reset(update.statement);
    if (step != SQLITE_DONE) {
      *error = Failure(db, "upgrading the journal");
      return false;
    }
  }
  if (rc != SQLITE_DONE) {
    *error = Failure(db, "upgrading the journal");
    return false;
  }
  return true;
}

// What each schema version's migration does besides adding its columns.
bool MigrateTo(int version, sqlite3* db, std::string* error) {
  if (version == 1)
    return ChainExistingRecords(db, error);
  return true;
}

}  // namespace

// In the open's write transaction: a new file gets the whole table, an older one each
// later version's columns and migration, in turn.
bool Journal::Upgrade(std::string* error) {
  const int version = UserVersion(db_);
  const bool exists = TableExists(db_);
  if (version < 0) {
    *error = Failure(db_, path_ + ": reading the schema version");
    return false;
  }
  if (version > kSchemaVersion) {
    *error = path_ + " was written by a newer release (journal schema " + std::to_string(version) +
             "; this one writes " + std::to_string(kSchemaVersion) + ")";
    return false;
  }
  if (!exists) {
    if (!Exec(db_, CreateTableSql().c_str(), error))
      return false;
  } else {
    for (int next = version + 1; next <= kSchemaVersion; ++next) {
      for (const RecordField& field : RecordFields()) {
        if (field.since != next)
          continue;
        const std::string add =
            std::string("ALTER TABLE ") + kTable + " ADD COLUMN " + ColumnDefinition(field);
        if (!Exec(db_, add.c_str(), error))
          return false;
      }
      if (!MigrateTo(next, db_, error))
        return false;
    }
  }
  if (!Exec(db_, kIndexes, error))
    return false;
  const std::string set_version = "PRAGMA user_version = " + std::to_string(kSchemaVersion);
  if (!Exec(db_, set_version.c_str(), error))
    return false;
  schema_version_ = kSchemaVersion;
  return true;
}

std::unique_ptr<Journal> Journal::Open(const std::string& path, const std::string& program,
                                       Access access, std::string* error) {
  if (path.empty()) {
    *error = "no journal path (neither XDG_DATA_HOME nor HOME is set)";
    return nullptr;
  }
  const bool append = access == Access::kAppend;
  if (append) {
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    std::error_code ec;
    if (!parent.empty())
      std::filesystem::create_directories(parent, ec);
    if (ec) {
      *error = "cannot create the folder " + parent.string() + ": " + ec.message();
      return nullptr;
    }
  }
  sqlite3* db = nullptr;
  const int flags = append ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY;
  if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    *error = Failure(db, "cannot open " + path);
    sqlite3_close(db);
    return nullptr;
  }
  std::unique_ptr<Journal> journal(new Journal(db, path, program));
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  sqlite3_extended_result_codes(db, 1);

  if (append) {
    if (sqlite3_db_readonly(db, "main") == 1) {
      *error = path + " is read-only";
      return nullptr;
    }
    // The mode is the database's own and stays; asking again is cheap. Turning a new
    // file to WAL needs it alone for a moment: a second program opening it then gets
    // SQLITE_BUSY at once, without its busy handler (waiting there could deadlock), so
    // it asks again for as long as a writer would wait.
    const auto give_up =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMs);
    std::string mode_name;
    while (SetWalMode(db, &mode_name) == SQLITE_BUSY &&
           std::chrono::steady_clock::now() < give_up) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (mode_name != "wal") {
      *error = Failure(db, path + ": cannot use write-ahead logging");
      return nullptr;
    }
    // The file SQLite now has open, which every later commit checks is still at path.
    journal->identity_ = IdentityOf(path);
    if (!Exec(db, "PRAGMA synchronous=FULL", error))
      return nullptr;
    // Creating or upgrading the table is also the proof that the file takes a write.
    if (!Exec(db, "BEGIN IMMEDIATE", error))
      return nullptr;
    if (!journal->Upgrade(error) || !journal->Commit(error)) {
      sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
      return nullptr;
    }
    if (!journal->Prepare(error))
      return nullptr;
  } else {
    // A file that is no journal is said so now, not at the first query.
    StatementGuard probe;
    if (sqlite3_prepare_v2(db, "SELECT count(*) FROM card_runs", -1, &probe.statement, nullptr) !=
        SQLITE_OK) {
      *error = Failure(db, path + " is no journal");
      return nullptr;
    }
    journal->schema_version_ = UserVersion(db);
  }
  return journal;
}

bool JournalKept() {
  return true;
}

bool Journal::Prepare(std::string* error) {
  std::string sql =
      std::string("INSERT INTO card_runs (") + ColumnList(kSchemaVersion) + ") VALUES (";
  for (size_t i = 0; i < RecordFields().size(); ++i)
    sql += i == 0 ? "?" : ", ?";
  sql += ")";
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &insert_, nullptr) != SQLITE_OK) {
    *error = Failure(db_, "preparing the journal's insert");
    return false;
  }
  return true;
}

void Journal::Fill(JournalRecord& record) {
  if (record.run_id.empty())
    record.run_id = NewRunId(random_);
  if (record.station.empty())
    record.station = station_;
  if (record.program.empty())
    record.program = program_;
}

bool Journal::Chain(JournalRecord& record, std::string* error) {
  StatementGuard last;
  if (sqlite3_prepare_v2(db_,
                         "SELECT station_seq, chain_hash FROM card_runs WHERE station = ?1"
                         " AND station_seq IS NOT NULL ORDER BY station_seq DESC LIMIT 1",
                         -1, &last.statement, nullptr) != SQLITE_OK) {
    *error = Failure(db_, "writing the journal");
    return false;
  }
  sqlite3_bind_text(last.statement, 1, record.station.data(),
                    static_cast<int>(record.station.size()), SQLITE_TRANSIENT);
  int64_t seq = 0;
  std::string link;
  const int rc = sqlite3_step(last.statement);
  if (rc == SQLITE_ROW) {
    seq = sqlite3_column_int64(last.statement, 0);
    const auto* text = sqlite3_column_text(last.statement, 1);
    link = text != nullptr ? reinterpret_cast<const char*>(text) : "";
  } else if (rc != SQLITE_DONE) {
    *error = Failure(db_, "writing the journal");
    return false;
  }
  record.station_seq = seq + 1;
  record.chain_hash = ChainLink(link, record);
  record.record_hash = RecordDigest(record);
  return true;
}

bool Journal::Insert(JournalRecord& record, std::string* error) {
  if (!Chain(record, error))
    return false;
  BindRecord(insert_, record);
  const int rc = sqlite3_step(insert_);
  sqlite3_reset(insert_);
  sqlite3_clear_bindings(insert_);
  if (rc != SQLITE_DONE) {
    *error = Failure(db_, "writing the journal");
    return false;
  }
  return true;
}

bool Journal::Commit(std::string* error) {
  // A journal moved, replaced or deleted would take this record where nobody reads it.
  if (!identity_ || IdentityOf(path_) != identity_) {
    *error = path_ + " was moved, replaced or deleted while in use; no record is written into it";
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    return false;
  }
  if (!Exec(db_, "COMMIT", error)) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    return false;
  }
  return true;
}

bool Journal::Append(JournalRecord record, std::string* error, std::string* run_id) {
  const std::lock_guard lock(mutex_);
  if (insert_ == nullptr) {
    *error = "the journal is open for reading only";
    return false;
  }
  Fill(record);
  // BEGIN IMMEDIATE takes the write lock at once, where the busy timeout applies; a
  // deferred transaction could find the lock taken only at its first write and fail.
  if (!Exec(db_, "BEGIN IMMEDIATE", error))
    return false;
  if (!Insert(record, error)) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    return false;
  }
  if (!Commit(error))
    return false;
  if (on_commit_)
    on_commit_();
  if (run_id != nullptr)
    *run_id = std::move(record.run_id);
  return true;
}

bool Journal::Begin(JournalRecord record, std::string* run_id, std::string* error) {
  const std::lock_guard lock(mutex_);
  record.outcome = kOutcomeUnfinished;
  if (!Append(record, error, run_id))
    return false;
  begun_[*run_id] = {std::move(record), std::chrono::steady_clock::now()};
  return true;
}

bool Journal::Abandon(const std::string& run_id, const char* outcome, const std::string& message,
                      std::string* error) {
  const std::lock_guard lock(mutex_);
  const auto found = begun_.find(run_id);
  if (found == begun_.end()) {
    *error = "the journal holds no unfinished run " + run_id + " of this program";
    return false;
  }
  JournalRecord record = found->second.record;
  record.outcome = outcome;
  record.message = message;
  record.duration_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - found->second.start)
                           .count();
  return Complete(run_id, std::move(record), error);
}

bool Journal::AbandonAll(const char* outcome, const std::string& message, std::string* error) {
  const std::lock_guard lock(mutex_);
  std::vector<std::string> run_ids;
  for (const auto& [run_id, begun] : begun_)
    run_ids.push_back(run_id);
  bool all = true;
  for (const std::string& run_id : run_ids)
    all = Abandon(run_id, outcome, message, error) && all;
  return all;
}

bool Journal::Complete(const std::string& run_id, JournalRecord record, std::string* error) {
  const std::lock_guard lock(mutex_);
  if (insert_ == nullptr) {
    *error = "the journal is open for reading only";
    return false;
  }
  if (!Exec(db_, "BEGIN IMMEDIATE", error))
    return false;
  const auto fail = [&](std::string why) {
    *error = std::move(why);
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    return false;
  };
  StatementGuard select;
  const std::string read =
      "SELECT " + ColumnList(kSchemaVersion) + " FROM card_runs WHERE run_id = ?1 AND outcome = ?2";
  if (sqlite3_prepare_v2(db_, read.c_str(), -1, &select.statement, nullptr) != SQLITE_OK)
    return fail(Failure(db_, "writing the journal"));
  sqlite3_bind_text(select.statement, 1, run_id.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(select.statement, 2, kOutcomeUnfinished, -1, SQLITE_STATIC);
  const int rc = sqlite3_step(select.statement);
  if (rc != SQLITE_ROW) {
    return fail(rc == SQLITE_DONE ? "the journal holds no unfinished run " + run_id
                                  : Failure(db_, "writing the journal"));
  }
  const JournalRecord begun = ReadRecord(select.statement);
  record.run_id = begun.run_id;
  record.time_utc = begun.time_utc;
  record.station = begun.station;
  record.program = begun.program;
  record.station_seq = begun.station_seq;
  record.chain_hash = begun.chain_hash;
  record.record_hash = RecordDigest(record);

  StatementGuard update;
  std::string sql = "UPDATE card_runs SET ";
  int at = 0;
  for (const RecordField& field : RecordFields()) {
    sql += std::string(at == 0 ? "" : ", ") + field.name + " = ?" + std::to_string(at + 1);
    ++at;
  }
  sql += " WHERE run_id = ?" + std::to_string(at + 1);
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &update.statement, nullptr) != SQLITE_OK)
    return fail(Failure(db_, "writing the journal"));
  BindRecord(update.statement, record);
  sqlite3_bind_text(update.statement, at + 1, run_id.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(update.statement) != SQLITE_DONE)
    return fail(Failure(db_, "writing the journal"));
  if (!Commit(error))
    return false;
  begun_.erase(run_id);
  if (on_commit_)
    on_commit_();
  return true;
}

bool Journal::ForEach(const JournalQuery& query,
                      const std::function<bool(const JournalRecord&)>& each, std::string* error) {
  const std::lock_guard lock(mutex_);
  const std::string sql = "SELECT " + ColumnList(schema_version_) +
                          " FROM card_runs WHERE (?1 = '' OR time_utc >= ?1)"
                          " AND (?2 = '' OR reader = ?2)"
                          " AND (?3 = '' OR run_id = ?3 COLLATE NOCASE OR atr = ?4)"
                          " AND (?5 = 0 OR outcome IN (?6, ?7, ?8))" +
                          (query.pending ? PendingCondition(db_) : std::string()) +
                          " ORDER BY time_utc, rowid";
  StatementGuard select;
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &select.statement, nullptr) != SQLITE_OK) {
    *error = Failure(db_, "reading the journal");
    return false;
  }
  const std::string atr = NormalizeHex(query.card);
  sqlite3_bind_text(select.statement, 1, query.since.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(select.statement, 2, query.reader.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(select.statement, 3, query.card.c_str(), -1, SQLITE_TRANSIENT);
  // A run id is never mistaken for an ATR: a text that is no hex matches no ATR.
  sqlite3_bind_text(select.statement, 4, atr.empty() ? "\x01" : atr.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_int(select.statement, 5, query.unfinished ? 1 : 0);
  sqlite3_bind_text(select.statement, 6, kOutcomeUnfinished, -1, SQLITE_STATIC);
  sqlite3_bind_text(select.statement, 7, kOutcomeAbandoned, -1, SQLITE_STATIC);
  sqlite3_bind_text(select.statement, 8, kOutcomeInterrupted, -1, SQLITE_STATIC);
  int rc = SQLITE_OK;
  while ((rc = sqlite3_step(select.statement)) == SQLITE_ROW) {
    if (!each(ReadRecord(select.statement)))
      return true;
  }
  if (rc != SQLITE_DONE) {
    *error = Failure(db_, "reading the journal");
    return false;
  }
  return true;
}

bool Journal::List(const JournalQuery& query, std::vector<JournalRecord>* records,
                   std::string* error) {
  records->clear();
  return ForEach(
      query,
      [records](const JournalRecord& record) {
        records->push_back(record);
        return true;
      },
      error);
}

bool Journal::Snapshot(const std::function<bool(std::string* error)>& body, std::string* error) {
  const std::lock_guard lock(mutex_);
  if (!Exec(db_, "BEGIN", error))
    return false;
  const bool done = body(error);
  sqlite3_exec(db_, done ? "COMMIT" : "ROLLBACK", nullptr, nullptr, nullptr);
  return done;
}

bool Journal::Verify(ChainReport* report, std::string* error) {
  const std::lock_guard lock(mutex_);
  *report = ChainReport{};
  if (schema_version_ < 1) {
    report->first_break =
        "the journal has no record chain yet: an earlier release wrote it, and it gains one "
        "when a card is next recorded into it";
  }
  const std::string sql = "SELECT " + ColumnList(schema_version_) +
                          " FROM card_runs ORDER BY station, " +
                          (schema_version_ >= 1 ? "station_seq, rowid" : "rowid");
  StatementGuard select;
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &select.statement, nullptr) != SQLITE_OK) {
    *error = Failure(db_, "reading the journal");
    return false;
  }
  std::optional<std::string> station;
  int64_t expected = 1;
  std::string link;
  int rc = SQLITE_OK;
  while ((rc = sqlite3_step(select.statement)) == SQLITE_ROW) {
    const JournalRecord record = ReadRecord(select.statement);
    ++report->records;
    if (LeftUnfinished(record.outcome))
      ++report->unfinished;
    if (station != record.station) {
      station = record.station;
      ++report->stations;
      expected = 1;
      link.clear();
    }
    if (!report->first_break.empty())
      continue;
    const std::string seq = record.station_seq ? std::to_string(*record.station_seq) : "?";
    const std::string named =
        "station " + record.station + ", record " + seq + " (run id " + record.run_id + "): ";
    std::string why;
    if (!record.station_seq) {
      why = "it has no place in the chain: it was put in by other means than this program";
    } else if (*record.station_seq < expected) {
      why = "its place in the chain is taken twice: it was inserted out of order";
    } else if (*record.station_seq > expected) {
      why = *record.station_seq == expected + 1
                ? "record " + std::to_string(expected) + " before it is missing (removed)"
                : "records " + std::to_string(expected) + " to " +
                      std::to_string(*record.station_seq - 1) + " before it are missing (removed)";
    } else if (record.chain_hash != ChainLink(link, record)) {
      why =
          "it does not follow the record before it: it was inserted or moved, or its run id, "
          "time or program was changed";
    } else if (record.record_hash != RecordDigest(record)) {
      why = "its fields were changed after it was written";
    }
    if (!why.empty()) {
      report->first_break = named + why;
      continue;
    }
    link = record.chain_hash;
    expected = *record.station_seq + 1;
  }
  if (rc != SQLITE_DONE) {
    *error = Failure(db_, "reading the journal");
    return false;
  }
  return true;
}

bool Journal::Pending(OutboxCursor* cursor, size_t limit, std::vector<JournalRecord>* records,
                      std::string* error) {
  const std::lock_guard lock(mutex_);
  records->clear();
  // The chain's index gives each station's order, and the cursor a page of it without
  // walking again what came before.
  const std::string sql = "SELECT " + ColumnList(schema_version_) +
                          " FROM card_runs WHERE (station, ifnull(station_seq, 0)) > (?1, ?2)" +
                          PendingCondition(db_) + " ORDER BY station, station_seq LIMIT ?3";
  StatementGuard select;
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &select.statement, nullptr) != SQLITE_OK) {
    *error = Failure(db_, "reading the journal's outbox");
    return false;
  }
  sqlite3_bind_text(select.statement, 1, cursor->station.data(),
                    static_cast<int>(cursor->station.size()), SQLITE_TRANSIENT);
  sqlite3_bind_int64(select.statement, 2, cursor->seq);
  sqlite3_bind_int64(select.statement, 3, static_cast<sqlite3_int64>(limit));
  int rc = SQLITE_OK;
  while ((rc = sqlite3_step(select.statement)) == SQLITE_ROW)
    records->push_back(ReadRecord(select.statement));
  if (rc != SQLITE_DONE) {
    *error = Failure(db_, "reading the journal's outbox");
    return false;
  }
  if (!records->empty()) {
    cursor->station = records->back().station;
    cursor->seq = records->back().station_seq.value_or(0);
  }
  return true;
}

bool Journal::CountPending(int64_t* count, std::string* error) {
  const std::lock_guard lock(mutex_);
  const std::string sql = "SELECT count(*) FROM card_runs WHERE 1" + PendingCondition(db_);
  StatementGuard select;
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &select.statement, nullptr) != SQLITE_OK ||
      sqlite3_step(select.statement) != SQLITE_ROW) {
    *error = Failure(db_, "reading the journal's outbox");
    return false;
  }
  *count = sqlite3_column_int64(select.statement, 0);
  return true;
}

bool Journal::MarkDelivered(const std::vector<JournalRecord>& records, std::string* error) {
  const std::lock_guard lock(mutex_);
  if (insert_ == nullptr) {
    *error = "the journal is open for reading only";
    return false;
  }
  if (records.empty())
    return true;
  if (!Exec(db_, "BEGIN IMMEDIATE", error))
    return false;
  const auto fail = [&] {
    *error = Failure(db_, "writing the journal's outbox");
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    return false;
  };
  StatementGuard mark;
  if (sqlite3_prepare_v2(db_,
                         "INSERT OR REPLACE INTO plant_deliveries (run_id, record_hash,"
                         " delivered_utc) VALUES (?1, ?2, ?3)",
                         -1, &mark.statement, nullptr) != SQLITE_OK)
    return fail();
  const std::string now = UtcText(std::chrono::system_clock::now());
  for (const JournalRecord& record : records) {
    sqlite3_bind_text(mark.statement, 1, record.run_id.data(),
                      static_cast<int>(record.run_id.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(mark.statement, 2, record.record_hash.data(),
                      static_cast<int>(record.record_hash.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(mark.statement, 3, now.data(), static_cast<int>(now.size()),
                      SQLITE_TRANSIENT);
    const int rc = sqlite3_step(mark.statement);
    sqlite3_reset(mark.statement);
    if (rc != SQLITE_DONE)
      return fail();
  }
  return Commit(error);
}

}  // namespace pelliton::journal
