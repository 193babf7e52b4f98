#include "tests/support/recording_panel.h"

#include <algorithm>

#include "engine/counter_rule.h"

namespace pelliton {

namespace {

std::string_view FirstWord(std::string_view entry) {
  return entry.substr(0, entry.find(' '));
}

bool IsOneOf(std::string_view word, std::initializer_list<std::string_view> kinds) {
  return std::find(kinds.begin(), kinds.end(), word) != kinds.end();
}

}  // namespace

bool RecordingPanel::ReadControls() {
  Record("readcontrols");
  // The window's field order; the counter comes last and may stop the transfer.
  script_path_ = controls_.path_box;
  card_info_text_ = controls_.card_info_box;
  status_text_ = controls_.status_box;
  hidden_label_text_ = controls_.hidden_label;
  const CounterParse parse = ParseCounterText(controls_.counter_box, &counter_value_);
  if (parse == CounterParse::kOk)
    return true;
  AppMessageBox(CounterFailureMessage(parse));
  controls_.focus = kCounterBox;
  controls_.counter_text_selected = true;
  return false;
}

void RecordingPanel::RefreshControls() {
  Record("refresh");
  controls_.path_box = script_path_;
  controls_.card_info_box = card_info_text_;
  ShowStatus(status_text_);
  controls_.hidden_label = hidden_label_text_;
  controls_.counter_box = std::to_string(counter_value_);
}

void RecordingPanel::SetStatusBoxText(const std::string& text) {
  Record("statusbox " + text);
  ShowStatus(text);
}

void RecordingPanel::ShowStatus(const std::string& text) {
  if (controls_.status_box != text)
    status_history_.push_back(text);
  controls_.status_box = text;
}

void RecordingPanel::Beep(uint32_t frequency_hz, uint32_t duration_ms) {
  Record("beep " + std::to_string(frequency_hz) + " " + std::to_string(duration_ms));
}

void RecordingPanel::ReaderListClear() {
  Record("reader-clear");
  controls_.reader_entries.clear();
  controls_.reader_selection = -1;
}

void RecordingPanel::ReaderListInsert(int index, const std::string& name) {
  Record("reader-insert " + std::to_string(index) + " " + name);
  auto& entries = controls_.reader_entries;
  const int count = static_cast<int>(entries.size());
  // Like a drop-down list: -1 appends, an index past the end inserts nothing.
  if (index < 0 || index == count) {
    entries.push_back(name);
  } else if (index < count) {
    entries.insert(entries.begin() + index, name);
    if (controls_.reader_selection >= index)
      ++controls_.reader_selection;
  }
}

void RecordingPanel::ReaderListSelect(int index) {
  Record("reader-select " + std::to_string(index));
  const int count = static_cast<int>(controls_.reader_entries.size());
  controls_.reader_selection = (index >= 0 && index < count) ? index : -1;
}

std::string RecordingPanel::ReaderListCurrentText() {
  Record("reader-text");
  const int selection = controls_.reader_selection;
  if (selection < 0 || selection >= static_cast<int>(controls_.reader_entries.size()))
    return std::string();
  return controls_.reader_entries[static_cast<size_t>(selection)];
}

void RecordingPanel::EnableControl(int control_id, bool enabled) {
  Record("enable " + std::to_string(control_id) + (enabled ? " 1" : " 0"));
  controls_.enabled[control_id] = enabled;
}

bool RecordingPanel::IsEnabled(int control_id) const {
  const auto it = controls_.enabled.find(control_id);
  return it == controls_.enabled.end() || it->second;
}

void RecordingPanel::SetProgressRange(int lower, int upper) {
  Record("range " + std::to_string(lower) + " " + std::to_string(upper));
  controls_.progress_lower = lower;
  controls_.progress_upper = upper;
}

void RecordingPanel::SetProgressPos(int position) {
  Record("pos " + std::to_string(position));
  controls_.progress_pos = position;
}

void RecordingPanel::RepaintNow() {
  Record("repaint");
}

void RecordingPanel::WindowMessageBox(const std::string& text) {
  Record("winbox " + text);
}

void RecordingPanel::AppMessageBox(const std::string& text) {
  Record("appbox " + text);
}

std::optional<std::string> RecordingPanel::ChooseScriptFile(const std::string& filter) {
  Record("choosefile");
  last_filter_ = filter;
  return chosen_file_;
}

void RecordingPanel::ShowScriptPath(const std::string& path) {
  Record("showpath " + path);
  controls_.path_box = path;
  controls_.focus = kPathBox;
}

void RecordingPanel::SetPathBoxText(const std::string& path) {
  Record("pathbox " + path);
  controls_.path_box = path;
}

std::vector<std::string> RecordingPanel::LogOf(
    std::initializer_list<std::string_view> kinds) const {
  std::vector<std::string> out;
  for (const std::string& entry : log_) {
    if (IsOneOf(FirstWord(entry), kinds))
      out.push_back(entry);
  }
  return out;
}

std::vector<std::string> RecordingPanel::LogWithout(
    std::initializer_list<std::string_view> kinds) const {
  std::vector<std::string> out;
  for (const std::string& entry : log_) {
    if (!IsOneOf(FirstWord(entry), kinds))
      out.push_back(entry);
  }
  return out;
}

size_t RecordingPanel::Count(std::string_view kind) const {
  return static_cast<size_t>(std::count_if(
      log_.begin(), log_.end(), [kind](const std::string& e) { return FirstWord(e) == kind; }));
}

void RecordingPanel::ClearLog() {
  log_.clear();
  status_history_.clear();
}

}  // namespace pelliton
