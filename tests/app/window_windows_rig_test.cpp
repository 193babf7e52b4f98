// The Windows window clicked from outside under wine: pelliton.exe, started by the
// Windows driver (tests/app_win32/window_driver.cpp) beside the winscard bridge, talks
// through the rig's pcscd to tessiv-sim; the card is then read back from the simulator.
// PELLITON_WINDOW_WINDOWS names the folder holding pelliton.exe, window_driver.exe and
// the bridge; without it the test is skipped (scripts/test-windows sets it, under Xvfb).
// PELLITON_WINDOW_SHOT, when set, receives the window's picture as PNG.
#include <gtest/gtest.h>

#include <QImage>
#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "engine/script.h"
#include "tests/rig/sim_process.h"
#include "tests/support/scratch_dir.h"

namespace pelliton {
namespace {

std::string WinePath(const std::string& path) {
  std::string windows = "Z:" + path;
  std::replace(windows.begin(), windows.end(), '/', '\\');
  return windows;
}

// One driver command and the detail its "ok" line must hold (empty: anything).
struct Step {
  std::vector<std::string> fields;
  std::string expect;
};

TEST(WindowsWindowRig, AnOperatorDownloadsReadsTheCardAndMeetsEachBox) {
  const char* folder = std::getenv("PELLITON_WINDOW_WINDOWS");
  if (folder == nullptr || folder[0] == '\0')
    GTEST_SKIP() << "PELLITON_WINDOW_WINDOWS not set (scripts/test-windows sets it)";
  ASSERT_NE(rig::VpcdPort(), 0) << "run me through tests/rig/pcsc-rig";
  rig::SimProcess sim;
  ASSERT_TRUE(sim.StartAndWait(0));

  ScratchDir dir;
  const std::string example = PELLITON_EXAMPLE_SCRIPT;
  // App1 must start at 0x2000: this one is refused when it is chosen.
  const std::string refused =
      dir.Write("refused.bin", "F05D0100090000300000011FFF00\r\nF0D100000400003000\r\n");
  const std::string shot = dir.PathOf("window.bmp");
  const std::string folder_path = folder;
  const std::string out_of_range = "“请填入一个在1和5000之间的整数。”";
  const std::vector<Step> steps = {
      {{"start", WinePath(folder_path + "/pelliton.exe")}, ""},
      // It opens on the Orvo reader: the PC/SC list waits for its radio.
      {{"state", "1001"}, "disabled"},
      {{"click", "1022"}, ""},
      {{"state", "1022"}, "enabled checked"},
      {{"state", "1001"}, "enabled"},
      {{"wait-exact", "1001", "Virtual PCD 00 00"}, "Virtual PCD 00 00"},
      {{"choose", "1004", WinePath(refused)}, ""},
      {{"box", "pelliton"}, "APP1 file StartAddr error!"},
      {{"wait-exact", "1002"}, ""},
      {{"choose", "1004", WinePath(example)}, ""},
      {{"wait-exact", "1002", WinePath(example)}, WinePath(example)},
      {{"type", "1024", "0"}, ""},
      {{"click", "1005"}, ""},
      {{"box", "pelliton"}, out_of_range},
      // The download goes on with the counter it read, and refuses it in a box of its own.
      {{"box", "Information"}, "The counter must be greater than 0 and less than 5000 !"},
      {{"type", "1024", "1234"}, ""},
      {{"click", "1005"}, ""},
      {{"wait-text", "1015", "Download APP Successfull!"}, ""},
      {{"click", "1008"}, ""},
      {{"wait-text", "1015", "Successfully!"},
       "Tessiv Card Version: V2.00 \\r\\n\\r\\nNorvane App Version:V3.05  counter:1234\\r\\n\\r\\n"
       "Obtained upgrade card information for Norvane-IC Successfully!"},
      {{"shot", WinePath(shot)}, ""},
      {{"about"}, ""},
      {{"box", "关于 Pelliton"}, ""},
      {{"close"}, "exit 0"},
  };
  std::string commands;
  for (const Step& step : steps) {
    for (size_t i = 0; i < step.fields.size(); ++i)
      commands += (i == 0 ? "" : "\t") + step.fields[i];
    commands += "\n";
  }
  const std::string command_file = dir.Write("commands.txt", commands);
  const std::string out = dir.PathOf("out");
  const std::string run = "timeout 300 wine '" + folder_path + "/window_driver.exe' '" +
                          WinePath(command_file) + "' >'" + out + "' 2>'" + dir.PathOf("err") + "'";
  const int status = std::system(run.c_str());

  std::vector<std::string> lines;
  std::stringstream text(ReadFile(out));
  for (std::string line; std::getline(text, line);) {
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    lines.push_back(line);
  }
  const std::string all = ReadFile(out) + ReadFile(dir.PathOf("err"));
  ASSERT_EQ(status, 0) << all;
  ASSERT_EQ(lines.size(), steps.size()) << all;
  for (size_t i = 0; i < steps.size(); ++i) {
    const std::string head = "ok " + steps[i].fields[0] + ": ";
    ASSERT_EQ(lines[i].rfind(head, 0), 0u) << lines[i];
    if (!steps[i].expect.empty() || steps[i].fields[0] == "wait-exact") {
      EXPECT_EQ(lines[i].substr(head.size()), steps[i].expect) << all;
    }
  }
  // The dialog's own size in dialog units at the font's size, never a fallback's.
  int ms = 0, width = 0, height = 0;
  ASSERT_EQ(std::sscanf(lines[0].c_str(), "ok start: window after %d ms, client %dx%d", &ms, &width,
                        &height),
            3)
      << lines[0];
  ::testing::Test::RecordProperty("start_to_window_ms", ms);
  std::printf("start to visible window: %d ms; client area %dx%d\n", ms, width, height);
  EXPECT_GE(width, 384 * 6 / 4);
  EXPECT_LE(width, 384 * 9 / 4);
  EXPECT_GE(height, 234 * 12 / 8);
  EXPECT_LE(height, 234 * 18 / 8);

  const QImage picture(QString::fromStdString(shot));
  ASSERT_FALSE(picture.isNull());
  EXPECT_GE(picture.width(), width);
  EXPECT_GE(picture.height(), height);
  if (const char* save = std::getenv("PELLITON_WINDOW_SHOT"); save != nullptr && save[0] != '\0') {
    EXPECT_TRUE(picture.save(QString::fromUtf8(save), "PNG"));
  }

  // The card holds the counter and every data line of the example where it names.
  const auto state = sim.State();
  ASSERT_TRUE(state.has_value());
  EXPECT_EQ(state->counter, 1234u);
  EXPECT_EQ(state->formats, 1u);
  std::stringstream script(ReadFile(example));
  size_t data_lines = 0;
  for (std::string line; std::getline(script, line);) {
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    const auto clean = CleanScriptLine(line);
    if (!clean || clean->size() < 18)
      continue;
    std::vector<uint8_t> bytes((clean->size() + 1) / 2);
    bytes.resize(HexToBytes(*clean, clean->size(), bytes.data()));
    if (bytes.size() < 9 || bytes[0] != 0xF0 || (bytes[1] != 0xD1 && bytes[1] != 0xD2))
      continue;
    const bool app2 = bytes[1] == 0xD2;
    const uint32_t address =
        (uint32_t{bytes[5]} << 24) | (bytes[6] << 16) | (bytes[7] << 8) | bytes[8];
    const uint32_t offset = address - (app2 ? 0x00012000u : 0x00002000u);
    ++data_lines;
    // The card takes Lc bytes; a script line may carry more.
    const size_t end = std::min(bytes.size(), size_t{5} + bytes[4]);
    for (size_t i = 9; i < end; ++i)
      ASSERT_EQ(state->ByteAt(app2 ? sim::TessivApp::kApp2 : sim::TessivApp::kApp1,
                              offset + static_cast<uint32_t>(i - 9)),
                bytes[i])
          << "byte " << i - 9 << " of " << line;
  }
  EXPECT_EQ(data_lines, 40u);
}

}  // namespace
}  // namespace pelliton
