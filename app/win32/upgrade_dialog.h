// The tool's one window on Windows: the dialog template IDD_UPGRADE of pelliton.rc run by
// the system's dialog manager. It is the OperatorPanel the procedures report through and
// forwards every button to WindowProcedures, as the Qt window does on Linux.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "app/window_layout.h"
#include "app/window_procedures.h"
#include "engine/operator_panel.h"

namespace pelliton::win32 {

enum class MessageIcon { kStop, kExclamation };

// What the window shows on top of itself and sounds. Tests record these instead of
// waiting for a click or a sound.
class Presenter {
 public:
  virtual ~Presenter() = default;
  // A modal box owned by owner with an OK button.
  virtual void ShowMessage(HWND owner, MessageIcon icon, const std::wstring& caption,
                           const std::wstring& text) = 0;
  // One existing file, or nullopt when the dialog was closed without one. filter is in
  // the system's form: label and pattern pairs, each ended by a NUL, then one more NUL.
  virtual std::optional<std::wstring> ChooseFile(HWND owner, const std::wstring& filter) = 0;
  // The about box, modal, centred over owner.
  virtual void ShowAbout(HWND owner) = 0;
  // Blocks for the tone's duration.
  virtual void Beep(uint32_t frequency_hz, uint32_t duration_ms) = 0;
};

// MessageBoxW, GetOpenFileNameW, the about box of pelliton.rc and the system's Beep.
class SystemPresenter final : public Presenter {
 public:
  void ShowMessage(HWND owner, MessageIcon icon, const std::wstring& caption,
                   const std::wstring& text) override;
  std::optional<std::wstring> ChooseFile(HWND owner, const std::wstring& filter) override;
  void ShowAbout(HWND owner) override;
  void Beep(uint32_t frequency_hz, uint32_t duration_ms) override;
};

// The procedures' texts are UTF-8 (the process's code page, set by the manifest); the
// controls take UTF-16. Bytes that are not UTF-8 become U+FFFD rather than vanish.
std::wstring Widen(std::string_view text);
std::string Narrow(std::wstring_view text);
// "label|pattern|label|pattern||" into the system's NUL-separated filter; an empty or
// unpaired filter offers every file.
std::wstring ToSystemFilter(std::string_view filter);
// The executable's file name without its extension.
std::wstring ModuleTitle(HMODULE module);

class UpgradeDialog final : public OperatorPanel {
 public:
  // app_title is the caption of application message boxes. The dialog's template and
  // icon are taken from `resources` (the executable when null).
  UpgradeDialog(WindowProcedures& procedures, Presenter& presenter, std::wstring app_title,
                HINSTANCE resources = nullptr);
  ~UpgradeDialog() override;
  UpgradeDialog(const UpgradeDialog&) = delete;
  UpgradeDialog& operator=(const UpgradeDialog&) = delete;

  // Runs the window modally until it closes; returns how it was closed (IDOK, IDCANCEL),
  // or -1 when the window could not be made.
  INT_PTR RunModal();
  // Makes the window without a loop of its own, for a caller that runs one (tests): the
  // window is initialised and shown, as in RunModal. Null when it could not be made.
  HWND Create();
  HWND Window() const { return hwnd_; }
  // True once the window has closed; Result() then says how.
  bool Closed() const { return closed_; }
  INT_PTR Result() const { return result_; }
  bool ProcedureRunning() const { return procedure_running_; }

  // OperatorPanel.
  std::string& StatusText() override { return status_text_; }
  void RefreshControls() override;
  void SetStatusBoxText(const std::string& text) override;
  void Beep(uint32_t frequency_hz, uint32_t duration_ms) override;
  void ReaderListClear() override;
  void ReaderListInsert(int index, const std::string& name) override;
  void ReaderListSelect(int index) override;
  std::string ReaderListCurrentText() override;
  void EnableControl(int control_id, bool enabled) override;
  std::string& ScriptPath() override { return script_path_; }
  uint32_t& CounterValue() override { return counter_value_; }
  std::string& CardInfoText() override { return card_info_text_; }
  std::string& HiddenLabelText() override { return hidden_label_text_; }
  bool ReadControls() override;
  void SetProgressRange(int lower, int upper) override;
  void SetProgressPos(int position) override;
  void RepaintNow() override;
  void WindowMessageBox(const std::string& text) override;
  void AppMessageBox(const std::string& text) override;
  std::optional<std::string> ChooseScriptFile(const std::string& filter) override;
  void ShowScriptPath(const std::string& path) override;
  void SetPathBoxText(const std::string& path) override;

 private:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  INT_PTR Handle(UINT message, WPARAM wparam, LPARAM lparam);
  void InitWindow();
  void OnCommand(int id, int code);
  // Runs one procedure, then drops the keys and clicks that queued up meanwhile, so an
  // impatient second click does not start it again afterwards.
  void RunProcedure(const std::function<void()>& procedure);
  void KeepRadiosOffTabChain();
  void Close(INT_PTR result);
  void PaintMinimised();
  void CounterFailed(const std::string& message);
  void RepaintIfRunning(HWND control);
  HWND Item(int id) const { return GetDlgItem(hwnd_, id); }
  std::wstring ItemText(int id, int max_chars = -1) const;

  WindowProcedures& procedures_;
  Presenter& presenter_;
  const std::wstring app_title_;
  HINSTANCE resources_;
  HICON icon_ = nullptr;        // the system's icon size
  HICON small_icon_ = nullptr;  // the small icon size
  HWND hwnd_ = nullptr;
  bool modal_ = false;
  bool closed_ = false;
  INT_PTR result_ = 0;
  bool procedure_running_ = false;

  // Fields bound to controls.
  std::string script_path_;
  std::string card_info_text_;
  std::string status_text_;
  std::string hidden_label_text_;
  uint32_t counter_value_;
};

}  // namespace pelliton::win32
