// What the integration tests share: the tool's card access over the real pcsc-lite
// client, a recording window, upgrade scripts whose every line is known, and a bound on
// how long one procedure may run. Runs inside tests/rig/pcsc-rig.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "cardaccess/card_access.h"
#include "cardaccess/orvo_api.h"
#include "cardaccess/pcsc_api.h"
#include "cardaccess/reader_controls.h"
#include "engine/pauser.h"
#include "sim/card/card_state.h"
#include "tests/rig/sim_process.h"
#include "tests/support/recording_panel.h"
#include "tests/support/script_builder.h"

namespace pelliton::integration {

inline const std::string kErrorBeep = "beep 1000 600";
inline const std::string kOkBeep = "beep 900 100";
inline constexpr uint32_t kApp1Start = 0x00002000;
inline constexpr uint32_t kApp1End = 0x00011FFF;
inline constexpr uint32_t kApp2Start = 0x00012000;
inline constexpr uint32_t kApp2End = 0x00021FFF;

// Runs a procedure on a thread of its own and waits at most `limit` for it. A procedure
// that hangs cannot be taken back, so the process ends there with the reason; the rig
// then stops the simulators and pcscd.
inline void RunBounded(const char* what, const std::function<void()>& procedure,
                       std::chrono::milliseconds limit = std::chrono::seconds(20)) {
  std::packaged_task<void()> task(procedure);
  std::future<void> done = task.get_future();
  std::thread runner(std::move(task));
  if (done.wait_for(limit) != std::future_status::ready) {
    std::fprintf(stderr, "%s did not end within %lld ms\n", what,
                 static_cast<long long>(limit.count()));
    std::fflush(stderr);
    std::_Exit(3);
  }
  runner.join();
}

// One line of a test script and whether the download sends it to the card.
struct ScriptLine {
  std::string text;
  bool sent = false;
  const char* eol = "\n";
};

struct RigScript {
  std::vector<ScriptLine> lines;
  std::vector<testing::ScriptData> data;  // every DataLine's address and bytes, in order
  std::vector<std::vector<uint8_t>> pass_through;

  std::string Text() const {
    std::string text;
    for (const ScriptLine& line : lines)
      text += line.text + line.eol;
    return text;
  }
  // File line numbers (from 1) of the lines the card receives, in the order sent.
  std::vector<uint32_t> SentLines() const {
    std::vector<uint32_t> numbers;
    for (size_t i = 0; i < lines.size(); ++i) {
      if (lines[i].sent)
        numbers.push_back(static_cast<uint32_t>(i + 1));
    }
    return numbers;
  }
  // Commands a successful download sends: format, the sent lines, challenge, counter.
  size_t CommandCount() const { return SentLines().size() + 3; }
};

inline std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  });
  return text;
}

// A script as operators write them: a heading comment and a blank line, comments after
// commands and on lines of their own, a note in brackets, blanks and tabs inside
// commands, lower-case digits, CRLF and LF endings, a pass-through line, and a last
// DataLine without a line feed. `blocks` 128-byte DataLines per application.
inline RigScript RealisticScript(int blocks) {
  RigScript script;
  const std::vector<std::string> plain = testing::TwoAppScript(blocks, &script.data);
  script.lines.push_back({"; Norvane upgrade image: App1 and App2", false, "\r\n"});
  script.lines.push_back({"", false, "\n"});
  for (size_t i = 0; i < plain.size(); ++i) {
    const std::string& line = plain[i];
    const bool data_line = line.rfind("F0D1", 0) == 0;
    ScriptLine out{line, data_line, i % 2 ? "\r\n" : "\n"};
    if (data_line) {
      switch (i % 4) {
        case 0:
          out.text = Lower(line);
          break;
        case 1:
          out.text = "\t" + line.substr(0, 10) + " \t" + line.substr(10, 8) + " " + line.substr(18);
          break;
        case 2:
          out.text = line + "   ; next block";
          break;
        default:
          out.text = line + "(from image page 2)";
          break;
      }
    }
    script.lines.push_back(out);
    if (i == 4) {
      script.lines.push_back({"   \t", false, "\n"});
      script.lines.push_back({"; settings block", false, "\r\n"});
      const std::vector<uint8_t> block = testing::PatternBytes(0x44, 44);
      script.lines.push_back({testing::PassThroughLine(block), true, "\n"});
      script.pass_through.push_back(block);
    }
  }
  script.lines.back().eol = "";
  return script;
}

// The tool as it runs against the rig's pcscd: the PC/SC reader mode chosen, the reader
// list loaded, the window modelled by a recording panel.
class RigSession : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(rig::VpcdPort(), 0) << "run me through tests/rig/pcsc-rig";
    ReloadReaderList(access, panel);
    OnReaderModeClicked(access, panel, kPcscRadio);
    panel.ClearLog();
  }

  // pcscd allows a client only a few contexts, so each test gives back what the tool
  // keeps open between procedures (the tool itself holds them until it exits).
  void TearDown() override {
    CardConnection& c = access.Connection();
    if (c.handle_kind == HandleKind::Pcsc) {
      pcsc.EndTransaction(static_cast<SCARDHANDLE>(c.card_handle), SCARD_LEAVE_CARD);
      pcsc.Disconnect(static_cast<SCARDHANDLE>(c.card_handle), SCARD_UNPOWER_CARD);
    }
    if (c.context != 0)
      pcsc.ReleaseContext(c.context);
  }

  // The operator picks entry `index` of the reader drop-down.
  void SelectReader(int index) {
    panel.Controls().reader_selection = index;
    OnReaderSelChange(access, panel);
  }

  size_t ErrorBeeps() const {
    const auto& log = panel.Log();
    return static_cast<size_t>(std::count(log.begin(), log.end(), kErrorBeep));
  }
  size_t OkBeeps() const {
    const auto& log = panel.Log();
    return static_cast<size_t>(std::count(log.begin(), log.end(), kOkBeep));
  }

  SystemPcsc pcsc;
  SystemOrvo orvo;
  RecordingPanel panel;
  CardAccess access{pcsc, orvo};
  RealPauser pauser;
};

}  // namespace pelliton::integration
