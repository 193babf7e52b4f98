#include "cli/args.h"
#include "cli/commands/report.h"
#include "engine/counter_rule.h"
#include "journal/journal.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string_view>

namespace pelliton::cli {

namespace {

constexpr char kProgram[] = "pelliton-cli";

constexpr char kExitStatusText[] =
    "Signals: a first Ctrl-C, SIGTERM or SIGHUP lets the card in progress finish;\n"
    "a second one ends at once, leaving that card unfinished.\n\n"
    "Exit status: 0 success, 1 the procedure failed, 2 usage error, 3 the output\n"
    "could not be written, 4 the journal cannot be opened or written, 5 the plant\n"
    "cannot be reached or refused (or records still wait for it); 128 + the\n"
    "signal's number when a second signal ended it.";

// The parser's options in every spelling ("-r", "--reader"), taken from the parser itself
// so that an option added there is known here too. Before CLI11 sees the arguments, a
// value that looks like an option ("--reader --json") is refused and an option given
// twice is named, as a production-line script's typing error, not taken as a value.
struct Spellings {
  // Each spelling of an option that takes a value, with the name it counts under for
  // "given twice": its first long name, so "-r 1 --reader=2" is the same option twice.
  std::map<std::string, std::string> value_options;
  std::set<std::string> flags;
};

void Collect(const CLI::App& app, Spellings* spellings) {
  for (const CLI::Option* option : app.get_options()) {
    std::vector<std::string> names;
    for (const std::string& name : option->get_lnames())
      names.push_back("--" + name);
    for (const std::string& name : option->get_snames())
      names.push_back("-" + name);
    for (const std::string& name : names) {
      if (option->get_items_expected_min() > 0)
        spellings->value_options.emplace(name, names.front());
      else if (option->get_expected_max() == 0)  // not one whose value may be left out
        spellings->flags.insert(name);
    }
  }
  // With a filter, even an empty one, CLI11 gives every subcommand, not those parsed.
  for (const CLI::App* sub : app.get_subcommands({}))
    Collect(*sub, spellings);
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

std::string Quoted(const std::string& text) {
  return "\"" + text + "\"";
}

// The arguments with the command moved to the front (options may come before it), or
// a usage error.
struct Arranged {
  std::vector<std::string> args;
  std::string command;  // the first argument that is no option, even on an error
  bool help = false;    // "help COMMAND"
  std::string error;
};

Arranged Arrange(const std::vector<std::string>& args, const Spellings& spellings) {
  Arranged arranged;
  std::optional<size_t> command_at;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--")
      break;
    if (args[i].size() < 2 || args[i][0] != '-') {
      arranged.command = args[i];
      break;
    }
    if (spellings.value_options.contains(args[i]))
      ++i;
  }
  std::vector<std::string> seen;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--")
      break;
    if (arg.size() < 2 || arg[0] != '-') {
      if (!command_at)
        command_at = i;
      continue;
    }
    const size_t equals = arg.find('=');
    const bool long_form = arg.starts_with("--");
    std::string name = long_form && equals != std::string::npos ? arg.substr(0, equals) : arg;
    if (!long_form && name.size() > 2 && spellings.value_options.contains(name.substr(0, 2)))
      name = name.substr(0, 2);  // "-rReader 1"
    if (const auto value_option = spellings.value_options.find(name);
        value_option != spellings.value_options.end()) {
      const bool inline_value = name.size() < arg.size();
      const bool empty_inline = long_form && inline_value && equals + 1 == arg.size();
      if (empty_inline ||
          (!inline_value && (i + 1 >= args.size() || args[i + 1].starts_with("--")))) {
        arranged.error = name + " needs a value";
        return arranged;
      }
      const std::string& canonical = value_option->second;
      if (std::find(seen.begin(), seen.end(), canonical) != seen.end()) {
        arranged.error = name + " given twice";
        return arranged;
      }
      seen.push_back(canonical);
      if (!inline_value)
        ++i;
    } else if (long_form && equals != std::string::npos && spellings.flags.contains(name)) {
      arranged.error = name + " takes no value";
      return arranged;
    }
  }
  if (!command_at) {
    arranged.args = args;
    return arranged;
  }
  // "help COMMAND" is "COMMAND --help": CLI11 would take COMMAND for a command to run.
  if (args[*command_at] == "help" && *command_at + 1 < args.size() &&
      !args[*command_at + 1].starts_with('-')) {
    arranged.args = {args[*command_at + 1]};
    // "help journal verify": the help of the command's own subcommand.
    if (*command_at + 2 < args.size() && !args[*command_at + 2].starts_with('-'))
      arranged.args.push_back(args[*command_at + 2]);
    arranged.args.push_back("--help");
    arranged.command = args[*command_at + 1];
    arranged.help = true;
    return arranged;
  }
  arranged.args.push_back(args[*command_at]);
  for (size_t i = 0; i < args.size(); ++i) {
    if (i != *command_at)
      arranged.args.push_back(args[i]);
  }
  return arranged;
}

// A value given on the command line or else by a default, with its name for messages.
struct Setting {
  std::string text;
  std::string label;  // "--wait" or "wait (from PELLITON_...)"
  bool from_default = false;
};

// The whole command line as CLI11 sees it, bound to one CliOptions.
class Parser {
 public:
  explicit Parser(const Defaults& defaults) : defaults_(defaults) {
    app_.description("Load upgrade scripts onto Tessiv cards and read the cards back.");
    app_.allow_extras();
    // CLI11 reads "/x" as an option on Windows by default: a script given as /srv/app.bin
    // (an MSYS or wine path) would vanish. The options are the same everywhere.
    app_.allow_windows_style_options(false);
    app_.get_formatter()->column_width(24);
    app_.add_flag("-V,--version", version_, "print the program's name and version, and exit");

    readers_ = Add("readers", "list the PC/SC readers, numbered for -r, and the Orvo reader");
    readers_->add_flag("-j,--json", options_.json, "one JSON object on stdout");

    check_ = Add("check", "check SCRIPT line by line without a card");
    check_->add_option("SCRIPT", options_.script, "the upgrade script")->required();
    check_->add_flag("--strict", options_.strict, "any warning fails the check (exit status 1)");
    check_->add_flag("-j,--json", options_.json, "one JSON object on stdout");

    info_ = Add("info", "read the card's generation, application versions and counter");
    download_ = Add("download", "check SCRIPT, load it onto the card and write the counter");
    download_->add_option("SCRIPT", options_.script, "the upgrade script")->required();
    download_->add_option("--counter", counter_, "usage counter to write, 1 to 5000; digits only")
        ->type_name("N")
        ->default_str("500");
    for (CLI::App* card : {info_, download_})
      AddCardOptions(card);

    journal_ = Add("journal", "list the journal's card runs; journal verify: check its chains");
    journal_->add_option("--journal", options_.journal_path, "the journal file")->type_name("PATH");
    journal_->add_option("--since", options_.journal_since, "runs from this time on")
        ->type_name("TIME");
    journal_->add_option("-r,--reader", options_.journal_reader, "runs in this reader")
        ->type_name("NAME");
    journal_->add_option("--format", options_.journal_format, "table, csv or json")
        ->type_name("FORMAT")
        ->check(CLI::IsMember({"table", "csv", "json"}))
        ->default_str("table");
    journal_->add_option("--card", options_.journal_card, "runs of this card")
        ->type_name("ATR|RUN-ID");
    journal_->add_flag("--unfinished", options_.journal_unfinished,
                       "only cards left in the middle of their run (unfinished,\n"
                       "abandoned, interrupted): they may be half-loaded");
    journal_->add_flag("--pending", options_.journal_pending,
                       "only records the plant has not acknowledged yet");
    journal_->add_flag("-j,--json", options_.json, "the same as --format json");
    // A subcommand of its own, so that `journal` alone still lists.
    verify_ = journal_->add_subcommand("verify",
                                       "check each station's records: numbered 1, 2, 3 ... and\n"
                                       "chained by digests; names the first one changed,\n"
                                       "removed or inserted out of order");
    verify_->add_option("--journal", options_.journal_path, "the journal file")->type_name("PATH");
    verify_->add_flag("-j,--json", options_.json, "one JSON object on stdout");
    push_ = journal_->add_subcommand("push",
                                     "deliver every record the plant has not acknowledged;\n"
                                     "exit status 0 only when none is left");
    push_->add_option("--journal", options_.journal_path, "the journal file")->type_name("PATH");
    push_->add_option("--plant", plant_url_, "the plant database")->type_name("URL");

    plant_ = Add("plant", "the plant database: plant init URL, plant check [URL]");
    plant_init_ = plant_->add_subcommand(
        "init", "create the plant's schema at URL, or upgrade it to this release's");
    plant_init_->add_option("URL", plant_url_, "a libpq connection string")->required();
    plant_check_ = plant_->add_subcommand(
        "check", "list the gaps in each station's records and what the plant flagged");
    plant_check_->add_option("URL", plant_url_, "a libpq connection string (default: plant)");

    report_ = Add("report", "count the journal's cards: passed, failed, unfinished, counter units");
    report_->add_option("--journal", options_.journal_path, "the journal file")->type_name("PATH");
    report_->add_option("--plant", plant_url_, "count the plant's records instead: every station's")
        ->type_name("URL");
    report_->add_option("--since", options_.journal_since, "runs from this time on")
        ->type_name("TIME");
    report_->add_option("--until", options_.report_until, "runs before this time")
        ->type_name("TIME");
    report_->add_option("--by", options_.report_by, "day, station, reader, script or outcome")
        ->type_name("GROUP");
    report_->add_option("--format", options_.journal_format, "table, csv or json")
        ->type_name("FORMAT")
        ->check(CLI::IsMember({"table", "csv", "json"}))
        ->default_str("table");
    report_->add_flag("-j,--json", options_.json, "the same as --format json");
    static constexpr char kReportRows[] =
        "One row per group, in the order of its key; without --by one row, \"all\".\n"
        "  CARDS          the runs that began from --since on and before --until\n"
        "  PASSED         outcome success\n"
        "  UNFINISHED     outcome unfinished, abandoned or interrupted: maybe half-loaded\n"
        "  FAILED         every other outcome (read_back too)\n"
        "  COUNTER UNITS  the counters of the downloads that passed; a failed one counts\n"
        "                 none\n"
        "--by day: the UTC date the run began; script: the file name and the first 12\n"
        "hex digits of its SHA-256, so that two scripts of one name stay apart (\"(none)\"\n"
        "for info runs). With --by the table ends with a row \"total\"; CSV and JSON hold\n"
        "the groups only. TIME: UTC, YYYY-MM-DD[THH:MM[:SS[.mmm]]].\n\n";
    report_->footer(std::string(kReportRows) + kExitStatusText);

    help_ = Add("help", "this help; help COMMAND: the command's");
    app_.footer(std::string("Run `pelliton-cli COMMAND --help` for a command's options.\n\n") +
                kExitStatusText);
  }

