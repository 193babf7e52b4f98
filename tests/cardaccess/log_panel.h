// A window stand-in that logs every signal the procedures give, in order, so tests can
// assert what the operator sees and when.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/operator_panel.h"

namespace pelliton::testing {

class LogPanel : public OperatorPanel {
 public:
  std::string& StatusText() override { return status_text; }
  void RefreshControls() override { log.push_back("Refresh:" + status_text); }
  void SetStatusBoxText(const std::string& text) override { log.push_back("StatusBox:" + text); }
  void Beep(uint32_t frequency_hz, uint32_t duration_ms) override {
    log.push_back("Beep(" + std::to_string(frequency_hz) + "," + std::to_string(duration_ms) + ")");
  }

  void ReaderListClear() override {
    log.push_back("ListClear");
    items.clear();
    selected = -1;
  }
  void ReaderListInsert(int index, const std::string& name) override {
    log.push_back("ListInsert(" + std::to_string(index) + "," + name + ")");
    if (index >= 0 && static_cast<size_t>(index) <= items.size()) {
      items.insert(items.begin() + index, name);
    }
  }
  void ReaderListSelect(int index) override {
    log.push_back("ListSelect(" + std::to_string(index) + ")");
    selected = index >= 0 && static_cast<size_t>(index) < items.size() ? index : -1;
  }
  std::string ReaderListCurrentText() override {
    return selected >= 0 ? items[static_cast<size_t>(selected)] : std::string();
  }
  void EnableControl(int control_id, bool enabled) override {
    log.push_back("Enable(" + std::to_string(control_id) + "," + (enabled ? "1" : "0") + ")");
  }

  std::string& ScriptPath() override { return script_path; }
  uint32_t& CounterValue() override { return counter_value; }
  std::string& CardInfoText() override { return card_info_text; }
  std::string& HiddenLabelText() override { return hidden_label_text; }
  bool ReadControls() override {
    log.push_back("ReadControls");
    return read_controls_result;
  }
  void SetProgressRange(int lower, int upper) override {
    log.push_back("ProgressRange(" + std::to_string(lower) + "," + std::to_string(upper) + ")");
  }
  void SetProgressPos(int position) override {
    log.push_back("ProgressPos(" + std::to_string(position) + ")");
  }
  void RepaintNow() override { log.push_back("Repaint"); }
  void WindowMessageBox(const std::string& text) override { log.push_back("WindowBox:" + text); }
  void AppMessageBox(const std::string& text) override { log.push_back("AppBox:" + text); }
  std::optional<std::string> ChooseScriptFile(const std::string&) override { return {}; }
  void ShowScriptPath(const std::string& path) override { log.push_back("ShowPath:" + path); }
  void SetPathBoxText(const std::string& path) override { log.push_back("PathBox:" + path); }

  std::vector<std::string> log;
  std::vector<std::string> items;
  int selected = -1;
  std::string status_text;
  std::string script_path;
  uint32_t counter_value = 500;
  std::string card_info_text;
  std::string hidden_label_text;
  bool read_controls_result = true;
};

}  // namespace pelliton::testing
