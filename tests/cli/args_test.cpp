#include "cli/args.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace pelliton::cli {
namespace {

struct GoodCase {
  const char* name;
  std::vector<std::string> args;
  Command command;
  std::string script;
  std::string counter_text;
  ReaderChoice reader;
  std::string reader_name;
  bool each_card;
  uint32_t card_limit;
  bool trace;
  bool json;
  uint32_t wait_seconds = 30;
  int verbosity = 0;
  bool quiet = false;
};

class ParseGood : public testing::TestWithParam<GoodCase> {};

TEST_P(ParseGood, Reads) {
  const GoodCase& c = GetParam();
  const ParseOutcome outcome = ParseArgs(c.args);
  ASSERT_TRUE(outcome.ok) << outcome.error;
  const CliOptions& o = outcome.options;
  EXPECT_EQ(o.command, c.command);
  EXPECT_EQ(o.script, c.script);
  EXPECT_EQ(o.counter_text, c.counter_text);
  EXPECT_EQ(o.reader, c.reader);
  EXPECT_EQ(o.reader_name, c.reader_name);
  EXPECT_EQ(o.each_card, c.each_card);
  EXPECT_EQ(o.card_limit, c.card_limit);
  EXPECT_EQ(o.trace, c.trace);
  EXPECT_EQ(o.json, c.json);
  EXPECT_EQ(o.wait_seconds, c.wait_seconds);
  EXPECT_EQ(o.verbosity, c.verbosity);
  EXPECT_EQ(o.quiet, c.quiet);
}

using RC = ReaderChoice;
INSTANTIATE_TEST_SUITE_P(
    Cli, ParseGood,
    testing::Values(GoodCase{"Readers",
                             {"readers"},
                             Command::kReaders,
                             "",
                             "500",
                             RC::kFirstPcsc,
                             "",
                             false,
                             0,
                             false,
                             false},
                    // A path that begins with a slash is a path on every platform, never a
                    // Windows-style option.
                    GoodCase{"SlashPathIsTheScript",
                             {"check", "/srv/line3/app.bin"},
                             Command::kCheck,
                             "/srv/line3/app.bin",
                             "500",
                             RC::kFirstPcsc,
                             "",
                             false,
                             0,
                             false,
                             false},
                    GoodCase{"InfoFirstReader",
                             {"info"},
                             Command::kInfo,
                             "",
                             "500",
                             RC::kFirstPcsc,
                             "",
                             false,
                             0,
                             false,
                             false},
                    GoodCase{"InfoOrvoTraceJson",
                             {"info", "--orvo", "--trace", "--json"},
                             Command::kInfo,
                             "",
                             "500",
                             RC::kOrvo,
                             "",
                             false,
                             0,
                             true,
                             true},
                    GoodCase{"DownloadDefaults",
                             {"download", "a.bin"},
                             Command::kDownload,
                             "a.bin",
                             "500",
                             RC::kFirstPcsc,
                             "",
                             false,
                             0,
                             false,
                             false},
                    GoodCase{
                        "OptionsBeforeCommand",
                        {"--counter", "42", "download", "--reader", "Virtual PCD 00 01", "a.bin"},
                        Command::kDownload,
                        "a.bin",
                        "42",
                        RC::kNamedPcsc,
                        "Virtual PCD 00 01",
                        false,
                        0,
                        false,
                        false},
                    GoodCase{"EqualsForm",
                             {"download", "--counter=5000", "--reader=R 1", "x"},
                             Command::kDownload,
                             "x",
                             "5000",
                             RC::kNamedPcsc,
                             "R 1",
                             false,
                             0,
                             false,
                             false},
                    // The counter text is kept as typed: the counter rule judges it later.
                    GoodCase{"CounterKeptAsTyped",
                             {"download", "x", "--counter", "0"},
                             Command::kDownload,
                             "x",
                             "0",
                             RC::kFirstPcsc,
                             "",
                             false,
                             0,
                             false,
                             false},
                    GoodCase{"CounterWithPlusAndTenCharacters",
                             {"download", "x", "--counter", "+000000500", "--wait", "5"},
                             Command::kDownload,
                             "x",
                             "+000000500",
                             RC::kFirstPcsc,
                             "",
                             false,
                             0,
                             false,
                             false,
                             5},
                    GoodCase{"EachCardBounded",
                             {"download", "x", "--each-card", "--cards", "3"},
                             Command::kDownload,
                             "x",
                             "500",
                             RC::kFirstPcsc,
                             "",
                             true,
                             3,
                             false,
                             false},
                    GoodCase{"EachCardUnbounded",
                             {"info", "--each-card"},
                             Command::kInfo,
                             "",
                             "500",
                             RC::kFirstPcsc,
                             "",
                             true,
                             0,
                             false,
                             false},
                    GoodCase{"ScriptAfterDoubleDash",
                             {"check", "--", "--odd-name.bin"},
                             Command::kCheck,
                             "--odd-name.bin",
                             "500",
                             RC::kFirstPcsc,
                             "",
                             false,
                             0,
                             false,
                             false},
                    GoodCase{"DashAloneIsAName",
                             {"check", "-"},
                             Command::kCheck,
                             "-",
                             "500",
                             RC::kFirstPcsc,
                             "",
                             false,
                             0,
                             false,
                             false},
                    GoodCase{"CheckJson",
                             {"check", "s.bin", "--json"},
                             Command::kCheck,
                             "s.bin",
                             "500",
                             RC::kFirstPcsc,
                             "",
                             false,
                             0,
                             false,
                             true},
                    GoodCase{"ShortOptionsAndReaderNumber",
                             {"info", "-r", "1", "-j"},
                             Command::kInfo,
                             "",
                             "500",
                             RC::kNamedPcsc,
                             "1",
                             false,
                             0,
                             false,
                             true},
                    // -vv is -v and --trace.
                    GoodCase{"TwiceVerboseTraces",
                             {"download", "-vv", "x", "-rVirtual"},
                             Command::kDownload,
                             "x",
                             "500",
                             RC::kNamedPcsc,
                             "Virtual",
                             false,
                             0,
                             true,
                             false,
                             30,
                             2},
                    GoodCase{"Quiet",
                             {"info", "-q", "--each-card"},
                             Command::kInfo,
                             "",
                             "500",
                             RC::kFirstPcsc,
                             "",
                             true,
                             0,
                             false,
                             false,
                             30,
                             0,
                             true},
                    GoodCase{"HelpOfACommand",
                             {"help", "download"},
                             Command::kHelp,
                             "",
                             "500",
                             RC::kFirstPcsc,
                             "",
                             false,
                             0,
                             false,
                             false},
                    GoodCase{"HelpWins",
                             {"download", "--help", "--bogus"},
                             Command::kHelp,
                             "",
                             "500",
                             RC::kFirstPcsc,
                             "",
                             false,
                             0,
                             false,
                             false}),
    [](const testing::TestParamInfo<GoodCase>& info) { return info.param.name; });

struct BadCase {
  const char* name;
  std::vector<std::string> args;
  const char* error_part;
};

class ParseBad : public testing::TestWithParam<BadCase> {};

// One line: the reason, then the help of the command it concerns.
TEST_P(ParseBad, IsAUsageError) {
  const ParseOutcome outcome = ParseArgs(GetParam().args);
  EXPECT_FALSE(outcome.ok);
  EXPECT_NE(outcome.error.find(GetParam().error_part), std::string::npos) << outcome.error;
  EXPECT_EQ(outcome.error.find('\n'), std::string::npos) << outcome.error;
  const std::vector<std::string>& args = GetParam().args;
  const bool known =
      !args.empty() &&
      (args[0] == "info" || args[0] == "download" || args[0] == "check" || args[0] == "readers" ||
       args[0] == "journal" || args[0] == "plant" || args[0] == "report");
  // A subcommand's own help: "journal verify", "journal push", "plant init".
  std::string sub;
  for (const char* word : {"verify", "push", "init"}) {
    if (args.size() > 1 && std::find(args.begin() + 1, args.end(), word) != args.end())
      sub = std::string(" ") + word;
  }
  if (args.size() > 1 && args[0] == "plant" && args[1] == "check")
    sub = " check";
  EXPECT_TRUE(outcome.error.ends_with(known ? " (see pelliton-cli " + args[0] + sub + " --help)"
                                            : " (see pelliton-cli --help)"))
      << outcome.error;
}

INSTANTIATE_TEST_SUITE_P(
    Cli, ParseBad,
    testing::Values(
        BadCase{"Nothing", {}, "no command given"},
        BadCase{"PushWithoutAPlant", {"journal", "push"}, "journal push needs --plant URL"},
        BadCase{"PushTakesNoFilter",
                {"journal", "--since", "2026-01-01", "push", "--plant", "x"},
                "--since does not apply to journal push"},
        BadCase{"PendingIsNoChainCheck",
                {"journal", "--pending", "verify"},
                "--pending does not apply to journal verify"},
        BadCase{"PlantAlone", {"plant"}, "plant needs init URL or check [URL]"},
        BadCase{"ReportFromPlantOrJournal",
                {"report", "--plant", "x", "--journal", "j"},
                "--plant and --journal exclude each other"},
        BadCase{"PlantInitWithoutAUrl", {"plant", "init"}, "URL is required"},
        BadCase{"PlantCheckWithoutAUrl", {"plant", "check"}, "plant check needs the plant's URL"},
        BadCase{"PlantWithoutAJournal",
                {"info", "--plant", "x", "--no-journal"},
                "--plant delivers the journal's records; it excludes --no-journal"},
        BadCase{"UnknownCommand", {"flash"}, "unknown command flash"},
        BadCase{"HelpOfUnknownCommand", {"help", "flash"}, "unknown command flash"},
        BadCase{"UnknownOption", {"info", "--fast"}, "unknown option --fast for info"},
        BadCase{"DownloadWithoutScript", {"download"}, "SCRIPT is required"},
        BadCase{"CheckWithoutScript", {"check", "--json"}, "SCRIPT is required"},
        BadCase{"ExtraArgument", {"download", "a", "b"}, "unexpected argument b"},
        BadCase{"InfoTakesNoScript", {"info", "a.bin"}, "unexpected argument a.bin"},
        BadCase{"CounterWithoutValue", {"download", "a", "--counter"}, "--counter needs a value"},
        BadCase{"ReaderFollowedByOption", {"info", "--reader", "--json"}, "--reader needs a value"},
        BadCase{"CounterFollowedByOption",
                {"download", "a", "--counter", "--trace"},
                "--counter needs a value"},
        BadCase{"CounterTwice", {"download", "a", "--counter", "1", "--counter", "2"}, "twice"},
        BadCase{"ReaderTwiceInTwoSpellings", {"info", "-r", "1", "--reader=2"}, "twice"},
        BadCase{"ReaderInlineThenLong", {"download", "a", "-rA", "--reader", "B"}, "twice"},
        BadCase{"CounterOnInfo", {"info", "--counter", "5"}, "unknown option --counter for info"},
        BadCase{"NegativeCounter", {"download", "a", "--counter=-5"}, "is not a number"},
        BadCase{"CounterWithLetters",
                {"download", "a", "--counter", "5OO"},
                "--counter: \"5OO\" is not a number of at most 10 digits"},
        BadCase{"CounterWithBlank", {"download", "a", "--counter", " 5"}, "is not a number"},
        BadCase{"CounterPlusAlone", {"download", "a", "--counter", "+"}, "is not a number"},
        BadCase{"CounterElevenDigits",
                {"download", "a", "--counter", "00000000500"},
                "is not a number"},
        BadCase{"WaitZero", {"info", "--wait", "0"}, "--wait: \"0\" is not a whole number"},
        BadCase{"HookTimeoutZero", {"info", "--hook-timeout", "0"}, "--hook-timeout: \"0\""},
        BadCase{"WaitOnCheck", {"check", "a", "--wait", "5"}, "unknown option --wait for check"},
        BadCase{"ReaderAndOrvo", {"info", "--orvo", "--reader", "R"}, "exclude"},
        BadCase{"QuietAndVerbose", {"download", "a", "-q", "-v"}, "exclude"},
        BadCase{"EmptyReaderName", {"info", "--reader="}, "--reader needs a value"},
        BadCase{"ReaderOnCheck", {"check", "a", "--reader", "R"}, "unknown option --reader"},
        BadCase{"TraceOnReaders", {"readers", "--trace"}, "unknown option --trace for readers"},
        BadCase{"EachCardOnCheck", {"check", "a", "--each-card"}, "unknown option --each-card"},
        BadCase{"StrictOnDownload", {"download", "a", "--strict"}, "unknown option --strict"},
        BadCase{"EachCardWithOrvo", {"info", "--orvo", "--each-card"}, "PC/SC"},
        BadCase{"CardsWithoutEachCard", {"info", "--cards", "2"}, "with --each-card only"},
        BadCase{"CardsZero", {"info", "--each-card", "--cards", "0"}, "whole number"},
        BadCase{"CardsNotANumber", {"info", "--each-card", "--cards", "3x"}, "whole number"},
        BadCase{"CardsHuge", {"info", "--each-card", "--cards", "99999999999"}, "whole number"},
        BadCase{"ValueOnFlag", {"info", "--json=yes"}, "--json takes no value"},
        BadCase{"ReadersWithoutEachCard", {"info", "--readers", "all"}, "--each-card only"},
        BadCase{"ReadersAndReader",
                {"info", "--each-card", "--readers", "all", "--reader", "A"},
                "excludes --reader"},
        BadCase{
            "ReadersTraced", {"info", "--each-card", "--readers", "0,1", "--trace"}, "one reader"},
        BadCase{"VerifyOnInfo", {"info", "--verify"}, "download only"},
        BadCase{"UnfinishedTakesNoValue", {"journal", "--unfinished=yes"}, "takes no value"},
        BadCase{"JournalTakesNoArgument", {"journal", "all"}, "unexpected argument all"},
        BadCase{"FilterAfterJournalVerify",
                {"journal", "verify", "--since", "2024-05-01"},
                "unknown option --since for journal verify"},
        BadCase{"FilterBeforeJournalVerify",
                {"journal", "--unfinished", "verify"},
                "--unfinished does not apply to journal verify"},
        BadCase{
            "JournalVerifyTakesNoArgument", {"journal", "verify", "all"}, "unexpected argument"},
        BadCase{"ReportByWeek", {"report", "--by", "week"}, "--by: \"week\" is not day, station"},
        BadCase{"ReportByEmpty", {"report", "--by="}, "--by needs a value"},
        BadCase{"ReportUntilNoTime",
                {"report", "--until", "2024-05-07T24:00"},
                "--until: \"2024-05-07T24:00\" is not a UTC time"},
        BadCase{"ReportSinceAfterUntil",
                {"report", "--since", "2024-05-07T00:00:00.001", "--until", "2024-05-07"},
                "--since 2024-05-07T00:00:00.001 is after --until 2024-05-07"},
        BadCase{"ReportJsonAndCsv", {"report", "-j", "--format", "csv"}, "exclude each other"},
        BadCase{"ReportTakesNoReader", {"report", "-r", "PCD"}, "unknown option -r for report"}),
    [](const testing::TestParamInfo<BadCase>& info) { return info.param.name; });

TEST(Usage, NamesEveryCommandAndOption) {
  const std::string usage = UsageText();
  for (const char* word : {"readers", "info", "download", "check", "3 the output"})
    EXPECT_NE(usage.find(word), std::string::npos) << word;
  const std::string download = ParseArgs({"download", "--help"}).help;
  for (const char* word :
       {"--reader", "--orvo", "--counter", "--each-card", "--cards", "--wait", "--trace", "--json",
        "--on-pass", "--on-fail", "--hook-timeout", "-v,", "-q,", "3 the output"}) {
    EXPECT_NE(download.find(word), std::string::npos) << word;
  }
  const std::string journal = ParseArgs({"journal", "--help"}).help;
  for (const char* word : {"--unfinished", "half-loaded", "verify", "--format"})
    EXPECT_NE(journal.find(word), std::string::npos) << word;
  const std::string verify = ParseArgs({"help", "journal", "verify"}).help;
  EXPECT_NE(verify.find("Usage: pelliton-cli journal verify"), std::string::npos) << verify;
  EXPECT_EQ(verify.find("--since"), std::string::npos) << verify;
}

// Every long option a help lists is known before CLI11 sees the arguments: "--name=" is
// refused in the pre-scan's words, as a value left empty or as a value on a flag.
TEST(Usage, EveryListedOptionIsKnownBeforeTheParse) {
  for (const std::string command :
       {"", "readers", "check", "info", "download", "journal", "journal verify", "report"}) {
    std::vector<std::string> words;
    std::istringstream split(command);
    for (std::string word; split >> word;)
      words.push_back(word);
    words.push_back("--help");
    std::istringstream help(command.empty() ? UsageText() : ParseArgs(words).help);
    for (std::string line; std::getline(help, line);) {
      std::istringstream names(line.starts_with("  -") ? line.substr(2, line.find(' ', 2) - 2)
                                                       : "");
      for (std::string name; std::getline(names, name, ',');) {
        words.back() = name + "=";
        const std::string error = ParseArgs(words).error;
        EXPECT_TRUE(!name.starts_with("--") || error.starts_with(name + " needs a value") ||
                    error.starts_with(name + " takes no value"))
            << command << ": " << error;
      }
    }
  }
}

// The environment and the configuration file stand in for options not given; the
// command line wins, then the environment, then the file.
struct DefaultsCase {
  const char* name;
  std::map<std::string, std::string> environment;
  std::optional<std::string> config;
  std::vector<std::string> args;
  ReaderChoice reader;
  std::string reader_name;
  std::string counter_text;
  uint32_t wait_seconds;
  std::string error_part;  // empty: the parse succeeds
  std::string plant_url = "";
  std::optional<Command> command = std::nullopt;  // not checked when absent
};

class ParseDefaults : public testing::TestWithParam<DefaultsCase> {};

TEST_P(ParseDefaults, CommandLineThenEnvironmentThenFile) {
  const DefaultsCase& c = GetParam();
  const auto environment = [&c](const char* name) -> const char* {
    const auto found = c.environment.find(name);
    return found == c.environment.end() ? nullptr : found->second.c_str();
  };
  const Defaults defaults = MergeDefaults(environment, c.config, "/etc/cli.conf");
  const ParseOutcome outcome = ParseArgs(c.args, defaults);
  if (!c.error_part.empty()) {
    EXPECT_FALSE(outcome.ok);
    EXPECT_NE(outcome.error.find(c.error_part), std::string::npos) << outcome.error;
    return;
  }
  ASSERT_TRUE(outcome.ok) << outcome.error;
  EXPECT_EQ(outcome.options.reader, c.reader);
  EXPECT_EQ(outcome.options.reader_name, c.reader_name);
  EXPECT_EQ(outcome.options.counter_text, c.counter_text);
  EXPECT_EQ(outcome.options.wait_seconds, c.wait_seconds);
  EXPECT_EQ(outcome.options.plant_url, c.plant_url);
  if (c.command) {
    EXPECT_EQ(outcome.options.command, *c.command);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cli, ParseDefaults,
    testing::Values(DefaultsCase{"PlantFromTheFile",
                                 {},
                                 "plant = service=plant\n",
                                 {"info"},
                                 RC::kFirstPcsc,
                                 "",
                                 "500",
                                 30,
                                 "",
                                 "service=plant"},
                    DefaultsCase{"PlantFromTheEnvironmentOverTheFile",
                                 {{"PELLITON_PLANT", "host=a"}},
                                 "plant = host=b\n",
                                 {"journal", "push"},
                                 RC::kFirstPcsc,
                                 "",
                                 "500",
                                 30,
                                 "",
                                 "host=a",
                                 Command::kJournal},
                    DefaultsCase{"PlantOnTheCommandLineWins",
                                 {{"PELLITON_PLANT", "host=a"}},
                                 std::nullopt,
                                 {"plant", "check", "host=c"},
                                 RC::kFirstPcsc,
                                 "",
                                 "500",
                                 30,
                                 "",
                                 "host=c",
                                 Command::kPlant},
                    DefaultsCase{"AnEmptyPlantIsNone",
                                 {},
                                 "plant =\n",
                                 {"journal", "push"},
                                 RC::kFirstPcsc,
                                 "",
                                 "500",
                                 30,
                                 "journal push needs --plant URL"},
                    DefaultsCase{"NoJournalDeliversNothing",
                                 {{"PELLITON_PLANT", "host=a"}},
                                 std::nullopt,
                                 {"info", "--no-journal"},
                                 RC::kFirstPcsc,
                                 "",
                                 "500",
                                 30,
                                 "",
                                 ""},
                    DefaultsCase{"EnvironmentReader",
                                 {{"PELLITON_READER", "PCD 00 01"}},
                                 std::nullopt,
                                 {"info"},
                                 RC::kNamedPcsc,
                                 "PCD 00 01",
                                 "500",
                                 30,
                                 ""},
                    DefaultsCase{"CommandLineReaderWins",
                                 {{"PELLITON_READER", "PCD 00 01"}},
                                 "reader = 7\n",
                                 {"info", "-r", "0"},
                                 RC::kNamedPcsc,
                                 "0",
                                 "500",
                                 30,
                                 ""},
                    DefaultsCase{"OrvoWinsOverADefaultReader",
                                 {{"PELLITON_READER", "PCD 00 01"}},
                                 std::nullopt,
                                 {"info", "--orvo"},
                                 RC::kOrvo,
                                 "",
                                 "500",
                                 30,
                                 ""},
                    DefaultsCase{
                        "FileWithCommentsAndBlanks",
                        {},
                        "# station 4\n\n  counter =  1000 \r\nwait=5\nreader = Virtual PCD 00 00\n",
                        {"download", "a"},
                        RC::kNamedPcsc,
                        "Virtual PCD 00 00",
                        "1000",
                        5,
                        ""},
                    DefaultsCase{"EnvironmentWinsOverFile",
                                 {{"PELLITON_COUNTER", "2000"}},
                                 "counter = 1000\n",
                                 {"download", "a"},
                                 RC::kFirstPcsc,
                                 "",
                                 "2000",
                                 30,
                                 ""},
                    DefaultsCase{"CommandLineCounterWins",
                                 {{"PELLITON_COUNTER", "2000"}},
                                 std::nullopt,
                                 {"download", "a", "--counter", "3"},
                                 RC::kFirstPcsc,
                                 "",
                                 "3",
                                 30,
                                 ""},
                    // info writes no counter: a faulty one is none of its business.
                    DefaultsCase{"InfoIgnoresTheCounter",
                                 {{"PELLITON_COUNTER", "many"}},
                                 std::nullopt,
                                 {"info"},
                                 RC::kFirstPcsc,
                                 "",
                                 "500",
                                 30,
                                 ""},
                    DefaultsCase{"FaultyEnvironmentCounterIsNamed",
                                 {{"PELLITON_COUNTER", "5OO"}},
                                 std::nullopt,
                                 {"download", "a"},
                                 RC::kFirstPcsc,
                                 "",
                                 "",
                                 0,
                                 "counter (from PELLITON_COUNTER): \"5OO\" is not a number"},
                    DefaultsCase{"FaultyFileWaitIsNamed",
                                 {},
                                 "\nwait = soon\n",
                                 {"info"},
                                 RC::kFirstPcsc,
                                 "",
                                 "",
                                 0,
                                 "wait (from /etc/cli.conf line 2): \"soon\""},
                    DefaultsCase{"UnknownKey",
                                 {},
                                 "countr = 5\n",
                                 {"download", "a"},
                                 RC::kFirstPcsc,
                                 "",
                                 "",
                                 0,
                                 "/etc/cli.conf line 1: unknown key \"countr\""},
                    DefaultsCase{"LineWithoutEquals",
                                 {},
                                 "reader\n",
                                 {"info"},
                                 RC::kFirstPcsc,
                                 "",
                                 "",
                                 0,
                                 "/etc/cli.conf line 1: not a \"key = value\" line"}),
    [](const testing::TestParamInfo<DefaultsCase>& info) { return info.param.name; });

TEST(ParseDefaults, HelpSaysWhichDefaultsApply) {
  Defaults defaults;
  defaults.values["reader"] = {"Virtual PCD 00 00", "PELLITON_READER"};
  defaults.values["counter"] = {"1000", "/etc/cli.conf line 2"};
  const std::string info = ParseArgs({"info", "--help"}, defaults).help;
  EXPECT_NE(info.find("reader: Virtual PCD 00 00 (from PELLITON_READER)"), std::string::npos)
      << info;
  EXPECT_EQ(info.find("counter: 1000"), std::string::npos) << info;
  const std::string download = ParseArgs({"help", "download"}, defaults).help;
  EXPECT_NE(download.find("counter: 1000 (from /etc/cli.conf line 2)"), std::string::npos)
      << download;
}

#ifdef _WIN32
TEST(ParseDefaults, ConfigPathIsUnderAnAbsoluteAppData) {
  const auto with = [](const char* appdata) {
    return ConfigPath([=](const char* name) -> const char* {
      return std::string_view(name) == "APPDATA" ? appdata : "C:\\elsewhere";
    });
  };
  EXPECT_EQ(with("C:\\Users\\op\\AppData\\Roaming"),
            "C:\\Users\\op\\AppData\\Roaming\\pelliton\\cli.conf");
  EXPECT_EQ(with("\\\\server\\op"), "\\\\server\\op\\pelliton\\cli.conf");
  EXPECT_EQ(with("relative"), "");
  EXPECT_EQ(with(nullptr), "");
}
#else
TEST(ParseDefaults, ConfigPathPrefersAnAbsoluteXdgConfigHome) {
  const auto with = [](const char* xdg, const char* home) {
    return ConfigPath([=](const char* name) -> const char* {
      return std::string_view(name) == "XDG_CONFIG_HOME" ? xdg : home;
    });
  };
  EXPECT_EQ(with("/x", "/home/op"), "/x/pelliton/cli.conf");
  EXPECT_EQ(with("relative", "/home/op"), "/home/op/.config/pelliton/cli.conf");
  EXPECT_EQ(with(nullptr, "/home/op"), "/home/op/.config/pelliton/cli.conf");
  EXPECT_EQ(with(nullptr, nullptr), "");
}
#endif

}  // namespace
}  // namespace pelliton::cli
