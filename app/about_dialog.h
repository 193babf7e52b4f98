// The about box: the icon, the tool's title line and an OK button.
#pragma once

#include <QDialog>

#include "app/window_layout.h"

class QLabel;
class QPushButton;

namespace pelliton {

inline constexpr const char* kAboutCaption = PELLITON_ABOUT_CAPTION;
inline constexpr const char* kToolTitle = PELLITON_TOOL_TITLE;

class AboutDialog : public QDialog {
 public:
  explicit AboutDialog(QWidget* parent = nullptr);

  QLabel* IconLabel() const { return icon_; }
  QLabel* TitleLabel() const { return title_; }
  QPushButton* OkButton() const { return ok_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QLabel* icon_ = nullptr;
  QLabel* title_ = nullptr;
  QPushButton* ok_ = nullptr;
  bool placed_ = false;
};

}  // namespace pelliton
