#include "app/upgrade_dialog.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTextEdit>
#include <memory>
#include <ostream>

#include "app/upgrade_app.h"
#include "engine/counter_rule.h"
#include "fakes.h"

namespace pelliton {
namespace {

using testing::FakePresenter;
using testing::FakeProcedures;

const QString kNotANumber = QString::fromUtf8("“请填入一个正整数。”");
const QString kOutOfRange = QString::fromUtf8("“请填入一个在1和5000之间的整数。”");
// What the window does with the procedures while it initialises, in order: the Orvo reader
// becomes the transport, then the reader list is filled.
const std::vector<std::string> kStartLog = {"OnReaderModeClicked:1023", "ReloadReaderList"};

class UpgradeDialogTest : public ::testing::Test {
 protected:
  void SetUp() override { Create(); }

  void Create() {
    dialog.reset();
    log.clear();
    dialog = std::make_unique<UpgradeDialog>(procedures, presenter, QStringLiteral("pelliton"));
  }

  template <typename T>
  T* Get(int id) {
    auto* widget = qobject_cast<T*>(dialog->Control(id));
    EXPECT_NE(widget, nullptr) << "control " << id;
    return widget;
  }
  QLineEdit* Counter() { return Get<QLineEdit>(kCounterBox); }
  QTextEdit* Status() { return Get<QTextEdit>(kStatusBox); }
  QProgressBar* Progress() { return Get<QProgressBar>(kProgressBar); }
  QComboBox* Readers() { return Get<QComboBox>(kReaderList); }

  std::vector<std::string> log;
  FakePresenter presenter{&log};
  FakeProcedures procedures{&log};
  std::unique_ptr<UpgradeDialog> dialog;
};

TEST_F(UpgradeDialogTest, StartsWithOrvoReaderAndListedReaders) {
  EXPECT_EQ(log, kStartLog);
  EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Norvane IC Upgrade Card Tool V33"));
  EXPECT_TRUE(Get<QRadioButton>(kOrvoRadio)->isChecked());
  EXPECT_FALSE(Get<QRadioButton>(kPcscRadio)->isChecked());

  QComboBox* readers = Readers();
  EXPECT_FALSE(readers->isEnabled());
  ASSERT_EQ(readers->count(), 2);
  EXPECT_EQ(readers->itemText(0), QStringLiteral("Reader A 00"));
  EXPECT_EQ(readers->itemText(1), QStringLiteral("Reader B 01"));
  EXPECT_EQ(dialog->ReaderListCurrentText(), "Reader A 00");

  EXPECT_FALSE(dialog->Control(kReloadButton)->isEnabled());
  EXPECT_FALSE(dialog->Control(kPathBox)->isEnabled());
  EXPECT_TRUE(Get<QLineEdit>(kPathBox)->text().isEmpty());
  EXPECT_EQ(Counter()->text(), QStringLiteral("500"));
  EXPECT_TRUE(Status()->toPlainText().isEmpty());
  EXPECT_EQ(Progress()->value(), 0);
  EXPECT_EQ(Progress()->minimum(), 0);
  EXPECT_EQ(Progress()->maximum(), 100);
  EXPECT_EQ(dialog->focusWidget(), dialog->Control(kCancelButton));
  for (int id : {kDownloadButton, kCardInfoButton, kBrowseButton, kCancelButton})
    EXPECT_TRUE(dialog->Control(id)->isEnabled()) << id;
  for (int id : {kCardInfoBox, kHiddenLabel, kHiddenLabel2})
    EXPECT_TRUE(dialog->Control(id)->isHidden()) << id;
  for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
    EXPECT_FALSE(button->isDefault()) << button->text().toStdString();
    EXPECT_FALSE(button->autoDefault()) << button->text().toStdString();
  }

