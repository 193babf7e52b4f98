// The journal as pelliton-cli uses it: opening it before a card is touched, recording
// each card run, and the journal command that lists and exports the records.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/args.h"
#include "cli/exit_status.h"
#include "journal/journal.h"

namespace pelliton::cli {

// How the journal command prints its records.
enum class JournalFormat { kTable, kCsv, kJson };

// The journal file the options name: --journal PATH, else the default path.
std::string PathOf(const CliOptions& options);

// "1 record", "3 records": a count and its noun, as the journal's lines say it.
std::string Counted(int64_t count, const char* noun);

// For info and download: opens the journal the options name (--journal PATH, else the
// default path), or none with --no-journal or in a build that keeps none. False, with the reason on
// err, when the journal cannot be opened for writing; no card may be run then.
bool OpenRunJournal(const CliOptions& options, std::FILE* err,
                    std::unique_ptr<journal::Journal>* journal);

// The journal command: the records the options select, in their format, on out; with
// journal verify, whether each station's chain of records holds. kExitJournal when the
// journal cannot be read (or this build keeps none); kExitFailed when --card finds
// nothing or a chain is broken; kExitOutput, said on err, when out could not be written
// (which stops the export).
int RunJournalCommand(const CliOptions& options, std::FILE* out, std::FILE* err);

// The journal command's output made record by record, so that an export of any size
// takes the same memory: a text table, CSV (a header row, then one row per record, every
// field) or JSON (one object per record and line, every field).
class JournalWriter {
 public:
  // out: where the text goes, in pieces as it grows and at Finish; null: kept for Text().
  JournalWriter(JournalFormat format, std::FILE* out);
  JournalWriter(const JournalWriter&) = delete;
  JournalWriter& operator=(const JournalWriter&) = delete;

  // The table only: widens its columns for record. Every record written must have been
  // measured first, or its cells do not line up.
  void Measure(const journal::JournalRecord& record);
  // The record's row or line (after the header, for the first). False once out has
  // failed: what follows would be lost as well.
  bool Write(const journal::JournalRecord& record);
  // The header when no record came, the table's count line, and the rest of the text
  // sent to out. False when out failed.
  bool Finish();

  int64_t Records() const { return records_; }
  // With no out: everything written so far.
  const std::string& Text() const { return text_; }

 private:
  void Header();
  // cells_ as one line of the table, padded to the widths.
  void TableLine();
  bool Send(bool all);

  JournalFormat format_;
  std::FILE* out_;
  std::string text_;
  std::string json_start_;  // a JSON line up to its first field
  std::vector<size_t> widths_;
  std::vector<std::string> cells_;  // one table row's cells, kept to reuse their memory
  bool header_written_ = false;
  bool failed_ = false;
  int64_t records_ = 0;
};

}  // namespace pelliton::cli
