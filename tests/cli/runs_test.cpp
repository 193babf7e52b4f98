// The commands end to end over the in-process PC/SC service: what they print, in which
// order, and their exit status.
#include "cli/commands/card.h"
#include "cli/commands/check.h"
#include "cli/commands/readers.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cardaccess/pcsc_codes.h"
#include "cardaccess/trace.h"
#include "cli/commands/station.h"
#include "cli/platform/platform.h"
#include "engine/script.h"
#include "tests/cli/capture.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/sim_pcsc.h"
#include "tests/support/sound_script.h"

namespace pelliton::cli {
namespace {

using testing_scripts::Join;
using testing_scripts::SoundScript;
using Json = nlohmann::ordered_json;

// Just enough of an upgrade card: format, loads, pass-through, challenge, configuration
// and the information query, each answered 90 00 unless the test set another word.
class TinyCard : public sim::CardModel {
 public:
  explicit TinyCard(uint8_t version_byte = 0x04) {
    atr_ = {0x3B, 0x9F, 0x95, 0x81, 0x31, 0xFE, 0x9F, 0x00,         0x66, 0x46,
            0x53, 0x05, 0x01, 0x00, 0x11, 0x71, 0xDF, version_byte, 0x00, 0x00};
  }
  bool Present() const override { return true; }
  std::vector<uint8_t> PowerOn() override { return atr_; }
  void PowerOff() override {}
  std::vector<uint8_t> Transmit(const uint8_t* apdu, size_t length) override {
    if (length < 4)
      return {0x67, 0x00};
    const uint16_t ins = static_cast<uint16_t>(apdu[0] << 8 | apdu[1]);
    if (const auto word = refuse.find(ins); word != refuse.end())
      return {static_cast<uint8_t>(word->second >> 8), static_cast<uint8_t>(word->second)};
    switch (ins) {
      case 0x0084:
        return {0x12, 0x34, 0x56, 0x78, 0x90, 0x00};
      case 0xF088:
        return {0x61, 0x2C};
      case 0x00C0: {
        std::vector<uint8_t> reply(44, 0);
        const std::string text = "V3.050500";
        std::copy(text.begin(), text.end(), reply.begin() + 11);
        std::copy(text.begin(), text.end(), reply.begin() + 31);
        reply.push_back(0x90);
        reply.push_back(0x00);
        return reply;
      }
      default:
        if (ins == 0xF0DC)
          ++loads;
        return {0x90, 0x00};
    }
  }

  std::map<uint16_t, uint16_t> refuse;  // CLA INS -> status word
  int loads = 0;

 private:
  std::vector<uint8_t> atr_;
};

class NoOrvo : public OrvoApi {
 public:
  int32_t OpenReader() override { return -2; }
  int32_t CloseReader(int32_t) override { return 0; }
  int32_t ResetCard(int32_t, int32_t, uint8_t*, int32_t*) override { return -14; }
  int32_t CardApdu(int32_t, int32_t, const uint8_t*, int32_t, uint8_t*, int32_t*,
                   uint32_t) override {
    return -14;
  }
};

class NoPause : public Pauser {
 public:
  void Sleep(uint32_t) override {}
};

// Hands the test's cards to the reader one after the other: each wait for a card puts
// the next one in, each wait for removal takes it out; once they are used up the loop
// is told to stop.
class CardFeeder : public CardPresence {
 public:
  CardFeeder(testing::SimPcsc& pcsc, std::string reader, std::vector<sim::CardModel*> cards)
      : pcsc_(pcsc), reader_(std::move(reader)), cards_(cards.begin(), cards.end()) {}
  Wait WaitForCard(const std::string& reader, DWORD* seen, long* error) override {
    *error = 0;
    *seen = 0;
    waits.push_back(reader + " +");
    if (cards_.empty())
      return Wait::kStopped;
    pcsc_.InsertCard(reader_, cards_.front());
    cards_.pop_front();
    return Wait::kReady;
  }
  Wait WaitForRemoval(const std::string& reader, DWORD, long* error) override {
    *error = 0;
    waits.push_back(reader + " -");
    pcsc_.InsertCard(reader_, nullptr);
    return Wait::kReady;
  }
  std::vector<std::string> waits;

 private:
  testing::SimPcsc& pcsc_;
  std::string reader_;
  std::deque<sim::CardModel*> cards_;
};

class CliRuns : public ::testing::Test {
 protected:
  CliRuns() { script_ = dir_.Write("app.bin", Join(SoundScript())); }

  CliOptions Options(Command command) {
    CliOptions options;
    options.command = command;
    if (command == Command::kDownload || command == Command::kCheck)
      options.script = script_;
    return options;
  }
  int Run(const CliOptions& options, CardPresence* presence = nullptr) {
    Streams streams{out_.file(), err_.file(), false};
    if (options.command == Command::kReaders)
      return RunReaders(options, pcsc_, orvo_, false, streams);
    return RunOnCard(options, pcsc_, orvo_, pause_, presence, stop_, streams);
  }