  const QList<QAction*> entries = dialog->SystemMenu()->actions();
  ASSERT_GE(entries.size(), 2);
  EXPECT_TRUE(entries[entries.size() - 2]->isSeparator());
  EXPECT_EQ(entries.back()->text(), QString::fromUtf8("关于 Pelliton(&A)..."));
  EXPECT_EQ(entries.back()->data().toInt(), 0x10);

  EXPECT_FALSE(dialog->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(dialog->windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_EQ(dialog->minimumSize(), dialog->maximumSize());
  EXPECT_FALSE(dialog->windowIcon().isNull());
}

struct RadioStep {
  int click;
  bool pcsc_checked;
  bool reader_controls_enabled;
};

TEST_F(UpgradeDialogTest, RadioButtonsAreForwardedAndFollowTheProcedure) {
  dialog->show();
  const RadioStep steps[] = {
      {kPcscRadio, true, true},
      {kPcscRadio, true, true},  // already checked: forwarded again,
                                 // nothing changes
      {kOrvoRadio, false, false},
      {kOrvoRadio, false, false},
      {kPcscRadio, true, true},
  };
  size_t clicks = 0;
  for (const RadioStep& step : steps) {
    QTest::mouseClick(Get<QRadioButton>(step.click), Qt::LeftButton);
    ++clicks;
    EXPECT_EQ(log.back(), "OnReaderModeClicked:" + std::to_string(step.click));
    EXPECT_EQ(Get<QRadioButton>(kPcscRadio)->isChecked(), step.pcsc_checked);
    EXPECT_NE(Get<QRadioButton>(kOrvoRadio)->isChecked(), step.pcsc_checked);
    EXPECT_EQ(Readers()->isEnabled(), step.reader_controls_enabled);
    EXPECT_EQ(dialog->Control(kReloadButton)->isEnabled(), step.reader_controls_enabled);
    EXPECT_FALSE(dialog->Control(kPathBox)->isEnabled());
  }
  // Switching modes never reloads the list.
  EXPECT_EQ(procedures.Count("ReloadReaderList"), 1);
  EXPECT_EQ(log.size(), kStartLog.size() + clicks);
  EXPECT_EQ(Readers()->count(), 2);
}

struct CounterCase {
  const char* text;
  bool passes;
  const QString* message;  // nullptr: none
  uint32_t value_after;    // CounterValue starts at 500
};

// gtest would print the case's bytes, pointers and padding included, into CTest's names.
void PrintTo(const CounterCase& c, std::ostream* os) {
  *os << '"';
  for (const char* p = c.text; *p != '\0'; ++p) {
    const auto byte = static_cast<unsigned char>(*p);
    if (byte >= 0x20 && byte < 0x7F) {
      *os << *p;
    } else {
      static const char kDigits[] = "0123456789ABCDEF";
      *os << "\\x" << kDigits[byte >> 4] << kDigits[byte & 0xF];
    }
  }
  *os << '"';
}

class CounterTextTest : public UpgradeDialogTest,
                        public ::testing::WithParamInterface<CounterCase> {};

TEST_P(CounterTextTest, ReadControlsChecksTheCounter) {
  const CounterCase& c = GetParam();
  dialog->show();
  Counter()->setText(QString::fromUtf8(c.text));
  dialog->Control(kCancelButton)->setFocus();

  EXPECT_EQ(dialog->ReadControls(), c.passes);
  EXPECT_EQ(dialog->CounterValue(), c.value_after);
  // The box keeps what was typed; only RefreshControls writes it.
  EXPECT_EQ(Counter()->text(), QString::fromUtf8(c.text));
  if (c.message == nullptr) {
    EXPECT_TRUE(presenter.messages.empty());
    return;
  }
  ASSERT_EQ(presenter.messages.size(), 1u);
  EXPECT_EQ(presenter.messages[0].text, *c.message);
  EXPECT_EQ(presenter.messages[0].caption, QStringLiteral("pelliton"));
  EXPECT_EQ(presenter.messages[0].icon, MessageIcon::kExclamation);
  EXPECT_EQ(dialog->focusWidget(), Counter());
  EXPECT_EQ(Counter()->selectedText(), Counter()->text());

  dialog->RefreshControls();
  EXPECT_EQ(Counter()->text(), QString::number(c.value_after));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, CounterTextTest,
    ::testing::Values(
        CounterCase{" 42 ", true, nullptr, 42}, CounterCase{"+7", true, nullptr, 7},
        CounterCase{"5000", true, nullptr, 5000}, CounterCase{"1", true, nullptr, 1},
        CounterCase{"0", false, &kOutOfRange, 0}, CounterCase{"5001", false, &kOutOfRange, 5001},
        CounterCase{"", false, &kNotANumber, 500}, CounterCase{"abc", false, &kNotANumber, 500},
        CounterCase{"-1", false, &kNotANumber, 500}, CounterCase{"12a", false, &kNotANumber, 500},
        CounterCase{"计数", false, &kNotANumber, 500},
        CounterCase{"4294967296", false, &kOutOfRange, 4294967295u},
        CounterCase{"99999999999999999999999", false, &kOutOfRange, 4294967295u},
        // Only the first 31 characters count: the letter is beyond them.
        CounterCase{"42                             x", true, nullptr, 42}),
    [](const ::testing::TestParamInfo<CounterCase>& info) {
      return "Case" + std::to_string(info.index);
    });

TEST_F(UpgradeDialogTest, CardInfoWithLettersWarnsThenRunsAndRestoresTheCounter) {
  procedures.on_card_info = [](OperatorPanel& p) {
    p.ReadControls();
    p.StatusText() = "V2.00 card";
    p.RefreshControls();
  };
  dialog->show();
  Counter()->setText(QStringLiteral("abc"));
  QTest::mouseClick(Get<QPushButton>(kCardInfoButton), Qt::LeftButton);

  const std::vector<std::string> expected = {"GetCardInfo", "message:" + kNotANumber.toStdString()};
  EXPECT_EQ(log, (std::vector<std::string>{kStartLog[0], kStartLog[1], expected[0], expected[1]}));
  EXPECT_EQ(Counter()->text(), QStringLiteral("500"));
  EXPECT_EQ(Status()->toPlainText(), QStringLiteral("V2.00 card"));
}

struct KeyCase {
  const char* name;
  Qt::Key key;
  int focus;  // control that has the focus
  const char* counter;
  bool closes;
  const QString* message;
  const char* procedure;  // run by the key, or nullptr
};

void PrintTo(const KeyCase& c, std::ostream* os) {
  *os << c.name;
}

class DialogKeyTest : public UpgradeDialogTest, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(DialogKeyTest, EnterAndEscape) {
  const KeyCase& c = GetParam();
  dialog->show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
  Counter()->setText(QString::fromUtf8(c.counter));
  QWidget* focus = dialog->Control(c.focus);
  focus->setFocus();
  ASSERT_EQ(QApplication::focusWidget(), focus);
  QTest::keyClick(focus, c.key);

  EXPECT_EQ(!dialog->isVisible(), c.closes);
  if (c.closes) {
    // Escape and the Cancel button cancel; only a passing Enter accepts.
    const bool cancels = c.key == Qt::Key_Escape || c.focus == kCancelButton;
    EXPECT_EQ(dialog->result(), cancels ? QDialog::Rejected : QDialog::Accepted);
  }
  if (c.message != nullptr) {
    ASSERT_EQ(presenter.messages.size(), 1u);
    EXPECT_EQ(presenter.messages[0].text, *c.message);
  } else {
    EXPECT_TRUE(presenter.messages.empty());
  }
  if (c.procedure != nullptr) {
    EXPECT_EQ(procedures.Count(c.procedure), 1);
  }
  EXPECT_EQ(log.size(),
            kStartLog.size() + (c.procedure != nullptr ? 1 : 0) + (c.message != nullptr ? 1 : 0));
}

INSTANTIATE_TEST_SUITE_P(
    Keys, DialogKeyTest,
    ::testing::Values(
        KeyCase{"EnterInCounterCloses", Qt::Key_Return, kCounterBox, "300", true, nullptr, nullptr},
        KeyCase{"KeypadEnterCloses", Qt::Key_Enter, kCounterBox, "300", true, nullptr, nullptr},
        KeyCase{"EnterWithZeroStays", Qt::Key_Return, kCounterBox, "0", false, &kOutOfRange,
                nullptr},
        KeyCase{"EnterWithLettersStays", Qt::Key_Return, kCounterBox, "x", false, &kNotANumber,
                nullptr},
        KeyCase{"EnterInStatusBoxCloses", Qt::Key_Return, kStatusBox, "300", true, nullptr,
                nullptr},
        KeyCase{"EnterOnDownloadPressesIt", Qt::Key_Return, kDownloadButton, "0", false, nullptr,
                "OnDownload"},
        KeyCase{"EnterOnCancelCloses", Qt::Key_Return, kCancelButton, "0", true, nullptr, nullptr},
        KeyCase{"EscapeWithLettersCloses", Qt::Key_Escape, kCounterBox, "abc", true, nullptr,
                nullptr},
        KeyCase{"EscapeWithZeroCloses", Qt::Key_Escape, kStatusBox, "0", true, nullptr, nullptr}),
    [](const ::testing::TestParamInfo<KeyCase>& info) { return std::string(info.param.name); });

// Input that reaches the window while a procedure holds the thread is dropped, not
// replayed when it ends.
enum class Poke { kMouseClick, kSpaceKey, kCloseEvent, kEscapeKey, kTypeInCounter };

struct BusyCase {
  const char* name;
  Poke poke;
  bool during_procedure;
  int downloads;  // runs of the download in the end
  bool visible_after;
  const char* counter_after = "500";
};

void PrintTo(const BusyCase& c, std::ostream* os) {
  *os << c.name;
}

class BusyInputTest : public UpgradeDialogTest, public ::testing::WithParamInterface<BusyCase> {
 protected:
  void PostPoke(Poke poke) {
    QPushButton* button = Get<QPushButton>(kDownloadButton);
    const QPointF local = QRectF(button->rect()).center();
    const QPointF global = button->mapToGlobal(local);
    switch (poke) {
      case Poke::kMouseClick:
        QCoreApplication::postEvent(
            button, new QMouseEvent(QEvent::MouseButtonPress, local, global, Qt::LeftButton,
                                    Qt::LeftButton, Qt::NoModifier));
        QCoreApplication::postEvent(
            button, new QMouseEvent(QEvent::MouseButtonRelease, local, global, Qt::LeftButton,
                                    Qt::NoButton, Qt::NoModifier));
        break;
      case Poke::kSpaceKey:
        QCoreApplication::postEvent(button,
                                    new QKeyEvent(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier));
        QCoreApplication::postEvent(
            button, new QKeyEvent(QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier));
        break;
      case Poke::kCloseEvent:
        QCoreApplication::postEvent(dialog.get(), new QCloseEvent);
        break;
      case Poke::kEscapeKey:
        QCoreApplication::postEvent(
            Counter(), new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
        break;
      case Poke::kTypeInCounter:
        Counter()->setFocus();
        QCoreApplication::postEvent(Counter(), new QKeyEvent(QEvent::KeyPress, Qt::Key_7,
                                                             Qt::NoModifier, QStringLiteral("7")));
        break;
    }
  }
};

TEST_P(BusyInputTest, SecondClickDuringDownloadIsDropped) {
  const BusyCase& c = GetParam();
  dialog->show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
  bool was_running = false;
  procedures.on_download = [&](OperatorPanel&) {
    was_running = dialog->ProcedureRunning();
    if (c.during_procedure && procedures.Count("OnDownload") == 1)
      PostPoke(c.poke);
  };
  Get<QPushButton>(kDownloadButton)->click();
  EXPECT_TRUE(was_running);
  EXPECT_FALSE(dialog->ProcedureRunning());
  if (!c.during_procedure)
    PostPoke(c.poke);
  QCoreApplication::processEvents();
  QCoreApplication::sendPostedEvents();

  EXPECT_EQ(procedures.Count("OnDownload"), c.downloads);
  EXPECT_EQ(dialog->isVisible(), c.visible_after);
  EXPECT_EQ(Counter()->text(), QString::fromUtf8(c.counter_after));
}

INSTANTIATE_TEST_SUITE_P(
    Pokes, BusyInputTest,
    ::testing::Values(BusyCase{"ClickWhileBusy", Poke::kMouseClick, true, 1, true},
                      BusyCase{"ClickWhenIdle", Poke::kMouseClick, false, 2, true},
                      BusyCase{"SpaceWhileBusy", Poke::kSpaceKey, true, 1, true},
                      BusyCase{"SpaceWhenIdle", Poke::kSpaceKey, false, 2, true},
                      BusyCase{"CloseWhileBusy", Poke::kCloseEvent, true, 1, true},
                      BusyCase{"CloseWhenIdle", Poke::kCloseEvent, false, 1, false},
                      BusyCase{"EscapeWhileBusy", Poke::kEscapeKey, true, 1, true},
                      BusyCase{"EscapeWhenIdle", Poke::kEscapeKey, false, 1, false},
                      BusyCase{"TypingWhileBusy", Poke::kTypeInCounter, true, 1, true, "500"},
                      BusyCase{"TypingWhenIdle", Poke::kTypeInCounter, false, 1, true, "5007"}),
    [](const ::testing::TestParamInfo<BusyCase>& info) { return std::string(info.param.name); });

// What a procedure changes must reach the screen before it returns.
struct RepaintCase {
  const char* name;
  std::function<void(OperatorPanel&)> change;
  int painted;  // control whose paint is expected
};

void PrintTo(const RepaintCase& c, std::ostream* os) {
  *os << c.name;
}

class PaintCounter : public QObject {
 public:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint)
      ++paints;
    return false;
  }
  int paints = 0;
};

class RepaintTest : public UpgradeDialogTest, public ::testing::WithParamInterface<RepaintCase> {};

TEST_P(RepaintTest, ProcedureOutputIsPaintedAtOnce) {
  const RepaintCase& c = GetParam();
  dialog->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
  QCoreApplication::processEvents();
  QWidget* target = dialog->Control(c.painted);
  if (auto* edit = qobject_cast<QTextEdit*>(target))
    target = edit->viewport();
  PaintCounter counter;
  target->installEventFilter(&counter);
  int paints_inside = -1;
  procedures.on_download = [&](OperatorPanel& p) {
    c.change(p);
    paints_inside = counter.paints;  // before any event loop has run
  };
  Get<QPushButton>(kDownloadButton)->click();
  EXPECT_GT(paints_inside, 0);
  target->removeEventFilter(&counter);
}

INSTANTIATE_TEST_SUITE_P(
    Changes, RepaintTest,
    ::testing::Values(RepaintCase{"StatusTextViaRefresh",
                                  [](OperatorPanel& p) {
                                    p.StatusText() = "\r\n\r\nFormatting APP Data area...";
                                    p.RefreshControls();
                                  },
                                  kStatusBox},
                      RepaintCase{"StatusBoxDirect",
                                  [](OperatorPanel& p) { p.SetStatusBoxText("Reloaded"); },
                                  kStatusBox},
                      RepaintCase{"ProgressPosition",
                                  [](OperatorPanel& p) { p.SetProgressPos(30); }, kProgressBar},
                      RepaintCase{"RepaintNow",
                                  [](OperatorPanel& p) {
                                    p.StatusText() = "x";
                                    p.RepaintNow();
                                  },
                                  kStatusBox}),
    [](const ::testing::TestParamInfo<RepaintCase>& info) { return std::string(info.param.name); });

TEST_F(UpgradeDialogTest, StatusLinesBreakAtCrLfAndSurviveARoundTrip) {
  dialog->StatusText() = "\r\n\r\nFormatting APP Data area...";
  dialog->RefreshControls();
  EXPECT_EQ(Status()->toPlainText(), QStringLiteral("\n\nFormatting APP Data area..."));
  EXPECT_EQ(Status()->document()->blockCount(), 3);
  EXPECT_TRUE(Status()->document()->defaultTextOption().alignment() & Qt::AlignHCenter);
  EXPECT_EQ(Status()->document()->defaultTextOption().wrapMode(), QTextOption::NoWrap);
  EXPECT_TRUE(Status()->isReadOnly());
  EXPECT_EQ(Status()->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_EQ(Status()->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_EQ(Status()->frameShape(), QFrame::NoFrame);
  dialog->StatusText().clear();
  EXPECT_TRUE(dialog->ReadControls());
  EXPECT_EQ(dialog->StatusText(), "\r\n\r\nFormatting APP Data area...");

  // A direct write shows, but leaves the field alone until the next ReadControls.
  dialog->SetStatusBoxText("No PC/SC card reader exists!");
  EXPECT_EQ(Status()->toPlainText(), QStringLiteral("No PC/SC card reader exists!"));
  EXPECT_EQ(dialog->StatusText(), "\r\n\r\nFormatting APP Data area...");
}

TEST_F(UpgradeDialogTest, FieldsMoveBothWays) {
  dialog->ScriptPath() = "/cards/app v33.bin";
  dialog->CardInfoText() = "V1.10";
  dialog->HiddenLabelText() = "label";
  dialog->CounterValue() = 4294967295u;
  dialog->RefreshControls();
  EXPECT_EQ(Get<QLineEdit>(kPathBox)->text(), QStringLiteral("/cards/app v33.bin"));
  EXPECT_EQ(Get<QPlainTextEdit>(kCardInfoBox)->toPlainText(), QStringLiteral("V1.10"));
  EXPECT_EQ(Get<QLabel>(kHiddenLabel)->text(), QStringLiteral("label"));
  EXPECT_EQ(Counter()->text(), QStringLiteral("4294967295"));

  Get<QLineEdit>(kPathBox)->setText(QStringLiteral("/other.bin"));
  Counter()->setText(QStringLiteral("12"));
  dialog->ScriptPath().clear();
  dialog->CardInfoText().clear();
  dialog->HiddenLabelText().clear();
  EXPECT_TRUE(dialog->ReadControls());
  EXPECT_EQ(dialog->ScriptPath(), "/other.bin");
  EXPECT_EQ(dialog->CardInfoText(), "V1.10");
  EXPECT_EQ(dialog->HiddenLabelText(), "label");
  EXPECT_EQ(dialog->CounterValue(), 12u);

  // A failing counter stops after the fields before it have been read.
  Get<QLineEdit>(kPathBox)->setText(QStringLiteral("/third.bin"));
  Counter()->setText(QStringLiteral("-3"));
  EXPECT_FALSE(dialog->ReadControls());
  EXPECT_EQ(dialog->ScriptPath(), "/third.bin");
  EXPECT_EQ(dialog->CounterValue(), 12u);
}

struct ListStep {
  const char* name;
  std::function<void(OperatorPanel&)> step;
  std::vector<const char*> entries;
  std::string current;
};

void PrintTo(const ListStep& c, std::ostream* os) {
  *os << c.name;
}

class ReaderListTest : public UpgradeDialogTest, public ::testing::WithParamInterface<ListStep> {};

TEST_P(ReaderListTest, ListOperations) {
  const ListStep& c = GetParam();
  dialog->ReaderListClear();
  EXPECT_EQ(dialog->ReaderListCurrentText(), "");
  c.step(*dialog);
  QStringList entries;
  for (int i = 0; i < Readers()->count(); ++i)
    entries << Readers()->itemText(i);
  QStringList expected;
  for (const char* e : c.entries)
    expected << QString::fromUtf8(e);
  EXPECT_EQ(entries, expected);
  EXPECT_EQ(dialog->ReaderListCurrentText(), c.current);
  // The panel's own changes are no selection by the operator.
  EXPECT_EQ(procedures.Count("OnReaderSelChange"), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, ReaderListTest,
    ::testing::Values(
        ListStep{"InsertSelectsNothing",
                 [](OperatorPanel& p) { p.ReaderListInsert(0, "A"); },
                 {"A"},
                 ""},
        ListStep{"InsertKeepsOrder",
                 [](OperatorPanel& p) {
                   p.ReaderListInsert(0, "A");
                   p.ReaderListInsert(1, "B");
                   p.ReaderListInsert(0, "C");
                   p.ReaderListSelect(2);
                 },
                 {"C", "A", "B"},
                 "B"},
        ListStep{"MinusOneAppends",
                 [](OperatorPanel& p) {
                   p.ReaderListInsert(0, "A");
                   p.ReaderListInsert(-1, "B");
                   p.ReaderListSelect(1);
                 },
                 {"A", "B"},
                 "B"},
        ListStep{"IndexPastEndRefused",
                 [](OperatorPanel& p) {
                   p.ReaderListInsert(0, "A");
                   p.ReaderListInsert(5, "B");
                   p.ReaderListInsert(-7, "C");
                   p.ReaderListSelect(0);
                 },
                 {"A"},
                 "A"},
        ListStep{"SelectOutsideClears",
                 [](OperatorPanel& p) {
                   p.ReaderListInsert(0, "A");
                   p.ReaderListSelect(0);
                   p.ReaderListSelect(3);
                 },
                 {"A"},
                 ""},
        ListStep{"SelectInEmptyList", [](OperatorPanel& p) { p.ReaderListSelect(0); }, {}, ""}),
    [](const ::testing::TestParamInfo<ListStep>& info) { return std::string(info.param.name); });

TEST_F(UpgradeDialogTest, OperatorChoosingAReaderIsForwarded) {
  dialog->show();
  Readers()->setEnabled(true);
  Readers()->setFocus();
  QTest::keyClick(Readers(), Qt::Key_Down);
  EXPECT_EQ(procedures.Count("OnReaderSelChange"), 1);
  EXPECT_EQ(dialog->ReaderListCurrentText(), "Reader B 01");
}

struct ProgressCase {
  int lower, upper, position, expected_value;
};

TEST_F(UpgradeDialogTest, ProgressPositionStaysInsideTheRange) {
  const ProgressCase cases[] = {{0, 55, 0, 0},    {0, 55, 30, 30}, {0, 55, 55, 55},
                                {0, 55, 102, 55}, {0, 55, -4, 0},  {0, 100, 100, 100},
                                {10, 5, 7, 10}};
  for (const ProgressCase& c : cases) {
    dialog->SetProgressRange(c.lower, c.upper);
    dialog->SetProgressPos(c.position);
    EXPECT_EQ(Progress()->value(), c.expected_value)
        << c.lower << ".." << c.upper << " pos " << c.position;
  }
}

TEST_F(UpgradeDialogTest, MessageBoxesCarryTheirCaptionAndIcon) {
  dialog->WindowMessageBox("Please Select reader first!");
  dialog->AppMessageBox("Card Reset Error!");
  ASSERT_EQ(presenter.messages.size(), 2u);
  EXPECT_EQ(presenter.messages[0].caption, QStringLiteral("Information"));
  EXPECT_EQ(presenter.messages[0].icon, MessageIcon::kStop);
  EXPECT_EQ(presenter.messages[0].text, QStringLiteral("Please Select reader first!"));
  EXPECT_EQ(presenter.messages[1].caption, QStringLiteral("pelliton"));
  EXPECT_EQ(presenter.messages[1].icon, MessageIcon::kExclamation);
  EXPECT_EQ(presenter.messages[1].text, QStringLiteral("Card Reset Error!"));
}

TEST_F(UpgradeDialogTest, ScriptFileChoiceAndPathBox) {
  presenter.chosen_file = std::nullopt;
  EXPECT_EQ(dialog->ChooseScriptFile(kScriptFileFilter), std::nullopt);
  ASSERT_EQ(presenter.filters.size(), 1u);
  EXPECT_EQ(presenter.filters[0], QStringLiteral("APP files(*.bin) (*.bin);;All Files (*.*) (*)"));
  presenter.chosen_file = QStringLiteral("/tmp/升级/app.bin");
  EXPECT_EQ(dialog->ChooseScriptFile(kScriptFileFilter), "/tmp/升级/app.bin");

  const std::string long_path = "/very/long/" + std::string(200, 'd') + "/app.bin";
  dialog->ShowScriptPath(long_path);
  QLineEdit* path = Get<QLineEdit>(kPathBox);
  EXPECT_EQ(path->text().toStdString(), long_path);
  EXPECT_EQ(path->cursorPosition(), path->text().size());
  EXPECT_FALSE(path->isEnabled());
  dialog->SetPathBoxText("");
  EXPECT_TRUE(path->text().isEmpty());
  EXPECT_EQ(dialog->ScriptPath(), "");  // the field moves only with ReadControls
}

TEST_F(UpgradeDialogTest, EnableControlByNumber) {
  dialog->EnableControl(kDownloadButton, false);
  EXPECT_FALSE(dialog->Control(kDownloadButton)->isEnabled());
  dialog->EnableControl(kDownloadButton, true);
  EXPECT_TRUE(dialog->Control(kDownloadButton)->isEnabled());
  for (int unknown : {0, -1, 1, 999, 1006, 1100, 65535})
    dialog->EnableControl(unknown, false);  // ignored
  EXPECT_TRUE(dialog->Control(kCancelButton)->isEnabled());
}

TEST_F(UpgradeDialogTest, AboutEntryOpensTheAboutBox) {
  const struct {
    int command;
    int shown;
  } cases[] = {{0x10, 1}, {0x13, 1}, {0x1F, 1}, {0x20, 0}, {0xF020, 0}, {0xF060, 0}, {0, 0}};
  for (const auto& c : cases) {
    presenter.about_shown = 0;
    dialog->OnSystemCommand(c.command);
    EXPECT_EQ(presenter.about_shown, c.shown) << std::hex << c.command;
  }
  presenter.about_shown = 0;
  dialog->SystemMenu()->actions().back()->trigger();
  EXPECT_EQ(presenter.about_shown, 1);
}

TEST_F(UpgradeDialogTest, ButtonsAreForwarded) {
  dialog->show();
  const struct {
    int control;
    const char* procedure;
  } cases[] = {{kBrowseButton, "OnBrowseScript"},
               {kDownloadButton, "OnDownload"},
               {kCardInfoButton, "GetCardInfo"},
               {kReloadButton, "OnPcscReload"}};
  dialog->EnableControl(kReloadButton, true);
  for (const auto& c : cases) {
    log.clear();
    QTest::mouseClick(Get<QPushButton>(c.control), Qt::LeftButton);
    EXPECT_EQ(log, std::vector<std::string>{c.procedure});
  }
  QTest::mouseClick(Get<QPushButton>(kCancelButton), Qt::LeftButton);
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_EQ(dialog->result(), QDialog::Rejected);
}

TEST(UpgradeAppTest, TitleIsTheExecutableNameWithoutExtension) {
  EXPECT_EQ(UpgradeApp::Title(), QStringLiteral("app_tests"));
}

}  // namespace
}  // namespace pelliton
