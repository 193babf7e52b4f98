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

namespace pelliton::cli {

// The version of JSON objects pelliton-cli writes; raised when a field changes meaning or
// goes, not when one is added.
inline constexpr int kJsonSchema = 1;

// One procedure run on a card.
struct CardRun {
  Outcome outcome;
  std::optional<CardInfo> info;       // info, on success
  std::vector<std::string> messages;  // every text the run showed, in order
  std::string atr_hex;                // the ATR the run read; empty when none
  std::chrono::milliseconds elapsed{0};
  // With --verify, after a successful download: what the card information query read
  // back (none when the query failed; its outcome is then the run's).
  std::optional<CardInfo> read_back;
  uint32_t counter_written = 0;  // download: the counter the run wrote or was to write
  // The run id of the run's journal record; empty when the run was not recorded.
  std::string run_id;
};

// A failed card of a card loop.
struct TallyFailure {
  int card = 0;
  std::string message;
};

// One JSON line for a run of info or download; card_number with --each-card. reader: the
// reader as named in messages.
std::string RunJson(const CliOptions& options, const std::string& reader, const CardRun& run,
                    std::optional<int> card_number);

// The card loop's closing tally, as JSON or text.
std::string TallyOutput(const CliOptions& options, int cards,
                        const std::vector<TallyFailure>& failures, bool stopped);

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

}  // namespace pelliton::cli