  ScratchDir dir_;
  std::string script_;
  testing::SimPcsc pcsc_;
  NoOrvo orvo_;
  NoPause pause_;
  std::atomic<bool> stop_{false};
  Capture out_;
  Capture err_;
};

const char kDownloadOk[] =
    "\n\nFormatting APP Data area...\n\n\nAPP Loading......\n\n\nDownload APP Successfull!\n";
const char kInfoOk[] =
    "Tessiv Card Version: V2.00 \n\nNorvane App Version:V3.05  counter:0500\n\nObtained "
    "upgrade card information for Norvane-IC Successfully!\n";

TEST_F(CliRuns, DownloadPrintsTheWindowsTextsAndSucceeds) {
  TinyCard card;
  pcsc_.AttachReader("Reader A", &card);
  EXPECT_EQ(Run(Options(Command::kDownload)), kExitSuccess);
  EXPECT_EQ(out_.Text(), kDownloadOk);
  EXPECT_EQ(card.loads, 7);
}

TEST_F(CliRuns, InfoPrintsTheCardInformation) {
  TinyCard card;
  pcsc_.AttachReader("Reader A", &card);
  EXPECT_EQ(Run(Options(Command::kInfo)), kExitSuccess);
  EXPECT_EQ(out_.Text(), kInfoOk);
}

struct FailCase {
  const char* name;
  Command command;
  std::string counter_text;
  uint16_t refused_ins;  // 0: none
  uint16_t status_word;
  bool script_refused;  // a script whose App1 starts elsewhere
  std::string expected_out;
};

class CliRunFailure : public CliRuns, public ::testing::WithParamInterface<FailCase> {};

TEST_P(CliRunFailure, PrintsTheMessageAndFails) {
  const FailCase& c = GetParam();
  TinyCard card;
  if (c.refused_ins != 0)
    card.refuse[c.refused_ins] = c.status_word;
  pcsc_.AttachReader("Reader A", &card);
  CliOptions options = Options(c.command);
  options.counter_text = c.counter_text;
  if (c.script_refused) {
    std::vector<std::string> lines = SoundScript();
    lines[0] = testing_scripts::AddressLine(0x3000, 0x11FFF);
    options.script = dir_.Write("bad.bin", Join(lines));
  }
  EXPECT_EQ(Run(options), kExitFailed);
  EXPECT_EQ(out_.Text(), c.expected_out);
}

INSTANTIATE_TEST_SUITE_P(
    Cli, CliRunFailure,
    ::testing::Values(
        FailCase{"LoadRefused", Command::kDownload, "500", 0xF0DC, 0x6A80, false,
                 "\n\nFormatting APP Data area...\n\n\nAPP Loading......\nApp1 Command error at "
                 "line 6!SW=0x6a80\n"},
        FailCase{"AccessControl", Command::kDownload, "500", 0xF0DD, 0x6982, false,
                 "\n\nFormatting APP Data area...\n\n\nAPP Loading......\nNot satisfied with the "
                 "Access Control!SW=0x6982\n"},
        FailCase{"CounterRefusedByOldCard", Command::kDownload, "500", 0xF080, 0x6D00, false,
                 "\n\nFormatting APP Data area...\n\n\nAPP Loading......\nDownload APP "
                 "Successfull!\n\n This Tessiv card version is not support counter function!\n "
                 "SW=0x6d00\n"},
        FailCase{"CounterOutOfRange", Command::kDownload, "5001", 0, 0, false,
                 "“请填入一个在1和5000之间的整数。”\nThe counter must be greater than 0 and "
                 "less than 5000 !\n"},
        FailCase{"ScriptStartAddress", Command::kDownload, "500", 0, 0, true,
                 "APP1 file StartAddr error!\n"},
        FailCase{"InfoRefused", Command::kInfo, "500", 0xF088, 0x6D00, false,
                 "Tessiv Card Version: V2.00 \n\nGet Card Info Error! SW=0x6d00\n"}),
    [](const ::testing::TestParamInfo<FailCase>& info) { return info.param.name; });

// What the window's message cannot say about a script, check and download say on stderr
// after it; a UTF-8 byte-order mark is no trouble at all.
struct ScriptTroubleCase {
  const char* name;
  std::string bytes;  // the file's bytes; "missing" and "folder" name no file
  std::string message;
  std::string note;  // after "pelliton-cli: "
};

class CliScriptTrouble : public CliRuns, public ::testing::WithParamInterface<ScriptTroubleCase> {};

TEST_P(CliScriptTrouble, NotesTheReasonAfterTheWindowsMessage) {
  const ScriptTroubleCase& c = GetParam();
  TinyCard card;
  pcsc_.AttachReader("Reader A", &card);
  CliOptions options = Options(Command::kDownload);
  options.script = dir_.PathOf("s.bin");
  if (c.bytes == "folder") {
    std::filesystem::create_directory(options.script);
  } else if (c.bytes != "missing") {
    dir_.Write("s.bin", c.bytes);
    if (c.bytes.empty())  // sparse, one byte past the limit
      std::filesystem::resize_file(options.script, kMaxScriptFileBytes + 1);
  }
  std::string note = c.note.empty() ? "" : "pelliton-cli: " + c.note + "\n";
  if (const size_t at = note.find("PATH"); at != std::string::npos)
    note.replace(at, 4, options.script);
  size_t out_seen = 0;
  size_t err_seen = 0;
  for (const Command command : {Command::kDownload, Command::kCheck}) {
    options.command = command;
    const int status = command == Command::kCheck
                           ? RunCheck(options, Streams{out_.file(), err_.file(), false})
                           : Run(options);
    const std::string out = out_.Text().substr(out_seen);
    const std::string err = err_.Text().substr(err_seen);
    out_seen += out.size();
    err_seen += err.size();
    EXPECT_EQ(status, c.note.empty() ? kExitSuccess : kExitFailed);
    EXPECT_EQ(out.substr(0, c.message.size()), c.message) << out;
    // The download's verdict line follows the note.
    EXPECT_EQ(err.substr(0, note.size()), note) << err;
    if (command == Command::kCheck) {
      EXPECT_EQ(err, note);
    }
  }
  EXPECT_EQ(card.loads, c.note.empty() ? 7 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cli, CliScriptTrouble,
    ::testing::Values(
        ScriptTroubleCase{"Missing", "missing", "Open APP update file error!",
                          "cannot read PATH: no such file"},
        ScriptTroubleCase{"Directory", "folder", "Open APP update file error!",
                          "cannot read PATH: a directory"},
        ScriptTroubleCase{"TooLarge", "", "Open APP update file error!",
                          "cannot read PATH: larger than 16 MiB (16777216 bytes), the limit "
                          "for a script"},
        ScriptTroubleCase{"Utf16",
                          std::string("\xFF\xFE"
                                      "F\0"
                                      "0\0"
                                      "5\0"
                                      "D\0",
                                      10),
                          "APP1 file StartAddr error!",
                          "the script looks like UTF-16 text; save it as ASCII/UTF-8"},
        ScriptTroubleCase{"Utf8ByteOrderMark", "\xEF\xBB\xBF" + Join(SoundScript()), "", ""}),
    [](const ::testing::TestParamInfo<ScriptTroubleCase>& info) { return info.param.name; });

TEST_F(CliRuns, CounterThatIsNoNumberIsAUsageErrorAndTouchesNoCard) {
  TinyCard card;
  pcsc_.AttachReader("Reader A", &card);
  CliOptions options = Options(Command::kDownload);
  options.counter_text = "5OO";
  EXPECT_EQ(Run(options), kExitUsage);
  EXPECT_EQ(out_.Text(), "");
  // A usage error like any other: the window's message, then where the help is.
  EXPECT_EQ(err_.Text(),
            "pelliton-cli: --counter: “请填入一个正整数。” (see pelliton-cli download --help)\n");
  EXPECT_TRUE(pcsc_.Calls().empty());
}

TEST_F(CliRuns, NamedReaderIsUsedAndAnUnlistedOneRefused) {
  TinyCard card;
  pcsc_.AttachReader("Reader A", nullptr);
  pcsc_.AttachReader("Reader B", &card);
  CliOptions options = Options(Command::kInfo);
  options.reader = ReaderChoice::kNamedPcsc;
  options.reader_name = "Reader B";
  EXPECT_EQ(Run(options), kExitSuccess);
  EXPECT_EQ(out_.Text(), kInfoOk);

  options.reader_name = "Reader C";
  EXPECT_EQ(Run(options), kExitFailed);
  EXPECT_NE(err_.Text().find("-r \"Reader C\": no PC/SC reader's name holds it (listed: 0: "
                             "Reader A, 1: Reader B)"),
            std::string::npos)
      << err_.Text();
}

TEST_F(CliRuns, FirstListedReaderIsTheDefault) {
  TinyCard card;
  pcsc_.AttachReader("Reader A", nullptr);
  pcsc_.AttachReader("Reader B", &card);
  EXPECT_EQ(Run(Options(Command::kInfo)), kExitFailed);
  EXPECT_EQ(out_.Text(), "Error: The smart Chip can't to be connected!\nCard Reset Error!\n");
}

TEST_F(CliRuns, WithoutReadersTheDownloadIsRefusedBeforeAnyCardAccess) {
  EXPECT_EQ(Run(Options(Command::kDownload)), kExitFailed);
  EXPECT_EQ(out_.Text(), "Please Select reader first!\n");
}

TEST_F(CliRuns, OrvoReaderMissing) {
  CliOptions options = Options(Command::kInfo);
  options.reader = ReaderChoice::kOrvo;
  EXPECT_EQ(Run(options), kExitFailed);
  EXPECT_EQ(out_.Text(), "Error: Reader open error!\nCard Reset Error!\n");
}

TEST_F(CliRuns, ReadersInServiceOrder) {
  pcsc_.AttachReader("Zeta", nullptr);
  pcsc_.AttachReader("Alpha", nullptr);
  EXPECT_EQ(Run(Options(Command::kReaders)), kExitSuccess);
  EXPECT_EQ(out_.Text(), "PC/SC readers:\n  0: Zeta\n  1: Alpha\nOrvo reader: not attached\n");
}

struct NoReaderCase {
  const char* name;
  bool service_running;
  std::string text;
  std::string json_part;
  std::string info_err;  // what info says on stderr
};

class CliNoReader : public CliRuns, public ::testing::WithParamInterface<NoReaderCase> {};

// A service that is not running is told from one that lists no reader.
TEST_P(CliNoReader, ReadersAndInfoTellWhy) {
  pcsc_.SetServiceRunning(GetParam().service_running);
  EXPECT_EQ(Run(Options(Command::kReaders)), kExitFailed);
  EXPECT_EQ(out_.Text(), GetParam().text + "Orvo reader: not attached\n");
  CliOptions options = Options(Command::kReaders);
  options.json = true;
  Capture json;
  RunReaders(options, pcsc_, orvo_, false, Streams{json.file(), err_.file(), false});
  EXPECT_NE(json.Text().find(GetParam().json_part), std::string::npos) << json.Text();
  Capture info_out;
  Capture info_err;
  RunOnCard(Options(Command::kInfo), pcsc_, orvo_, pause_, nullptr, stop_,
            Streams{info_out.file(), info_err.file(), false});
  const std::string err = info_err.Text();
  EXPECT_TRUE(err.starts_with(GetParam().info_err + "FAIL  ")) << err;
  // The window's own text stays.
  EXPECT_EQ(info_out.Text(), "Error: The smart Chip can't to be connected!\nCard Reset Error!\n");
}

INSTANTIATE_TEST_SUITE_P(
    Cli, CliNoReader,
    ::testing::Values(NoReaderCase{"NoReaderAttached", true, "No PC/SC card reader exists!\n",
                                   R"("pcsc_service":"running","pcsc_readers":[])", ""},
                      NoReaderCase{"ServiceNotRunning", false,
                                   std::string("The PC/SC service (") + kPcscServiceName +
                                       ") is not running\n",
                                   R"("pcsc_service":"not running","pcsc_readers":[])",
                                   std::string("pelliton-cli: the PC/SC service (") +
                                       kPcscServiceName + ") is not running\n"}),
    [](const ::testing::TestParamInfo<NoReaderCase>& info) { return info.param.name; });

TEST_F(CliRuns, JsonForInfoCarriesTheCardsFields) {
  TinyCard card;
  pcsc_.AttachReader("Reader \"A\"", &card);
  CliOptions options = Options(Command::kInfo);
  options.json = true;
  EXPECT_EQ(Run(options), kExitSuccess);
  const std::string text = out_.Text();
  ASSERT_TRUE(text.ends_with("}\n")) << text;
  Json json = Json::parse(text);
  ASSERT_TRUE(json["elapsed_ms"].is_number_unsigned()) << text;
  json.erase("elapsed_ms");
  EXPECT_EQ(
      json.dump(),
      R"({"schema":1,"command":"info","success":true,"reader":"Reader \"A\"",)"
      R"("run_id":null,"atr":"3B9F958131FE9F006646530501001171DF040000","messages":["Tessiv Card )"
      R"(Version: V2.00 \n\nNorvane App Version:V3.05  counter:0500\n\nObtained )"
      R"(upgrade card information for Norvane-IC Successfully!"],"card_version":"V2.00",)"
      R"("card_line":"Tessiv Card Version: V2.00","application_line":"Norvane App )"
      R"(Version:V3.05  counter:0500","one_version":true,"app1_version":"V3.05",)"
      R"("app2_version":"V3.05","counter":500,"counter_text":"0500"})");
}