  ParseOutcome Parse(const std::vector<std::string>& args) {
    Spellings spellings;
    Collect(app_, &spellings);
    const Arranged arranged = Arrange(args, spellings);
    if (!arranged.error.empty())
      return Fail(arranged.error, Sub(arranged.command));
    if (arranged.help && Sub(arranged.command) == nullptr)
      return Fail("unknown command " + arranged.command, nullptr);
    std::vector<std::string> reversed(arranged.args.rbegin(), arranged.args.rend());
    try {
      app_.parse(reversed);
    } catch (const CLI::CallForHelp&) {
      return Help(Selected());
    } catch (const CLI::ParseError& e) {
      return Fail(e.what(), Selected());
    }
    CLI::App* sub = Selected();
    if (version_) {
      options_.command = Command::kVersion;
      return Ok();
    }
    if (sub == help_)
      return Help(nullptr);
    if (sub == nullptr) {
      const std::vector<std::string> extras = app_.remaining();
      if (extras.empty())
        return Fail("no command given", nullptr);
      const std::string& first = extras.front();
      return Fail((first.starts_with('-') ? "unknown option " : "unknown command ") + first,
                  nullptr);
    }
    bool options_ended = false;
    std::vector<std::string> extras = sub->remaining();
    if (sub == verify_ || sub == push_ || sub == plant_init_ || sub == plant_check_) {
      const std::vector<std::string> before = sub->get_parent()->remaining();
      extras.insert(extras.begin(), before.begin(), before.end());
    }
    for (const std::string& extra : extras) {
      if (extra == "--" && !options_ended) {
        options_ended = true;
        continue;
      }
      if (!options_ended && extra.size() > 1 && extra.starts_with('-'))
        return Fail("unknown option " + extra + " for " + Named(sub), sub);
      return Fail("unexpected argument " + extra, sub);
    }
    return Finish(sub);
  }

