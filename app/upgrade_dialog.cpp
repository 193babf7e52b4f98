#include "app/upgrade_dialog.h"

#include <QAbstractItemView>
#include <QAction>
#include <QButtonGroup>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QFocusEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTextEdit>
#include <QTextOption>
#include <QWindow>
#include <algorithm>

#include "app/app_icon.h"
#include "app/dialog_presenter.h"
#include "app/window_procedures.h"
#include "engine/counter_rule.h"

namespace pelliton {

namespace {

// The counter box's text is read up to this many characters.
constexpr qsizetype kCounterTextChars = 31;

QString Text(std::string_view text) {
  return FromPanelText(text);
}

QPushButton* MakeButton(QWidget* parent, const char* caption) {
  auto* button = new QPushButton(QString::fromUtf8(caption), parent);
  // No button carries the default role, and Enter on a non-button never presses one.
  button->setAutoDefault(false);
  button->setDefault(false);
  return button;
}

// A reader choice made with the mouse only. Qt gives a group's button a Tab stop each time
// it takes focus, so that the checked one is reachable by keyboard; the window keeps both
// off the Tab chain, so the stop is taken away again.
class ClickOnlyRadioButton final : public QRadioButton {
 public:
  ClickOnlyRadioButton(const QString& text, QWidget* parent) : QRadioButton(text, parent) {
    setFocusPolicy(Qt::ClickFocus);
  }

