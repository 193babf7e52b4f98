// The one interface through which the procedures reach the window. The Qt dialog
// implements it; tests use a recording panel that logs every signal in order.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "cardaccess/access_panel.h"

namespace pelliton {

// File-open dialog filter of the browse button, in the toolkit-neutral
// "label|pattern|label|pattern||" form.
inline constexpr const char* kScriptFileFilter = "APP files(*.bin)|*.bin|All Files (*.*)|*.*||";

class OperatorPanel : public AccessPanel {
 public:
  // Fields bound to controls. StatusText() comes from AccessPanel.
  virtual std::string& ScriptPath() = 0;
  virtual uint32_t& CounterValue() = 0;
  virtual std::string& CardInfoText() = 0;
  virtual std::string& HiddenLabelText() = 0;

  // Controls into fields, counter check included. Shows the counter message
  // itself on failure; callers decide whether to go on.
  virtual bool ReadControls() = 0;

  virtual void SetProgressRange(int lower, int upper) = 0;
  virtual void SetProgressPos(int position) = 0;
  // Repaints the window at once, while the procedure keeps the thread.
  virtual void RepaintNow() = 0;

  // Caption "Information", stop icon, OK.
  virtual void WindowMessageBox(const std::string& text) = 0;
  // Caption the application's title, exclamation icon, OK.
  virtual void AppMessageBox(const std::string& text) = 0;

  // Asks for one existing file; nullopt when the dialog was closed without one.
  virtual std::optional<std::string> ChooseScriptFile(const std::string& filter) = 0;
  // Sets the path box's text, moves its caret to the end and gives it the focus.
  virtual void ShowScriptPath(const std::string& path) = 0;
  // Sets the path box's text only.
  virtual void SetPathBoxText(const std::string& path) = 0;
};

}  // namespace pelliton