 private:
  CLI::App* Add(const char* name, const char* description) {
    CLI::App* sub = app_.add_subcommand(name, description);
    sub->allow_extras();
    sub->footer(kExitStatusText);
    return sub;
  }

  void AddCardOptions(CLI::App* card) {
    card->add_option("-r,--reader", reader_,
                     "PC/SC reader: its number in `readers`, its name, or a part of its name\n"
                     "no other reader's holds (default: the first holding a card)")
        ->type_name("READER");
    card->add_flag("--orvo", orvo_, "use the Orvo USB reader");
    card->add_flag("--each-card", options_.each_card,
                   "wait for a card, run, wait for its removal, repeat until\n"
                   "interrupted; then print a tally");
    card->add_option("--cards", cards_, "with --each-card: stop after N cards")->type_name("N");
    card->add_option("--wait", wait_,
                     "give up after S seconds waiting for a card that another\n"
                     "program holds or that does not answer")
        ->type_name("S")
        ->default_str("30");
    card->add_flag("--trace", options_.trace,
                   "every APDU and response in hex, with its time, on stderr");
    card->add_flag("-j,--json", options_.json, "one JSON object per card on stdout");
    card->add_flag("-v,--verbose", options_.verbosity,
                   "more on stderr: the reader chosen and each card's outcome;\n"
                   "-vv also --trace");
    card->add_flag("-q,--quiet", options_.quiet,
                   "only the result: no progress, step texts, notes or verdict");
    card->add_option("--on-pass", on_pass_, "after each card that passed, run CMD with /bin/sh")
        ->type_name("CMD");
    card->add_option("--on-fail", on_fail_, "after each card that failed, run CMD with /bin/sh")
        ->type_name("CMD");
    card->add_option("--hook-timeout", hook_timeout_,
                     "end a hook (its whole process group) after S seconds")
        ->type_name("S")
        ->default_str("10");
    card->add_option("--readers", options_.readers_wanted,
                     "with --each-card: serve several PC/SC readers at once; \"all\" (readers "
                     "plugged in later too) or numbers, names or parts of names, comma-separated")
        ->type_name("LIST");
    card->add_flag("--verify", options_.verify,
                   "with download: read the card back after a success; a counter read back "
                   "other than the one written fails the card");
    card->add_option("--journal", options_.journal_path, "record each card run in PATH")
        ->type_name("PATH");
    card->add_flag("--no-journal", options_.no_journal, "record no card run");
    card->add_option("--plant", plant_url_,
                     "deliver each record to the plant database URL as well, in the\n"
                     "background; records wait in the journal while it is away")
        ->type_name("URL");
  }

