// The command line of pelliton-cli: which procedure to run, on which reader, and how
// to report it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pelliton::cli {

enum class Command { kHelp, kReaders, kInfo, kDownload, kCheck };

// Which reader a card command uses. kFirstPcsc: the first PC/SC reader the service lists.
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
  bool strict = false;       // check: any warning fails the check
  std::string readers_spec;  // --readers: "all", or NAME,NAME... (unique substrings or indexes)
  bool verify = false;       // --verify
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
