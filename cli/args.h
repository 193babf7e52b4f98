// The command line of pelliton-cli: which procedure to run, on which reader, and how
// to report it. Options not given on the command line take their defaults from the
// environment and the configuration file (cli/defaults.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/defaults.h"

namespace pelliton::cli {

enum class Command {
  kHelp,
  kVersion,
  kReaders,
  kInfo,
  kDownload,
  kCheck,
  kJournal,
  kPlant,
  kReport
};

// The command's name on the command line ("download"); empty for kHelp and kVersion.
const char* CommandName(Command command);

// Which reader a card command uses. kFirstPcsc: the first PC/SC reader that holds a card,
// else the first one the service lists. kNamedPcsc: reader_name as cli/reader_choice.h
// reads it (an index, a full name or a part of one).
enum class ReaderChoice { kFirstPcsc, kNamedPcsc, kOrvo };

struct CliOptions {
  Command command = Command::kHelp;
  std::string script;  // download and check
  // The counter as typed; it goes through the counter box's rule like the window's text.
  // Only digits (an optional leading '+'), at most 10 characters.
  std::string counter_text = "500";
  ReaderChoice reader = ReaderChoice::kFirstPcsc;
  std::string reader_name;  // kNamedPcsc
  // How long a PC/SC call may wait for a card that another program holds or that does
  // not answer before the run is given up.
  uint32_t wait_seconds = 30;
  bool each_card = false;
  uint32_t card_limit = 0;  // 0: until interrupted
  bool trace = false;
  bool json = false;
  bool strict = false;  // check: any warning fails the check
  // -v: the reader chosen and each card's outcome in detail on stderr; -vv: also trace.
  int verbosity = 0;
  // -q: only the result; no progress, step texts, waiting notes or verdict banner.
  bool quiet = false;
  // Run through /bin/sh after each card that passed or failed, at most hook_timeout
  // seconds each.
  std::string on_pass;
  std::string on_fail;
  uint32_t hook_timeout_seconds = 10;

  // The station of several readers; carried for it, read there.
  std::string readers_wanted;  // --readers LIST
  bool verify = false;         // --verify
  // The journal of card runs; carried for it, read there.
  std::string journal_path;  // --journal PATH
  bool no_journal = false;   // --no-journal
  // The journal command's filters: --since TIME, --reader NAME, --format, --card,
  // --unfinished.
  std::string journal_since;
  std::string journal_reader;
  std::string journal_format = "table";
  std::string journal_card;
  bool journal_unfinished = false;
  // journal verify: the record chains checked instead of the records listed.
  bool journal_verify = false;
  // journal --pending: only the records the plant has not acknowledged.
  bool journal_pending = false;
  // journal push: every pending record delivered to the plant instead of the records listed.
  bool journal_push = false;

  // The plant database, a libpq connection string (--plant URL, plant = URL, PELLITON_PLANT):
  // card runs deliver their records to it in the background; journal push delivers the
  // backlog; plant init and plant check take it as their argument.
  std::string plant_url;
  std::string plant_action;  // plant: "init" or "check"
  // The report command: --until TIME and --by GROUPING; its --journal, --since and
  // --format are the journal command's fields.
  std::string report_until;
  std::string report_by;

  // Defaults taken from the environment or the file, one "name: value (from SOURCE)"
  // line each, for -v.
  std::vector<std::string> defaults_applied;
};

struct ParseOutcome {
  bool ok = false;
  CliOptions options;
  // A usage error: one line, with the reason and where to find help.
  std::string error;
  // With kHelp: the help of the command asked about (or of the program).
  std::string help;
};

// args: the arguments after the program name. defaults: for the options not given.
ParseOutcome ParseArgs(const std::vector<std::string>& args, const Defaults& defaults = {});

// The program's help: its commands and how to call each.
std::string UsageText();

}  // namespace pelliton::cli