// The card refuses the counter after the load: the text begins like a success, the
// run is a failure all the same, whatever tone or text the panel was given.
TEST_F(CliRuns, JsonAndExitStatusComeFromTheOutcomeNotTheText) {
  TinyCard card;
  card.refuse[0xF080] = 0x6D00;
  pcsc_.AttachReader("Reader A", &card);
  CliOptions options = Options(Command::kDownload);
  options.json = true;
  EXPECT_EQ(Run(options), kExitFailed);
  const std::string text = out_.Text();
  EXPECT_EQ(text.rfind(R"({"schema":1,"command":"download","success":false,)", 0), 0u) << text;
  EXPECT_NE(text.find(R"(Download APP Successfull!\n\n This Tessiv card version)"),
            std::string::npos)
      << text;
}

#ifndef _WIN32  // Windows file names are UTF-16 text: every path converts to UTF-8
// A path that is not UTF-8 loses bytes in the JSON string; its hex still names the file.
TEST_F(CliRuns, JsonCarriesAPathThatIsNotUtf8InHex) {
  TinyCard card;
  pcsc_.AttachReader("Reader A", &card);
  CliOptions options = Options(Command::kDownload);
  options.script = dir_.Write("caf\xE9.bin", Join(SoundScript()));
  options.json = true;
  EXPECT_EQ(Run(options), kExitSuccess);
  const std::string text = out_.Text();
  EXPECT_NE(text.find("caf\xEF\xBF\xBD.bin\",\"script_hex\":\""), std::string::npos) << text;
  EXPECT_NE(text.find(R"(636166e92e62696e","counter":500,)"), std::string::npos) << text;
}
#endif

TEST_F(CliRuns, EachCardProgramsEveryCardAndTalliesTheFailures) {
  TinyCard first;
  TinyCard second;
  second.refuse[0xF0DB] = 0x6581;
  TinyCard third;
  pcsc_.AttachReader("Reader A", nullptr);
  CardFeeder feeder(pcsc_, "Reader A", {&first, &second, &third});
  CliOptions options = Options(Command::kDownload);
  options.each_card = true;
  EXPECT_EQ(Run(options, &feeder), kExitFailed);
  EXPECT_EQ(out_.Text(), std::string("== Card 1\n") + kDownloadOk +
                             "== Card 2\n\n\nFormatting APP Data area...\nAPP Data Aera Format! "
                             "SW=0x6581\n== Card 3\n" +
                             kDownloadOk +
                             "\nCards: 3, succeeded: 2, failed: 1\nCard 2 failed: APP Data Aera "
                             "Format! SW=0x6581\n");
  EXPECT_EQ(feeder.waits,
            (std::vector<std::string>{"Reader A +", "Reader A -", "Reader A +", "Reader A -",
                                      "Reader A +", "Reader A -", "Reader A +"}));
  EXPECT_EQ(first.loads, 7);
  EXPECT_EQ(third.loads, 7);
}

TEST_F(CliRuns, EachCardStopsAtTheCardLimitWithoutWaitingForRemoval) {
  TinyCard first;
  TinyCard second;
  pcsc_.AttachReader("Reader A", nullptr);
  CardFeeder feeder(pcsc_, "Reader A", {&first, &second});
  CliOptions options = Options(Command::kInfo);
  options.each_card = true;
  options.card_limit = 1;
  options.json = true;
  EXPECT_EQ(Run(options, &feeder), kExitSuccess);
  EXPECT_EQ(feeder.waits, std::vector<std::string>{"Reader A +"});
  const std::string text = out_.Text();
  EXPECT_NE(text.find(R"({"schema":1,"command":"info","card":1,"success":true)"),
            std::string::npos);
  EXPECT_NE(text.find(R"({"schema":1,"command":"tally","cards":1,"succeeded":1,"failed":0,)"
                      R"("interrupted":false,"failures":[]})"),
            std::string::npos)
      << text;
}

TEST_F(CliRuns, EachCardEndsWhenAskedToStopAfterTheRunInProgress) {
  TinyCard first;
  TinyCard second;
  pcsc_.AttachReader("Reader A", nullptr);
  CardFeeder feeder(pcsc_, "Reader A", {&first, &second});
  stop_ = true;  // as a signal arriving during the first card
  CliOptions options = Options(Command::kInfo);
  options.each_card = true;
  EXPECT_EQ(Run(options, &feeder), kExitSuccess);
  EXPECT_EQ(feeder.waits, std::vector<std::string>{"Reader A +"});
  EXPECT_NE(out_.Text().find("Cards: 1, succeeded: 1, failed: 0"), std::string::npos);
}

// The JSON fields the README documents, per object: every object's fields must be
// among them, and the required ones there with their type.
enum class Type { kNumber, kString, kBool, kArray, kObject, kStringOrNull, kNumberOrNull };

struct Field {
  const char* key;
  Type type;
  bool required = true;
};

// Whether any text in value, at any depth, holds a carriage return.
bool HoldsCarriageReturn(const Json& value) {
  if (value.is_string())
    return value.get<std::string>().find('\r') != std::string::npos;
  if (!value.is_structured())
    return false;
  return std::any_of(value.begin(), value.end(), HoldsCarriageReturn);
}

bool HasType(const Json& value, Type type) {
  switch (type) {
    case Type::kNumber:
      return value.is_number_integer();
    case Type::kString:
      return value.is_string();
    case Type::kBool:
      return value.is_boolean();
    case Type::kArray:
      return value.is_array();
    case Type::kObject:
      return value.is_object();
    case Type::kStringOrNull:
      return value.is_string() || value.is_null();
    case Type::kNumberOrNull:
      return value.is_number_integer() || value.is_null();
  }
  return false;
}

const std::map<std::string, std::vector<Field>>& DocumentedFields() {
  static const std::vector<Field> kCard = {
      {"schema", Type::kNumber},     {"command", Type::kString}, {"card", Type::kNumber, false},
      {"success", Type::kBool},      {"reader", Type::kString},  {"atr", Type::kStringOrNull},
      {"elapsed_ms", Type::kNumber}, {"messages", Type::kArray}, {"run_id", Type::kStringOrNull}};
  static const std::map<std::string, std::vector<Field>> kFields = [] {
    std::map<std::string, std::vector<Field>> fields;
    fields["readers"] = {{"schema", Type::kNumber},      {"command", Type::kString},
                         {"success", Type::kBool},       {"pcsc_service", Type::kString},
                         {"pcsc_readers", Type::kArray}, {"orvo_reader", Type::kBool}};
    fields["check"] = {{"schema", Type::kNumber},
                       {"command", Type::kString},
                       {"success", Type::kBool},
                       {"script", Type::kString},
                       {"script_hex", Type::kString, false},
                       {"messages", Type::kArray},
                       {"line", Type::kNumberOrNull, false},
                       {"lines", Type::kNumber, false},
                       {"pass_through_lines", Type::kNumber, false},
                       {"app1", Type::kObject, false},
                       {"app2", Type::kObject, false},
                       {"suits_v1_cards", Type::kBool, false},
                       {"warnings", Type::kArray},
                       {"warnings_left_off", Type::kNumber}};
    fields["info"] = kCard;
    for (const Field& field : std::vector<Field>{{"card_version", Type::kStringOrNull, false},
                                                 {"card_line", Type::kString, false},
                                                 {"application_line", Type::kString, false},
                                                 {"one_version", Type::kBool, false},
                                                 {"app1_version", Type::kString, false},
                                                 {"app2_version", Type::kString, false},
                                                 {"counter", Type::kNumberOrNull, false},
                                                 {"counter_text", Type::kStringOrNull, false}})
      fields["info"].push_back(field);
    fields["download"] = kCard;
    fields["download"].push_back({"script", Type::kString});
    fields["download"].push_back({"script_hex", Type::kString, false});
    fields["download"].push_back({"counter", Type::kNumber});
    fields["tally"] = {{"schema", Type::kNumber}, {"command", Type::kString},
                       {"cards", Type::kNumber},  {"succeeded", Type::kNumber},
                       {"failed", Type::kNumber}, {"interrupted", Type::kBool},
                       {"failures", Type::kArray}};
    return fields;
  }();
  return kFields;
}

// Every line of text against the documented fields; returns the commands seen.
std::vector<std::string> CheckAgainstSchema(const std::string& text) {
  std::vector<std::string> commands;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    const Json json = Json::parse(line, nullptr, false);
    EXPECT_TRUE(json.is_object()) << line;
    if (!json.is_object())
      continue;
    const std::string command = json.value("command", "");
    commands.push_back(command);
    EXPECT_EQ(json.value("schema", 0), 1) << line;
    const auto documented = DocumentedFields().find(command);
    EXPECT_NE(documented, DocumentedFields().end()) << line;
    if (documented == DocumentedFields().end())
      continue;
    for (const Field& field : documented->second) {
      if (!json.contains(field.key)) {
        EXPECT_FALSE(field.required) << command << " lacks " << field.key << ": " << line;
        continue;
      }
      EXPECT_TRUE(HasType(json[field.key], field.type)) << command << "." << field.key;
    }
    for (const auto& [key, value] : json.items()) {
      const bool known = std::any_of(documented->second.begin(), documented->second.end(),
                                     [&key](const Field& field) { return key == field.key; });
      EXPECT_TRUE(known) << command << " has the undocumented field " << key;
    }
    // Messages carry plain line feeds, as shown (looked for in the values: the "\\r" of
    // a Windows path's "\\root" is no carriage return).
    EXPECT_FALSE(HoldsCarriageReturn(json)) << line;
  }
  return commands;
}

