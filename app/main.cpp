// The tool's executable. The procedures here are placeholders until the card procedures
// are wired in: they only keep the reader controls' states and say so in the status box.
#include "app/upgrade_app.h"
#include "app/window_procedures.h"

namespace {

class PlaceholderProcedures final : public pelliton::WindowProcedures {
 public:
  void OnBrowseScript(pelliton::OperatorPanel& panel) override { NotYet(panel); }
  void OnDownload(pelliton::OperatorPanel& panel) override { NotYet(panel); }
  void GetCardInfo(pelliton::OperatorPanel& panel) override { NotYet(panel); }
  void ReloadReaderList(pelliton::OperatorPanel&) override {}
  void OnPcscReload(pelliton::OperatorPanel& panel) override { NotYet(panel); }
  void OnReaderSelChange(pelliton::OperatorPanel&) override {}
  void OnReaderModeClicked(pelliton::OperatorPanel& panel, int id) override {
    const bool pcsc = id == pelliton::kPcscRadio;
    panel.EnableControl(pelliton::kReaderList, pcsc);
    panel.EnableControl(pelliton::kReloadButton, pcsc);
  }

 private:
  static void NotYet(pelliton::OperatorPanel& panel) {
    panel.ReadControls();
    panel.StatusText() = "\r\n\r\nCard procedures are not built into this version.";
    panel.RefreshControls();
  }
};

}  // namespace

int main(int argc, char** argv) {
  pelliton::UpgradeApp app(argc, argv);
  PlaceholderProcedures procedures;
  return app.Run(procedures);
}
