#include "engine/browse.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "engine/script.h"
#include "tests/support/recording_panel.h"
#include "tests/support/scratch_dir.h"

namespace pelliton {
namespace {

using ::testing::ElementsAreArray;

constexpr const char* kApp1 = "F05D010009000020000000FFFF00";
constexpr const char* kApp2 = "F05D010009000120000001FFFF00";
constexpr const char* kCheck1 = "F0D4000008000020000000FFFF";
constexpr const char* kData =
    "F0 D1 00 00 0C 00 00 20 00 01 02 03 04 05 06 07 08 ; first block (App1)";

std::string Join(std::initializer_list<std::string> lines, const char* eol = "\r\n") {
  std::string out;
  for (const std::string& line : lines)
    out += line + eol;
  return out;
}

enum class Outcome { kCancel, kEmptyPath, kUnreadable, kStartAddr, kFormat, kAccepted };

enum class FileKind { kContent, kMissing, kDirectory, kFifo };

struct BrowseCase {
  const char* name;
  Outcome outcome;
  std::string content;
  FileKind kind = FileKind::kContent;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const BrowseCase& c, std::ostream* os) {
  *os << c.name;
}

const BrowseCase kBrowseCases[] = {
    {"Cancelled", Outcome::kCancel, ""},
    {"EmptyPath", Outcome::kEmptyPath, ""},
    {"Missing", Outcome::kUnreadable, "", FileKind::kMissing},
    {"Directory", Outcome::kUnreadable, "", FileKind::kDirectory},
#ifndef _WIN32
    {"Pipe", Outcome::kUnreadable, "", FileKind::kFifo},
#endif
    {"TwoApplications", Outcome::kAccepted, Join({"; upgrade", kApp1, kApp2, "", kCheck1, kData})},
    {"SingleAddressLineBeforeData", Outcome::kAccepted, Join({kApp1, kCheck1, kData, kData}, "\n")},
    {"AddressLinesAfterData", Outcome::kAccepted, Join({kCheck1, kData, kApp1, kApp2})},
    {"LowerCasePrefix", Outcome::kAccepted, Join({"f05d010009000020000000ffff00", kData})},
    {"LastLineEndsInLoneCr", Outcome::kAccepted, std::string(kApp1) + "\r"},
    {"LastLineWithoutLf", Outcome::kAccepted, std::string(kData) + "\n" + kApp1},
    {"ThirdAddressLine", Outcome::kAccepted, Join({kApp1, kApp2, kApp2})},
    {"ByteOrderMarkBeforeApp1", Outcome::kAccepted, "\xEF\xBB\xBF" + Join({kApp1, kData})},
    {"EmptyFile", Outcome::kStartAddr, ""},
    {"NoAddressLine", Outcome::kStartAddr, Join({kCheck1, kData})},
    {"App1StartsElsewhere", Outcome::kStartAddr, Join({"F05D010009000030000000FFFF00", kData})},
    {"App1WithComment", Outcome::kStartAddr, Join({std::string(kApp1) + " ; App1", kData})},
    {"App1EighteenCharacters", Outcome::kStartAddr, Join({"F05D01000900002000", kApp2})},
    {"App1TooShortToDecode", Outcome::kStartAddr, Join({"F05D010009002000", kApp1})},
    {"BlankBeforePrefix", Outcome::kStartAddr, Join({std::string(" ") + kApp1, kData})},
    {"App2First", Outcome::kStartAddr, Join({kApp2, kApp1})},
    {"BinaryFile", Outcome::kStartAddr,
     std::string("\x7f"
                 "ELF\0\0\x01\n\xff\xfe\r\r\0",
                 13)},
    {"App2TooShort", Outcome::kFormat, Join({kApp1, "F05D0100090001"})},
    {"App2TrailingBlank", Outcome::kFormat, Join({kApp1, std::string(kApp2) + " "})},
    {"App2NonHex", Outcome::kFormat, Join({kApp1, "F05D010009000120000001FFFF0G"})},
    {"App1ExtraCharacterInFront", Outcome::kFormat, Join({"F05D010009X000020000000FFFF00"})},
    {"App1NonHexSpare", Outcome::kFormat, Join({"f05d010009000020000000ffff0z"})},
    {"LaterAddressLineWithComment", Outcome::kFormat,
     Join({kApp1, kApp2, std::string(kApp2) + ";"})},
};

class BrowseTest : public ::testing::TestWithParam<BrowseCase> {
 protected:
  void SetUp() override {
    // What the operator left in the window before clicking "...".
    panel_.Controls().path_box = "old.bin";
    panel_.Controls().status_box = "old status";
    panel_.Controls().hidden_label = "hidden";
  }

