#include "cli/args.h"

#include <optional>
#include <string_view>

namespace pelliton::cli {

namespace {

std::optional<Command> CommandNamed(std::string_view name) {
  if (name == "readers")
    return Command::kReaders;
  if (name == "info")
    return Command::kInfo;
  if (name == "download")
    return Command::kDownload;
  if (name == "check")
    return Command::kCheck;
  if (name == "help")
    return Command::kHelp;
  return std::nullopt;
}

// A whole number from 1 to max, digits only.
bool ParseWholeNumber(std::string_view text, uint32_t max, uint32_t* value) {
  if (text.empty() || text.size() > std::to_string(max).size())
    return false;
  uint32_t number = 0;
  for (char c : text) {
    if (c < '0' || c > '9')
      return false;
    number = number * 10 + static_cast<uint32_t>(c - '0');
  }
  if (number == 0 || number > max)
    return false;
  *value = number;
  return true;
}

// The counter rule of the window would read "12abc" as 12, "-5" as a number out of range
// and a counter of 30 digits as 4294967295; on a production line each is a typing error.
bool CounterTextWellFormed(std::string_view text) {
  if (text.size() > 10)
    return false;
  if (text.starts_with('+'))
    text.remove_prefix(1);
  return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

ParseOutcome Fail(std::string error) {
  ParseOutcome outcome;
  outcome.error = std::move(error);
  return outcome;
}

}  // namespace

ParseOutcome ParseArgs(const std::vector<std::string>& args) {
  CliOptions options;
  std::vector<std::string> positional;
  bool counter_given = false;
  bool reader_given = false;
  bool orvo_given = false;
  bool cards_given = false;
  bool wait_given = false;
  bool readers_given = false;
  bool options_ended = false;

  for (size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    if (options_ended || arg.size() < 2 || arg[0] != '-') {
      positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_ended = true;
      continue;
    }
    if (arg == "-h" || arg == "--help") {
      ParseOutcome outcome;
      outcome.ok = true;
      outcome.options.command = Command::kHelp;
      return outcome;
    }
    // "--name=value" and "--name value" are the same.
    std::optional<std::string> inline_value;
    if (const size_t eq = arg.find('='); eq != std::string::npos && arg.rfind("--", 0) == 0) {
      inline_value = arg.substr(eq + 1);
      arg.resize(eq);
    }
    const bool takes_value = arg == "--counter" || arg == "--reader" || arg == "--cards" ||
                             arg == "--wait" || arg == "--readers";
    if (!takes_value && inline_value)
      return Fail(arg + " takes no value");
    std::string value;
    if (takes_value) {
      if (inline_value) {
        value = *inline_value;
      } else if (i + 1 < args.size() && !args[i + 1].starts_with("--")) {
        // A following option is never taken for the value ("--reader --json"); a
        // value that really starts with "--" is written "--reader=--name".
        value = args[++i];
      } else {
        return Fail(arg + " needs a value");
      }
    }

    if (arg == "--counter") {
      if (counter_given)
        return Fail("--counter given twice");
      if (!CounterTextWellFormed(value))
        return Fail("--counter needs digits only (an optional leading +), at most 10");
      counter_given = true;
      options.counter_text = value;
    } else if (arg == "--reader") {
      if (reader_given)
        return Fail("--reader given twice");
      if (value.empty())
        return Fail("--reader needs a reader name");
      reader_given = true;
      options.reader = ReaderChoice::kNamedPcsc;
      options.reader_name = value;
    } else if (arg == "--cards") {
      if (cards_given)
        return Fail("--cards given twice");
      if (!ParseWholeNumber(value, 1000000, &options.card_limit))
        return Fail("--cards needs a whole number from 1 to 1000000");
      cards_given = true;
    } else if (arg == "--wait") {
      if (wait_given)
        return Fail("--wait given twice");
      if (!ParseWholeNumber(value, 86400, &options.wait_seconds))
        return Fail("--wait needs a whole number of seconds from 1 to 86400");
      wait_given = true;
    } else if (arg == "--readers") {
      if (readers_given)
        return Fail("--readers given twice");
      if (value.empty())
        return Fail("--readers needs \"all\" or a list of readers");
      readers_given = true;
      options.readers_spec = value;
    } else if (arg == "--verify") {
      options.verify = true;
    } else if (arg == "--orvo") {
      orvo_given = true;
      options.reader = ReaderChoice::kOrvo;
    } else if (arg == "--each-card") {
      options.each_card = true;
    } else if (arg == "--trace") {
      options.trace = true;
    } else if (arg == "--json") {
      options.json = true;
    } else if (arg == "--strict") {
      options.strict = true;
    } else {
      return Fail("unknown option " + arg);
    }
  }

  if (positional.empty())
    return Fail("no command given");
  const std::optional<Command> command = CommandNamed(positional[0]);
  if (!command)
    return Fail("unknown command " + positional[0]);
  options.command = *command;

  const bool takes_script = *command == Command::kDownload || *command == Command::kCheck;
  const size_t expected = takes_script ? 2 : 1;
  if (positional.size() < expected)
    return Fail(positional[0] + " needs a script file");
  if (positional.size() > expected)
    return Fail("unexpected argument " + positional[expected]);
  if (takes_script)
    options.script = positional[1];

  const bool uses_card = *command == Command::kInfo || *command == Command::kDownload;
  if (reader_given && orvo_given)
    return Fail("--reader and --orvo exclude each other");
  if ((reader_given || orvo_given || options.trace || wait_given) && !uses_card)
    return Fail(positional[0] + " uses no card: --reader, --orvo, --trace and --wait do not apply");
  if (counter_given && *command != Command::kDownload)
    return Fail("--counter applies to download only");
  if (options.each_card && !uses_card)
    return Fail("--each-card applies to info and download only");
  if (options.each_card && orvo_given)
    return Fail("--each-card waits for cards on a PC/SC reader; it does not apply with --orvo");
  if (readers_given && (reader_given || orvo_given))
    return Fail("--readers excludes --reader and --orvo");
  if (readers_given && !options.each_card)
    return Fail("--readers serves each reader with --each-card only");
  if (readers_given && options.trace)
    return Fail("--trace applies to one reader only, not with --readers");
  if (options.verify && *command != Command::kDownload)
    return Fail("--verify applies to download only");
  if (cards_given && !options.each_card)
    return Fail("--cards applies with --each-card only");
  if (options.strict && *command != Command::kCheck)
    return Fail("--strict applies to check only");
  if (options.json && *command == Command::kHelp)
    return Fail("--json does not apply to help");

  ParseOutcome outcome;
  outcome.ok = true;
  outcome.options = std::move(options);
  return outcome;
}

std::string UsageText() {
  return "Usage:\n"
         "  pelliton-cli readers [--json]\n"
         "  pelliton-cli info [--reader NAME | --orvo] [--each-card [--cards N]] [--wait S]\n"
         "                    [--trace] [--json]\n"
         "  pelliton-cli download SCRIPT [--counter N] [--reader NAME | --orvo]\n"
         "                        [--each-card [--cards N]] [--wait S] [--trace] [--json]\n"
         "                        [--verify]\n"
         "  pelliton-cli info|download ... --each-card --readers all|LIST [--cards N]\n"
         "  pelliton-cli check SCRIPT [--strict] [--json]\n"
         "\n"
         "Commands:\n"
         "  readers   list the PC/SC readers and say whether an Orvo reader is attached\n"
         "  info      read the card's generation, application versions and counter\n"
         "  download  check SCRIPT, load it onto the card and write the counter\n"
         "  check     check SCRIPT line by line without a card; warn where the card would\n"
         "            surely get it wrong (misplaced or overlapping data, bad lengths)\n"
         "\n"
         "Options:\n"
         "  --reader NAME  use this PC/SC reader (default: the first one listed)\n"
         "  --orvo         use the Orvo USB reader\n"
         "  --counter N    usage counter to write, 1 to 5000 (default 500); digits only\n"
         "  --each-card    wait for a card, run, wait for its removal, repeat until\n"
         "                 interrupted; then print a tally\n"
         "  --cards N      with --each-card: stop after N cards (per reader with --readers)\n"
         "  --readers LIST with --each-card: serve several PC/SC readers at once; \"all\"\n"
         "                 (readers plugged in later too) or names, unique parts of names\n"
         "                 or indexes from \"readers\", separated by commas\n"
         "  --verify       with download: read the card back after a success; a counter\n"
         "                 that differs from the one written fails the card\n"
         "  --wait S       give up after S seconds (default 30) waiting for a card that\n"
         "                 another program holds or that does not answer\n"
         "  --trace        every APDU and response in hex, with its time, on stderr\n"
         "  --json         one JSON object per run on stdout\n"
         "  --strict       with check: any warning fails the check (exit status 1)\n"
         "\n"
         "Signals: a first Ctrl-C, SIGTERM or SIGHUP lets the card in progress finish;\n"
         "a second one ends at once, leaving that card unfinished.\n"
         "\n"
         "Exit status: 0 success, 1 the procedure failed, 2 usage error, 3 the output\n"
         "could not be written; 128 + the signal's number when a second signal ended it.\n";
}

}  // namespace pelliton::cli
