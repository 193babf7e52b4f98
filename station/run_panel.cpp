#include "station/run_panel.h"

#include <algorithm>

#include "engine/counter_rule.h"

namespace pelliton::station {

void RunPanel::StartRun() {
  shown_.clear();
  // Each run starts from an empty box, so that a message equal to the last run's is
  // still told.
  status_box_.clear();
}

void RunPanel::SetPathBoxText(const std::string& path) {
  path_box_ = path;
}

bool RunPanel::ReadControls() {
  script_path_ = path_box_;
  status_text_ = status_box_;
  card_info_text_ = card_info_box_;
  hidden_label_text_ = hidden_label_;
  const CounterParse parse = ParseCounterText(counter_box_, &counter_value_);
  if (parse == CounterParse::kOk) {
    return true;
  }
  Show(CounterFailureMessage(parse));
  return false;
}

void RunPanel::RefreshControls() {
  path_box_ = script_path_;
  counter_box_ = std::to_string(counter_value_);
  card_info_box_ = card_info_text_;
  hidden_label_ = hidden_label_text_;
  ShowInStatusBox(status_text_);
}

void RunPanel::SetStatusBoxText(const std::string& text) {
  ShowInStatusBox(text);
}

// The operator sees a change of the box; the same text again, or an emptied box, is
// nothing new to tell.
void RunPanel::ShowInStatusBox(const std::string& text) {
  if (text == status_box_)
    return;
  status_box_ = text;
  if (!text.empty())
    Show(text);
}

void RunPanel::Show(const std::string& text) {
  shown_.push_back(text);
  if (watcher_ != nullptr)
    watcher_->Shown(text);
}

void RunPanel::ReaderListClear() {
  reader_entries_.clear();
  reader_selection_ = -1;
}

void RunPanel::ReaderListInsert(int index, const std::string& name) {
  if (index == -1 || index == static_cast<int>(reader_entries_.size())) {
    reader_entries_.push_back(name);
  } else if (index >= 0 && index < static_cast<int>(reader_entries_.size())) {
    reader_entries_.insert(reader_entries_.begin() + index, name);
  }
}

void RunPanel::ReaderListSelect(int index) {
  reader_selection_ = index >= 0 && index < static_cast<int>(reader_entries_.size()) ? index : -1;
}

std::string RunPanel::ReaderListCurrentText() {
  return reader_selection_ < 0 ? std::string() : reader_entries_[reader_selection_];
}

void RunPanel::EnableControl(int, bool) {}

void RunPanel::SetProgressRange(int lower, int upper) {
  progress_lower_ = lower;
  progress_upper_ = upper;
  progress_pos_ = std::clamp(progress_pos_, std::min(lower, upper), std::max(lower, upper));
  TellProgress();
}

void RunPanel::SetProgressPos(int position) {
  progress_pos_ = position;
  TellProgress();
}

void RunPanel::TellProgress() {
  if (watcher_ != nullptr)
    watcher_->Progress(progress_lower_, progress_upper_, progress_pos_);
}

std::optional<std::string> RunPanel::ChooseScriptFile(const std::string&) {
  return path_box_;
}

}  // namespace pelliton::station