  CLI::App* Sub(const std::string& name) const {
    for (CLI::App* sub : {readers_, check_, info_, download_, journal_, plant_, report_, help_}) {
      if (sub->get_name() == name)
        return sub;
    }
    return nullptr;
  }

  // The command run: journal verify rather than journal when it is given.
  CLI::App* Selected() const {
    for (CLI::App* sub : {readers_, check_, info_, download_, verify_, push_, journal_, plant_init_,
                          plant_check_, plant_, report_, help_}) {
      if (sub->parsed())
        return sub;
    }
    return nullptr;
  }

  ParseOutcome Ok() {
    ParseOutcome outcome;
    outcome.ok = true;
    outcome.options = std::move(options_);
    return outcome;
  }

  // A command by its words after the program's name: "download", "journal verify".
  static std::string Named(const CLI::App* sub) {
    const CLI::App* parent = sub->get_parent();
    return parent != nullptr && parent->get_parent() != nullptr
               ? parent->get_name() + " " + sub->get_name()
               : sub->get_name();
  }

  // One line: the reason, then where the help is.
  static ParseOutcome Fail(const std::string& reason, const CLI::App* sub) {
    ParseOutcome outcome;
    outcome.error =
        reason + " (see " + kProgram +
        (sub == nullptr || sub->get_name() == "help" ? std::string() : " " + Named(sub)) +
        " --help)";
    return outcome;
  }

