// What the window shows on top of itself and sounds: message boxes, the file-open dialog,
// the about box and tones. The window reaches them only through this interface, so tests
// record them instead of waiting for a click or a sound.
#pragma once

#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

class QFileDialog;
class QWidget;

namespace pelliton {

enum class MessageIcon { kStop, kExclamation };

class DialogPresenter {
 public:
  virtual ~DialogPresenter() = default;

  // A modal box owned by owner, with the icon, caption and text given and an OK button.
  virtual void ShowMessage(QWidget* owner, MessageIcon icon, const QString& caption,
                           const QString& text) = 0;
  // One existing file, or nullopt when the operator closed the dialog without one.
  // qt_filter is in Qt's "Label (patterns);;Label (patterns)" form.
  virtual std::optional<QString> ChooseFile(QWidget* owner, const QString& qt_filter) = 0;
  // The about box, modal, centred over owner.
  virtual void ShowAbout(QWidget* owner) = 0;
  // Blocks for the tone's duration.
  virtual void Beep(uint32_t frequency_hz, uint32_t duration_ms) = 0;
};

// The real thing: QMessageBox, QFileDialog, AboutDialog and PlayTone.
class QtDialogPresenter final : public DialogPresenter {
 public:
  void ShowMessage(QWidget* owner, MessageIcon icon, const QString& caption,
                   const QString& text) override;
  std::optional<QString> ChooseFile(QWidget* owner, const QString& qt_filter) override;
  void ShowAbout(QWidget* owner) override;
  void Beep(uint32_t frequency_hz, uint32_t duration_ms) override;
};

// The file-open dialog ChooseFile shows, owned by owner: existing files only, with one
// entry per filter of qt_filter that shows the label alone (the part before the last
// parenthesised pattern list) and lists the files its patterns match.
std::unique_ptr<QFileDialog> MakeOpenFileDialog(QWidget* owner, const QString& qt_filter);

// Turns a "label|pattern|label|pattern||" filter into Qt's form. "*.*" becomes "*" (every
// file, as the label promises); an unpaired trailing label is dropped; an empty or
// unusable filter offers every file.
QString ToQtFileFilter(std::string_view filter);

// Texts of the procedures break lines with "\r\n"; the widgets want "\n" alone.
QString FromPanelText(std::string_view text);
// And back: "\n" becomes "\r\n" again, so a text survives a round trip through a control.
std::string ToPanelText(const QString& text);

}  // namespace pelliton
