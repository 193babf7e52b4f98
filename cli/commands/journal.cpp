#include "cli/commands/journal.h"

#include "cli/commands/plant.h"

#include <algorithm>
#include <charconv>
#include <iterator>
#include <optional>
#include <string_view>

#include "cli/exit_status.h"
#include "cli/render/cells.h"
#include "cli/render/console_panel.h"
#include "cli/render/json_line.h"
#include "cli/render/output.h"
#include "journal/record_fields.h"

namespace pelliton::cli {

namespace {

using journal::FieldKind;
using journal::Journal;
using journal::JournalRecord;
using journal::RecordField;

constexpr const char* kProgram = "pelliton-cli";

// Text is sent to the output in pieces of about this size: few writes, little memory.
constexpr size_t kChunk = 64 * 1024;

const char* const kTableHeadings[] = {"TIME (UTC)", "READER", "RUN",    "OUTCOME",
                                      "COUNTER",    "ATR",    "RUN ID", "MESSAGE"};
constexpr size_t kTableColumns = std::size(kTableHeadings);

void AppendNumber(std::string& out, int64_t value) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out.append(digits, end);
}

// A text as a JSON string, byte for byte as JsonLine writes it. Plain ASCII, nearly every
// field, is escaped here; a text with other bytes goes through nlohmann, which turns what
// is not UTF-8 into U+FFFD.
void AppendJsonText(std::string& out, const std::string& text) {
  if (std::any_of(text.begin(), text.end(),
                  [](char c) { return static_cast<unsigned char>(c) >= 0x80; })) {
    out += Json(text).dump(-1, ' ', false, Json::error_handler_t::replace);
    return;
  }
  out += '"';
  size_t from = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c != '"' && c != '\\')
      continue;
    out.append(text, from, i - from);
    from = i + 1;
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default: {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
        out += escaped;
      }
    }
  }
  out.append(text, from);
  out += '"';
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

void TableCells(const JournalRecord& r, std::vector<std::string>& cells) {
  SetTableCell(cells[0], r.time_utc);
  SetTableCell(cells[1], r.reader);
  SetTableCell(cells[2], r.procedure);
  SetTableCell(cells[3], r.outcome);
  SetTableCell(cells[4], r.counter_written ? std::to_string(*r.counter_written) : r.counter_read);
  SetTableCell(cells[5], r.atr);
  SetTableCell(cells[6], r.run_id);
  SetTableCell(cells[7], OneLine(r.message));
}

void Put(std::FILE* stream, const std::string& text) {
  std::fputs(text.c_str(), stream);
  std::fflush(stream);
}

// journal verify: each station's chain of records walked and the first break named.
int VerifyJournal(const CliOptions& options, std::FILE* out, std::FILE* err) {
  const std::string path = PathOf(options);
  std::string error;
  const std::unique_ptr<Journal> journal =
      Journal::Open(path, kProgram, Journal::Access::kRead, &error);
  journal::ChainReport report;
  if (journal == nullptr || !journal->Verify(&report, &error)) {
    Put(err, "pelliton-cli: the journal cannot be read: " + AsTerminalText(error) + "\n");
    return kExitJournal;
  }
  const bool holds = report.first_break.empty();
  if (options.json) {
    Json json = JsonHeader("journal_verify");
    json["journal"] = path;
    json["records"] = report.records;
    json["stations"] = report.stations;
    json["unfinished"] = report.unfinished;
    json["holds"] = holds;
    json["first_break"] = holds ? Json(nullptr) : Json(report.first_break);
    Emit(out, JsonLine(json));
  } else if (holds) {
    Emit(out,
         "journal " + AsTerminalText(path) + ": " + Counted(report.records, "record") + " of " +
             Counted(report.stations, "station") + "; the chain holds" +
             (report.unfinished > 0 ? ", " + std::to_string(report.unfinished) + " left unfinished"
                                    : std::string()) +
             "\n");
  }
  if (holds)
    return kExitSuccess;
  // A journal of an earlier release has no chain to break; the report says so itself.
  Put(err, std::string(journal->SchemaVersion() < 1 ? "pelliton-cli: "
                                                    : "pelliton-cli: the journal's chain is "
                                                      "broken at ") +
               AsTerminalText(report.first_break) + "\n");
  return kExitFailed;
}

}  // namespace