  ParseOutcome Help(CLI::App* sub) {
    ParseOutcome outcome;
    outcome.ok = true;
    outcome.options.command = Command::kHelp;
    if (sub == nullptr || sub == help_) {
      // Not app_.help(), which would give the help of the command selected ("help").
      outcome.help = app_.get_formatter()->make_help(&app_, kProgram, CLI::AppFormatMode::Normal);
      return outcome;
    }
    std::string in_effect;
    for (const char* key :
         {"reader", "counter", "wait", "on-pass", "on-fail", "hook-timeout", "plant"}) {
      const auto found = defaults_.values.find(key);
      if (found == defaults_.values.end() || !Uses(sub, key))
        continue;
      in_effect += "\n  " + std::string(key) + ": " + found->second.value + " (from " +
                   found->second.source + ")";
    }
    if (!defaults_.error.empty() && (sub == info_ || sub == download_))
      in_effect += "\n  none, the defaults are faulty: " + defaults_.error;
    if (!in_effect.empty())
      sub->footer("Defaults in effect:" + in_effect + "\n\n" + kExitStatusText);
    // From the top command, which hands it to verify when that was given, named in full.
    outcome.help = (sub == verify_ ? journal_ : sub)->help(kProgram, CLI::AppFormatMode::Normal);
    return outcome;
  }

  bool Uses(const CLI::App* sub, std::string_view key) const {
    if (key == "counter")
      return sub == download_;
    if (key == "plant")
      return sub == info_ || sub == download_ || sub == push_ || sub == plant_check_;
    return sub == info_ || sub == download_;
  }

  // The command line's value of option, else the default of key; none when neither.
  std::optional<Setting> ValueOf(CLI::App* sub, const char* option, const std::string& given,
                                 const char* key) {
    if (sub->count(option) > 0)
      return Setting{given, option, false};
    const auto found = defaults_.values.find(key);
    if (found == defaults_.values.end())
      return std::nullopt;
    const std::string label = std::string(key) + " (from " + found->second.source + ")";
    options_.defaults_applied.push_back(std::string(key) + ": " + found->second.value + " (from " +
                                        found->second.source + ")");
    return Setting{found->second.value, label, true};
  }

  // The first of options given to journal itself (before its subcommand), or "".
  std::string GivenToJournal(std::initializer_list<const char*> options) const {
    for (const char* option : options) {
      if (journal_->count(option) > 0)
        return option;
    }
    return "";
  }

  // The plant's URL from option (or the plant default) into the options; the command is
  // done then. missing: what a usage error says when neither gives one.
  ParseOutcome TakePlant(CLI::App* sub, const char* option, const std::string& missing) {
    const auto plant = ValueOf(sub, option, plant_url_, "plant");
    if (!plant || plant->text.empty())
      return Fail(missing + " (or plant = URL in cli.conf)", sub);
    options_.plant_url = plant->text;
    return Ok();
  }

