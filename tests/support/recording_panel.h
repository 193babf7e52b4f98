// A stand-in for the main window that records every signal a procedure gives, in
// order, and models the controls well enough that ReadControls and RefreshControls
// move texts exactly as the window does.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/operator_panel.h"

namespace pelliton {

// The window's controls as the operator sees them.
struct PanelControls {
  std::string path_box;
  std::string status_box;
  std::string card_info_box;  // hidden control 1007
  std::string hidden_label;   // hidden label 1020
  std::string counter_box = "500";
  int progress_lower = 0;
  int progress_upper = 100;
  int progress_pos = 0;
  std::vector<std::string> reader_entries;
  int reader_selection = -1;  // -1: nothing selected
  // Enabled state per control id; ids not listed are enabled.
  std::map<int, bool> enabled = {{kReaderList, false}, {kPathBox, false}, {kReloadButton, false}};
  int focus = kCancelButton;
  bool counter_text_selected = false;
};

class RecordingPanel : public OperatorPanel {
 public:
  // As the window stands right after creation: fields at their start values and
  // already copied into the controls; the log empty.
  RecordingPanel() = default;

  // --- OperatorPanel ---
  std::string& StatusText() override { return status_text_; }
  std::string& ScriptPath() override { return script_path_; }
  uint32_t& CounterValue() override { return counter_value_; }
  std::string& CardInfoText() override { return card_info_text_; }
  std::string& HiddenLabelText() override { return hidden_label_text_; }

  bool ReadControls() override;
  void RefreshControls() override;
  void SetStatusBoxText(const std::string& text) override;
  void Beep(uint32_t frequency_hz, uint32_t duration_ms) override;

  void ReaderListClear() override;
  void ReaderListInsert(int index, const std::string& name) override;
  void ReaderListSelect(int index) override;
  std::string ReaderListCurrentText() override;
  void EnableControl(int control_id, bool enabled) override;

  void SetProgressRange(int lower, int upper) override;
  void SetProgressPos(int position) override;
  void RepaintNow() override;
  void WindowMessageBox(const std::string& text) override;
  void AppMessageBox(const std::string& text) override;
  std::optional<std::string> ChooseScriptFile(const std::string& filter) override;
  void ShowScriptPath(const std::string& path) override;
  void SetPathBoxText(const std::string& path) override;

  // --- scripting ---
  // What the file dialog returns next: a path (possibly empty), or nullopt for cancel.
  // Cancel until set.
  void SetChosenFile(std::optional<std::string> path) { chosen_file_ = std::move(path); }
  PanelControls& Controls() { return controls_; }
  const PanelControls& Controls() const { return controls_; }
  bool IsEnabled(int control_id) const;

  // --- what happened ---
  // Every signal in order, as short strings:
  //   "readcontrols" "refresh" "statusbox <text>" "beep <hz> <ms>" "range <lo> <hi>"
  //   "pos <p>" "repaint" "winbox <text>" "appbox <text>" "choosefile" "showpath <p>"
  //   "pathbox <p>" "reader-clear" "reader-insert <i> <name>" "reader-select <i>"
  //   "reader-text" "enable <id> <0|1>"
  const std::vector<std::string>& Log() const { return log_; }
  // Only the entries whose first word is one of kinds, in order.
  std::vector<std::string> LogOf(std::initializer_list<std::string_view> kinds) const;
  // The entries whose first word is none of kinds, in order.
  std::vector<std::string> LogWithout(std::initializer_list<std::string_view> kinds) const;
  // How many entries have this first word.
  size_t Count(std::string_view kind) const;
  // Every change of the status box's text, in order, whether by RefreshControls or
  // written directly: a text equal to what the box already shows is not recorded.
  const std::vector<std::string>& StatusBoxHistory() const { return status_history_; }
  // The filter the last file dialog was opened with.
  const std::string& LastFileFilter() const { return last_filter_; }
  void ClearLog();

 private:
  void Record(std::string entry) { log_.push_back(std::move(entry)); }
  void ShowStatus(const std::string& text);

  std::string script_path_;
  uint32_t counter_value_ = 500;
  std::string status_text_;
  std::string card_info_text_;
  std::string hidden_label_text_;

  PanelControls controls_;
  std::optional<std::string> chosen_file_;
  std::vector<std::string> log_;
  std::vector<std::string> status_history_;
  std::string last_filter_;
};

}  // namespace pelliton
