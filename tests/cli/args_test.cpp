#include "cli/args.h"

#include <gtest/gtest.h>

#include <string>
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

TEST_P(ParseBad, IsAUsageError) {
  const ParseOutcome outcome = ParseArgs(GetParam().args);
  EXPECT_FALSE(outcome.ok);
  EXPECT_NE(outcome.error.find(GetParam().error_part), std::string::npos) << outcome.error;
}

INSTANTIATE_TEST_SUITE_P(
    Cli, ParseBad,
    testing::Values(
        BadCase{"Nothing", {}, "no command"},
        BadCase{"UnknownCommand", {"flash"}, "unknown command flash"},
        BadCase{"UnknownOption", {"info", "--fast"}, "unknown option --fast"},
        BadCase{"DownloadWithoutScript", {"download"}, "needs a script"},
        BadCase{"CheckWithoutScript", {"check", "--json"}, "needs a script"},
        BadCase{"ExtraArgument", {"download", "a", "b"}, "unexpected argument b"},
        BadCase{"InfoTakesNoScript", {"info", "a.bin"}, "unexpected argument a.bin"},
        BadCase{"CounterWithoutValue", {"download", "a", "--counter"}, "--counter needs a value"},
        BadCase{"ReaderFollowedByOption", {"info", "--reader", "--json"}, "--reader needs a value"},
        BadCase{"CounterFollowedByOption",
                {"download", "a", "--counter", "--trace"},
                "--counter needs a value"},
        BadCase{"CounterTwice", {"download", "a", "--counter", "1", "--counter", "2"}, "twice"},
        BadCase{"CounterOnInfo", {"info", "--counter", "5"}, "download only"},
        BadCase{"NegativeCounter", {"download", "a", "--counter=-5"}, "digits only"},
        BadCase{"CounterWithLetters", {"download", "a", "--counter", "5OO"}, "digits only"},
        BadCase{"CounterWithBlank", {"download", "a", "--counter", " 5"}, "digits only"},
        BadCase{"CounterPlusAlone", {"download", "a", "--counter", "+"}, "digits only"},
        BadCase{
            "CounterElevenDigits", {"download", "a", "--counter", "00000000500"}, "digits only"},
        BadCase{"WaitZero", {"info", "--wait", "0"}, "--wait needs"},
        BadCase{"WaitOnCheck", {"check", "a", "--wait", "5"}, "uses no card"},
        BadCase{"ReaderAndOrvo", {"info", "--orvo", "--reader", "R"}, "exclude"},
        BadCase{"EmptyReaderName", {"info", "--reader="}, "reader name"},
        BadCase{"ReaderOnCheck", {"check", "a", "--reader", "R"}, "uses no card"},
        BadCase{"TraceOnReaders", {"readers", "--trace"}, "uses no card"},
        BadCase{"EachCardOnCheck", {"check", "a", "--each-card"}, "--each-card applies"},
        BadCase{"StrictOnDownload", {"download", "a", "--strict"}, "--strict applies to check"},
        BadCase{"EachCardWithOrvo", {"info", "--orvo", "--each-card"}, "PC/SC"},
        BadCase{"CardsWithoutEachCard", {"info", "--cards", "2"}, "with --each-card only"},
        BadCase{"CardsZero", {"info", "--each-card", "--cards", "0"}, "whole number"},
        BadCase{"CardsNotANumber", {"info", "--each-card", "--cards", "3x"}, "whole number"},
        BadCase{"CardsHuge", {"info", "--each-card", "--cards", "99999999999"}, "whole number"},
        BadCase{"ValueOnFlag", {"info", "--json=yes"}, "takes no value"},
        BadCase{"ReadersWithoutEachCard", {"info", "--readers", "all"}, "--each-card only"},
        BadCase{"ReadersAndReader",
                {"info", "--each-card", "--readers", "all", "--reader", "A"},
                "excludes --reader"},
        BadCase{
            "ReadersTraced", {"info", "--each-card", "--readers", "0,1", "--trace"}, "one reader"},
        BadCase{"VerifyOnInfo", {"info", "--verify"}, "download only"}),
    [](const testing::TestParamInfo<BadCase>& info) { return info.param.name; });

TEST(Usage, NamesEveryCommandAndOption) {
  const std::string usage = UsageText();
  for (const char* word :
       {"readers", "info", "download", "check", "--reader", "--orvo", "--counter", "--each-card",
        "--cards", "--wait", "--trace", "--json", "3 the output"}) {
    EXPECT_NE(usage.find(word), std::string::npos) << word;
  }
}

}  // namespace
}  // namespace pelliton::cli