  ParseOutcome Finish(CLI::App* sub) {
    if (sub == plant_)
      return Fail("plant needs init URL or check [URL]", sub);
    if (sub == plant_init_) {
      options_.command = Command::kPlant;
      options_.plant_action = "init";
      options_.plant_url = plant_url_;
      return Ok();
    }
    if (sub == plant_check_) {
      options_.command = Command::kPlant;
      options_.plant_action = "check";
      return TakePlant(sub, "URL", "plant check needs the plant's URL");
    }
    if (sub == push_) {
      if (const std::string given = GivenToJournal(
              {"--since", "--reader", "--format", "--card", "--unfinished", "--pending", "--json"});
          !given.empty())
        return Fail(given + " does not apply to journal push", sub);
      if (!defaults_.error.empty())
        return Fail(defaults_.error, sub);
      options_.command = Command::kJournal;
      options_.journal_push = true;
      return TakePlant(sub, "--plant", "journal push needs --plant URL");
    }
    if (sub == verify_) {
      if (const std::string given = GivenToJournal(
              {"--since", "--reader", "--format", "--card", "--unfinished", "--pending"});
          !given.empty())
        return Fail(given + " does not apply to journal verify", sub);
      options_.command = Command::kJournal;
      options_.journal_verify = true;
      return Ok();
    }
    for (const Command command : {Command::kReaders, Command::kCheck, Command::kInfo,
                                  Command::kDownload, Command::kJournal, Command::kReport}) {
      if (sub->get_name() == CommandName(command))
        options_.command = command;
    }
    if (sub == journal_) {
      std::string since;
      if (!options_.journal_since.empty() &&
          !journal::ParseSinceTime(options_.journal_since, &since)) {
        return Fail("--since: " + Quoted(options_.journal_since) +
                        " is not a UTC time YYYY-MM-DD[THH:MM[:SS[.mmm]]]",
                    sub);
      }
    }
    if ((sub == journal_ || sub == report_) && options_.json && sub->count("--format") > 0 &&
        options_.journal_format != "json")
      return Fail("--json and --format " + options_.journal_format + " exclude each other", sub);
    if (sub == report_) {
      if (sub->count("--plant") > 0 && sub->count("--journal") > 0)
        return Fail("--plant and --journal exclude each other", sub);
      if (sub->count("--plant") > 0 && plant_url_.empty())
        return Fail("--plant needs the plant's URL", sub);
      options_.plant_url = plant_url_;
      ReportOptions report;
      if (const std::string why = ReadReportOptions(options_, &report); !why.empty())
        return Fail(why, sub);
    }
    if (sub != info_ && sub != download_)
      return Ok();

    if (!defaults_.error.empty())
      return Fail(defaults_.error, sub);
    if (orvo_ && sub->count("--reader") > 0)
      return Fail("--reader and --orvo exclude each other", sub);
    if (options_.quiet && options_.verbosity > 0)
      return Fail("--quiet and --verbose exclude each other", sub);
    if (!options_.journal_path.empty() && options_.no_journal)
      return Fail("--journal and --no-journal exclude each other", sub);
    if (sub->count("--plant") > 0 && options_.no_journal)
      return Fail("--plant delivers the journal's records; it excludes --no-journal", sub);
    if (const auto plant = ValueOf(sub, "--plant", plant_url_, "plant");
        plant && !options_.no_journal)
      options_.plant_url = plant->text;
    if (orvo_) {
      options_.reader = ReaderChoice::kOrvo;
    } else if (const auto reader = ValueOf(sub, "--reader", reader_, "reader")) {
      if (reader->text.empty())
        return Fail(reader->label + " needs a reader name", sub);
      options_.reader = ReaderChoice::kNamedPcsc;
      options_.reader_name = reader->text;
    }
    if (sub == download_) {
      if (const auto counter = ValueOf(sub, "--counter", counter_, "counter")) {
        // Out of range is left to the run, which refuses it with the window's messages.
        uint32_t number = 0;
        if (ParseTypedCounterText(counter->text, &number) == CounterParse::kNotANumber) {
          return Fail(counter->label + ": " + Quoted(counter->text) +
                          " is not a number of at most 10 digits",
                      sub);
        }
        options_.counter_text = counter->text;
      }
    }
    if (const auto wait = ValueOf(sub, "--wait", wait_, "wait");
        wait && !ParseWholeNumber(wait->text, 86400, &options_.wait_seconds)) {
      return Fail(wait->label + ": " + Quoted(wait->text) +
                      " is not a whole number of seconds from 1 to 86400",
                  sub);
    }
    if (const auto timeout = ValueOf(sub, "--hook-timeout", hook_timeout_, "hook-timeout");
        timeout && !ParseWholeNumber(timeout->text, 3600, &options_.hook_timeout_seconds)) {
      return Fail(timeout->label + ": " + Quoted(timeout->text) +
                      " is not a whole number of seconds from 1 to 3600",
                  sub);
    }
    if (const auto hook = ValueOf(sub, "--on-pass", on_pass_, "on-pass"))
      options_.on_pass = hook->text;
    if (const auto hook = ValueOf(sub, "--on-fail", on_fail_, "on-fail"))
      options_.on_fail = hook->text;

    if (sub->count("--cards") > 0) {
      if (!options_.each_card)
        return Fail("--cards applies with --each-card only", sub);
      if (!ParseWholeNumber(cards_, 1000000, &options_.card_limit))
        return Fail("--cards: " + Quoted(cards_) + " is not a whole number from 1 to 1000000", sub);
    }
    if (options_.each_card && orvo_)
      return Fail("--each-card waits for cards on a PC/SC reader; it does not apply with --orvo",
                  sub);
    if (sub->count("--readers") > 0) {
      if (options_.readers_wanted.empty())
        return Fail("--readers needs \"all\" or a list of readers", sub);
      if (orvo_ || sub->count("--reader") > 0)
        return Fail("--readers excludes --reader and --orvo", sub);
      if (!options_.each_card)
        return Fail("--readers serves each reader with --each-card only", sub);
      if (options_.trace || options_.verbosity >= 2)
        return Fail("--trace applies to one reader only, not with --readers", sub);
    }
    if (options_.verify && sub != download_)
      return Fail("--verify applies to download only", sub);
    if (options_.verbosity >= 2)
      options_.trace = true;
    return Ok();
  }

