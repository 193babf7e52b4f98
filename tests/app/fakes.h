// Test doubles of the Qt window: a presenter that writes into the log the procedures
// (fake_procedures.h) write into, so a test sees the order in which the operator would
// meet things.
#pragma once

#include <QString>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/dialog_presenter.h"
#include "fake_procedures.h"

namespace pelliton::testing {

struct Message {
  MessageIcon icon;
  QString caption;
  QString text;
};

class FakePresenter final : public DialogPresenter {
 public:
  explicit FakePresenter(std::vector<std::string>* log) : log_(log) {}

  void ShowMessage(QWidget*, MessageIcon icon, const QString& caption,
                   const QString& text) override {
    messages.push_back({icon, caption, text});
    log_->push_back("message:" + text.toStdString());
  }
  std::optional<QString> ChooseFile(QWidget*, const QString& qt_filter) override {
    filters.push_back(qt_filter);
    log_->push_back("choose");
    return chosen_file;
  }
  void ShowAbout(QWidget*) override {
    ++about_shown;
    log_->push_back("about");
  }
  void Beep(uint32_t hz, uint32_t ms) override {
    log_->push_back("beep:" + std::to_string(hz) + "/" + std::to_string(ms));
  }

  std::vector<Message> messages;
  std::vector<QString> filters;
  std::optional<QString> chosen_file;
  int about_shown = 0;

 private:
  std::vector<std::string>* log_;
};

}  // namespace pelliton::testing
