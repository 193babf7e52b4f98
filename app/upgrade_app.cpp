#include "app/upgrade_app.h"

#include <QApplication>
#include <QFileInfo>
#include <memory>
#include <string>

#include "app/app_icon.h"
#include "app/dialog_presenter.h"
#include "app/engine_procedures.h"
#include "app/upgrade_dialog.h"

namespace pelliton {

namespace {
char kFallbackName[] = "pelliton";
}  // namespace

struct UpgradeApp::Impl {
  explicit Impl(int& argc, char** argv) : app(argc, argv) {}
  QApplication app;
};

UpgradeApp::UpgradeApp(int argc, char** argv) {
  // Only the program name goes to Qt, so no argument changes what the tool does.
  argv_[0] = (argc > 0 && argv != nullptr && argv[0] != nullptr) ? argv[0] : kFallbackName;
  argc_ = 1;
  impl_ = new Impl(argc_, argv_);
  QApplication::setWindowIcon(AppIcon());
}

UpgradeApp::~UpgradeApp() {
  delete impl_;
}

QString UpgradeApp::Title() {
  return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

std::unique_ptr<journal::Journal> UpgradeApp::OpenJournal(DialogPresenter* presenter) {
  std::string message;
  std::unique_ptr<journal::Journal> journal = OpenWindowJournal(&message);
  if (!message.empty()) {
    QtDialogPresenter real_presenter;
    DialogPresenter& used = presenter != nullptr ? *presenter : real_presenter;
    used.ShowMessage(nullptr, MessageIcon::kExclamation, Title(), FromPanelText(message));
  }
  return journal;
}

int UpgradeApp::Run(WindowProcedures& procedures, DialogPresenter* presenter) {
  QtDialogPresenter real_presenter;
  DialogPresenter& used = presenter != nullptr ? *presenter : real_presenter;
  auto dialog = std::make_unique<UpgradeDialog>(procedures, used, Title());
  dialog->exec();
  return 0;
}

}  // namespace pelliton