TEST_F(CliRuns, EveryCommandsJsonHasTheDocumentedFields) {
  TinyCard first;
  TinyCard refusing;
  refusing.refuse[0xF0DB] = 0x6581;
  pcsc_.AttachReader("Reader A", &first);
  Capture out;
  Capture err;
  const Streams streams{out.file(), err.file(), false};

  CliOptions readers = Options(Command::kReaders);
  readers.json = true;
  RunReaders(readers, pcsc_, orvo_, false, streams);

  CliOptions check = Options(Command::kCheck);
  check.json = true;
  RunCheck(check, streams);
  std::vector<std::string> faulty = SoundScript();
  faulty[4] = "F0D40000080000200000011FFE";
  check.script = dir_.Write("faulty.bin", Join(faulty));
  RunCheck(check, streams);

  CliOptions info = Options(Command::kInfo);
  info.json = true;
  RunOnCard(info, pcsc_, orvo_, pause_, nullptr, stop_, streams);

  CliOptions download = Options(Command::kDownload);
  download.json = true;
  download.counter_text = "+0100";
  RunOnCard(download, pcsc_, orvo_, pause_, nullptr, stop_, streams);

  CardFeeder feeder(pcsc_, "Reader A", {&first, &refusing});
  download.each_card = true;
  RunOnCard(download, pcsc_, orvo_, pause_, &feeder, stop_, streams);

  const std::string text = out.Text();
  EXPECT_EQ(CheckAgainstSchema(text),
            (std::vector<std::string>{"readers", "check", "check", "info", "download", "download",
                                      "download", "tally"}))
      << text;
  // The counter as typed, as a number; the card's counter characters, as a number.
  EXPECT_NE(text.find(R"("counter":100,"messages")"), std::string::npos) << text;
  EXPECT_NE(text.find(R"("counter":500,"counter_text":"0500")"), std::string::npos) << text;
  EXPECT_NE(text.find(R"("failures":[{"card":2,"message":"APP Data Aera Format! SW=0x6581"}])"),
            std::string::npos)
      << text;
}

