// The window's place taken by a terminal: every text the window would show, in the
// order it would show it, goes to an output stream; the progress bar is drawn on the
// terminal when there is one.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "station/run_panel.h"

namespace pelliton::cli {

// Text fit for a terminal: "\r\n" as a plain line break; every other control
// character (a lone CR included, but not a line feed or a tab) and every byte that is not
// valid UTF-8 shown as "\x1b", so that no card, file or reader name can drive the
// terminal.
std::string AsTerminalText(const std::string& window_text);

// The bar as drawn on a terminal: "[#####.....]  50%"; position clamped to the range.
std::string ProgressBarText(int lower, int upper, int position, int width);

using station::PanelWatcher;

// The run panel on a terminal: every text shown is printed on out as it comes, and the
// progress bar is drawn there when out is one.
class ConsolePanel final : public station::RunPanel, private PanelWatcher {
 public:
  // out: where shown texts go (null: collected only). draw_progress: draw the bar on
  // out, which must then be a terminal.
  ConsolePanel(std::FILE* out, bool draw_progress);
  ~ConsolePanel() override;
  ConsolePanel(const ConsolePanel&) = delete;
  ConsolePanel& operator=(const ConsolePanel&) = delete;

  void StartRun() override;
  void EndRun() override { ClearProgress(); }
  using RunPanel::Shown;  // the texts kept, beside the watcher's Shown below

 private:
  void Shown(const std::string& text) override;
  void Progress(int lower, int upper, int position) override;
  void ClearProgress();
  void DrawProgress();

  std::FILE* out_;
  bool draw_progress_;
  bool progress_on_line_ = false;
  std::string last_bar_;
  int lower_ = 0;
  int upper_ = 100;
  int position_ = 0;
};

}  // namespace pelliton::cli
