#include "app/dialog_presenter.h"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>
#include <memory>
#include <string>

#include "app/about_dialog.h"
#include "app/tone.h"

namespace pelliton {

void QtDialogPresenter::ShowMessage(QWidget* owner, MessageIcon icon, const QString& caption,
                                    const QString& text) {
  QMessageBox box(icon == MessageIcon::kStop ? QMessageBox::Critical : QMessageBox::Warning,
                  caption, text, QMessageBox::Ok, owner);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

std::optional<QString> QtDialogPresenter::ChooseFile(QWidget* owner, const QString& qt_filter) {
  const std::unique_ptr<QFileDialog> dialog = MakeOpenFileDialog(owner, qt_filter);
  if (dialog->exec() != QDialog::Accepted)
    return std::nullopt;
  const QString path = dialog->selectedFiles().value(0);
  if (path.isEmpty())
    return std::nullopt;
  return QDir::toNativeSeparators(path);
}

std::unique_ptr<QFileDialog> MakeOpenFileDialog(QWidget* owner, const QString& qt_filter) {
  auto dialog = std::make_unique<QFileDialog>(owner);
  dialog->setAcceptMode(QFileDialog::AcceptOpen);
  dialog->setFileMode(QFileDialog::ExistingFile);
  // Qt's own dialog, whose entries show the labels alone; a desktop's dialog would cut a
  // label at its first parenthesis or add the patterns after it.
  dialog->setOption(QFileDialog::DontUseNativeDialog);
  dialog->setOption(QFileDialog::HideNameFilterDetails);
  dialog->setNameFilter(qt_filter);
  return dialog;
}

void QtDialogPresenter::ShowAbout(QWidget* owner) {
  AboutDialog about(owner);
  about.exec();
}

void QtDialogPresenter::Beep(uint32_t frequency_hz, uint32_t duration_ms) {
  PlayTone(frequency_hz, duration_ms);
}

QString ToQtFileFilter(std::string_view filter) {
  const QStringList parts = QString::fromUtf8(filter.data(), static_cast<qsizetype>(filter.size()))
                                .split(QLatin1Char('|'));
  QStringList entries;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    const QString& label = parts[i];
    // An empty label or pattern is the "||" that ends the list.
    if (label.isEmpty() || parts[i + 1].isEmpty())
      break;
    QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (QString& pattern : patterns) {
      pattern = pattern.trimmed();
      if (pattern == QLatin1String("*.*"))
        pattern = QStringLiteral("*");
    }
    patterns.removeAll(QString());
    if (patterns.isEmpty())
      continue;
    entries << label + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
  }
  if (entries.isEmpty())
    return QStringLiteral("All Files (*)");
  return entries.join(QStringLiteral(";;"));
}

QString FromPanelText(std::string_view text) {
  QString result = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  result.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  result.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return result;
}

std::string ToPanelText(const QString& text) {
  QString result = text;
  result.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
  return result.toStdString();
}

}  // namespace pelliton