TEST(TraceExchange, ShowsCommandResponseAndTime) {
  const uint8_t command[] = {0xF0, 0xDB, 0x00, 0x00, 0x00};
  const uint8_t response[] = {0x90, 0x00};
  EXPECT_EQ(TraceExchange(command, 5, 0, response, 2, 0.4121),
            "> F0 DB 00 00 00\n< 90 00  (0.412 ms)\n");
  // A failure names its code, as 32 bits from the Orvo side or as pcsc-lite's long.
  EXPECT_EQ(TraceExchange(command, 5, static_cast<int32_t>(0x80100069), response, 2, 12.0),
            "> F0 DB 00 00 00\n< failed SCARD_W_REMOVED_CARD (0x80100069)  (12.000 ms)\n");
  EXPECT_EQ(TraceExchange(command, 5, 0x80100066L, response, 0, 2.0),
            "> F0 DB 00 00 00\n< failed SCARD_W_UNRESPONSIVE_CARD (0x80100066)  (2.000 ms)\n");
  EXPECT_EQ(TraceExchange(command, 0, -14, nullptr, 0, 1.5),
            "> \n< failed PELLITON_READER_BAD_CHECKSUM (-14)  (1.500 ms)\n");
  EXPECT_EQ(TraceExchange(command, 5, 0x801000FFL, response, 0, 1.0),
            "> F0 DB 00 00 00\n< failed (0x801000FF)  (1.000 ms)\n");
  // Success without a byte is no status word.
  EXPECT_EQ(TraceExchange(command, 5, 0, response, 0, 1.0),
            "> F0 DB 00 00 00\n< empty reply  (1.000 ms)\n");
}

