#include "cli/args.h"

#include <optional>
#include <string_view>

#include "journal/journal.h"

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
  if (name == "journal")
    return Command::kJournal;
  if (name == "help")
    return Command::kHelp;
  return std::nullopt;
}

// A whole number from 1 to 1000000, digits only.
bool ParseCardLimit(std::string_view text, uint32_t* value) {
  if (text.empty() || text.size() > 7)
    return false;
  uint32_t number = 0;
  for (char c : text) {
    if (c < '0' || c > '9')
      return false;
    number = number * 10 + static_cast<uint32_t>(c - '0');
  }
  if (number == 0 || number > 1000000)
    return false;
  *value = number;
  return true;
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
  bool options_ended = false;
  bool format_given = false;

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
                             arg == "--journal" || arg == "--since" || arg == "--card" ||
                             arg == "--format";
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
      if (!ParseCardLimit(value, &options.card_limit))
        return Fail("--cards needs a whole number from 1 to 1000000");
      cards_given = true;
    } else if (arg == "--orvo") {
      orvo_given = true;
      options.reader = ReaderChoice::kOrvo;
    } else if (arg == "--each-card") {
      options.each_card = true;
    } else if (arg == "--trace") {
      options.trace = true;
    } else if (arg == "--json") {
      options.json = true;
    } else if (arg == "--journal") {
      if (value.empty())
        return Fail("--journal needs a file path");
      options.journal_path = value;
    } else if (arg == "--no-journal") {
      options.no_journal = true;
    } else if (arg == "--since") {
      if (!journal::ParseSinceTime(value, &options.since))
        return Fail("--since needs a UTC time: YYYY-MM-DD[THH:MM[:SS[.mmm]]]");
    } else if (arg == "--card") {
      if (value.empty())
        return Fail("--card needs a run id or an ATR");
      options.card = value;
    } else if (arg == "--format") {
      format_given = true;
      if (value == "table")
        options.format = JournalFormat::kTable;
      else if (value == "csv")
        options.format = JournalFormat::kCsv;
      else if (value == "json")
        options.format = JournalFormat::kJson;
      else
        return Fail("--format is table, csv or json");
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
  const bool is_journal = *command == Command::kJournal;
  if (((reader_given && !is_journal) || orvo_given || options.trace) && !uses_card)
    return Fail(positional[0] + " uses no card: --reader, --orvo and --trace do not apply");
  if (counter_given && *command != Command::kDownload)
    return Fail("--counter applies to download only");
  if (options.each_card && !uses_card)
    return Fail("--each-card applies to info and download only");
  if (options.each_card && orvo_given)
    return Fail("--each-card waits for cards on a PC/SC reader; it does not apply with --orvo");
  if (cards_given && !options.each_card)
    return Fail("--cards applies with --each-card only");
  if (options.json && *command == Command::kHelp)
    return Fail("--json does not apply to help");
  if (!options.journal_path.empty() && options.no_journal)
    return Fail("--journal and --no-journal exclude each other");
  if ((!options.journal_path.empty() && !uses_card && !is_journal) ||
      (options.no_journal && !uses_card))
    return Fail("--journal and --no-journal apply to info and download (--journal to journal too)");
  if ((!options.since.empty() || !options.card.empty() || format_given) && !is_journal)
    return Fail("--since, --card and --format apply to journal only");
  if (is_journal && options.json) {
    if (format_given)
      return Fail("--json and --format exclude each other");
    options.format = JournalFormat::kJson;
  }

  ParseOutcome outcome;
  outcome.ok = true;
  outcome.options = std::move(options);
  return outcome;
}

std::string UsageText() {
  return "Usage:\n"
         "  pelliton-cli readers [--json]\n"
         "  pelliton-cli info [--reader NAME | --orvo] [--each-card [--cards N]] [--trace] "
         "[--json]\n"
         "  pelliton-cli download SCRIPT [--counter N] [--reader NAME | --orvo]\n"
         "                        [--each-card [--cards N]] [--trace] [--json]\n"
         "  pelliton-cli check SCRIPT [--json]\n"
         "  pelliton-cli journal [--since TIME] [--reader NAME] [--card RUN-ID|ATR]\n"
         "                       [--format table|csv|json] [--journal PATH]\n"
         "\n"
         "Commands:\n"
         "  readers   list the PC/SC readers and say whether an Orvo reader is attached\n"
         "  info      read the card's generation, application versions and counter\n"
         "  download  check SCRIPT, load it onto the card and write the counter\n"
         "  check     check SCRIPT line by line without a card\n"
         "  journal   list the journal's records of card runs\n"
         "\n"
         "Options:\n"
         "  --reader NAME  use this PC/SC reader (default: the first one listed)\n"
         "  --orvo         use the Orvo USB reader\n"
         "  --counter N    usage counter to write, 1 to 5000 (default 500)\n"
         "  --each-card    wait for a card, run, wait for its removal, repeat until\n"
         "                 interrupted; then print a tally\n"
         "  --cards N      with --each-card: stop after N cards\n"
         "  --trace        every APDU and response in hex, with its time, on stderr\n"
         "  --json         one JSON object per run on stdout\n"
         "  --journal PATH record every card run in this journal (default\n"
         "                 $XDG_DATA_HOME/pelliton/journal.sqlite)\n"
         "  --no-journal   record nothing\n"
         "  --since TIME   journal: records from this UTC time on (YYYY-MM-DD[THH:MM[:SS]])\n"
         "  --card ID      journal: one card's history, by run id or ATR\n"
         "  --format F     journal: table (default), csv or json\n"
         "\n"
         "Exit status: 0 success, 1 the procedure failed, 2 usage error, 4 the journal\n"
         "cannot be opened or written.\n";
}

}  // namespace pelliton::cli
