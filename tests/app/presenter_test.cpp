#include "app/dialog_presenter.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <memory>
#include <optional>

namespace pelliton {
namespace {

TEST(FileFilterTest, PipeListBecomesQtFilterAndTheDialogShowsTheLabels) {
  const struct {
    const char* filter;
    const char* qt;
    const char* shown;  // the entries of the file dialog's type box, "|" between
  } cases[] = {
      {"APP files(*.bin)|*.bin|All Files (*.*)|*.*||",
       "APP files(*.bin) (*.bin);;All Files (*.*) (*)", "APP files(*.bin)|All Files (*.*)"},
      {"Scripts|*.bin;*.txt||", "Scripts (*.bin *.txt)", "Scripts"},
      {"Lonely label", "All Files (*)", "All Files"},
      {"A|*.a|Dangling", "A (*.a)", "A"},
      {"", "All Files (*)", "All Files"},
      {"||", "All Files (*)", "All Files"},
      {"Empty pattern||B|*.b||", "All Files (*)", "All Files"},
      {"Empty||", "All Files (*)", "All Files"},
      {"A|*.a||B|*.b", "A (*.a)", "A"},  // "||" ends the list
  };
  for (const auto& c : cases) {
    const QString qt = ToQtFileFilter(c.filter);
    EXPECT_EQ(qt, QString::fromUtf8(c.qt)) << c.filter;
    const std::unique_ptr<QFileDialog> dialog = MakeOpenFileDialog(nullptr, qt);
    const auto* types = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
    ASSERT_NE(types, nullptr);
    QStringList shown;
    for (int i = 0; i < types->count(); ++i)
      shown << types->itemText(i);
    EXPECT_EQ(shown.join(QLatin1Char('|')).toStdString(), c.shown) << c.filter;
  }
}

TEST(FileFilterTest, ChooseFileAnswersWithTheFileTakenInTheDialog) {
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  const QString script = folder.filePath(QStringLiteral("app.bin"));
  QFile file(script);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.close();
  QtDialogPresenter presenter;
  for (const bool take : {true, false}) {
    QTimer::singleShot(0, [&] {
      auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      auto* dialog = qobject_cast<QFileDialog*>(modal);
      EXPECT_NE(dialog, nullptr);
      if (dialog != nullptr)
        dialog->selectFile(script);
      if (modal != nullptr)
        take ? modal->accept() : modal->reject();
    });
    const std::optional<QString> chosen =
        presenter.ChooseFile(nullptr, ToQtFileFilter("A|*.bin||"));
    EXPECT_EQ(chosen, take ? std::optional(QDir::toNativeSeparators(script)) : std::nullopt);
  }
}

TEST(PanelTextTest, LineBreaksConvertBothWays) {
  const struct {
    const char* panel;
    const char* widget;
    const char* back;
  } cases[] = {
      {"\r\n\r\nAPP Loading......", "\n\nAPP Loading......", "\r\n\r\nAPP Loading......"},
      {"a\nb", "a\nb", "a\r\nb"},
      {"a\rb", "a\nb", "a\r\nb"},
      {"", "", ""},
      {"“请填入一个正整数。”", "“请填入一个正整数。”", "“请填入一个正整数。”"},
  };
  for (const auto& c : cases) {
    const QString shown = FromPanelText(c.panel);
    EXPECT_EQ(shown, QString::fromUtf8(c.widget)) << c.panel;
    EXPECT_EQ(ToPanelText(shown), c.back) << c.panel;
  }
  // Bytes that are not UTF-8 are shown as replacement characters, never crash.
  EXPECT_FALSE(FromPanelText(std::string_view("\xff\xfe\x80", 3)).isEmpty());
}

}  // namespace
}  // namespace pelliton
