// The journal as pelliton-cli uses it: opening it before a card is touched, recording
// each card run, and the journal command that lists and exports the records.
#pragma once

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

// For info and download: opens the journal the options name (--journal PATH, else the
// default path), or none with --no-journal or in a build that keeps none. False, with the reason on
// err, when the journal cannot be opened for writing; no card may be run then.
bool OpenRunJournal(const CliOptions& options, std::FILE* err,
                    std::unique_ptr<journal::Journal>* journal);

// The journal command: the records the options select, in their format, on out.
// kExitJournal when the journal cannot be read (or this build keeps none); kExitFailed
// when --card finds nothing.
int RunJournalCommand(const CliOptions& options, std::FILE* out, std::FILE* err);

// The records as a text table, CSV (a header row, then one row per record, every field)
// or JSON (one object per record and line, every field).
std::string JournalOutput(JournalFormat format, const std::vector<journal::JournalRecord>& records);

}  // namespace pelliton::cli
