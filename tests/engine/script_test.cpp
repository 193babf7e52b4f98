#include "engine/script.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "tests/support/scratch_dir.h"

namespace pelliton {
namespace {

using ::testing::ElementsAreArray;

using Lines = std::vector<std::string>;

// ---------------------------------------------------------------- line splitting

struct SplitCase {
  const char* name;
  std::string bytes;
  Lines lines;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const SplitCase& c, std::ostream* os) {
  *os << c.name;
}

std::string LongLine() {
  return std::string(200000, 'A');
}

const SplitCase kSplitCases[] = {
    {"Empty", "", {}},
    {"LoneLf", "\n", {""}},
    {"TwoLf", "\n\n", {"", ""}},
    {"CrLfOnly", "\r\n", {""}},
    {"NoFinalLf", "A", {"A"}},
    {"FinalLfAddsNoLine", "A\n", {"A"}},
    {"CrLf", "A\r\nB\r\n", {"A", "B"}},
    {"LastLineWithoutLf", "A\nB", {"A", "B"}},
    {"BlankLineKept", "A\r\n\r\nB", {"A", "", "B"}},
    {"LoneCrInsideStays", "A\rB\n", {"A\rB"}},
    {"OnlyOneCrDropped", "A\r\r\n", {"A\r"}},
    {"CrAtEndOfLastLineDropped", "A\r", {"A"}},
    {"OnlyCr", "\r", {""}},
    {"CrThenLastLine", "A\rB", {"A\rB"}},
    {"NulBytesKept", std::string("A\0B\nC\0", 6), {std::string("A\0B", 3), std::string("C\0", 2)}},
    {"LongLines", LongLine() + "\r\nX\n" + LongLine(), {LongLine(), "X", LongLine()}},
    {"MixedEndings", "A\nB\r\nC", {"A", "B", "C"}},
    // A UTF-8 byte-order mark is no part of the first line; anywhere else it is.
    {"ByteOrderMarkSkipped",
     "\xEF\xBB\xBF"
     "A\r\nB",
     {"A", "B"}},
    {"ByteOrderMarkAlone", "\xEF\xBB\xBF", {}},
    {"ByteOrderMarkThenLf", "\xEF\xBB\xBF\n", {""}},
    {"ByteOrderMarkLaterStays",
     "A\n\xEF\xBB\xBF"
     "B",
     {"A",
      "\xEF\xBB\xBF"
      "B"}},
    {"HalfAMarkStays",
     "\xEF\xBB"
     "A",
     {"\xEF\xBB"
      "A"}},
};

Lines LinesOf(std::string_view body) {
  Lines lines;
  ScriptLines walk(body);
  std::string_view line;
  while (walk.Next(&line))
    lines.emplace_back(line);
  // Past the end it stays at the end.
  EXPECT_FALSE(walk.Next(&line));
  EXPECT_TRUE(line.empty());
  return lines;
}

class SplitTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitTest, SplitsInMemory) {
  const ScriptText script(GetParam().bytes);
  EXPECT_THAT(LinesOf(script.Body()), ElementsAreArray(GetParam().lines));
  EXPECT_EQ(CountScriptLines(script.Body()), GetParam().lines.size());
}

TEST_P(SplitTest, FileReadsAsTheSameBytes) {
  ScratchDir dir;
  const std::string path = dir.Write("script.bin", GetParam().bytes);
  ScriptText script;
  ASSERT_EQ(ReadScriptText(path, &script), ScriptReadError::kNone);
  EXPECT_EQ(script.Bytes(), GetParam().bytes);
  EXPECT_THAT(LinesOf(script.Body()), ElementsAreArray(GetParam().lines));
}

INSTANTIATE_TEST_SUITE_P(Files, SplitTest, ::testing::ValuesIn(kSplitCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ScriptOpenTest, TellsWhyAFileCannotBeRead) {
  ScratchDir dir;
  std::filesystem::create_directory(dir.PathOf("folder"));
  const std::string big = dir.PathOf("huge.bin");
  { std::ofstream touch(big, std::ios::binary); }
  // Sparse: costs no disk, but is one byte past the size limit.
  std::filesystem::resize_file(big, kMaxScriptFileBytes + 1);
  std::vector<std::pair<std::string, ScriptReadError>> refused = {
      {"", ScriptReadError::kNoSuchFile},
      {dir.PathOf("missing.bin"), ScriptReadError::kNoSuchFile},
      {dir.PathOf("folder/missing.bin"), ScriptReadError::kNoSuchFile},
      {dir.PathOf("folder"), ScriptReadError::kDirectory},
      {big, ScriptReadError::kTooLarge}};
#ifndef _WIN32
  // Opening a pipe would wait for a writer forever.
  const std::string fifo = dir.PathOf("pipe");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  refused.push_back({fifo, ScriptReadError::kNotRegularFile});
  refused.push_back({"/dev/zero", ScriptReadError::kNotRegularFile});
  // The owner's own file without read permission; root reads it anyway.
  if (geteuid() != 0) {
    const std::string locked = dir.Write("locked.bin", "F05D010009000020000000FFFF00\n");
    ASSERT_EQ(chmod(locked.c_str(), 0), 0);
    refused.push_back({locked, ScriptReadError::kPermissionDenied});
  }
#endif
  for (const auto& [path, error] : refused) {
    ScriptText script(std::string("untouched"));
    EXPECT_EQ(ReadScriptText(path, &script), error) << path;
    EXPECT_EQ(script.Bytes(), "untouched") << path;
    EXPECT_FALSE(ScriptReadErrorText(error).empty()) << path;
  }
  EXPECT_NE(ScriptReadErrorText(ScriptReadError::kTooLarge).find("16777216 bytes"),
            std::string::npos);
}

TEST(ScriptOpenTest, FileAtTheSizeLimitIsRead) {
  ScratchDir dir;
  const std::string path = dir.Write("limit.bin", "");
  std::filesystem::resize_file(path, kMaxScriptFileBytes);
  ScriptText script;
  ASSERT_EQ(ReadScriptText(path, &script), ScriptReadError::kNone);
  EXPECT_EQ(script.Bytes().size(), kMaxScriptFileBytes);
}

#ifdef __linux__
// The size seen before reading is no promise: this file says 0 bytes and holds more.
TEST(ScriptOpenTest, ReadsOnPastTheSizeSeenBefore) {
  ScriptText script;
  ASSERT_EQ(ReadScriptText("/proc/self/status", &script), ScriptReadError::kNone);
  EXPECT_NE(script.Bytes().find("\nPid:"), std::string_view::npos);
}
#endif

TEST(ScriptUtf16Test, TellsUtf16FromScripts) {
  const std::pair<std::string, bool> cases[] = {
      {"", false},
      {"F05D010009000020000000FFFF00\r\n", false},
      {"\xEF\xBB\xBF"
       "F05D01",
       false},
      {"\xFF\xFE", true},
      {"\xFE\xFF\0F", true},
      {std::string("F\0"
                   "0\0"
                   "5\0"
                   "D\0",
                   8),
       true},  // little-endian, no mark
      {std::string("\0F\0"
                   "0\0"
                   "5\0"
                   "D",
                   8),
       true},  // big-endian, no mark
      {std::string("F\0"
                   "0\0"
                   "5\0"
                   "DD",
                   8),
       false},  // one pair breaks the pattern
      {std::string("\0\0\0\0\0\0", 6), false},
      {std::string("F\0", 2), false},  // too little to tell
      {std::string("F05D\0\0", 6), false},
  };
  for (const auto& [bytes, utf16] : cases)
    EXPECT_EQ(ScriptText(bytes).LooksLikeUtf16(), utf16) << ::testing::PrintToString(bytes);
}

// ---------------------------------------------------------------- cleaning

struct CleanCase {
  const char* name;
  std::string line;
  std::optional<std::string> text;  // nullopt: passed over
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const CleanCase& c, std::ostream* os) {
  *os << c.name;
}

std::string Digits(size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i)
    s.push_back("0123456789ABCDEF"[i % 16]);
  return s;
}

const CleanCase kCleanCases[] = {
    {"BlanksGoAndCommentIsCut", "F0 DD 00 00 2C 01 02 ; remark", "F0DD00002C0102"},
    {"TabsGo", "\tf0\td1 00 00 84\t", "F0D1000084"},
    {"LowerCaseRaised", "abcdefabcd", "ABCDEFABCD"},
    {"CommentFirst", ";F0DD00002C", std::nullopt},
    {"SemicolonAtFour", "F0D4;00", std::nullopt},
    {"SemicolonAtNine", "F0D400000;8", std::nullopt},
    {"SemicolonAtTen", "F0D4000008;00", "F0D4000008"},
    {"SemicolonPositionCountsWithoutBlanks", "  F0 D4 00 00 08 ;x", "F0D4000008"},
    {"BlanksDoNotPushSemicolonOut", "F0 D4 0 0 0 ; 0 0 0 0 0", std::nullopt},
    {"EightCharacters", "F0D10000", std::nullopt},
    {"NineCharacters", "F0D100000", std::nullopt},
    {"TenCharacters", "F0D1000000", "F0D1000000"},
    {"TenOnlyWithBlanks", "F0 D1 00 00 0", std::nullopt},
    {"Empty", "", std::nullopt},
    {"BlanksOnly", "   \t\t      ", std::nullopt},
    {"FourBeforeParen", "1234(ABCDEF)", std::nullopt},
    {"FiveBeforeParen", "12345(ABCDEF)", "12345"},
    {"ParenFirst", "(234567890", std::nullopt},
    {"ParenAfterTen", "1234567890(", "1234567890"},
    {"SemicolonAfterParenStillCounts", "ABCDE(;FGHIJ", std::nullopt},
    {"SemicolonCutBeforeParen", "0123456789;(", "0123456789"},
    {"NonHexSurvives", "ABCDEFGHIJK(", "ABCDEFGHIJK"},
    {"CrIsNoBlank", "F0D1000084\r", "F0D1000084\r"},
    {"HighBytesUntouched",
     "\xe9"
     "123456789ab",
     "\xe9"
     "123456789AB"},
    {"NulIsNoBlank",
     std::string("F0D1\0"
                 "00008",
                 10),
     std::string("F0D1\0"
                 "00008",
                 10)},
    {"SevenHundredDigitsCapped", Digits(700), Digits(600)},
    {"ExactlySixHundred", Digits(600) + ";x", Digits(600)},
    {"SixHundredOneCapped", Digits(601), Digits(600)},
    {"ParenBeyondCap", Digits(650) + "(" + Digits(20), Digits(600)},
    {"ParenJustInsideCap", Digits(599) + "(" + Digits(20), Digits(599)},
    {"BlanksDoNotCountTowardCap", " " + Digits(300) + std::string(500, ' ') + Digits(400),
     Digits(300) + Digits(400).substr(0, 300)},
};

class CleanTest : public ::testing::TestWithParam<CleanCase> {};

TEST_P(CleanTest, Cleans) {
  EXPECT_EQ(CleanScriptLine(GetParam().line), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Lines, CleanTest, ::testing::ValuesIn(kCleanCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- hexadecimal

struct HexCheckCase {
  std::string text;
  size_t n;
  bool all_hex;
};

TEST(IsAllHexTest, ChecksOnlyTheFirstN) {
  const HexCheckCase cases[] = {
      {"", 0, true},
      {"G", 0, true},
      {"0123456789abcdefABCDEF", 22, true},
      {"12G4", 2, true},
      {"12G4", 3, false},
      {"12 4", 4, false},
      {std::string("1\0", 2), 2, false},
      // The characters around the digit and letter ranges.
      {"/", 1, false},
      {":", 1, false},
      {"@", 1, false},
      {"G", 1, false},
      {"`", 1, false},
      {"g", 1, false},
      {"\xc1", 1, false},
      // Asking past the text is a refusal, not a read beyond it.
      {"12", 3, false},
      {"", 1, false},
  };
  for (const HexCheckCase& c : cases)
    EXPECT_EQ(IsAllHex(c.text, c.n), c.all_hex) << "[" << c.text << "] n=" << c.n;
}

struct HexCase {
  std::string text;
  size_t n;
  std::vector<uint8_t> bytes;
};

TEST(HexToBytesTest, ConvertsLikeTheCard) {
  const HexCase cases[] = {
      {"F05D01", 6, {0xF0, 0x5D, 0x01}},
      {"ABC", 3, {0xAB, 0xC0}},
      {"", 0, {}},
      {"ABC", 0, {}},
      {"ab", 2, {0xAB}},
      {"aB", 2, {0xAB}},
      {"ABC", 2, {0xAB}},
      {"1", 1, {0x10}},
      {"0123456789abcdef", 16, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}},
      // Not a digit: its own low four bits ('G' 0x47, 'Z' 0x5A, ' ' 0x20, ';' 0x3B).
      {"GZ", 2, {0x7A}},
      {" ;", 2, {0x0B}},
      {"\xff\x80", 2, {0xF0}},
      // n past the text is clamped to the text.
      {"12", 5, {0x12}},
      {"123", 100, {0x12, 0x30}},
      {"", 4, {}},
  };
  for (const HexCase& c : cases) {
    uint8_t out[64];
    std::fill(std::begin(out), std::end(out), 0xEE);
    const size_t count = HexToBytes(c.text, c.n, out);
    ASSERT_EQ(count, c.bytes.size()) << "[" << c.text << "] n=" << c.n;
    EXPECT_EQ(std::vector<uint8_t>(out, out + count), c.bytes) << "[" << c.text << "]";
    EXPECT_EQ(out[count], 0xEE) << "wrote past the count for [" << c.text << "]";
  }
}

// ---------------------------------------------------------------- AddressLines

struct AddressCase {
  const char* name;
  std::string line;
  bool as_read;      // IsAddressLine
  bool any_case;     // IsAddressLineAnyCase
  bool well_formed;  // IsWellFormedAddressLine
  bool decoded;
  uint32_t start;
  uint32_t end;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const AddressCase& c, std::ostream* os) {
  *os << c.name;
}

const AddressCase kAddressCases[] = {
    {"App1", "F05D010009000020000000FFFF00", true, true, true, true, 0x00002000, 0x0000FFFF},
    {"App2", "F05D010009000120000001FFFF5A", true, true, true, true, 0x00012000, 0x0001FFFF},
    {"HighAddresses", "F05D010009FFFFFFFF80000001FF", true, true, true, true, 0xFFFFFFFF,
     0x80000001},
    {"LowerCasePrefix", "f05d010009000020000000ffff00", false, true, true, true, 0x00002000,
     0x0000FFFF},
    {"MixedCasePrefix", "F05d010009000020000000FFFF00", false, true, true, true, 0x00002000,
     0x0000FFFF},
    // Decoded from the last 18 characters, which then hold the comment:
    // "020000000FFFF00 ;x" -> 02 00 00 00 | 0F FF F0 0' ' | ';'x
    {"TrailingComment", "F05D010009000020000000FFFF00 ;x", true, true, false, true, 0x02000000,
     0x0FFFF000},
    {"TrailingBlank", "F05D010009000020000000FFFF00 ", true, true, false, true, 0x00020000,
     0x000FFFF0},
    {"NonHexDigit", "F05D010009000020000000FFFF0G", true, true, false, true, 0x00002000,
     0x0000FFFF},
    {"ExtraDigitInFront", "F05D010009X000020000000FFFF00", true, true, false, true, 0x00002000,
     0x0000FFFF},
    {"ExactlyEighteen", "F05D01000900002000", true, true, false, true, 0xF05D0100, 0x09000020},
    {"TooShortToDecode", "F05D010009002000", true, true, false, false, 0, 0},
    {"PrefixOnly", "F05D010009", true, true, false, false, 0, 0},
    {"NinePrefixCharacters", "F05D01000", false, false, false, false, 0, 0},
    {"BlankBeforePrefix", " F05D010009000020000000FFFF00", false, false, false, true, 0x00002000,
     0x0000FFFF},
    {"OtherCommand", "F0D4000008000020000000FFFF", false, false, false, true, 0x08000020,
     0x000000FF},
    {"Empty", "", false, false, false, false, 0, 0},
};

class AddressTest : public ::testing::TestWithParam<AddressCase> {};

TEST_P(AddressTest, RecognisesAndDecodes) {
  const AddressCase& c = GetParam();
  EXPECT_EQ(IsAddressLine(c.line), c.as_read);
  EXPECT_EQ(IsAddressLineAnyCase(c.line), c.any_case);
  EXPECT_EQ(IsWellFormedAddressLine(c.line), c.well_formed);
  AddressRecord record{0xAAAAAAAA, 0xBBBBBBBB, false};
  EXPECT_EQ(DecodeAddressLine(c.line, &record), c.decoded);
  if (c.decoded) {
    EXPECT_TRUE(record.present);
    EXPECT_EQ(record.start, c.start) << std::hex << record.start;
    EXPECT_EQ(record.end, c.end) << std::hex << record.end;
  } else {
    EXPECT_FALSE(record.present);
    EXPECT_EQ(record.start, 0xAAAAAAAAu);
    EXPECT_EQ(record.end, 0xBBBBBBBBu);
  }
}

INSTANTIATE_TEST_SUITE_P(Lines, AddressTest, ::testing::ValuesIn(kAddressCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pelliton
