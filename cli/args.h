// The command line of pelliton-cli: which procedure to run, on which reader, and how
// to report it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pelliton::cli {

// kVersion: print the program's name and version; no reader is touched.
enum class Command { kHelp, kVersion, kReaders, kInfo, kDownload, kCheck, kJournal };

// Which reader a card command uses. kFirstPcsc: the first PC/SC reader the service lists.
enum class ReaderChoice { kFirstPcsc, kNamedPcsc, kOrvo };

// How the journal command prints its records.
enum class JournalFormat { kTable, kCsv, kJson };

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
  // The journal of info and download runs: empty journal_path is the default one.
  std::string journal_path;
  bool no_journal = false;
  // The journal command: records from this time prefix on (see ParseSinceTime), of the
  // reader in reader_name, of one card (run id or ATR), printed so.
  std::string since;
  std::string card;
  JournalFormat format = JournalFormat::kTable;
};

struct ParseOutcome {
  bool ok = false;
  CliOptions options;
  std::string error;  // one line, for a usage error
};

// args: the arguments after the program name.
ParseOutcome ParseArgs(const std::vector<std::string>& args);

std::string UsageText();

}  // namespace pelliton::cli