  const Defaults& defaults_;
  CLI::App app_{"", kProgram};
  CLI::App* readers_ = nullptr;
  CLI::App* check_ = nullptr;
  CLI::App* info_ = nullptr;
  CLI::App* download_ = nullptr;
  CLI::App* journal_ = nullptr;
  CLI::App* verify_ = nullptr;
  CLI::App* push_ = nullptr;
  CLI::App* plant_ = nullptr;
  CLI::App* plant_init_ = nullptr;
  CLI::App* plant_check_ = nullptr;
  CLI::App* report_ = nullptr;
  CLI::App* help_ = nullptr;
  CliOptions options_;
  bool version_ = false;
  bool orvo_ = false;
  // Values checked after the parse, like the defaults that may stand in for them.
  std::string reader_;
  std::string counter_;
  std::string cards_;
  std::string wait_;
  std::string hook_timeout_;
  std::string on_pass_;
  std::string on_fail_;
  std::string plant_url_;
};

}  // namespace

const char* CommandName(Command command) {
  switch (command) {
    case Command::kReaders:
      return "readers";
    case Command::kInfo:
      return "info";
    case Command::kDownload:
      return "download";
    case Command::kCheck:
      return "check";
    case Command::kJournal:
      return "journal";
    case Command::kPlant:
      return "plant";
    case Command::kReport:
      return "report";
    case Command::kHelp:
    case Command::kVersion:
      break;
  }
  return "";
}

ParseOutcome ParseArgs(const std::vector<std::string>& args, const Defaults& defaults) {
  return Parser(defaults).Parse(args);
}

std::string UsageText() {
  return Parser(Defaults{}).Parse({"--help"}).help;
}

}  // namespace pelliton::cli
