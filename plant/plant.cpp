// The plant over libpq. Every connection gets a connect timeout and TCP keepalives, so a
// server or network that stops answering ends a call with an error instead of a hang.
#include "plant/plant.h"

#include <libpq-fe.h>

#include <charconv>
#include <optional>

#include "journal/record_fields.h"
#include "plant/schema.h"

namespace pelliton::plant {

namespace {

using journal::FieldKind;
using journal::JournalRecord;
using journal::RecordField;
using journal::RecordFields;

// One statement holds at most this many records (libpq takes 65535 parameters). Each
// commits on its own: after a failure its records are sent again, which the run ids make
// harmless, so a batch needs no transaction around its statements.
constexpr size_t kRecordsPerStatement = 1000;

// libpq's messages end with a line break and may run over several lines.
std::string FirstLine(const char* message) {
  std::string text = message != nullptr ? message : "";
  const size_t end = text.find('\n');
  if (end != std::string::npos)
    text.resize(end);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\r'))
    text.pop_back();
  return text.empty() ? "no reason given" : text;
}

struct ResultGuard {
  PGresult* result = nullptr;
  ~ResultGuard() { PQclear(result); }
};

// Frees every result of a statement, so the connection is ready for the next.
void Drain(PGconn* connection) {
  while (PGresult* rest = PQgetResult(connection))
    PQclear(rest);
}

std::string ColumnList() {
  std::string list;
  for (const RecordField& field : RecordFields())
    list += (list.empty() ? "" : ", ") + std::string(field.name);
  return list;
}

// The url is refused when it holds a password: it would stand in the process list and
// in the shell's history. libpq's password file and service file keep it instead.
bool CheckUrl(const std::string& url, std::string* error) {
  char* parse_error = nullptr;
  PQconninfoOption* options = PQconninfoParse(url.c_str(), &parse_error);
  if (options == nullptr) {
    *error = "the plant URL is no connection string: " + FirstLine(parse_error);
    PQfreemem(parse_error);
    return false;
  }
  bool has_password = false;
  for (const PQconninfoOption* option = options; option->keyword != nullptr; ++option) {
    if (std::string_view(option->keyword) == "password" && option->val != nullptr &&
        option->val[0] != '\0')
      has_password = true;
  }
  PQconninfoFree(options);
  if (has_password) {
    *error =
        "the plant URL holds a password; keep it in the password file (~/.pgpass or "
        "PGPASSFILE) or a service file instead";
    return false;
  }
  return true;
}

PGconn* Open(const std::string& url, std::string* error) {
  if (!CheckUrl(url, error))
    return nullptr;
  // The url comes last: its own settings win over these defaults.
  const char* keywords[] = {"connect_timeout",     "keepalives",       "keepalives_idle",
                            "keepalives_interval", "keepalives_count", "tcp_user_timeout",
                            "application_name",    "dbname",           nullptr};
  const char* values[] = {"10", "1", "10", "5", "3", "20000", "pelliton", url.c_str(), nullptr};
  PGconn* connection = PQconnectdbParams(keywords, values, 1);
  if (connection == nullptr) {
    *error = "cannot reach the plant: out of memory";
    return nullptr;
  }
  if (PQstatus(connection) != CONNECTION_OK) {
    *error = "cannot reach the plant: " + FirstLine(PQerrorMessage(connection));
    PQfinish(connection);
    return nullptr;
  }
  // libpq would print the server's notices on stderr, between a station's own lines.
  PQsetNoticeProcessor(
      connection, [](void*, const char*) {}, nullptr);
  // A statement that waits on a lock longer than this is a fault, not a queue.
  ResultGuard set{PQexec(connection, "SET statement_timeout = '60s'")};
  if (PQresultStatus(set.result) != PGRES_COMMAND_OK) {
    *error = "the plant: " + FirstLine(PQerrorMessage(connection));
    PQfinish(connection);
    return nullptr;
  }
  return connection;
}

std::string SqlState(const PGresult* result) {
  const char* state = PQresultErrorField(result, PG_DIAG_SQLSTATE);
  return state != nullptr ? state : "";
}

// The plant's schema version; -1 when it has none. False with *error when it cannot say.
bool ReadVersion(PGconn* connection, int* version, std::string* error) {
  ResultGuard read{PQexec(connection, "SELECT max(version) FROM pelliton.schema_version")};
  if (PQresultStatus(read.result) == PGRES_TUPLES_OK) {
    *version = PQgetisnull(read.result, 0, 0) ? -1 : std::atoi(PQgetvalue(read.result, 0, 0));
    return true;
  }
  const std::string state = SqlState(read.result);
  if (state == "42P01" || state == "3F000") {  // no such table, no such schema
    *version = -1;
    return true;
  }
  *error = state == "42501"
               ? std::string("this role may not read the plant (grant it ") + kStationRole + ")"
               : "the plant: " + FirstLine(PQerrorMessage(connection));
  return false;
}

std::optional<int64_t> Number(const char* text) {
  int64_t value = 0;
  const char* end = text + std::char_traits<char>::length(text);
  const auto parsed = std::from_chars(text, end, value);
  if (parsed.ec != std::errc() || parsed.ptr != end)
    return std::nullopt;
  return value;
}

// The row's fields, in RecordFields order from column 0.
JournalRecord ReadRecord(const PGresult* result, int row) {
  JournalRecord record;
  int column = 0;
  for (const RecordField& field : RecordFields()) {
    const bool null = PQgetisnull(result, row, column);
    const char* value = PQgetvalue(result, row, column);
    switch (field.kind) {
      case FieldKind::kText:
        (record.*field.text).assign(value, static_cast<size_t>(PQgetlength(result, row, column)));
        break;
      case FieldKind::kNumber:
        record.*field.number = null ? 0 : Number(value).value_or(0);
        break;
      case FieldKind::kOptionalNumber:
        if (!null)
          record.*field.optional_number = Number(value);
        break;
    }
    ++column;
  }
  return record;
}

}  // namespace

std::string AsDatabaseText(const std::string& text) {
  static constexpr char kReplacement[] = "\xEF\xBF\xBD";
  std::string out;
  out.reserve(text.size());
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const size_t size = text.size();
  for (size_t i = 0; i < size;) {
    const unsigned char lead = bytes[i];
    size_t length = 0;
    uint32_t low = 0x80;  // the smallest value each length may encode
    if (lead >= 0x01 && lead < 0x80)
      length = 1;
    else if (lead >= 0xC2 && lead < 0xE0)
      length = 2;
    else if (lead >= 0xE0 && lead < 0xF0)
      length = 3, low = 0x800;
    else if (lead >= 0xF0 && lead < 0xF5)
      length = 4, low = 0x10000;
    bool valid = length > 0 && i + length <= size;
    uint32_t code = length == 1 ? lead : lead & (0x7F >> length);
    for (size_t k = 1; valid && k < length; ++k) {
      valid = (bytes[i + k] & 0xC0) == 0x80;
      code = (code << 6) | (bytes[i + k] & 0x3F);
    }
    if (valid && length > 1)
      valid = code >= low && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
    if (!valid) {
      out += kReplacement;
      ++i;
      continue;
    }
    out.append(text, i, length);
    i += length;
  }
  return out;
}

std::unique_ptr<Plant> Plant::Connect(const std::string& url, std::string* error) {
  PGconn* connection = Open(url, error);
  if (connection == nullptr)
    return nullptr;
  std::unique_ptr<Plant> plant(new Plant(connection));
  int version = -1;
  if (!ReadVersion(connection, &version, error))
    return nullptr;
  if (version < 0) {
    *error = "the database holds no plant yet (pelliton-cli plant init makes one)";
    return nullptr;
  }
  if (version < kPlantSchemaVersion) {
    *error = "the plant's schema is older than this release's (" + std::to_string(version) +
             ", this one reads " + std::to_string(kPlantSchemaVersion) +
             "): pelliton-cli plant init upgrades it";
    return nullptr;
  }
  if (version > kPlantSchemaVersion) {
    *error = "the plant's schema is newer than this release's (" + std::to_string(version) +
             ", this one reads " + std::to_string(kPlantSchemaVersion) + ")";
    return nullptr;
  }
  return plant;
}

Plant::~Plant() {
  PQfinish(connection_);
}

bool Plant::Deliver(const std::vector<JournalRecord>& records, std::string* error) {
  if (records.empty())
    return true;
  const size_t columns = RecordFields().size();
  std::vector<std::string> texts;
  std::vector<const char*> values;
  for (size_t first = 0; first < records.size(); first += kRecordsPerStatement) {
    const size_t count = std::min(kRecordsPerStatement, records.size() - first);
    std::string sql = "INSERT INTO pelliton.card_runs (" + ColumnList() + ") VALUES ";
    texts.assign(count * columns, std::string());
    values.assign(count * columns, nullptr);
    size_t at = 0;
    for (size_t r = 0; r < count; ++r) {
      sql += r == 0 ? "(" : ", (";
      for (size_t c = 0; c < columns; ++c) {
        sql += (c == 0 ? "$" : ", $") + std::to_string(at + 1);
        const std::optional<std::string> value =
            journal::FieldText(RecordFields()[c], records[first + r]);
        if (value) {
          texts[at] = RecordFields()[c].kind == FieldKind::kText ? AsDatabaseText(*value) : *value;
          values[at] = texts[at].c_str();
        }
        ++at;
      }
      sql += ")";
    }
    sql += " ON CONFLICT (run_id) DO NOTHING";
    ResultGuard insert{PQexecParams(connection_, sql.c_str(), static_cast<int>(at), nullptr,
                                    values.data(), nullptr, nullptr, 0)};
    if (PQresultStatus(insert.result) != PGRES_COMMAND_OK) {
      *error = PQstatus(connection_) == CONNECTION_BAD
                   ? "lost the plant: " + FirstLine(PQerrorMessage(connection_))
                   : "the plant refused the records: " + FirstLine(PQerrorMessage(connection_));
      return false;
    }
  }
  return true;
}

bool Plant::ForEach(const PlantQuery& query, const std::function<bool(const JournalRecord&)>& each,
                    std::string* error) {
  const std::string sql = "SELECT " + ColumnList() +
                          " FROM pelliton.card_runs WHERE ($1 = '' OR time_utc >= $1)"
                          " AND ($2 = '' OR time_utc < $2) ORDER BY time_utc, run_id";
  const char* values[] = {query.since.c_str(), query.until.c_str()};
  // Row by row: a report over years of records holds one at a time.
  if (!PQsendQueryParams(connection_, sql.c_str(), 2, nullptr, values, nullptr, nullptr, 0) ||
      !PQsetSingleRowMode(connection_)) {
    *error = "reading the plant: " + FirstLine(PQerrorMessage(connection_));
    Drain(connection_);
    return false;
  }
  bool more = true;
  while (PGresult* result = PQgetResult(connection_)) {
    ResultGuard guard{result};
    const ExecStatusType status = PQresultStatus(result);
    if (status == PGRES_SINGLE_TUPLE) {
      if (more && !each(ReadRecord(result, 0)))
        more = false;  // the rest is read and dropped: the connection stays usable
    } else if (status != PGRES_TUPLES_OK) {
      *error = "reading the plant: " + FirstLine(PQresultErrorMessage(result));
      Drain(connection_);
      return false;
    }
  }
  return true;
}

bool Plant::Findings(std::vector<Finding>* findings, std::string* error) {
  findings->clear();
  ResultGuard read{
      PQexec(connection_,
             "SELECT station, first_missing, last_missing, '' AS run_id, 'gap' AS kind,"
             " '' AS detail FROM pelliton.gaps"
             " UNION ALL SELECT station, coalesce(station_seq, 0),"
             " coalesce(station_seq, 0), run_id, kind, detail FROM pelliton.findings"
             " ORDER BY 1, 2, 5, 6")};
  if (PQresultStatus(read.result) != PGRES_TUPLES_OK) {
    *error = "reading the plant: " + FirstLine(PQerrorMessage(connection_));
    return false;
  }
  for (int row = 0; row < PQntuples(read.result); ++row) {
    Finding finding;
    finding.station = PQgetvalue(read.result, row, 0);
    finding.first_seq = Number(PQgetvalue(read.result, row, 1)).value_or(0);
    finding.last_seq = Number(PQgetvalue(read.result, row, 2)).value_or(0);
    finding.run_id = PQgetvalue(read.result, row, 3);
    finding.kind = PQgetvalue(read.result, row, 4);
    finding.detail = PQgetvalue(read.result, row, 5);
    findings->push_back(std::move(finding));
  }
  return true;
}

bool InitPlant(const std::string& url, std::vector<std::string>* done, std::string* error) {
  done->clear();
  PGconn* connection = Open(url, error);
  if (connection == nullptr)
    return false;
  const auto exec = [&](const std::string& sql, const std::string& what) {
    ResultGuard result{PQexec(connection, sql.c_str())};
    if (PQresultStatus(result.result) == PGRES_COMMAND_OK ||
        PQresultStatus(result.result) == PGRES_TUPLES_OK)
      return true;
    *error = what + ": " + FirstLine(PQresultErrorMessage(result.result));
    return false;
  };
  // One transaction under a lock of its own: two inits at once take turns, and a failed
  // step leaves the plant as it was.
  bool ok = exec("BEGIN", "starting the plant's schema") &&
            exec("SELECT pg_advisory_xact_lock(7305100901)", "locking the plant's schema") &&
            exec(
                "CREATE SCHEMA IF NOT EXISTS pelliton;"
                "CREATE TABLE IF NOT EXISTS pelliton.schema_version (version integer NOT NULL)",
                "creating the plant's schema");
  int version = -1;
  if (ok)
    ok = ReadVersion(connection, &version, error);
  if (ok && version > kPlantSchemaVersion) {
    *error = "the plant's schema is newer than this release's (" + std::to_string(version) +
             ", this one writes " + std::to_string(kPlantSchemaVersion) + ")";
    ok = false;
  }
  if (ok && version < 0) {
    ok = exec("INSERT INTO pelliton.schema_version VALUES (0)", "creating the plant's schema");
    version = 0;
  }
  for (const Migration& migration : Migrations()) {
    if (!ok || migration.version <= version)
      continue;
    ok = exec(migration.sql, "schema version " + std::to_string(migration.version)) &&
         exec("UPDATE pelliton.schema_version SET version = " + std::to_string(migration.version),
              "schema version " + std::to_string(migration.version));
    if (ok)
      done->push_back("schema version " + std::to_string(migration.version) + ": " +
                      migration.what);
  }
  if (ok)
    ok = exec("COMMIT", "committing the plant's schema");
  if (!ok)
    done->clear();
  PQfinish(connection);
  return ok;
}

}  // namespace pelliton::plant
