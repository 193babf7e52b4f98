#include "engine/download.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "cardaccess/card_access.h"
#include "cardaccess/orvo_api.h"
#include "cardaccess/reader_controls.h"
#include "engine/script.h"
#include "sim/card/tessiv_card.h"
#include "sim/reader/simulated_orvo_reader.h"
#include "tests/support/fake_orvo.h"
#include "tests/support/recording_panel.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/script_builder.h"
#include "tests/support/sim_pcsc.h"

namespace pelliton {
namespace {

using sim::Fault;
using sim::FaultKind;
using sim::TessivApp;
using sim::TessivCard;
using sim::TessivConfig;
using testing::AddressCheckLine;
using testing::AddressLine;
using testing::DataLine;
using testing::JoinLines;
using testing::PatternBytes;
using testing::ScriptData;
using testing::TwoAppScript;

constexpr char kReader[] = "Sim Reader 0";
constexpr char kSuccess[] = "\r\n\r\nDownload APP Successfull!";
const std::string kErrorBeep = "beep 1000 600";
const std::string kOkBeep = "beep 900 100";

class RecordingPauser : public Pauser {
 public:
  void Sleep(uint32_t ms) override { sleeps.push_back(ms); }
  std::vector<uint32_t> sleeps;
};

TessivConfig CardOfVersion(uint8_t version) {
  TessivConfig config;
  config.atr = TessivConfig::DefaultAtr(version);
  return config;
}

// The card in a PC/SC reader of an in-process service, the window modelled by the
// recording panel, the script in a scratch folder.
class DownloadTest : public ::testing::Test {
 public:
  explicit DownloadTest(TessivConfig config = TessivConfig{}) : card(std::move(config)) {
    pcsc.AttachReader(kReader, &card);
    ReloadReaderList(access, panel);
    OnReaderModeClicked(access, panel, kPcscRadio);
    panel.ClearLog();
  }

  void UseScript(const std::string& text) {
    panel.Controls().path_box = dir.Write("app.bin", text);
  }
  void UseScript(const std::vector<std::string>& lines) { UseScript(JoinLines(lines)); }

  void Run() { outcome = OnDownload(panel, access, pauser); }

  // The last operator signals: tones, refreshes (the status box shown) and message boxes.
  std::vector<std::string> Ending(size_t count) const {
    const std::vector<std::string> log = panel.LogOf({"beep", "refresh", "appbox", "winbox"});
    return {log.end() - static_cast<std::ptrdiff_t>(std::min(count, log.size())), log.end()};
  }

  bool CardTouched() const {
    const auto& calls = pcsc.Calls();
    return std::find(calls.begin(), calls.end(), "Connect") != calls.end();
  }

  // Every DataLine's bytes stand at its offset from its application's start.
  void ExpectLoaded(const std::vector<ScriptData>& data) const {
    for (const ScriptData& d : data) {
      const TessivApp app = d.app2 ? TessivApp::kApp2 : TessivApp::kApp1;
      const uint32_t start = d.app2 ? card.config().app2_start : card.config().app1_start;
      const std::vector<uint8_t>& memory = card.Memory(app);
      ASSERT_LE(d.address - start + d.bytes.size(), memory.size());
      EXPECT_TRUE(std::equal(d.bytes.begin(), d.bytes.end(), memory.begin() + (d.address - start)))
          << std::hex << "address 0x" << d.address;
    }
  }