TEST_F(CliRuns, TraceShowsEveryExchangeOfARun) {
  TinyCard card;
  pcsc_.AttachReader("Reader A", &card);
  Capture trace;
  TracingPcsc traced(pcsc_, trace.file());
  Streams streams{out_.file(), err_.file(), false};
  EXPECT_EQ(RunOnCard(Options(Command::kInfo), traced, orvo_, pause_, nullptr, stop_, streams),
            kExitSuccess);
  const std::string text = trace.Text();
  EXPECT_NE(text.find("ATR 3B 9F 95"), std::string::npos) << text;
  EXPECT_NE(text.find("> F0 88 00 00 08 11 22 33 44 55 66 77 88\n< 61 2C  ("), std::string::npos)
      << text;
  EXPECT_NE(text.find("> 00 C0 00 00 2C\n< 00 00"), std::string::npos) << text;
}

// The station in process: every reader's worker against the simulated service.
class StationRuns : public CliRuns {
 protected:
  int RunStation(CliOptions options, const std::string& readers,
                 journal::Journal* journal = nullptr) {
    options.readers_wanted = readers;
    station_.emplace(options_ = options, Streams{out_.file(), err_.file(), false}, stop_,
                     in_progress_, journal, pcsc_);
    return station_->Run();
  }
  CliOptions options_;
  CardInProgress in_progress_;
  std::optional<Station> station_;
};

TEST_F(StationRuns, EveryReaderGetsItsVerdictAndTheFailedCardItsHook) {
  TinyCard good;
  TinyCard refusing;
  refusing.refuse[0xF0DB] = 0x6581;
  pcsc_.AttachReader("Reader A", &good);
  pcsc_.AttachReader("Reader B", &refusing);
  CliOptions options = Options(Command::kDownload);
  options.card_limit = 1;
  const std::string log = dir_.PathOf("hooks.log");
  options.on_fail = "echo \"$PELLITON_READER $PELLITON_RESULT\" >> '" + log + "'";
  options.verbosity = 1;
  EXPECT_EQ(RunStation(options, "all"), kExitFailed);
  const std::string err = err_.Text();
  EXPECT_NE(err.find("PASS  card 1  Reader A"), std::string::npos) << err;
  EXPECT_NE(err.find("FAIL  card 1  Reader B"), std::string::npos) << err;
  EXPECT_NE(err.find("outcome: card_refused, SW 6581"), std::string::npos) << err;
#ifndef _WIN32
  std::ifstream hooks(log);
  std::stringstream told;
  told << hooks.rdbuf();
  EXPECT_EQ(told.str(), "Reader B FAIL\n");
#endif
  const std::string out = out_.Text();
  EXPECT_NE(out.find("Reader Reader A: cards 1, succeeded 1, failed 0\n"), std::string::npos)
      << out;
  EXPECT_NE(out.find("  Card 1 failed: APP Data Aera Format! SW=0x6581\n"), std::string::npos)
      << out;
  EXPECT_EQ(good.loads, 7);
}

#ifndef _WIN32
TEST_F(StationRuns, WaitsForAServiceThatStopsAndServesTheReadersAgainWhenItIsBack) {
  // Reader A waits for its first card's removal when the service goes; Reader B's card is
  // in the middle of its download.
  TinyCard first;
  TinyCard second;
  TinyCard cut_short;
  TinyCard after;
  pcsc_.AttachReader("Reader A", &first);
  pcsc_.AttachReader("Reader B", &cut_short);
  pcsc_.StallAfter("Reader B", 3);
  const std::string done = dir_.PathOf("card-done");
  const auto removals_asked = [&](const std::string& reader) {
    const std::string err = err_.Text();
    const std::string asked = "[" + reader + "] Remove the card.";
    size_t count = 0;
    for (size_t at = err.find(asked); at != std::string::npos; at = err.find(asked, at + 1))
      ++count;
    return count;
  };
  // Bounded, so that a station that runs the old card again fails instead of hanging.
  const auto wait_until = [](const auto& reached) {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!reached() && std::chrono::steady_clock::now() < give_up)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
  };
  std::thread service([&] {
    wait_until([&] {
      return std::filesystem::exists(done) && removals_asked("Reader A") >= 1 &&
             pcsc_.Stalled("Reader B");
    });
    pcsc_.SetServiceRunning(false);
    pcsc_.StopStalling("Reader B");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    pcsc_.SetServiceRunning(true);
    // Back, each reader still holds the card it was done with: it must leave first.
    wait_until([&] { return removals_asked("Reader A") >= 2 && removals_asked("Reader B") >= 2; });
    pcsc_.InsertCard("Reader A", &second);
    pcsc_.InsertCard("Reader B", &after);
  });
  CliOptions options = Options(Command::kDownload);
  options.card_limit = 2;
  options.on_pass = "touch '" + done + "'";
  EXPECT_EQ(RunStation(options, "Reader A,Reader B"), kExitFailed);
  service.join();
  const std::string err = err_.Text();
  const std::string stopped = std::string("the PC/SC service (") + kPcscServiceName + ") stopped";
  EXPECT_NE(err.find("[Reader B] pelliton-cli: " + stopped + " during this card's run"),
            std::string::npos)
      << err;
  EXPECT_NE(err.find(stopped + "; waiting for it to come back"), std::string::npos) << err;
  EXPECT_NE(err.find("the PC/SC service is back"), std::string::npos) << err;
  EXPECT_EQ(first.loads, 7);
  EXPECT_EQ(second.loads, 7);
  EXPECT_EQ(after.loads, 7);
  const std::string out = out_.Text();
  EXPECT_NE(out.find("Reader Reader A: cards 2, succeeded 2, failed 0\n"), std::string::npos)
      << out;
  EXPECT_NE(out.find("Reader Reader B: cards 2, succeeded 1, failed 1\n  Card 1 failed"),
            std::string::npos)
      << out;
}
#endif