  std::string PrepareFile(const BrowseCase& c) {
    const std::string path = dir_.PathOf("Upgrade Script.BIN");
    switch (c.kind) {
      case FileKind::kContent:
        return dir_.Write("Upgrade Script.BIN", c.content);
      case FileKind::kMissing:
        return path;
      case FileKind::kDirectory:
        std::filesystem::create_directory(path);
        return path;
      case FileKind::kFifo:
#ifndef _WIN32
        EXPECT_EQ(mkfifo(path.c_str(), 0600), 0);
#endif
        return path;
    }
    return path;
  }

  ScratchDir dir_;
  RecordingPanel panel_;
};

TEST_P(BrowseTest, SignalsInTheOperatorsOrder) {
  const BrowseCase& c = GetParam();
  const std::string path = PrepareFile(c);
  if (c.outcome == Outcome::kCancel)
    panel_.SetChosenFile(std::nullopt);
  else if (c.outcome == Outcome::kEmptyPath)
    panel_.SetChosenFile(std::string());
  else
    panel_.SetChosenFile(path);

  OnBrowseScript(panel_);

  std::vector<std::string> expected = {"readcontrols", "pos 0", "choosefile"};
  std::string path_box = "old.bin";
  std::string script_path = "old.bin";
  std::string status_box = "old status";
  std::string hidden = "hidden";
  switch (c.outcome) {
    case Outcome::kCancel:
      expected.insert(expected.end(), {"refresh", "beep 1000 600"});
      status_box = "";
      break;
    case Outcome::kEmptyPath:
      expected.insert(expected.end(), {"refresh", "beep 1000 600"});
      status_box = "Plesae Select the apdu file!";
      break;
    case Outcome::kUnreadable:
      expected.insert(expected.end(), {"beep 1000 600", "appbox Open APP update file error!"});
      break;
    case Outcome::kStartAddr:
      expected.insert(expected.end(), {"beep 1000 600", "appbox APP1 file StartAddr error!",
                                       "refresh", "pathbox "});
      path_box = script_path = status_box = hidden = "";
      break;
    case Outcome::kFormat:
      expected.insert(expected.end(), {"beep 1000 600", "appbox APP1 file format error!"});
      break;
    case Outcome::kAccepted:
      expected.insert(expected.end(), {"showpath " + path, "refresh"});
      path_box = script_path = path;
      status_box = "";
      break;
  }
  EXPECT_THAT(panel_.Log(), ElementsAreArray(expected));
  EXPECT_EQ(panel_.Controls().path_box, path_box);
  EXPECT_EQ(panel_.ScriptPath(), script_path);
  EXPECT_EQ(panel_.Controls().status_box, status_box);
  EXPECT_EQ(panel_.Controls().hidden_label, hidden);
  EXPECT_EQ(panel_.StatusText(), c.outcome == Outcome::kEmptyPath ? status_box : "");
  EXPECT_EQ(panel_.Controls().progress_pos, 0);
  EXPECT_EQ(panel_.LastFileFilter(), kScriptFileFilter);
  EXPECT_EQ(panel_.Controls().focus == kPathBox, c.outcome == Outcome::kAccepted);
}

INSTANTIATE_TEST_SUITE_P(Outcomes, BrowseTest, ::testing::ValuesIn(kBrowseCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(BrowseCounterTest, BadCounterIsReportedAndTheBrowseGoesOn) {
  ScratchDir dir;
  RecordingPanel panel;
  panel.Controls().counter_box = "12a";
  const std::string path = dir.Write("app.bin", Join({kApp1, kData}));
  panel.SetChosenFile(path);

  OnBrowseScript(panel);

  EXPECT_THAT(panel.Log(), ElementsAreArray(std::vector<std::string>{
                               "readcontrols", "appbox “请填入一个正整数。”", "pos 0", "choosefile",
                               "showpath " + path, "refresh"}));
  // The counter keeps its value and the refresh writes it back over the bad text.
  EXPECT_EQ(panel.CounterValue(), 500u);
  EXPECT_EQ(panel.Controls().counter_box, "500");
}

TEST(BrowseCounterTest, SecondBrowseAfterRefusalStartsFromEmptyPath) {
  ScratchDir dir;
  RecordingPanel panel;
  panel.SetChosenFile(dir.Write("good.bin", Join({kApp1})));
  OnBrowseScript(panel);
  ASSERT_EQ(panel.ScriptPath(), dir.PathOf("good.bin"));

  panel.SetChosenFile(dir.Write("bad.bin", Join({"F05D010009000030000000FFFF00"})));
  OnBrowseScript(panel);
  EXPECT_EQ(panel.ScriptPath(), "");
  EXPECT_EQ(panel.Controls().path_box, "");

  // A cancelled dialog leaves what the refusal left.
  panel.SetChosenFile(std::nullopt);
  OnBrowseScript(panel);
  EXPECT_EQ(panel.ScriptPath(), "");
  EXPECT_EQ(panel.Count("beep"), 2u);
}

}  // namespace
}  // namespace pelliton
