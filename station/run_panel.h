// The window's place taken by a front end without one: every text the window would show,
// in the order it would show it, is kept for the run's value and told to a watcher; the
// controls keep what the operator "typed"; tones become nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/operator_panel.h"

namespace pelliton::station {

// Who follows a run as it goes: a terminal, a station's status line.
class PanelWatcher {
 public:
  virtual ~PanelWatcher() = default;
  // A text the operator was shown, as the window shows it.
  virtual void Shown(const std::string& text) = 0;
  // The progress bar moved or changed its range.
  virtual void Progress(int lower, int upper, int position) = 0;
};

class RunPanel : public OperatorPanel {
 public:
  RunPanel() = default;
  ~RunPanel() override = default;
  RunPanel(const RunPanel&) = delete;
  RunPanel& operator=(const RunPanel&) = delete;

  // Tells watcher (null: nobody) of every text shown and every move of the bar, from the
  // thread that runs the procedure.
  void SetWatcher(PanelWatcher* watcher) { watcher_ = watcher; }

  // --- what the operator typed ---
  void SetPathBoxText(const std::string& path) override;
  void SetCounterText(const std::string& text) { counter_box_ = text; }

  // --- what the run showed ---
  // Every text shown, as the window shows it, in order (status box changes that are not
  // empty, then message boxes).
  const std::vector<std::string>& Shown() const { return shown_; }
  std::vector<std::string> ReaderEntries() const { return reader_entries_; }
  // Forgets the texts of earlier runs; the controls keep their contents.
  virtual void StartRun();
  // The run is over: a front end takes its bar away.
  virtual void EndRun() {}

  // --- OperatorPanel ---
  std::string& StatusText() override { return status_text_; }
  std::string& ScriptPath() override { return script_path_; }
  uint32_t& CounterValue() override { return counter_value_; }
  std::string& CardInfoText() override { return card_info_text_; }
  std::string& HiddenLabelText() override { return hidden_label_text_; }
  bool ReadControls() override;
  void RefreshControls() override;
  void SetStatusBoxText(const std::string& text) override;
  void Beep(uint32_t, uint32_t) override {}
  void ReaderListClear() override;
  void ReaderListInsert(int index, const std::string& name) override;
  void ReaderListSelect(int index) override;
  std::string ReaderListCurrentText() override;
  void EnableControl(int control_id, bool enabled) override;
  void SetProgressRange(int lower, int upper) override;
  void SetProgressPos(int position) override;
  void RepaintNow() override {}
  void WindowMessageBox(const std::string& text) override { Show(text); }
  void AppMessageBox(const std::string& text) override { Show(text); }
  std::optional<std::string> ChooseScriptFile(const std::string& filter) override;
  void ShowScriptPath(const std::string& path) override { SetPathBoxText(path); }

 private:
  void ShowInStatusBox(const std::string& text);
  void Show(const std::string& text);
  void TellProgress();

  PanelWatcher* watcher_ = nullptr;

  // Fields.
  std::string script_path_;
  uint32_t counter_value_ = 500;
  std::string status_text_;
  std::string card_info_text_;
  std::string hidden_label_text_;
  // Controls.
  std::string path_box_;
  std::string counter_box_ = "500";
  std::string status_box_;
  std::string card_info_box_;
  std::string hidden_label_;
  std::vector<std::string> reader_entries_;
  int reader_selection_ = -1;
  int progress_lower_ = 0;
  int progress_upper_ = 100;
  int progress_pos_ = 0;

  std::vector<std::string> shown_;
};

}  // namespace pelliton::station
