#include "cli/commands/journal.h"

#include <algorithm>
#include <optional>

#include "cli/render/json_line.h"

#include "cli/exit_status.h"
#include "cli/render/console_panel.h"

namespace pelliton::cli {

namespace {

using journal::Journal;
using journal::JournalRecord;

constexpr const char* kProgram = "pelliton-cli";

// One field of a record, by name, as the CSV and JSON exports carry it.
struct Field {
  const char* name;
  std::string JournalRecord::*text = nullptr;
  std::optional<int64_t> JournalRecord::*optional_number = nullptr;
  int64_t JournalRecord::*number = nullptr;
};

// Every field, in the schema's order.
const Field kFields[] = {
    {"run_id", &JournalRecord::run_id},
    {"time_utc", &JournalRecord::time_utc},
    {"station", &JournalRecord::station},
    {"program", &JournalRecord::program},
    {"procedure", &JournalRecord::procedure},
    {"reader", &JournalRecord::reader},
    {"atr", &JournalRecord::atr},
    {"generation", &JournalRecord::generation},
    {"first_version", &JournalRecord::first_version},
    {"second_version", &JournalRecord::second_version},
    {"counter_read", &JournalRecord::counter_read},
    {"script_path", &JournalRecord::script_path},
    {"script_size", nullptr, &JournalRecord::script_size},
    {"script_sha256", &JournalRecord::script_sha256},
    {"counter_written", nullptr, &JournalRecord::counter_written},
    {"outcome", &JournalRecord::outcome},
    {"message", &JournalRecord::message},
    {"failing_line", nullptr, nullptr, &JournalRecord::failing_line},
    {"transport_result", nullptr, &JournalRecord::transport_result},
    {"status_word", &JournalRecord::status_word},
    {"duration_ms", nullptr, nullptr, &JournalRecord::duration_ms},
    {"apdu_count", nullptr, nullptr, &JournalRecord::apdu_count},
};

// A field as CSV or table text; nullopt for an absent number.
std::optional<std::string> FieldText(const Field& field, const JournalRecord& record) {
  if (field.text != nullptr)
    return record.*field.text;
  if (field.number != nullptr)
    return std::to_string(record.*field.number);
  const std::optional<int64_t>& value = record.*field.optional_number;
  if (!value)
    return std::nullopt;
  return std::to_string(*value);
}

// RFC 4180: quoted when it holds a comma, a quote or a line break; quotes doubled.
std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos)
    return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"')
      quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string Csv(const std::vector<JournalRecord>& records) {
  std::string out;
  for (const Field& field : kFields)
    out += std::string(&field == kFields ? "" : ",") + field.name;
  out += "\r\n";
  for (const JournalRecord& record : records) {
    for (const Field& field : kFields) {
      if (&field != kFields)
        out += ",";
      out += CsvField(FieldText(field, record).value_or(""));
    }
    out += "\r\n";
  }
  return out;
}

std::string JsonRecords(const std::vector<JournalRecord>& records) {
  std::string out;
  for (const JournalRecord& record : records) {
    Json json = JsonHeader("journal");
    for (const Field& field : kFields) {
      if (field.text != nullptr)
        json[field.name] = record.*field.text;
      else if (field.number != nullptr)
        json[field.name] = record.*field.number;
      else if (const auto& value = record.*field.optional_number; value)
        json[field.name] = *value;
      else
        json[field.name] = nullptr;
    }
    // Card texts and paths may hold any bytes; the output stays valid JSON.
    out += JsonLine(json);
  }
  return out;
}

// The message on one line, its non-empty lines joined by " / ": the table keeps one
// line per record, and a message's later lines can tell why a run failed.
std::string OneLine(const std::string& message) {
  std::string line;
  size_t start = 0;
  while (start < message.size()) {
    size_t end = message.find_first_of("\r\n", start);
    if (end == std::string::npos)
      end = message.size();
    const size_t first = message.find_first_not_of(' ', start);
    if (first < end) {
      const size_t last = message.find_last_not_of(' ', end - 1);
      line += (line.empty() ? "" : " / ") + message.substr(first, last - first + 1);
    }
    start = end + 1;
  }
  return line;
}

std::string Table(const std::vector<JournalRecord>& records) {
  std::vector<std::vector<std::string>> rows = {
      {"TIME (UTC)", "READER", "RUN", "OUTCOME", "COUNTER", "ATR", "RUN ID", "MESSAGE"}};
  for (const JournalRecord& r : records) {
    std::string counter = r.counter_read;
    if (r.counter_written)
      counter = std::to_string(*r.counter_written);
    rows.push_back({r.time_utc, r.reader, r.procedure, r.outcome, counter, r.atr, r.run_id,
                    OneLine(r.message)});
  }
  std::vector<size_t> widths(rows.front().size(), 0);
  for (const auto& row : rows)
    for (size_t i = 0; i < row.size(); ++i)
      widths[i] = std::max(widths[i], row[i].size());
  std::string out;
  for (const auto& row : rows) {
    std::string line;
    for (size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size())
        line += std::string(widths[i] - row[i].size() + 2, ' ');
    }
    out += line + "\n";
  }
  out += std::to_string(records.size()) + (records.size() == 1 ? " record\n" : " records\n");
  return out;
}