  ScratchDir dir;
  TessivCard card;
  testing::SimPcsc pcsc;
  testing::FakeOrvo orvo;
  RecordingPanel panel;
  RecordingPauser pauser;
  CardAccess access{pcsc, orvo};
  DownloadOutcome outcome;
};

// A script as operators write them: comments, blanks and tabs, lower-case digits, CRLF
// and LF endings, a pass-through line and a last line without a line feed.
std::string RealisticScript(std::vector<ScriptData>* data) {
  std::vector<std::string> lines = TwoAppScript(6, data);
  std::string text = "; Norvane upgrade image, two applications\r\n\r\n";
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string line = lines[i];
    if (i % 3 == 1) {
      std::transform(line.begin(), line.end(), line.begin(), [](char c) {
        return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      });
      if (line.rfind("f05d010009", 0) == 0)
        line = lines[i];  // AddressLines stay upper case
    }
    if (i % 4 == 3)
      line = line.substr(0, 10) + " \t" + line.substr(10, 8) + " " + line.substr(18);
    if (i == 4)
      line += "   ; block two";
    text += line + (i % 2 ? "\r\n" : "\n");
    if (i == 5)
      text += "   \t\n; a remark\n" + testing::PassThroughLine(PatternBytes(9, 44)) + "\n";
  }
  text += "; end of image";  // no line feed
  return text;
}

TEST_F(DownloadTest, LoadsRealisticScriptAndWritesTheCounter) {
  std::vector<ScriptData> data;
  UseScript(RealisticScript(&data));
  panel.Controls().counter_box = "1234";

  Run();

  EXPECT_EQ(panel.Controls().status_box, kSuccess);
  EXPECT_EQ(Ending(2), (std::vector<std::string>{kOkBeep, "refresh"}));
  EXPECT_EQ(panel.Controls().progress_pos, kDownloadProgressMax);
  ExpectLoaded(data);
  EXPECT_EQ(card.Counter(), 1234u);
  ASSERT_EQ(card.PassThrough().size(), 1u);
  EXPECT_EQ(card.PassThrough()[0], PatternBytes(9, 44));
  EXPECT_EQ(card.FormatCount(), 1u);
  // The status texts the operator saw, in order.
  const std::vector<std::string>& shown = panel.StatusBoxHistory();
  ASSERT_GE(shown.size(), 3u);
  EXPECT_NE(std::find(shown.begin(), shown.end(), "\r\n\r\nFormatting APP Data area..."),
            shown.end());
  EXPECT_NE(std::find(shown.begin(), shown.end(), "\r\n\r\nAPP Loading......"), shown.end());
}

TEST_F(DownloadTest, RebuildsLoadCommandsRelativeToTheApplicationStart) {
  const std::vector<uint8_t> block = PatternBytes(1, 128);
  UseScript({AddressLine(0x2000, 0xFFFF), AddressLine(0x12000, 0x1FFFF),
             AddressCheckLine(0x2000, 0xFFFF), DataLine(0x2080, block, "D2"),
             AddressCheckLine(0x12000, 0x1FFFF), DataLine(0x12000, block)});
  Run();
  ASSERT_EQ(panel.Controls().status_box, kSuccess);

  std::vector<std::vector<uint8_t>> loads;
  for (const auto& command : card.Commands()) {
    if (command.size() > 1 && command[0] == 0xF0 && command[1] == 0xDC)
      loads.push_back(command);
  }
  ASSERT_EQ(loads.size(), 2u);
  std::vector<uint8_t> app1_load = {0xF0, 0xDC, 0x00, 0x01, 0x80};
  app1_load.insert(app1_load.end(), block.begin(), block.end());
  EXPECT_EQ(loads[0], app1_load);
  std::vector<uint8_t> app2_load = {0xF0, 0xDC, 0x80, 0x00, 0x80};
  app2_load.insert(app2_load.end(), block.begin(), block.end());
  EXPECT_EQ(loads[1], app2_load);
}

TEST_F(DownloadTest, CounterAndItsCrcFollowTheChallenge) {
  UseScript(std::vector<std::string>{AddressLine(0x2000, 0xFFFF)});
  Run();
  ASSERT_EQ(panel.Controls().status_box, kSuccess);
  const std::vector<uint8_t>& config = card.Commands().back();
  ASSERT_EQ(config.size(), 13u);
  EXPECT_EQ(std::vector<uint8_t>(config.begin(), config.begin() + 9),
            (std::vector<uint8_t>{0xF0, 0x80, 0x01, 0x00, 0x08, 0x00, 0x00, 0x01, 0xF4}));
  // The card stores the counter only when the CRC matches the challenge it just gave.
  EXPECT_EQ(card.Commands()[card.Commands().size() - 2],
            (std::vector<uint8_t>{0x00, 0x84, 0x00, 0x00, 0x04}));
  EXPECT_EQ(card.Counter(), 500u);
}

// Windows editors start a script with a UTF-8 byte-order mark; the AddressLine behind it
// is still the first line.
TEST_F(DownloadTest, ByteOrderMarkIsNoPartOfTheFirstLine) {
  std::vector<ScriptData> data;
  UseScript("\xEF\xBB\xBF" + JoinLines(TwoAppScript(2, &data)));
  Run();
  EXPECT_EQ(panel.Controls().status_box, kSuccess);
  ExpectLoaded(data);
}

// Given the script already read, the run loads those bytes and opens no file: the path
// names a file that is gone.
TEST_F(DownloadTest, ScriptAlreadyReadIsLoadedWithoutReadingTheFile) {
  std::vector<ScriptData> data;
  const ScriptText script(JoinLines(TwoAppScript(2, &data)));
  panel.Controls().path_box = dir.PathOf("gone.bin");
  outcome = OnDownload(panel, access, pauser, script);
  EXPECT_EQ(panel.Controls().status_box, kSuccess);
  ExpectLoaded(data);
}

// A run that reads the script hands back the very bytes it loaded (a byte-order mark
// included) for its record, and a run that ended before reading hands back none.
TEST_F(DownloadTest, HandsBackTheScriptItRead) {
  const std::string bytes = "\xEF\xBB\xBF" + JoinLines(TwoAppScript(2, nullptr));
  UseScript(bytes);
  std::optional<ScriptText> read;
  outcome = OnDownload(panel, access, pauser, &read);
  ASSERT_EQ(panel.Controls().status_box, kSuccess);
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(read->Bytes(), bytes);

  panel.Controls().counter_box = "0";
  outcome = OnDownload(panel, access, pauser, &read);
  EXPECT_EQ(outcome.end, RunEnd::kRefused);
  EXPECT_FALSE(read.has_value());
}

// The path stays as the next run opens the same file: lower-cased on Windows, where
// file names ignore case (as the window always did there), unchanged elsewhere.
TEST_F(DownloadTest, PathStaysAsTheNextRunFindsTheFile) {
  panel.Controls().path_box = dir.Write("Image.BIN", JoinLines({AddressLine(0x2000, 0xFFFF)}));
  std::string path = panel.Controls().path_box;
#ifdef _WIN32
  std::transform(path.begin(), path.end(), path.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
#endif
  Run();
  ASSERT_EQ(panel.Controls().status_box, kSuccess);
  EXPECT_EQ(panel.Controls().path_box, path);
  Run();
  EXPECT_EQ(panel.Controls().status_box, kSuccess);
}

// --- preconditions -------------------------------------------------------------------

struct CounterCase {
  const char* text;
  bool runs;
  std::vector<std::string> boxes;  // message boxes in order
};

void PrintTo(const CounterCase& c, std::ostream* os) {
  *os << '[' << c.text << ']';
}

class DownloadCounterTest : public DownloadTest,
                            public ::testing::WithParamInterface<CounterCase> {};

TEST_P(DownloadCounterTest, RefusesOutOfRangeBeforeTouchingTheCard) {
  UseScript(std::vector<std::string>{AddressLine(0x2000, 0xFFFF)});
  panel.Controls().counter_box = GetParam().text;
  Run();
  EXPECT_EQ(panel.LogOf({"appbox", "winbox"}), GetParam().boxes);
  EXPECT_EQ(CardTouched(), GetParam().runs);
  if (GetParam().runs) {
    EXPECT_EQ(card.Counter(), panel.CounterValue());
  } else {
    EXPECT_EQ(panel.Log().back(), kErrorBeep);
    EXPECT_FALSE(card.Counter().has_value());
  }
}

const char kRangeBox[] = "winbox The counter must be greater than 0 and less than 5000 !";

INSTANTIATE_TEST_SUITE_P(
    Counters, DownloadCounterTest,
    ::testing::Values(
        CounterCase{"1", true, {}}, CounterCase{"5000", true, {}},
        CounterCase{"0", false, {"appbox “请填入一个在1和5000之间的整数。”", kRangeBox}},
        CounterCase{"5001", false, {"appbox “请填入一个在1和5000之间的整数。”", kRangeBox}}));

TEST_F(DownloadTest, PcscWithoutReaderIsRefusedBeforeAnyCardAccess) {
  pcsc.DetachReader(kReader);
  ReloadReaderList(access, panel);
  panel.ClearLog();
  UseScript(std::vector<std::string>{AddressLine(0x2000, 0xFFFF)});
  Run();
  EXPECT_EQ(Ending(2),
            (std::vector<std::string>{"winbox Please Select reader first!", kErrorBeep}));
  EXPECT_FALSE(CardTouched());
}

TEST_F(DownloadTest, ResetFailureShowsWhyThenTheResetBox) {
  pcsc.InsertCard(kReader, nullptr);
  UseScript(std::vector<std::string>{AddressLine(0x2000, 0xFFFF)});
  Run();
  EXPECT_EQ(Ending(7),
            (std::vector<std::string>{"refresh", kErrorBeep, "refresh", kErrorBeep, kErrorBeep,
                                      "refresh", "appbox Card Reset Error!"}));
  EXPECT_EQ(panel.Controls().status_box, "Error: The smart Chip can't to be connected!");
}

// The Orvo reader's reset leaves its reason in the status text without showing it; the
// download shows it before the reset box. An empty PC/SC reader name does not matter here.
struct OrvoResetCase {
  const char* name;
  int32_t open_result;
  std::vector<int32_t> reset_results;
  std::string reason;
};

void PrintTo(const OrvoResetCase& c, std::ostream* os) {
  *os << c.name;
}

class DownloadOrvoResetTest : public DownloadTest,
                              public ::testing::WithParamInterface<OrvoResetCase> {};

TEST_P(DownloadOrvoResetTest, ShowsTheReadersReasonThenTheResetBox) {
  pcsc.DetachReader(kReader);
  ReloadReaderList(access, panel);
  OnReaderModeClicked(access, panel, kOrvoRadio);
  UseScript(std::vector<std::string>{AddressLine(0x2000, 0xFFFF)});
  orvo.open_results = {GetParam().open_result, GetParam().open_result};
  orvo.reset_results.assign(GetParam().reset_results.begin(), GetParam().reset_results.end());
  panel.ClearLog();

  Run();

  EXPECT_EQ(panel.LogOf({"beep", "refresh", "appbox", "winbox"}),
            (std::vector<std::string>{kErrorBeep, "refresh", "appbox Card Reset Error!"}));
  EXPECT_EQ(panel.Controls().status_box, GetParam().reason);
  EXPECT_EQ(orvo.commands.size(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Reasons, DownloadOrvoResetTest,
    ::testing::Values(OrvoResetCase{"NoReader", -2, {}, "Error: Reader open error!"},
                      OrvoResetCase{"NoCard", 3, {-13, -13}, "Error: Card connect error!"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DownloadTest, MissingScriptFileIsReportedAfterTheReset) {
  panel.Controls().path_box = dir.PathOf("missing.bin");
  Run();
  EXPECT_EQ(Ending(2),
            (std::vector<std::string>{kErrorBeep, "appbox Open APP update file error!"}));
  EXPECT_EQ(card.FormatCount(), 0u);
}

// --- the card's generation -----------------------------------------------------------

struct GateCase {
  const char* name;
  uint8_t version;
  std::vector<std::string> address_lines;
  std::string status;  // empty: the gate lets it through
};

class DownloadGateTest : public ::testing::TestWithParam<GateCase> {};

TEST_P(DownloadGateTest, OldCardsNeedApp2AtItsOwnStart) {
  struct Fixture : DownloadTest {
    explicit Fixture(uint8_t version) : DownloadTest(CardOfVersion(version)) {}
    void TestBody() override {}
  } f(GetParam().version);
  f.UseScript(GetParam().address_lines);
  f.Run();
  if (GetParam().status.empty()) {
    EXPECT_EQ(f.card.FormatCount(), 1u);
  } else {
    EXPECT_EQ(f.Ending(2), (std::vector<std::string>{"refresh", kErrorBeep}));
    EXPECT_EQ(f.panel.Controls().status_box, GetParam().status);
    EXPECT_EQ(f.card.FormatCount(), 0u);
  }
}

const std::string kV100 =
    "Tessiv Card Version: V1.00\r\n\r\n Norvane App file dose not match!\r\n Please use a "
    "Tessiv card with at least version V2.00 to download this file!";
const std::string kV110 =
    "Tessiv Card Version: V1.10\r\n\r\n Norvane App file dose not match!\r\n Please use a "
    "Tessiv card with at least version V2.00 to download this file!";

INSTANTIATE_TEST_SUITE_P(
    Versions, DownloadGateTest,
    ::testing::Values(GateCase{"V100OneApp", 0x02, {AddressLine(0x2000, 0xFFFF)}, kV100},
                      GateCase{"V100App2Elsewhere",
                               0x02,
                               {AddressLine(0x2000, 0xFFFF), AddressLine(0x13000, 0x1FFFF)},
                               kV100},
                      GateCase{"V100App2AtItsStart",
                               0x02,
                               {AddressLine(0x2000, 0xFFFF), AddressLine(0x12000, 0x1FFFF)},
                               ""},
                      GateCase{"V110OneApp", 0x03, {AddressLine(0x2000, 0xFFFF)}, kV110},
                      // The last AddressLine decides App2.
                      GateCase{"V110LastApp2Counts",
                               0x03,
                               {AddressLine(0x2000, 0xFFFF), AddressLine(0x12000, 0x1FFFF),
                                AddressLine(0x14000, 0x1FFFF)},
                               kV110},
                      GateCase{"V200OneApp", 0x04, {AddressLine(0x2000, 0xFFFF)}, ""},
                      GateCase{"UnknownVersionOneApp", 0x07, {AddressLine(0x2000, 0xFFFF)}, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DownloadGateShortAtrTest, AtrWithoutVersionBytePasses) {
  TessivConfig config;
  config.atr = {0x3B, 0x02, 0x14, 0x50};
  struct Fixture : DownloadTest {
    explicit Fixture(TessivConfig c) : DownloadTest(std::move(c)) {}
    void TestBody() override {}
  } f(config);
  f.UseScript(std::vector<std::string>{AddressLine(0x2000, 0xFFFF)});
  f.Run();
  EXPECT_EQ(f.card.FormatCount(), 1u);
}

TEST(DownloadOnOldCardTest, CounterRefusedByV100CardIsAFailure) {
  struct Fixture : DownloadTest {
    Fixture() : DownloadTest(CardOfVersion(0x02)) {}
    void TestBody() override {}
  } f;
  f.UseScript(std::vector<std::string>{AddressLine(0x2000, 0xFFFF), AddressLine(0x12000, 0x1FFFF)});
  f.Run();
  EXPECT_EQ(f.Ending(2), (std::vector<std::string>{kErrorBeep, "refresh"}));
  EXPECT_EQ(f.panel.Controls().status_box,
            "Download APP Successfull!\r\n\r\n This Tessiv card version is not support counter "
            "function!\r\n SW=0x6d00");
}

// --- faults in the script and on the card --------------------------------------------

struct FaultCase {
  const char* name;
  std::vector<std::string> lines;
  std::vector<Fault> faults;
  std::string message;
  bool beep_first;
  // What the outcome names besides the message; 0: not checked.
  uint32_t line = 0;
  uint16_t sw = 0;
  // The message comes in the application message box, as the browse would show it.
  bool app_box = false;
};

void PrintTo(const FaultCase& c, std::ostream* os) {
  *os << c.name;
}

std::vector<std::string> Lines37WithBadHex() {
  std::vector<std::string> lines = {AddressLine(0x2000, 0xFFFF), AddressCheckLine(0x2000, 0xFFFF)};
  while (lines.size() < 36) {
    lines.push_back(lines.size() % 2 ? "" : "; remark");
  }
  lines.push_back(DataLine(0x2000, PatternBytes(1, 16)).substr(0, 20) + "G" +
                  DataLine(0x2000, PatternBytes(1, 16)).substr(21));
  return lines;
}

std::vector<std::string> WithData(std::vector<std::string> head, int blocks = 3) {
  for (int i = 0; i < blocks; ++i)
    head.push_back(DataLine(0x2000 + 128u * i, PatternBytes(i, 128)));
  return head;
}

const std::vector<std::string> kHead = {AddressLine(0x2000, 0xFFFF), AddressLine(0x12000, 0x1FFFF),
                                        AddressCheckLine(0x2000, 0xFFFF)};

// Commands the card receives before the script's first line: the format.
constexpr size_t kFormatCommand = 1;

// The example script with a line added at its end (line 60).
std::vector<std::string> ExampleWith(const std::string& last) {
  std::ifstream in(PELLITON_EXAMPLE_SCRIPT, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> lines;
  ScriptLines walk(bytes);
  std::string_view line;
  while (walk.Next(&line))
    lines.emplace_back(line);
  lines.push_back(last);
  return lines;
}

std::vector<FaultCase> FaultCases() {
  std::string p3_mismatch = DataLine(0x2000, PatternBytes(1, 16));
  p3_mismatch.replace(8, 2, "15");  // claims 17 data bytes
  // Without a card fault the script itself is at fault: refused before anything is sent.
  return {
      {"ExampleWithGarbageOnLine60",
       ExampleWith("F0D1 GARBAGE"),
       {},
       "Please check APP1 data is all HEX code! at line 60!",
       true,
       60},
      {"ExampleWithUnknownKindOnLine60",
       ExampleWith("00A4040007A0000000031010"),
       {},
       "APP Update App1 file error! at line 60!",
       false,
       60},
      {"EmptyScript", {}, {}, "APP1 file StartAddr error!", true, 0, 0, true},
      {"App1StartsElsewhere",
       WithData({AddressLine(0x3000, 0xFFFF), AddressCheckLine(0x3000, 0xFFFF)}),
       {},
       "APP1 file StartAddr error!",
       true,
       0,
       0,
       true},
      {"MalformedAddressLine",
       WithData({kHead[0], "F05D0100090001", kHead[2]}),
       {},
       "APP1 file format error!",
       true,
       0,
       0,
       true},
      {"NonHexOnLine37",
       Lines37WithBadHex(),
       {},
       "Please check APP1 data is all HEX code! at line 37!",
       true,
       37},
      {"DataBeforeAddressCheck",
       WithData({AddressLine(0x2000, 0xFFFF)}),
       {},
       "No App1 StartAddr and  EndAddr info before download data error!",
       false},
      {"CheckDisagreesWithApp1",
       WithData({AddressLine(0x2000, 0xFFFF), AddressCheckLine(0x2000, 0xFFFE)}),
       {},
       "App1 StartAddr and  EndAddr info Inconsistent address error!",
       false},
      {"CheckDisagreesWithApp2",
       WithData({kHead[0], kHead[1], kHead[2], AddressCheckLine(0x12000, 0x1FFFE)}),
       {},
       "App2 StartAddr and  EndAddr info Inconsistent address error!",
       false},
      {"CheckWithoutApp2",
       {AddressLine(0x2000, 0xFFFF), AddressCheckLine(0x2000, 0xFFFF),
        AddressCheckLine(0x12000, 0x1FFFF)},
       {},
       "App2 StartAddr and  EndAddr info Inconsistent address error!",
       false},
      {"ShortCheckLine",
       {AddressLine(0x2000, 0xFFFF), "F0D4000008000020000000"},
       {},
       "App1 StartAddr and  EndAddr info Inconsistent address error!",
       false},
      {"LowerCaseAddressLineIsNotRead",
       {"f05d010009000020000000ffff00", AddressCheckLine(0x2000, 0xFFFF)},
       {},
       "App1 StartAddr and  EndAddr info Inconsistent address error!",
       false},
      {"ThirdCheckIsApp2Again",
       {kHead[0], kHead[1], kHead[2], AddressCheckLine(0x12000, 0x1FFFF),
        AddressCheckLine(0x2000, 0xFFFF)},
       {},
       "App2 StartAddr and  EndAddr info Inconsistent address error!",
       false},
      {"UnknownKind",
       {kHead[0], kHead[2], "00A4040007A0000000031010"},
       {},
       "APP Update App1 file error! at line 3!",
       false},
      {"DataLineP3Disagrees",
       {kHead[0], kHead[2], p3_mismatch},
       {},
       "APP Update App1 file error! at line 3!",
       false},
      {"DataLineWithoutAddress",
       {kHead[0], kHead[2], "F0D1000004000020"},
       {},
       "APP Update App1 file error! at line 3!",
       false},
      {"FormatRefused",
       WithData(kHead),
       {{FaultKind::kStatusWord, kFormatCommand, 0x6F00, 0, {}}},
       "APP Data Aera Format! SW=0x6f00",
       true},
      {"FormatNotExchanged",
       WithData(kHead),
       {{FaultKind::kRemove, kFormatCommand, 0, 0, {}}},
       "APP Data Aera Format commumation Error!",
       false},
      {"AccessControl",
       WithData(kHead),
       {{FaultKind::kStatusWord, kFormatCommand + 2, 0x6982, 0, {}}},
       "Not satisfied with the Access Control!SW=0x6982",
       true},
      {"CommandRefused",
       WithData(kHead),
       {{FaultKind::kStatusWord, kFormatCommand + 3, 0x6A80, 0, {}}},
       "App1 Command error at line 6!SW=0x6a80",
       true,
       6,
       0x6A80},
      // Only 6982 is the access-control refusal; any other 69xx is a command error.
      {"CommandRefused69xx",
       WithData(kHead),
       {{FaultKind::kStatusWord, kFormatCommand + 3, 0x6985, 0, {}}},
       "App1 Command error at line 6!SW=0x6985",
       true,
       6,
       0x6985},
      {"CardRemovedAtLine",
       WithData(kHead),
       {{FaultKind::kRemove, kFormatCommand + 2, 0, 0, {}}},
       "App1 Chip communication error! at line 5!",
       false,
       5},
      {"ChallengeRefused",
       WithData(kHead, 1),
       {{FaultKind::kStatusWord, kFormatCommand + 2, 0x6985, 0, {}}},
       "Wrtte APP CFG Data Error,Update Card Version Error! SW=0x6985",
       true},
      // Only a status word, no challenge bytes before it.
      {"ChallengeTooShort",
       WithData(kHead, 1),
       {{FaultKind::kStatusWord, kFormatCommand + 2, 0x9000, 0, {}}},
       "Wrtte APP CFG Data Error,Update Card Version Error! SW=0x9000",
       true},
      // Fewer than four challenge bytes: refused with the challenge's own status word.
      {"ChallengeOfThreeBytes",
       WithData(kHead, 1),
       {{FaultKind::kReply, kFormatCommand + 2, 0, 0, {0x12, 0x34, 0x56, 0x90, 0x01}}},
       "Wrtte APP CFG Data Error,Update Card Version Error! SW=0x9001",
       true,
       0,
       0x9001},
      {"ChallengeOfOneByte",
       WithData(kHead, 1),
       {{FaultKind::kReply, kFormatCommand + 2, 0, 0, {0x12, 0x61, 0x04}}},
       "Wrtte APP CFG Data Error,Update Card Version Error! SW=0x6104",
       true,
       0,
       0x6104},
      {"ChallengeNotExchanged",
       WithData(kHead, 1),
       {{FaultKind::kRemove, kFormatCommand + 2, 0, 0, {}}},
       "Write APP CFG Data commumation Error!",
       false},
      {"ConfigurationNotExchanged",
       WithData(kHead, 1),
       {{FaultKind::kRemove, kFormatCommand + 3, 0, 0, {}}},
       "Write APP CFG Data commumation Error!",
       false},
  };
}

class DownloadFaultTest : public DownloadTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(DownloadFaultTest, EndsWithItsMessageAndTheErrorTone) {
  const FaultCase& c = GetParam();
  UseScript(c.lines);
  for (const Fault& fault : c.faults)
    card.AddFault(fault);
  Run();

  if (c.app_box) {
    EXPECT_EQ(panel.LogOf({"beep", "appbox"}),
              (std::vector<std::string>{kErrorBeep, "appbox " + c.message}));
  } else {
    const std::vector<std::string> expected = c.beep_first
                                                  ? std::vector<std::string>{kErrorBeep, "refresh"}
                                                  : std::vector<std::string>{"refresh", kErrorBeep};
    EXPECT_EQ(Ending(2), expected);
    EXPECT_EQ(panel.Controls().status_box, c.message);
  }
  EXPECT_EQ(panel.Count("beep"), 1u) << "one tone per run";
  EXPECT_FALSE(card.Counter().has_value());
  EXPECT_FALSE(outcome.Succeeded());
  EXPECT_EQ(outcome.message, c.message);
  if (c.line != 0) {
    EXPECT_EQ(outcome.line, c.line);
  }
  if (c.sw != 0) {
    EXPECT_EQ(outcome.status_word, (StatusWord{uint8_t(c.sw >> 8), uint8_t(c.sw)}));
  }
  if (c.faults.empty()) {
    // Not a command, not even the format; no pause of the loading either.
    EXPECT_TRUE(card.Commands().empty());
    EXPECT_EQ(card.FormatCount(), 0u);
    EXPECT_EQ(outcome.exchanges, 0u);
    EXPECT_EQ(pauser.sleeps, (std::vector<uint32_t>{100}));
  }
}

INSTANTIATE_TEST_SUITE_P(Faults, DownloadFaultTest, ::testing::ValuesIn(FaultCases()),
                         [](const auto& info) { return std::string(info.param.name); });

class DownloadSuccessWordTest : public DownloadTest,
                                public ::testing::WithParamInterface<uint16_t> {};

// The format and a data line answered with the word: the download goes on to its end.
TEST_P(DownloadSuccessWordTest, CountsAsSuccess) {
  UseScript(WithData(kHead));
  card.AddFault({FaultKind::kStatusWord, kFormatCommand, GetParam(), 0, {}});
  card.AddFault({FaultKind::kStatusWord, kFormatCommand + 2, GetParam(), 0, {}});
  Run();
  EXPECT_EQ(panel.Controls().status_box, kSuccess);
  EXPECT_TRUE(outcome.Succeeded());
  EXPECT_EQ(outcome.message, kSuccess);
}

INSTANTIATE_TEST_SUITE_P(Words, DownloadSuccessWordTest, ::testing::Values(0x6110, 0x9F10, 0x9000));

TEST_F(DownloadTest, PausesBetweenResetsBeforeEachLineAndBeforeTheChallenge) {
  UseScript(WithData(kHead, 2));
  Run();
  ASSERT_EQ(panel.Controls().status_box, kSuccess);
  // 100 ms between the resets; 1 ms for each of the five lines that are not passed over
  // (AddressLines included); 5 ms before the challenge.
  EXPECT_EQ(pauser.sleeps, (std::vector<uint32_t>{100, 1, 1, 1, 1, 1, 5}));
}

// --- progress ------------------------------------------------------------------------

struct ProgressCase {
  uint32_t lines;
  int highest;  // the last position before success sets the bar full
};

void PrintTo(const ProgressCase& c, std::ostream* os) {
  *os << c.lines << " lines";
}

class DownloadProgressTest : public DownloadTest,
                             public ::testing::WithParamInterface<ProgressCase> {};

TEST_P(DownloadProgressTest, AdvancesEveryFiftiethOfTheLines) {
  std::vector<std::string> lines = {AddressLine(0x2000, 0xFFFF)};
  while (lines.size() < GetParam().lines)
    lines.push_back("; filler");
  UseScript(lines);
  Run();
  ASSERT_EQ(panel.Controls().status_box, kSuccess);
  std::vector<int> positions;
  for (const std::string& entry : panel.LogOf({"pos"}))
    positions.push_back(std::stoi(entry.substr(4)));
  ASSERT_GE(positions.size(), 4u);
  EXPECT_EQ(positions[0], 0);
  EXPECT_EQ(positions[1], 1);
  EXPECT_EQ(positions[2], 2);
  EXPECT_EQ(positions[positions.size() - 2], GetParam().highest);
  EXPECT_EQ(positions.back(), kDownloadProgressMax);
  // Each step moves the bar by one: the bar is touched at most about a hundred times.
  EXPECT_EQ(positions.size(), static_cast<size_t>(GetParam().highest) + 2);
  EXPECT_EQ(panel.LogOf({"range"}), (std::vector<std::string>{"range 0 55"}));
}

INSTANTIATE_TEST_SUITE_P(Lines, DownloadProgressTest,
                         ::testing::Values(ProgressCase{60, 63}, ProgressCase{99, 102},
                                           ProgressCase{120, 63}, ProgressCase{149, 77},
                                           ProgressCase{2500, 53}));

// --- over the Orvo reader ------------------------------------------------------------

TEST(DownloadOverOrvoTest, LoadsTheScriptThroughTheReaderFraming) {
  ScratchDir dir;
  TessivCard card;
  sim::SimulatedOrvoReader reader(&card);
  reader.Install();
  testing::SimPcsc pcsc;
  SystemOrvo orvo;
  CardAccess access(pcsc, orvo);
  RecordingPanel panel;
  RecordingPauser pauser;
  std::vector<ScriptData> data;
  panel.Controls().path_box = dir.Write("app.bin", RealisticScript(&data));

  OnDownload(panel, access, pauser);

  EXPECT_EQ(panel.Controls().status_box, kSuccess);
  EXPECT_EQ(card.Counter(), 500u);
  for (const ScriptData& d : data) {
    const auto& memory = card.Memory(d.app2 ? TessivApp::kApp2 : TessivApp::kApp1);
    const uint32_t start = d.app2 ? 0x12000u : 0x2000u;
    EXPECT_TRUE(std::equal(d.bytes.begin(), d.bytes.end(), memory.begin() + (d.address - start)));
  }
}

}  // namespace
}  // namespace pelliton
