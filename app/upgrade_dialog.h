// The tool's one window: transport choice, reader list, script path, counter, the two
// procedures' buttons, the status box and the progress bar. It is the OperatorPanel the
// procedures report through, and it forwards every button to WindowProcedures.
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "app/dialog_units.h"
#include "app/window_layout.h"
#include "engine/operator_panel.h"

class QAction;
class QButtonGroup;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTextEdit;

namespace pelliton {

class DialogPresenter;
class WindowProcedures;

inline constexpr const char* kWindowCaption = PELLITON_WINDOW_CAPTION;
inline constexpr const char* kInformationCaption = PELLITON_INFORMATION_CAPTION;
// Text of the about entry in the window's menu; the entry's command value is kAboutCommand.
inline constexpr const char* kAboutEntryText = PELLITON_ABOUT_ENTRY_TEXT;
inline constexpr int kAboutCommand = PELLITON_ABOUT_COMMAND;
// Size of the window's client area in dialog units.
inline constexpr int kWindowWidthUnits = PELLITON_WINDOW_WIDTH;
inline constexpr int kWindowHeightUnits = PELLITON_WINDOW_HEIGHT;

class UpgradeDialog : public QDialog, public OperatorPanel {
 public:
  // app_title is the caption of application message boxes. Builds every control, shows
  // the fields in them and initialises the window, which runs procedures.ReloadReaderList.
  UpgradeDialog(WindowProcedures& procedures, DialogPresenter& presenter, QString app_title,
                QWidget* parent = nullptr);
  ~UpgradeDialog() override;

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

  // The control with that number, or nullptr. The unnumbered ones are found by object
  // name: "readerFrame", "appFrame", "counterLabel".
  QWidget* Control(int control_id) const;
  // The window's own menu (its context menu here), ending with the about entry.
  QMenu* SystemMenu() const { return system_menu_; }
  // Runs a command of the window's menu: the about box for kAboutCommand.
  void OnSystemCommand(int command);
  // The dialog units the layout was made with.
  DialogBaseUnits BaseUnits() const { return base_; }
  // True while a procedure started from the window runs.
  bool ProcedureRunning() const { return procedure_running_; }
  const QString& AppTitle() const { return app_title_; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildControls();
  void InitWindow();
  void AddAboutEntry();
  // Runs one procedure with the window deaf to input, and drops whatever input arrived
  // meanwhile, so an impatient second click does not start it again afterwards.
  void RunProcedure(const std::function<void()>& procedure);
  bool IsOwnInput(QObject* watched, QEvent* event) const;
  void CounterFailed(const std::string& message);
  void RepaintIfRunning(QWidget* widget);

  WindowProcedures& procedures_;
  DialogPresenter& presenter_;
  const QString app_title_;
  DialogBaseUnits base_;

  // Fields bound to controls.
  std::string script_path_;
  std::string card_info_text_;
  std::string status_text_;
  std::string hidden_label_text_;
  uint32_t counter_value_;

  QPushButton* cancel_ = nullptr;
  QComboBox* reader_list_ = nullptr;
  QLineEdit* path_box_ = nullptr;
  QPushButton* reload_ = nullptr;
  QPushButton* browse_ = nullptr;
  QPushButton* download_ = nullptr;
  QPlainTextEdit* card_info_box_ = nullptr;
  QPushButton* card_info_ = nullptr;
  QGroupBox* reader_frame_ = nullptr;
  QTextEdit* status_box_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QLabel* hidden_label_ = nullptr;
  QLabel* hidden_label2_ = nullptr;
  QGroupBox* app_frame_ = nullptr;
  QRadioButton* pcsc_radio_ = nullptr;
  QRadioButton* orvo_radio_ = nullptr;
  QLabel* counter_label_ = nullptr;
  QLineEdit* counter_box_ = nullptr;
  QButtonGroup* reader_mode_group_ = nullptr;
  QMenu* system_menu_ = nullptr;
  QAction* about_action_ = nullptr;

  bool procedure_running_ = false;
  bool placed_ = false;
};

}  // namespace pelliton
