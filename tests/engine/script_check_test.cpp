#include "engine/script_check.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/scratch_dir.h"
#include "tests/support/sound_script.h"

namespace pelliton {
namespace {

using namespace testing_scripts;
using Lines = std::vector<std::string>;

struct FaultCase {
  const char* name;
  std::function<Lines()> script;
  std::string message;
  uint32_t line;  // 0: the whole file is refused
};

class CheckFault : public ::testing::TestWithParam<FaultCase> {};

TEST_P(CheckFault, NamesTheDownloadsMessageAndLine) {
  ScratchDir dir;
  const std::string path = dir.Write("s.bin", Join(GetParam().script()));
  const ScriptCheckReport report = CheckScript(path);
  EXPECT_FALSE(report.sound);
  EXPECT_EQ(report.message, GetParam().message);
  EXPECT_EQ(report.fault_line, GetParam().line);
  if (GetParam().line != 0) {
    EXPECT_EQ(report.fault_text, GetParam().script()[GetParam().line - 1].substr(0, 120));
  }
}

// Line 37 of the file, after blank and comment lines, holds a character that is not hex.
Lines NotHexOnLine37() {
  Lines lines = SoundScript();
  lines.insert(lines.begin() + 4, 20, "");
  lines.insert(lines.begin() + 4, 8, "; a comment line");
  // 28 lines inserted before App1's check line (now line 33); its data are 34-37.
  std::string bad = DataLine(0x00002180);
  bad[40] = 'G';
  lines[36] = bad;
  return lines;
}

Lines DataBeforeAnyCheckLine() {
  Lines lines = SoundScript();
  lines.insert(lines.begin() + 4, DataLine(0x00002000));
  return lines;
}

Lines App1CheckDisagrees() {
  Lines lines = SoundScript();
  lines[4] = AddressCheckLine(0x00002000, 0x00011FFE);
  return lines;
}

Lines App2CheckDisagrees() {
  Lines lines = SoundScript();
  lines[9] = AddressCheckLine(0x00013000, 0x00021FFF);
  return lines;
}

Lines UnknownKind() {
  Lines lines = SoundScript();
  lines[7] = "00A4040007A0000000031010";
  return lines;
}

Lines DataP3TooLarge() {
  Lines lines = SoundScript();
  lines[6] = DataLine(0x00002080);
  lines[6][9] = '5';  // P3 0x85: one byte more than the line holds
  return lines;
}

Lines DataP3TooSmall() {
  Lines lines = SoundScript();
  lines[6][8] = '7';  // P3 0x74 for 128 data bytes
  return lines;
}

Lines DataWithoutAddress() {
  Lines lines = SoundScript();
  lines[6] = "F0D1000003AABBCC";
  return lines;
}

Lines LowerCaseAddressLines() {
  Lines lines = SoundScript();
  // Accepted by the browse check (any case) but not read by the download's first pass,
  // so the first check line finds App1 absent.
  for (int i = 0; i < 2; ++i) {
    for (char& c : lines[i])
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return lines;
}

Lines App1ElsewhereThan2000() {
  Lines lines = SoundScript();
  lines[0] = AddressLine(0x00003000, 0x00011FFF);
  return lines;
}

Lines NoAddressLine() {
  Lines lines = SoundScript();
  lines.erase(lines.begin(), lines.begin() + 2);
  return lines;
}

Lines AddressLineWithTrailingComment() {
  Lines lines = SoundScript();
  lines[1] += " ; App2";
  return lines;
}

Lines ThirdCheckLineAgainstApp2() {
  Lines lines = SoundScript();
  lines.push_back(AddressCheckLine(0x00002000, 0x00011FFF));
  return lines;
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, CheckFault,
    ::testing::Values(
        FaultCase{"NotHexOnLine37", NotHexOnLine37,
                  "Please check APP1 data is all HEX code! at line 37!", 37},
        FaultCase{"DataBeforeAnyCheckLine", DataBeforeAnyCheckLine,
                  "No App1 StartAddr and  EndAddr info before download data error!", 5},
        FaultCase{"App1CheckDisagrees", App1CheckDisagrees,
                  "App1 StartAddr and  EndAddr info Inconsistent address error!", 5},
        FaultCase{"App2CheckDisagrees", App2CheckDisagrees,
                  "App2 StartAddr and  EndAddr info Inconsistent address error!", 10},
        FaultCase{"ThirdCheckLineAgainstApp2", ThirdCheckLineAgainstApp2,
                  "App2 StartAddr and  EndAddr info Inconsistent address error!", 15},
        FaultCase{"UnknownKind", UnknownKind, "APP Update App1 file error! at line 8!", 8},
        FaultCase{"DataP3TooLarge", DataP3TooLarge, "APP Update App1 file error! at line 7!", 7},
        FaultCase{"DataP3TooSmall", DataP3TooSmall, "APP Update App1 file error! at line 7!", 7},
        FaultCase{"DataWithoutAddress", DataWithoutAddress,
                  "APP Update App1 file error! at line 7!", 7},
        FaultCase{"LowerCaseAddressLines", LowerCaseAddressLines,
                  "App1 StartAddr and  EndAddr info Inconsistent address error!", 5},
        FaultCase{"App1ElsewhereThan2000", App1ElsewhereThan2000, "APP1 file StartAddr error!", 0},
        FaultCase{"NoAddressLine", NoAddressLine, "APP1 file StartAddr error!", 0},
        FaultCase{"AddressLineWithTrailingComment", AddressLineWithTrailingComment,
                  "APP1 file format error!", 0}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return info.param.name; });

struct WarningCase {
  const char* name;
  std::function<Lines()> script;
  // (kind, line) in the order reported; empty for a script without warnings.
  std::vector<std::pair<WarningKind, uint32_t>> expected;
};

class CheckWarning : public ::testing::TestWithParam<WarningCase> {};

TEST_P(CheckWarning, NamesTheKindAndLineAndFailsOnlyWhenStrict) {
  ScratchDir dir;
  const ScriptCheckReport report = CheckScript(dir.Write("s.bin", Join(GetParam().script())));
  ASSERT_TRUE(report.sound) << report.message;
  std::vector<std::pair<WarningKind, uint32_t>> found;
  for (const ScriptWarning& warning : report.warnings)
    found.emplace_back(warning.kind, warning.line);
  EXPECT_EQ(found, GetParam().expected) << DescribeCheck(report);
  EXPECT_TRUE(CheckPasses(report, false));
  EXPECT_EQ(CheckPasses(report, true), GetParam().expected.empty());
}

// Lines of SoundScript() replaced, 0-based.
std::function<Lines()> Replaced(size_t index, std::string line) {
  return [index, line] {
    Lines lines = SoundScript();
    lines[index] = line;
    return lines;
  };
}

// App2's AddressLine and its check line both moved to new addresses.
std::function<Lines()> App2At(uint32_t start, uint32_t end) {
  return [start, end] {
    Lines lines = SoundScript();
    lines[1] = AddressLine(start, end);
    lines[9] = AddressCheckLine(start, end);
    return lines;
  };
}

Lines DataBlockAgain() {
  Lines lines = SoundScript();
  lines.push_back(DataLine(0x00012080, 16, 0xD2));  // App2's block 1, line 12's
  return lines;
}

Lines LastDigitMissing() {
  Lines lines = SoundScript();
  lines[5].pop_back();  // 137 bytes still match P3, the last one padded
  return lines;
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, CheckWarning,
    ::testing::Values(
        // App1's and App2's blocks 0-2 share numbers but not the card's P1.
        WarningCase{"Clean", SoundScript, {}},
        WarningCase{
            "Unaligned", Replaced(6, DataLine(0x00002090, 112)), {{WarningKind::kUnaligned, 7}}},
        WarningCase{"BlockTwice", DataBlockAgain, {{WarningKind::kBlockTwice, 15}}},
        WarningCase{"DataTooLong",
                    Replaced(8, DataLine(0x00002180, 129)),
                    {{WarningKind::kDataTooLong, 9}}},
        WarningCase{"App2DataUnderApp1",
                    Replaced(8, DataLine(0x00012000)),
                    {{WarningKind::kOutsideRange, 9}}},
        WarningCase{"App1DataUnderApp2",
                    Replaced(10, DataLine(0x00002000, 128, 0xD2)),
                    {{WarningKind::kOutsideRange, 11}}},
        WarningCase{
            "EndBelowStart", App2At(0x00012000, 0x00011FFF), {{WarningKind::kEndBelowStart, 2}}},
        WarningCase{
            "RangesOverlap", App2At(0x00011000, 0x00021FFF), {{WarningKind::kRangesOverlap, 2}}},
        WarningCase{"NoData",
                    [] {
                      return Lines{AddressLine(0x2000, 0x11FFF), AddressCheckLine(0x2000, 0x11FFF),
                                   PassThroughLine()};
                    },
                    {{WarningKind::kNoData, 0}}},
        WarningCase{"PassThroughShort",
                    Replaced(13, "F0DD00002C" + std::string(86, '1')),
                    {{WarningKind::kPassThroughLength, 14}}},
        WarningCase{"OddDigits", LastDigitMissing, {{WarningKind::kOddDigits, 6}}}),
    [](const ::testing::TestParamInfo<WarningCase>& info) { return info.param.name; });

struct WarningTextCase {
  const char* name;
  std::function<Lines()> script;
  std::vector<std::string> messages;  // in the order reported
};

class CheckWarningText : public ::testing::TestWithParam<WarningTextCase> {};

// The messages say where the card really writes, and each warning shows its own line.
TEST_P(CheckWarningText, SaysWhatTheCardDoesAndShowsTheLine) {
  ScratchDir dir;
  const Lines lines = GetParam().script();
  const ScriptCheckReport report = CheckScript(dir.Write("s.bin", Join(lines)));
  ASSERT_TRUE(report.sound) << report.message;
  std::vector<std::string> messages;
  for (const ScriptWarning& warning : report.warnings) {
    messages.push_back(warning.message);
    ASSERT_GT(warning.line, 0u);
    EXPECT_EQ(warning.text, lines[warning.line - 1].substr(0, 120)) << warning.message;
  }
  EXPECT_EQ(messages, GetParam().messages);
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, CheckWarningText,
    ::testing::Values(
        WarningTextCase{"Unaligned",
                        Replaced(6, DataLine(0x00002090, 112)),
                        {"data at 0x00002090 is not on a 128-byte block boundary; the card "
                         "writes it at 0x00002080"}},
        // Below App2's start the block number wraps within the 15 bits the command has.
        WarningTextCase{"BelowItsApplication",
                        Replaced(10, DataLine(0x00002010, 16, 0xD2)),
                        {"data at 0x00002010 is not on a 128-byte block boundary; the card "
                         "writes it at 0x00402000",
                         "data at 0x00002010-0x0000201F is outside App2's range "
                         "0x00012000-0x00021FFF"}},
        WarningTextCase{"BlockTwice",
                        DataBlockAgain,
                        {"App2's block at 0x00012080 was already written at line 12"}},
        WarningTextCase{"DataTooLong",
                        Replaced(8, DataLine(0x00002180, 129)),
                        {"129 data bytes are more than a 128-byte block; they run into the "
                         "next one"}},
        WarningTextCase{"RangesOverlap",
                        App2At(0x00011000, 0x00021FFF),
                        {"App2 0x00011000-0x00021FFF overlaps App1 0x00002000-0x00011FFF"}}),
    [](const ::testing::TestParamInfo<WarningTextCase>& info) { return info.param.name; });

TEST(CheckScript, UnreadableFileGivesTheOpenMessage) {
  ScratchDir dir;
  for (const auto& [path, error] :
       {std::pair{dir.PathOf("missing.bin"), ScriptReadError::kNoSuchFile},
        std::pair{dir.PathOf(""), ScriptReadError::kDirectory}}) {
    const ScriptCheckReport report = CheckScript(path);
    EXPECT_FALSE(report.sound);
    EXPECT_EQ(report.message, "Open APP update file error!");
    EXPECT_EQ(report.fault_line, 0u);
    EXPECT_EQ(report.read_error, error);
  }
}

TEST(CheckScript, SoundScriptIsSummedPerApplication) {
  ScratchDir dir;
  Lines lines = SoundScript();
  lines.push_back(DataLine(0x00012180, 16, 0xD1));  // D1 or D2: App2 by its check line
  const ScriptCheckReport report = CheckScript(dir.Write("s.bin", Join(lines)));
  ASSERT_TRUE(report.sound) << report.message;
  EXPECT_EQ(report.lines, 15u);
  EXPECT_EQ(report.app1.data_lines, 4u);
  EXPECT_EQ(report.app1.data_bytes, 512u);
  EXPECT_EQ(report.app2.data_lines, 4u);
  EXPECT_EQ(report.app2.data_bytes, 3u * 128 + 16);
  EXPECT_EQ(report.pass_through_lines, 1u);
  EXPECT_TRUE(report.suits_old_cards);
  EXPECT_EQ(report.app1.addresses.start, 0x00002000u);
  EXPECT_EQ(report.app2.addresses.end, 0x00021FFFu);
  const std::string text = DescribeCheck(report);
  EXPECT_NE(text.find("Script is sound: 15 lines"), std::string::npos) << text;
  EXPECT_NE(text.find("App1 0x00002000-0x00011FFF: 4 data lines, 512 data bytes"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("V1.00, V1.10 and V2.00"), std::string::npos) << text;
}

TEST(CheckScript, OneApplicationScriptSuitsOnlyNewCards) {
  ScratchDir dir;
  const Lines lines = {AddressLine(0x00002000, 0x00011FFF), AddressCheckLine(0x2000, 0x11FFF),
                       DataLine(0x2000)};
  const ScriptCheckReport report = CheckScript(dir.Write("s.bin", Join(lines)));
  ASSERT_TRUE(report.sound) << report.message;
  EXPECT_FALSE(report.suits_old_cards);
  EXPECT_EQ(DescribeCheck(report).find("App2"), DescribeCheck(report).find("App2 does not"));
}

TEST(CheckScript, EmptyAfterAddressLinesIsSound) {
  ScratchDir dir;
  const ScriptCheckReport report =
      CheckScript(dir.Write("s.bin", AddressLine(0x2000, 0x11FFF)));  // no line feed at all
  ASSERT_TRUE(report.sound) << report.message;
  EXPECT_EQ(report.lines, 1u);
}

TEST(CheckScript, DescribesAFaultWithItsLine) {
  ScriptCheckReport report;
  report.message = "APP Update App1 file error! at line 8!";
  report.fault_line = 8;
  report.fault_text = "00A40400";
  EXPECT_EQ(DescribeCheck(report), "APP Update App1 file error! at line 8!\nLine 8: 00A40400\n");
  report.fault_line = 0;
  report.message = "APP1 file StartAddr error!";
  EXPECT_EQ(DescribeCheck(report), "APP1 file StartAddr error!\n");
}

TEST(CheckScript, ShippedExampleIsSound) {
  const ScriptCheckReport report = CheckScript(PELLITON_EXAMPLE_SCRIPT);
  ASSERT_TRUE(report.sound) << report.message << " at " << report.fault_line;
  EXPECT_EQ(report.app1.data_lines, 24u);
  EXPECT_EQ(report.app1.data_bytes, 24u * 128);
  EXPECT_EQ(report.app2.data_lines, 16u);
  EXPECT_EQ(report.app2.data_bytes, 16u * 128);
  EXPECT_EQ(report.pass_through_lines, 1u);
  EXPECT_TRUE(report.suits_old_cards);
}

}  // namespace
}  // namespace pelliton