// How a station ends besides its cards being done: readers that come and go under "all",
// an output or a journal that fails. What it says and its exit status.
struct StationEndCase {
  const char* name;
  const char* readers;  // --readers
  uint32_t card_limit;
  bool reader_at_start;  // else Reader A is plugged in once the station runs
  bool unplug_after_card;
  bool output_fails;
  enum Journal { kNone, kReadOnly, kDeletedAfterCard } journal;
  int exit_status;
  const char* out_has;
  const char* err_has;
};

class StationEnds : public StationRuns, public ::testing::WithParamInterface<StationEndCase> {};

TEST_P(StationEnds, SaysWhyAndEndsWithItsStatus) {
  const StationEndCase& c = GetParam();
  TinyCard card;
  if (c.reader_at_start)
    pcsc_.AttachReader("Reader A", &card);
  // An empty reader waits for a card without end: only the station's own end stops it.
  if (std::string(c.readers).find("Reader B") != std::string::npos)
    pcsc_.AttachReader("Reader B", nullptr);
  CliOptions options = Options(Command::kInfo);
  options.card_limit = c.card_limit;
  options.readers_wanted = c.readers;
  const std::string done = dir_.PathOf("card-done");
  options.on_pass = "touch '" + done + "'";
  std::unique_ptr<journal::Journal> journal;
  const std::string path = dir_.PathOf("journal.sqlite");
  if (c.journal != StationEndCase::kNone) {
    std::string error;
    journal =
        journal::Journal::Open(path, "pelliton-cli", journal::Journal::Access::kAppend, &error);
    if (c.journal == StationEndCase::kReadOnly)
      journal =
          journal::Journal::Open(path, "pelliton-cli", journal::Journal::Access::kRead, &error);
    ASSERT_NE(journal, nullptr) << error;
  }
  std::FILE* full = c.output_fails ? std::fopen("/dev/full", "w") : nullptr;
  station_.emplace(options_ = options, Streams{full != nullptr ? full : out_.file(), err_.file()},
                   stop_, in_progress_, journal.get(), pcsc_);
  std::atomic<bool> finished{false};
  std::atomic<bool> ended_by_test{false};
  std::thread plug([&] {
    if (!c.reader_at_start) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      pcsc_.AttachReader("Reader A", &card);
    }
    if (c.unplug_after_card || c.journal == StationEndCase::kDeletedAfterCard) {
      const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      while (!std::filesystem::exists(done) && std::chrono::steady_clock::now() < give_up)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (c.unplug_after_card)
      pcsc_.DetachReader("Reader A");
    if (c.journal == StationEndCase::kDeletedAfterCard) {
      for (const char* suffix : {"", "-wal", "-shm"})
        std::filesystem::remove(path + suffix);
      pcsc_.InsertCard("Reader A", nullptr);
      pcsc_.InsertCard("Reader A", &card);
    }
    // A station that misses its end is ended, so that the case fails instead of hanging.
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!finished.load() && std::chrono::steady_clock::now() < give_up)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (!finished.load()) {
      ended_by_test.store(true);
      station_->Cancel();
    }
  });
  EXPECT_EQ(station_->Run(), c.exit_status);
  finished.store(true);
  plug.join();
  EXPECT_FALSE(ended_by_test.load());
  if (full != nullptr)
    std::fclose(full);
  EXPECT_NE(out_.Text().find(c.out_has), std::string::npos) << out_.Text();
  EXPECT_NE(err_.Text().find(c.err_has), std::string::npos) << err_.Text();
}

#ifndef _WIN32
INSTANTIATE_TEST_SUITE_P(
    Station, StationEnds,
    ::testing::Values(
        StationEndCase{"AReaderPluggedInLaterIsServed", "all", 1, false, false, false,
                       StationEndCase::kNone, kExitSuccess,
                       "Reader Reader A: cards 1, succeeded 1, failed 0\n",
                       "no PC/SC reader yet; serving each one plugged in"},
        StationEndCase{"AnUnpluggedReaderEndsItsLine", "Reader A", 2, true, true, false,
                       StationEndCase::kNone, kExitFailed,
                       "Reader Reader A: cards 1, succeeded 1, failed 0; the reader is gone\n",
                       "[Reader A] the reader is gone"},
        StationEndCase{"ALostOutputEndsTheStation", "Reader A,Reader B", 0, true, false, true,
                       StationEndCase::kNone, kExitOutput, "", "could not write the output"},
        StationEndCase{
            "AJournalThatFailsEndsTheStation", "Reader A,Reader B", 0, true, false, false,
            StationEndCase::kReadOnly, kExitJournal,
            "its record could not be written to the journal",
            "[Reader A] pelliton-cli: this card's run could not be recorded in the journal: "
            "the journal is open for reading only"},
        // The next card is not touched, and no run id names a record nobody will read.
        StationEndCase{"AJournalDeletedMidBatchEndsTheStation", "Reader A", 0, true, false, false,
                       StationEndCase::kDeletedAfterCard, kExitJournal,
                       "failed 1; its record could not be written to the journal\n"
                       "  Card 2 failed: The card was not touched",
                       "was moved, replaced or deleted while in use"}),
    [](const auto& info) { return info.param.name; });