 protected:
  void focusInEvent(QFocusEvent* event) override {
    QRadioButton::focusInEvent(event);
    setFocusPolicy(Qt::ClickFocus);
  }
};

}  // namespace

UpgradeDialog::UpgradeDialog(WindowProcedures& procedures, DialogPresenter& presenter,
                             QString app_title, QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      procedures_(procedures),
      presenter_(presenter),
      app_title_(std::move(app_title)),
      counter_value_(kCounterAtStart) {
  setFont(DialogFont());
  base_ = BaseUnitsOf(font());
  setWindowTitle(QString::fromUtf8(kWindowCaption));
  setFixedSize(DialogSizeToPixels(kWindowWidthUnits, kWindowHeightUnits, base_));
  setSizeGripEnabled(false);

  BuildControls();
  if (QCoreApplication::instance() != nullptr)
    QCoreApplication::instance()->installEventFilter(this);
  RefreshControls();
  InitWindow();
}

UpgradeDialog::~UpgradeDialog() {
  if (QCoreApplication::instance() != nullptr)
    QCoreApplication::instance()->removeEventFilter(this);
}

void UpgradeDialog::BuildControls() {
  const auto place = [this](QWidget* widget, const QRect& units) {
    widget->setGeometry(DialogRectToPixels(units, base_));
  };

  // Created in keyboard order, which is also Qt's focus chain.
  cancel_ = MakeButton(this, PELLITON_CANCEL_TEXT);
  place(cancel_, QRect(PELLITON_CANCEL_RECT));

  reader_list_ = new QComboBox(this);
  reader_list_->setEditable(false);
  reader_list_->setInsertPolicy(QComboBox::NoInsert);
  {
    // 64 units hold the closed box and its dropped-down list.
    const QRect full = DialogRectToPixels(QRect(PELLITON_READER_LIST_RECT), base_);
    const int closed = std::min(reader_list_->sizeHint().height(), full.height());
    reader_list_->setGeometry(QRect(full.x(), full.y(), full.width(), closed));
    const int row = std::max(1, reader_list_->fontMetrics().height() + 2);
    reader_list_->setMaxVisibleItems(std::max(1, (full.height() - closed) / row));
    reader_list_->view()->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  }

  path_box_ = new QLineEdit(this);
  path_box_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  path_box_->setEnabled(false);  // the operator never types a path
  place(path_box_, QRect(PELLITON_PATH_BOX_RECT));

  reload_ = MakeButton(this, PELLITON_RELOAD_TEXT);
  place(reload_, QRect(PELLITON_RELOAD_RECT));
  browse_ = MakeButton(this, PELLITON_BROWSE_TEXT);
  place(browse_, QRect(PELLITON_BROWSE_RECT));
  download_ = MakeButton(this, PELLITON_DOWNLOAD_TEXT);
  place(download_, QRect(PELLITON_DOWNLOAD_RECT));

  card_info_box_ = new QPlainTextEdit(this);
  card_info_box_->setReadOnly(true);
  card_info_box_->setLineWrapMode(QPlainTextEdit::NoWrap);
  place(card_info_box_, QRect(PELLITON_CARD_INFO_BOX_RECT));
  card_info_box_->hide();

  card_info_ = MakeButton(this, PELLITON_CARD_INFO_TEXT);
  place(card_info_, QRect(PELLITON_CARD_INFO_RECT));

  reader_frame_ = new QGroupBox(QString::fromUtf8(PELLITON_READER_FRAME_TEXT), this);
  reader_frame_->setObjectName(QStringLiteral("readerFrame"));
  place(reader_frame_, QRect(PELLITON_READER_FRAME_RECT));

  status_box_ = new QTextEdit(this);
  status_box_->setReadOnly(true);
  status_box_->setAcceptRichText(false);
  status_box_->setFrameShape(QFrame::NoFrame);
  status_box_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  status_box_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  // Lines are laid out across the box's width so they can be centred, but never wrapped:
  // a long line runs past the edge.
  status_box_->setLineWrapMode(QTextEdit::WidgetWidth);
  {
    QTextOption option = status_box_->document()->defaultTextOption();
    option.setWrapMode(QTextOption::NoWrap);
    option.setAlignment(Qt::AlignHCenter);
    status_box_->document()->setDefaultTextOption(option);
  }
  status_box_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  status_box_->setFocusPolicy(Qt::StrongFocus);
  status_box_->setAutoFillBackground(false);
  status_box_->viewport()->setAutoFillBackground(false);
  place(status_box_, QRect(PELLITON_STATUS_BOX_RECT));

  progress_ = new QProgressBar(this);
  progress_->setOrientation(Qt::Horizontal);
  progress_->setTextVisible(false);
  progress_->setRange(0, 100);
  progress_->setValue(0);
  place(progress_, QRect(PELLITON_PROGRESS_RECT));

  hidden_label_ = new QLabel(this);
  hidden_label_->setTextFormat(Qt::PlainText);
  place(hidden_label_, QRect(PELLITON_HIDDEN_LABEL_RECT));
  hidden_label_->hide();
  hidden_label2_ = new QLabel(this);
  hidden_label2_->setTextFormat(Qt::PlainText);
  place(hidden_label2_, QRect(PELLITON_HIDDEN_LABEL2_RECT));
  hidden_label2_->hide();

  app_frame_ = new QGroupBox(QString::fromUtf8(PELLITON_APP_FRAME_TEXT), this);
  app_frame_->setObjectName(QStringLiteral("appFrame"));
  place(app_frame_, QRect(PELLITON_APP_FRAME_RECT));

  pcsc_radio_ = new ClickOnlyRadioButton(QString::fromUtf8(PELLITON_PCSC_RADIO_TEXT), this);
  place(pcsc_radio_, QRect(PELLITON_PCSC_RADIO_RECT));
  orvo_radio_ = new ClickOnlyRadioButton(QString::fromUtf8(PELLITON_ORVO_RADIO_TEXT), this);
  place(orvo_radio_, QRect(PELLITON_ORVO_RADIO_RECT));
  reader_mode_group_ = new QButtonGroup(this);
  reader_mode_group_->setExclusive(true);
  reader_mode_group_->addButton(pcsc_radio_, kPcscRadio);
  reader_mode_group_->addButton(orvo_radio_, kOrvoRadio);

  counter_label_ = new QLabel(QString::fromUtf8(PELLITON_COUNTER_LABEL_TEXT), this);
  counter_label_->setObjectName(QStringLiteral("counterLabel"));
  counter_label_->setTextFormat(Qt::PlainText);
  counter_label_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  place(counter_label_, QRect(PELLITON_COUNTER_LABEL_RECT));

  counter_box_ = new QLineEdit(this);
  place(counter_box_, QRect(PELLITON_COUNTER_BOX_RECT));

  // Frames sit under the controls they surround, so clicks reach those controls.
  reader_frame_->lower();
  app_frame_->lower();

  const struct {
    QWidget* widget;
    int id;
  } numbered[] = {
      {cancel_, kCancelButton},       {reader_list_, kReaderList},
      {path_box_, kPathBox},          {reload_, kReloadButton},
      {browse_, kBrowseButton},       {download_, kDownloadButton},
      {card_info_box_, kCardInfoBox}, {card_info_, kCardInfoButton},
      {status_box_, kStatusBox},      {progress_, kProgressBar},
      {hidden_label_, kHiddenLabel},  {hidden_label2_, kHiddenLabel2},
      {pcsc_radio_, kPcscRadio},      {orvo_radio_, kOrvoRadio},
      {counter_box_, kCounterBox},
  };
  for (const auto& entry : numbered)
    entry.widget->setObjectName(QStringLiteral("control%1").arg(entry.id));

  QWidget* const tab_order[] = {cancel_,   reader_list_, path_box_,   reload_,     browse_,
                                download_, card_info_,   status_box_, counter_box_};
  for (size_t i = 1; i < std::size(tab_order); ++i)
    QWidget::setTabOrder(tab_order[i - 1], tab_order[i]);

  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
  connect(reload_, &QPushButton::clicked, this,
          [this] { RunProcedure([this] { procedures_.OnPcscReload(*this); }); });
  connect(browse_, &QPushButton::clicked, this,
          [this] { RunProcedure([this] { procedures_.OnBrowseScript(*this); }); });
  connect(download_, &QPushButton::clicked, this,
          [this] { RunProcedure([this] { procedures_.OnDownload(*this); }); });
  connect(card_info_, &QPushButton::clicked, this,
          [this] { RunProcedure([this] { procedures_.GetCardInfo(*this); }); });
  // Only the operator's own choice counts as a selection change, not the procedures'.
  connect(reader_list_, &QComboBox::activated, this,
          [this](int) { RunProcedure([this] { procedures_.OnReaderSelChange(*this); }); });
  connect(reader_mode_group_, &QButtonGroup::idClicked, this, [this](int id) {
    RunProcedure([this, id] { procedures_.OnReaderModeClicked(*this, id); });
  });

  system_menu_ = new QMenu(this);
}

void UpgradeDialog::InitWindow() {
  AddAboutEntry();
  setWindowIcon(AppIcon());
  orvo_radio_->setChecked(true);
  // The transport follows the checked button from the start, whatever it was before.
  procedures_.OnReaderModeClicked(*this, kOrvoRadio);
  reader_list_->setEnabled(false);
  reload_->setEnabled(false);
  procedures_.ReloadReaderList(*this);
  cancel_->setFocus(Qt::OtherFocusReason);
}

void UpgradeDialog::AddAboutEntry() {
  const QString entry = QString::fromUtf8(kAboutEntryText);
  if (entry.isEmpty())
    return;
  system_menu_->addSeparator();
  about_action_ = system_menu_->addAction(entry);
  about_action_->setData(kAboutCommand);
  connect(about_action_, &QAction::triggered, this, [this] { OnSystemCommand(kAboutCommand); });
}

void UpgradeDialog::OnSystemCommand(int command) {
  if ((command & ~0xF) == kAboutCommand)
    presenter_.ShowAbout(this);
}

QWidget* UpgradeDialog::Control(int control_id) const {
  if (control_id == kCancelButton || (control_id >= 1000 && control_id < 1100))
    return findChild<QWidget*>(QStringLiteral("control%1").arg(control_id),
                               Qt::FindDirectChildrenOnly);
  return nullptr;
}

void UpgradeDialog::RefreshControls() {
  path_box_->setText(Text(script_path_));
  card_info_box_->setPlainText(Text(card_info_text_));
  status_box_->setPlainText(Text(status_text_));
  hidden_label_->setText(Text(hidden_label_text_));
  counter_box_->setText(QString::number(counter_value_));
  RepaintIfRunning(status_box_->viewport());
}

bool UpgradeDialog::ReadControls() {
  script_path_ = ToPanelText(path_box_->text());
  card_info_text_ = ToPanelText(card_info_box_->toPlainText());
  status_text_ = ToPanelText(status_box_->toPlainText());
  hidden_label_text_ = ToPanelText(hidden_label_->text());
  const std::string counter_text = counter_box_->text().left(kCounterTextChars).toStdString();
  const CounterParse parse = ParseCounterText(counter_text, &counter_value_);
  if (parse == CounterParse::kOk) {
    return true;
  }
  CounterFailed(CounterFailureMessage(parse));
  return false;
}

void UpgradeDialog::CounterFailed(const std::string& message) {
  AppMessageBox(message);
  counter_box_->setFocus(Qt::OtherFocusReason);
  counter_box_->selectAll();
}

void UpgradeDialog::SetStatusBoxText(const std::string& text) {
  status_box_->setPlainText(Text(text));
  RepaintIfRunning(status_box_->viewport());
}

void UpgradeDialog::Beep(uint32_t frequency_hz, uint32_t duration_ms) {
  presenter_.Beep(frequency_hz, duration_ms);
}

void UpgradeDialog::ReaderListClear() {
  reader_list_->clear();
}

void UpgradeDialog::ReaderListInsert(int index, const std::string& name) {
  // -1 appends; any other index outside the list is refused, as a list control does.
  if (index == -1)
    index = reader_list_->count();
  if (index < 0 || index > reader_list_->count())
    return;
  const bool was_empty = reader_list_->count() == 0;
  reader_list_->insertItem(index, Text(name));
  // A list control selects nothing by itself; Qt selects the first entry added.
  if (was_empty)
    reader_list_->setCurrentIndex(-1);
}

void UpgradeDialog::ReaderListSelect(int index) {
  reader_list_->setCurrentIndex(index >= 0 && index < reader_list_->count() ? index : -1);
}

std::string UpgradeDialog::ReaderListCurrentText() {
  return reader_list_->currentIndex() < 0 ? std::string()
                                          : reader_list_->currentText().toStdString();
}

void UpgradeDialog::EnableControl(int control_id, bool enabled) {
  QWidget* control = Control(control_id);
  if (control != nullptr)
    control->setEnabled(enabled);
}

void UpgradeDialog::SetProgressRange(int lower, int upper) {
  progress_->setRange(lower, std::max(lower, upper));
  RepaintIfRunning(progress_);
}

void UpgradeDialog::SetProgressPos(int position) {
  // Positions outside the range stop at its ends instead of being ignored.
  progress_->setValue(std::clamp(position, progress_->minimum(), progress_->maximum()));
  RepaintIfRunning(progress_);
}

void UpgradeDialog::RepaintNow() {
  // Paints at once without running the event loop, so no input is taken meanwhile.
  repaint();
}

void UpgradeDialog::RepaintIfRunning(QWidget* widget) {
  if (procedure_running_ && widget->isVisible())
    widget->repaint();
}

void UpgradeDialog::WindowMessageBox(const std::string& text) {
  presenter_.ShowMessage(this, MessageIcon::kStop, QString::fromUtf8(kInformationCaption),
                         Text(text));
}

void UpgradeDialog::AppMessageBox(const std::string& text) {
  presenter_.ShowMessage(this, MessageIcon::kExclamation, app_title_, Text(text));
}

std::optional<std::string> UpgradeDialog::ChooseScriptFile(const std::string& filter) {
  std::optional<QString> chosen = presenter_.ChooseFile(this, ToQtFileFilter(filter));
  if (!chosen)
    return std::nullopt;
  return chosen->toStdString();
}

void UpgradeDialog::ShowScriptPath(const std::string& path) {
  path_box_->setText(Text(path));
  path_box_->end(false);
  path_box_->setFocus(Qt::OtherFocusReason);
}

void UpgradeDialog::SetPathBoxText(const std::string& path) {
  path_box_->setText(Text(path));
}

void UpgradeDialog::RunProcedure(const std::function<void()>& procedure) {
  if (procedure_running_)
    return;
  procedure_running_ = true;
  procedure();
  // Deliver, and so drop, the input that queued up while the procedure held the thread.
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents();
  procedure_running_ = false;
}

bool UpgradeDialog::IsOwnInput(QObject* watched, QEvent* event) const {
  switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
    case QEvent::Close:
      break;
    default:
      return false;
  }
  if (watched == this)
    return true;
  if (watched->isWidgetType())
    return static_cast<QWidget*>(watched)->window() == this;
  if (watched->isWindowType())
    return watched == windowHandle();
  return false;
}

bool UpgradeDialog::eventFilter(QObject* watched, QEvent* event) {
  // Message boxes and file dialogs are windows of their own and keep their input.
  if (procedure_running_ && IsOwnInput(watched, event)) {
    event->ignore();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

void UpgradeDialog::keyPressEvent(QKeyEvent* event) {
  const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
  if (mods == Qt::NoModifier) {
    switch (event->key()) {
      case Qt::Key_Enter:
      case Qt::Key_Return:
        if (auto* button = qobject_cast<QPushButton*>(focusWidget())) {
          if (button->isEnabled())
            button->click();
        } else if (ReadControls()) {
          accept();
        }
        event->accept();
        return;
      case Qt::Key_Escape:
        reject();
        event->accept();
        return;
      default:
        break;
    }
  }
  QDialog::keyPressEvent(event);
}

void UpgradeDialog::contextMenuEvent(QContextMenuEvent* event) {
  system_menu_->exec(event->globalPos());
  event->accept();
}

void UpgradeDialog::closeEvent(QCloseEvent* event) {
  if (procedure_running_) {
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

void UpgradeDialog::showEvent(QShowEvent* event) {
  if (!placed_ && parentWidget() == nullptr && screen() != nullptr) {
    placed_ = true;
    QRect frame = frameGeometry();
    frame.moveCenter(screen()->availableGeometry().center());
    move(frame.topLeft());
  }
  QDialog::showEvent(event);
}

}  // namespace pelliton
