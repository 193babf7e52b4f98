// Start-up of the tool: one application object, one modal UpgradeDialog, and the process
// ends when the window closes.
#pragma once

#include <QString>
#include <memory>

#include "journal/journal.h"

namespace pelliton {

class DialogPresenter;
class WindowProcedures;

class UpgradeApp {
 public:
  // The arguments are handed to Qt only as far as it needs the program's own path; the
  // tool reads no command-line argument.
  UpgradeApp(int argc, char** argv);
  UpgradeApp(const UpgradeApp&) = delete;
  UpgradeApp& operator=(const UpgradeApp&) = delete;
  ~UpgradeApp();

  // Runs the window modally until it closes and returns the process's exit code (0: the
  // way the window was closed is not looked at). The real presenter is used when none is
  // given.
  int Run(WindowProcedures& procedures, DialogPresenter* presenter = nullptr);

  // The journal of the window's card runs at the default path. When it cannot be opened
  // for writing, says so in a message box (the real presenter when none is given) and
  // returns null: the window then runs without a journal.
  std::unique_ptr<journal::Journal> OpenJournal(DialogPresenter* presenter = nullptr);

  // The executable's file name without its extension: the caption of application
  // message boxes.
  static QString Title();

 private:
  int argc_ = 1;
  char* argv_[2] = {nullptr, nullptr};
  struct Impl;
  Impl* impl_ = nullptr;
};

}  // namespace pelliton