#else
// The cases need /dev/full and a POSIX shell for their hook.
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(StationEnds);
#endif

// A card that stops answering, or one another program holds, gives up its own reader
// alone: the other reader's card finishes and the tally names the cause.
struct StuckCase {
  const char* name;
  bool held;  // else the card stops answering in the middle of the download
  const char* cause;
  // "all" also watches for readers to serve meanwhile: a reader whose cards are done is
  // not served again.
  const char* readers = "Reader A,Reader B";
};

class StationStuck : public StationRuns, public ::testing::WithParamInterface<StuckCase> {};

TEST_P(StationStuck, GivesUpThatReaderOnly) {
  TinyCard good;
  TinyCard stuck;
  pcsc_.AttachReader("Reader A", &good);
  pcsc_.AttachReader("Reader B", &stuck);
  if (GetParam().held) {
    pcsc_.HoldForOtherProgram("Reader B", true);
  } else {
    pcsc_.StallAfter("Reader B", 3);
  }
  CliOptions options = Options(Command::kDownload);
  options.card_limit = 1;
  options.wait_seconds = 1;
  options.json = true;
  std::string error;
  // A build without a journal runs the same, recording nothing.
  const auto journal = journal::JournalKept()
                           ? journal::Journal::Open(dir_.PathOf("journal.sqlite"), "pelliton-cli",
                                                    journal::Journal::Access::kAppend, &error)
                           : nullptr;
  ASSERT_EQ(journal != nullptr, journal::JournalKept()) << error;
  EXPECT_EQ(RunStation(options, GetParam().readers, journal.get()), kExitFailed);
  EXPECT_TRUE(station_->LeftStuck());
  const std::string out = out_.Text();
  EXPECT_NE(out.find(R"("card":1,"success":true,"reader":"Reader A")"), std::string::npos) << out;
  EXPECT_NE(out.find(std::string(R"("reader":"Reader B","cards":1,"succeeded":0,"failed":1,)") +
                     R"("failures":[{"card":1,"message":"gave up after 1 s waiting for the card )" +
                     "in Reader B: " + GetParam().cause),
            std::string::npos)
      << out;
  EXPECT_EQ(good.loads, 7);
  // The stuck call comes back at last: it must not touch the card or tell anything more.
  pcsc_.HoldForOtherProgram("Reader B", false);
  pcsc_.StopStalling("Reader B");
  station_.reset();
  EXPECT_EQ(out_.Text(), out);
  EXPECT_LE(stuck.loads, 3);
  // Each card has its one record; the one given up says so, and nothing came after it.
  if (journal == nullptr)
    return;
  std::vector<journal::JournalRecord> records;
  ASSERT_TRUE(journal->List({}, &records, &error)) << error;
  std::map<std::string, std::string> outcome_of;
  for (const journal::JournalRecord& record : records) {
    outcome_of[record.reader] += record.outcome + " ";
    // The card's line names the record that tells of it.
    EXPECT_NE(out.find(R"("run_id":")" + record.run_id + '"'), std::string::npos) << out;
  }
  EXPECT_EQ(outcome_of["Reader A"], "success ");
  EXPECT_EQ(outcome_of["Reader B"], "abandoned ");
}

INSTANTIATE_TEST_SUITE_P(
    Station, StationStuck,
    ::testing::Values(StuckCase{"CardStopsAnswering", false,
                                "it does not answer; it may be left unfinished"},
                      StuckCase{"HeldByAnotherProgram", true, "held by another program"},
                      StuckCase{"CardStopsAnsweringUnderAll", false,
                                "it does not answer; it may be left unfinished", "all"}),
    [](const auto& info) { return info.param.name; });

// The card loop waits for a card's removal by the service's count: a card swapped while
// the last one's hook ran is a new card, although the reader never looked empty.
class SwapDuringHook final : public CardLoopEvents {
 public:
  SwapDuringHook(testing::SimPcsc& pcsc, sim::CardModel& next) : pcsc_(pcsc), next_(next) {}
  void Waiting(bool) override {}
  void CardStarted(int) override {}
  bool CardEnded(int card, const CardRun& run) override {
    passed.push_back(run.outcome.Succeeded());
    if (card == 1)
      pcsc_.InsertCard("Reader A", &next_);
    return true;
  }
  std::vector<bool> passed;

 private:
  testing::SimPcsc& pcsc_;
  sim::CardModel& next_;
};

TEST_F(CliRuns, CardLoopTakesACardSwappedWhileTheHookRan) {
  TinyCard first;
  TinyCard second;
  pcsc_.AttachReader("Reader A", &first);
  CardAccess card(pcsc_, orvo_);
  std::vector<std::string> readers;
  card.ListReaders(&readers);
  card.Mode() = ReaderMode::Pcsc;
  card.SelectReader("Reader A");
  station::RunPanel panel;
  station::CardJob job(JobOrderOf(Options(Command::kDownload)), card, pause_, nullptr);
  struct JobSession final : ReaderSession {
    JobSession(station::CardJob& job, station::RunPanel& panel) : job(job), panel(panel) {}
    CardRun Run() override { return job.Run(panel); }
    bool JournalFailed() const override { return false; }
    station::CardJob& job;
    station::RunPanel& panel;
  } session(job, panel);
  PcscPresence presence(pcsc_, stop_);
  SwapDuringHook events(pcsc_, second);
  const CardLoopEnd end = RunCardLoop("Reader A", session, presence, 2, stop_, events);
  EXPECT_EQ(end.cards, 2);
  EXPECT_EQ(events.passed, (std::vector<bool>{true, true}));
  EXPECT_EQ(second.loads, 7);
}

}  // namespace
}  // namespace pelliton::cli