std::string Counted(int64_t count, const char* noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

std::string PathOf(const CliOptions& options) {
  return options.journal_path.empty() ? journal::DefaultJournalPath() : options.journal_path;
}

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
  if (options.journal_verify)
    return CheckedExit(VerifyJournal(options, out, err), Streams{out, err});
  if (options.journal_push)
    return CheckedExit(RunJournalPush(options, out, err), Streams{out, err});
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
  query.unfinished = options.journal_unfinished;
  query.pending = options.journal_pending;
  JournalFormat format = JournalFormat::kTable;
  if (options.json || options.journal_format == "json")
    format = JournalFormat::kJson;
  else if (options.journal_format == "csv")
    format = JournalFormat::kCsv;

  std::string error;
  const std::unique_ptr<Journal> journal =
      Journal::Open(PathOf(options), kProgram, Journal::Access::kRead, &error);
  if (journal == nullptr) {
    Put(err, "pelliton-cli: the journal cannot be read: " + AsTerminalText(error) + "\n");
    return kExitJournal;
  }
  JournalWriter writer(format, out);
  // A failed output stops the reading: the rest would be lost as well.
  const auto write = [&writer](const JournalRecord& record) { return writer.Write(record); };
  bool read = false;
  if (format == JournalFormat::kTable) {
    // The widths from one pass, the rows from another over the same records.
    read = journal->Snapshot(
        [&](std::string* snapshot_error) {
          return journal->ForEach(
                     query,
                     [&writer](const JournalRecord& record) {
                       writer.Measure(record);
                       return true;
                     },
                     snapshot_error) &&
                 journal->ForEach(query, write, snapshot_error);
        },
        &error);
  } else {
    read = journal->ForEach(query, write, &error);
  }
  if (!read) {
    Put(err, "pelliton-cli: the journal cannot be read: " + AsTerminalText(error) + "\n");
    return kExitJournal;
  }
  if (writer.Finish() && !options.journal_card.empty() && writer.Records() == 0) {
    Put(err, "pelliton-cli: the journal holds no run of card " +
                 AsTerminalText(options.journal_card) + "\n");
    return CheckedExit(kExitFailed, Streams{out, err});
  }
  return CheckedExit(kExitSuccess, Streams{out, err});
}

JournalWriter::JournalWriter(JournalFormat format, std::FILE* out)
    : format_(format), out_(out), cells_(kTableColumns) {
  json_start_ = JsonHeader("journal").dump();
  json_start_.pop_back();  // the closing brace, after the fields
  for (const char* heading : kTableHeadings)
    widths_.push_back(CellWidth(heading));
}

void JournalWriter::Measure(const JournalRecord& record) {
  if (format_ != JournalFormat::kTable)
    return;
  TableCells(record, cells_);
  for (size_t i = 0; i < kTableColumns; ++i)
    widths_[i] = std::max(widths_[i], CellWidth(cells_[i]));
}

void JournalWriter::Header() {
  header_written_ = true;
  switch (format_) {
    case JournalFormat::kCsv:
      for (const RecordField& field : journal::RecordFields()) {
        if (&field != journal::RecordFields().data())
          text_ += ',';
        text_ += field.name;
      }
      text_ += "\r\n";
      break;
    case JournalFormat::kTable:
      cells_.assign(std::begin(kTableHeadings), std::end(kTableHeadings));
      TableLine();
      break;
    case JournalFormat::kJson:
      break;
  }
}

void JournalWriter::TableLine() {
  for (size_t i = 0; i < kTableColumns; ++i) {
    text_ += cells_[i];
    if (i + 1 < kTableColumns)
      text_.append(widths_[i] - std::min(widths_[i], CellWidth(cells_[i])) + 2, ' ');
  }
  text_ += '\n';
}

bool JournalWriter::Write(const JournalRecord& record) {
  if (failed_)
    return false;
  if (!header_written_)
    Header();
  ++records_;
  switch (format_) {
    case JournalFormat::kCsv:
      for (const RecordField& field : journal::RecordFields()) {
        if (&field != journal::RecordFields().data())
          text_ += ',';
        // A number is never neutralised: a negative one stays a number.
        if (field.kind == FieldKind::kText)
          AppendCsvText(text_, record.*field.text);
        else if (const std::optional<int64_t> value = journal::FieldNumber(field, record))
          AppendNumber(text_, *value);
      }
      text_ += "\r\n";
      break;
    case JournalFormat::kJson:
      // The line JsonLine would make of the header and every field, made without the
      // object: a third of the time. Card texts and paths may hold any bytes; the output
      // stays valid JSON.
      text_ += json_start_;
      for (const RecordField& field : journal::RecordFields()) {
        text_ += ",\"";
        text_ += field.name;
        text_ += "\":";
        if (field.kind == FieldKind::kText)
          AppendJsonText(text_, record.*field.text);
        else if (const std::optional<int64_t> value = journal::FieldNumber(field, record))
          AppendNumber(text_, *value);
        else
          text_ += "null";
      }
      text_ += "}\n";
      break;
    case JournalFormat::kTable:
      TableCells(record, cells_);
      TableLine();
      break;
  }
  return Send(false);
}

bool JournalWriter::Finish() {
  if (failed_)
    return false;
  if (!header_written_)
    Header();
  if (format_ == JournalFormat::kTable)
    text_ += std::to_string(records_) + (records_ == 1 ? " record\n" : " records\n");
  return Send(true);
}

bool JournalWriter::Send(bool all) {
  if (out_ == nullptr || (!all && text_.size() < kChunk))
    return true;
  Emit(out_, text_);
  text_.clear();
  failed_ = std::ferror(out_) != 0;
  return !failed_;
}

}  // namespace pelliton::cli