std::string PathOf(const CliOptions& options) {
  return options.journal_path.empty() ? journal::DefaultJournalPath() : options.journal_path;
}

void Put(std::FILE* stream, const std::string& text) {
  std::fputs(text.c_str(), stream);
  std::fflush(stream);
}

}  // namespace

bool OpenRunJournal(const CliOptions& options, std::FILE* err, std::unique_ptr<Journal>* journal) {
  journal->reset();
  // A build without a journal runs its cards as --no-journal does.
  if (options.no_journal || !journal::JournalKept())
    return true;
  std::string error;
  *journal = Journal::Open(PathOf(options), kProgram, Journal::Access::kAppend, &error);
  if (*journal == nullptr) {
    Put(err, "pelliton-cli: the journal cannot be written: " + error +
                 "\n(no card was touched; give --journal PATH or --no-journal)\n");
    return false;
  }
  return true;
}

int RunJournalCommand(const CliOptions& options, std::FILE* out, std::FILE* err) {
  if (!journal::JournalKept()) {
    Put(err, "pelliton-cli: this build keeps no journal\n");
    return kExitJournal;
  }
  journal::JournalQuery query;
  if (!options.journal_since.empty() &&
      !journal::ParseSinceTime(options.journal_since, &query.since)) {
    Put(err,
        "pelliton-cli: --since needs a UTC time: YYYY-MM-DD[THH:MM[:SS[.mmm]]] (see "
        "pelliton-cli journal --help)\n");
    return kExitUsage;
  }
  query.reader = options.journal_reader;
  query.card = options.journal_card;
  JournalFormat format = JournalFormat::kTable;
  if (options.json || options.journal_format == "json")
    format = JournalFormat::kJson;
  else if (options.journal_format == "csv")
    format = JournalFormat::kCsv;

  std::string error;
  const std::unique_ptr<Journal> journal =
      Journal::Open(PathOf(options), kProgram, Journal::Access::kRead, &error);
  std::vector<JournalRecord> records;
  if (journal != nullptr && journal->List(query, &records, &error)) {
    Put(out, JournalOutput(format, records));
    if (!options.journal_card.empty() && records.empty()) {
      Put(err, "pelliton-cli: the journal holds no run of card " +
                   AsTerminalText(options.journal_card) + "\n");
      return kExitFailed;
    }
    return kExitSuccess;
  }
  Put(err, "pelliton-cli: the journal cannot be read: " + error + "\n");
  return kExitJournal;
}

std::string JournalOutput(JournalFormat format, const std::vector<JournalRecord>& records) {
  switch (format) {
    case JournalFormat::kCsv:
      return Csv(records);
    case JournalFormat::kJson:
      return JsonRecords(records);
    case JournalFormat::kTable:
      break;
  }
  return Table(records);
}

}  // namespace pelliton::cli
