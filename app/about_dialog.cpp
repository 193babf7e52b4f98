#include "app/about_dialog.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include "app/app_icon.h"
#include "app/dialog_units.h"

namespace pelliton {

AboutDialog::AboutDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
  setFont(DialogFont());
  const DialogBaseUnits base = BaseUnitsOf(font());
  setWindowTitle(QString::fromUtf8(kAboutCaption));
  setWindowIcon(AppIcon());
  setFixedSize(DialogSizeToPixels(PELLITON_ABOUT_WIDTH, PELLITON_ABOUT_HEIGHT, base));

  icon_ = new QLabel(this);
  icon_->setObjectName(QStringLiteral("aboutIcon"));
  icon_->setGeometry(DialogRectToPixels(QRect(PELLITON_ABOUT_ICON_RECT), base));
  icon_->setAlignment(Qt::AlignCenter);
  icon_->setPixmap(AppIcon().pixmap(icon_->size().boundedTo(QSize(kAppIconSize, kAppIconSize))));

  title_ = new QLabel(this);
  title_->setObjectName(QStringLiteral("aboutTitle"));
  // Plain text: an ampersand would be shown, never taken as a mnemonic.
  title_->setTextFormat(Qt::PlainText);
  title_->setText(QString::fromUtf8(kToolTitle));
  title_->setGeometry(DialogRectToPixels(QRect(PELLITON_ABOUT_TITLE_RECT), base));

  ok_ = new QPushButton(QString::fromUtf8(PELLITON_ABOUT_OK_TEXT), this);
  ok_->setObjectName(QStringLiteral("aboutOk"));
  ok_->setGeometry(DialogRectToPixels(QRect(PELLITON_ABOUT_OK_RECT), base));
  ok_->setDefault(true);
  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
}

void AboutDialog::showEvent(QShowEvent* event) {
  if (!placed_) {
    placed_ = true;
    const QWidget* owner = parentWidget() != nullptr ? parentWidget()->window() : nullptr;
    const QRect over = owner != nullptr      ? owner->frameGeometry()
                       : screen() != nullptr ? screen()->availableGeometry()
                                             : QRect();
    if (over.isValid()) {
      QRect mine = frameGeometry();
      mine.moveCenter(over.center());
      move(mine.topLeft());
    }
  }
  QDialog::showEvent(event);
}

}  // namespace pelliton
