// What pelliton-cli prints of its commands, as text for a terminal or as JSON: built
// from the procedures' outcome values only.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "cli/args.h"
#include "engine/outcome.h"
#include "engine/script_check.h"
#include "station/card_job.h"
#include "station/card_loop.h"
#include "station/station.h"

namespace pelliton::cli {

using station::CardRun;
using station::TallyFailure;

// One JSON line for a run of info or download; card_number with --each-card. reader: the
// reader as named in messages.
std::string RunJson(const CliOptions& options, const std::string& reader, const CardRun& run,
                    std::optional<int> card_number);

// The card loop's closing tally, as JSON or text.
std::string TallyOutput(const CliOptions& options, int cards,
                        const std::vector<TallyFailure>& failures, bool stopped);

// The station's closing tally, per reader and in total, as JSON (one object) or text.
std::string StationTallyOutput(bool json, const std::vector<station::ReaderTally>& tallies,
                               bool interrupted);

// readers: the PC/SC readers in the service's order, whether the PC/SC service runs at
// all, and whether an Orvo reader is there.
std::string ReadersOutput(const CliOptions& options, const std::vector<std::string>& readers,
                          bool service_running, bool orvo_attached);

// check: the report as JSON or text (escaped for a terminal).
std::string CheckOutput(const CliOptions& options, const ScriptCheckReport& report);

// -q: the run's result alone, as text for a terminal: for info that succeeded the card
// and application lines, otherwise the run's message.
std::string QuietOutput(const CardRun& run);

// For -v: where the run ended and what it met, "card_refused, SW 6A80, line 13, 7
// exchanges".
std::string OutcomeDetail(const Outcome& outcome);

// The message with "\r\n" and a lone "\r" as "\n", as JSON and hooks carry it.
std::string WithLineFeeds(const std::string& text);

// The counter a card's four counter characters stand for; none when they are not all
// digits.
std::optional<uint32_t> CounterNumber(const std::string& characters);

// What the window's message cannot say about a script that was refused: why the file
// could not be read, or that it looks like UTF-16 text; empty otherwise.
std::string ScriptTroubleNote(const std::string& path, ScriptReadError read, bool utf16);

// The lines that go with a run on stderr besides the window's texts: why a refused
// script could not be read, that the PC/SC service went away, that the record failed.
std::string RunNotes(const CardRun& run, const std::string& script_path);

// What follows each card on the terminal: its result alone (-q, on out), its outcome in
// detail (-v) and the verdict banner (on err). card_number: the card's number in a loop.
struct CardReport {
  std::string out;
  std::string err;
};
CardReport ReportCard(const CliOptions& options, const std::string& reader, const CardRun& run,
                      std::optional<int> card_number, bool err_is_terminal);

}  // namespace pelliton::cli
