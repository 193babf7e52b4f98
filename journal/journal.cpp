// The journal over SQLite's C API. One connection per Journal; WAL so readers never block
// the writer; synchronous=FULL so a committed record survives a power cut, not only a
// crash of the program (a card that left the station must have its record); BEGIN
// IMMEDIATE so two writers queue on the busy timeout instead of failing mid-transaction.
#include "journal/journal.h"

#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <thread>

namespace pelliton::journal {

namespace {

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS card_runs ("
    " run_id TEXT PRIMARY KEY NOT NULL,"
    " time_utc TEXT NOT NULL,"
    " station TEXT NOT NULL,"
    " program TEXT NOT NULL,"
    " procedure TEXT NOT NULL,"
    " reader TEXT NOT NULL,"
    " atr TEXT NOT NULL,"
    " generation TEXT NOT NULL,"
    " first_version TEXT NOT NULL,"
    " second_version TEXT NOT NULL,"
    " counter_read TEXT NOT NULL,"
    " script_path TEXT NOT NULL,"
    " script_size INTEGER,"
    " script_sha256 TEXT NOT NULL,"
    " counter_written INTEGER,"
    " outcome TEXT NOT NULL,"
    " message TEXT NOT NULL,"
    " failing_line INTEGER NOT NULL,"
    " transport_result INTEGER,"
    " status_word TEXT NOT NULL,"
    " duration_ms INTEGER NOT NULL,"
    " apdu_count INTEGER NOT NULL);"
    "CREATE INDEX IF NOT EXISTS card_runs_time ON card_runs(time_utc);"
    "CREATE INDEX IF NOT EXISTS card_runs_atr ON card_runs(atr);";

// The columns in the order the statements below bind and read them.
constexpr const char* kColumns =
    "run_id, time_utc, station, program, procedure, reader, atr, generation, first_version,"
    " second_version, counter_read, script_path, script_size, script_sha256, counter_written,"
    " outcome, message, failing_line, transport_result, status_word, duration_ms, apdu_count";
constexpr int kColumnCount = 22;

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

// Binds the record's fields in kColumns order, from parameter 1.
void BindRecord(sqlite3_stmt* statement, const JournalRecord& r) {
  int at = 0;
  const auto text = [&](const std::string& value) {
    sqlite3_bind_text(statement, ++at, value.data(), static_cast<int>(value.size()),
                      SQLITE_TRANSIENT);
  };
  const auto number = [&](std::optional<int64_t> value) {
    if (value)
      sqlite3_bind_int64(statement, ++at, *value);
    else
      sqlite3_bind_null(statement, ++at);
  };
  text(r.run_id);
  text(r.time_utc);
  text(r.station);
  text(r.program);
  text(r.procedure);
  text(r.reader);
  text(r.atr);
  text(r.generation);
  text(r.first_version);
  text(r.second_version);
  text(r.counter_read);
  text(r.script_path);
  number(r.script_size);
  text(r.script_sha256);
  number(r.counter_written);
  text(r.outcome);
  text(r.message);
  number(r.failing_line);
  number(r.transport_result);
  text(r.status_word);
  number(r.duration_ms);
  number(r.apdu_count);
}

JournalRecord ReadRecord(sqlite3_stmt* statement) {
  int at = -1;
  const auto text = [&] {
    ++at;
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement, at));
    const int size = sqlite3_column_bytes(statement, at);
    return bytes != nullptr ? std::string(bytes, static_cast<size_t>(size)) : std::string();
  };
  const auto number = [&]() -> std::optional<int64_t> {
    ++at;
    if (sqlite3_column_type(statement, at) == SQLITE_NULL)
      return std::nullopt;
    return sqlite3_column_int64(statement, at);
  };
  JournalRecord r;
  r.run_id = text();
  r.time_utc = text();
  r.station = text();
  r.program = text();
  r.procedure = text();
  r.reader = text();
  r.atr = text();
  r.generation = text();
  r.first_version = text();
  r.second_version = text();
  r.counter_read = text();
  r.script_path = text();
  r.script_size = number();
  r.script_sha256 = text();
  r.counter_written = number();
  r.outcome = text();
  r.message = text();
  r.failing_line = number().value_or(0);
  r.transport_result = number();
  r.status_word = text();
  r.duration_ms = number().value_or(0);
  r.apdu_count = number().value_or(0);
  return r;
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
    if (!Exec(db, "PRAGMA synchronous=FULL", error))
      return nullptr;
    // Creating the table is also the proof that the file takes a write.
    if (!Exec(db, "BEGIN IMMEDIATE", error))
      return nullptr;
    if (!Exec(db, kSchema, error)) {
      sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
      return nullptr;
    }
    if (!Exec(db, "COMMIT", error)) {
      sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
      return nullptr;
    }
    if (!journal->Prepare(error))
      return nullptr;
  } else {
    // A file that is no journal is said so now, not at the first query.
    sqlite3_stmt* probe = nullptr;
    const int rc = sqlite3_prepare_v2(db, "SELECT count(*) FROM card_runs", -1, &probe, nullptr);
    sqlite3_finalize(probe);
    if (rc != SQLITE_OK) {
      *error = Failure(db, path + " is no journal");
      return nullptr;
    }
  }
  return journal;
}

bool JournalKept() {
  return true;
}

bool Journal::Prepare(std::string* error) {
  std::string sql = std::string("INSERT INTO card_runs (") + kColumns + ") VALUES (";
  for (int i = 0; i < kColumnCount; ++i)
    sql += i == 0 ? "?" : ", ?";
  sql += ")";
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &insert_, nullptr) != SQLITE_OK) {
    *error = Failure(db_, "preparing the journal's insert");
    return false;
  }
  return true;
}

bool Journal::Append(JournalRecord record, std::string* error, std::string* run_id) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (insert_ == nullptr) {
    *error = "the journal is open for reading only";
    return false;
  }
  if (record.run_id.empty())
    record.run_id = NewRunId(random_);
  if (record.station.empty())
    record.station = station_;
  if (record.program.empty())
    record.program = program_;

  // BEGIN IMMEDIATE takes the write lock at once, where the busy timeout applies; a
  // deferred transaction could find the lock taken only at its first write and fail.
  if (!Exec(db_, "BEGIN IMMEDIATE", error))
    return false;
  BindRecord(insert_, record);
  const int rc = sqlite3_step(insert_);
  sqlite3_reset(insert_);
  sqlite3_clear_bindings(insert_);
  if (rc != SQLITE_DONE) {
    *error = Failure(db_, "writing the journal");
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    return false;
  }
  if (!Exec(db_, "COMMIT", error)) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    return false;
  }
  if (run_id != nullptr)
    *run_id = std::move(record.run_id);
  return true;
}

bool Journal::List(const JournalQuery& query, std::vector<JournalRecord>* records,
                   std::string* error) {
  const std::lock_guard<std::mutex> lock(mutex_);
  const std::string sql = std::string("SELECT ") + kColumns +
                          " FROM card_runs WHERE (?1 = '' OR time_utc >= ?1)"
                          " AND (?2 = '' OR reader = ?2)"
                          " AND (?3 = '' OR run_id = ?3 OR atr = ?4)"
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
  records->clear();
  int rc = SQLITE_OK;
  while ((rc = sqlite3_step(select.statement)) == SQLITE_ROW)
    records->push_back(ReadRecord(select.statement));
  if (rc != SQLITE_DONE) {
    *error = Failure(db_, "reading the journal");
    return false;
  }
  return true;
}

}  // namespace pelliton::journal
