// Picture of the tool after a download, for the documentation:
//   pelliton_screenshot SCRIPT OUTPUT.png
// Builds the same window over the same procedures as the tool, chooses the PC/SC
// transport, takes SCRIPT where the file dialog would have asked, runs the download and
// saves the window as it then looks. Message boxes are written to stderr instead of
// waiting for a click nobody will make. Exit status 0 only when the download succeeded
// and the picture was saved. Run it where a PC/SC reader holds a card (scripts/screenshot
// does this inside the pcscd test rig with tessiv-sim).
#include <QApplication>
#include <QCoreApplication>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTextEdit>
#include <cstdio>
#include <optional>

#include "app/dialog_presenter.h"
#include "app/engine_procedures.h"
#include "app/upgrade_app.h"
#include "app/upgrade_dialog.h"
#include "cardaccess/card_access.h"
#include "cardaccess/orvo_api.h"
#include "cardaccess/pcsc_api.h"
#include "engine/pauser.h"

namespace pelliton {
namespace {

// The tool's own presenter, except that the file dialog answers with a preset file and
// message boxes are reported instead of shown.
class PresetPresenter final : public DialogPresenter {
 public:
  explicit PresetPresenter(QString script) : script_(std::move(script)) {}

  void ShowMessage(QWidget*, MessageIcon, const QString& caption, const QString& text) override {
    ++messages;
    std::fprintf(stderr, "message box \"%s\": %s\n", caption.toLocal8Bit().constData(),
                 text.toLocal8Bit().constData());
  }
  std::optional<QString> ChooseFile(QWidget*, const QString&) override { return script_; }
  void ShowAbout(QWidget*) override {}
  void Beep(uint32_t frequency_hz, uint32_t duration_ms) override {
    real_.Beep(frequency_hz, duration_ms);
  }

  int messages = 0;

 private:
  QString script_;
  QtDialogPresenter real_;
};

void Click(UpgradeDialog& dialog, int id) {
  if (auto* button = qobject_cast<QAbstractButton*>(dialog.Control(id)))
    button->click();
}

int Run(const QString& script, const QString& output) {
  SystemPcsc pcsc;
  SystemOrvo orvo;
  CardAccess card(pcsc, orvo);
  RealPauser pauser;
  EngineProcedures procedures(card, pauser);
  PresetPresenter presenter(script);
  UpgradeDialog dialog(procedures, presenter, UpgradeApp::Title());
  dialog.show();
  QCoreApplication::processEvents();

  Click(dialog, kPcscRadio);
  Click(dialog, kBrowseButton);
  Click(dialog, kDownloadButton);
  QCoreApplication::processEvents();

  auto* status = qobject_cast<QTextEdit*>(dialog.Control(kStatusBox));
  auto* progress = qobject_cast<QProgressBar*>(dialog.Control(kProgressBar));
  const QString text = status != nullptr ? status->toPlainText() : QString();
  const bool done = presenter.messages == 0 && text.trimmed() == "Download APP Successfull!" &&
                    progress != nullptr && progress->value() == progress->maximum();
  if (!done) {
    std::fprintf(stderr, "the download did not succeed; status box: %s\n",
                 text.toLocal8Bit().constData());
  }
  const QPixmap picture = dialog.grab();
  if (picture.isNull() || !picture.save(output, "PNG")) {
    std::fprintf(stderr, "could not save %s\n", output.toLocal8Bit().constData());
    return 1;
  }
  return done ? 0 : 1;
}

}  // namespace
}  // namespace pelliton

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s SCRIPT OUTPUT.png\n",
                 argc > 0 ? argv[0] : "pelliton_screenshot");
    return 2;
  }
  return pelliton::Run(QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]));
}
