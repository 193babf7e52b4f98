// The whole tool short of the screen: the real window over the card procedures, pcsc-lite
// and a private pcscd whose vpcd reader holds tessiv-sim. Runs inside tests/rig/pcsc-rig.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTextEdit>
#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "app/engine_procedures.h"
#include "app/upgrade_dialog.h"
#include "cardaccess/card_access.h"
#include "cardaccess/orvo_api.h"
#include "cardaccess/pcsc_api.h"
#include "engine/pauser.h"
#include "fakes.h"
#include "sim/card/card_state.h"
#include "tests/rig/sim_process.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/script_builder.h"

namespace pelliton {
namespace {

using testing::FakePresenter;

// Real pauses, with a hook that runs inside the procedure at each of them.
class HookedPauser final : public Pauser {
 public:
  void Sleep(uint32_t ms) override {
    ++sleeps;
    if (on_sleep)
      on_sleep();
    real_.Sleep(ms);
  }
  std::function<void()> on_sleep;
  int sleeps = 0;

 private:
  RealPauser real_;
};

// A click as the window system delivers it: queued, not sent.
void PostClick(QWidget* widget) {
  const QPointF local = QRectF(widget->rect()).center();
  const QPointF global = widget->mapToGlobal(local);
  QCoreApplication::postEvent(
      widget, new QMouseEvent(QEvent::MouseButtonPress, local, global, Qt::LeftButton,
                              Qt::LeftButton, Qt::NoModifier));
  QCoreApplication::postEvent(
      widget, new QMouseEvent(QEvent::MouseButtonRelease, local, global, Qt::LeftButton,
                              Qt::NoButton, Qt::NoModifier));
}

size_t FormatCommands(const sim::CardState& state) {
  return static_cast<size_t>(std::count_if(
      state.commands.begin(), state.commands.end(),
      [](const std::vector<uint8_t>& c) { return c.size() >= 2 && c[0] == 0xF0 && c[1] == 0xDB; }));
}

class WindowRigTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(rig::VpcdPort(), 0) << "run me through tests/rig/pcsc-rig"; }

  std::string WriteScript(const std::vector<std::string>& lines) {
    return dir_.Write("upgrade.bin", testing::JoinLines(lines, "\r\n"));
  }

  template <typename T>
  T* Get(UpgradeDialog& dialog, int id) {
    auto* widget = qobject_cast<T*>(dialog.Control(id));
    EXPECT_NE(widget, nullptr) << "control " << id;
    return widget;
  }

  ScratchDir dir_;
};

TEST_F(WindowRigTest, DownloadAndCardInfoThroughPcscd) {
  rig::SimProcess sim;
  ASSERT_TRUE(sim.StartAndWait(0, {"--text1", "V1.07", "--text2", "V2.01"}));
  std::vector<testing::ScriptData> data;
  const std::string script = WriteScript(testing::TwoAppScript(3, &data));

  SystemPcsc pcsc;
  SystemOrvo orvo;
  CardAccess card(pcsc, orvo);
  HookedPauser pauser;
  EngineProcedures procedures(card, pauser);
  std::vector<std::string> log;
  FakePresenter presenter(&log);
  presenter.chosen_file = QString::fromStdString(script);
  UpgradeDialog dialog(procedures, presenter, QStringLiteral("pelliton"));
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));

  // The reader list was filled while the window initialised, and stays disabled until
  // the PC/SC transport is chosen.
  QComboBox* readers = Get<QComboBox>(dialog, kReaderList);
  ASSERT_EQ(readers->count(), 2);
  EXPECT_EQ(readers->itemText(0), QStringLiteral("Virtual PCD 00 00"));
  EXPECT_EQ(readers->currentText(), QStringLiteral("Virtual PCD 00 00"));
  EXPECT_FALSE(readers->isEnabled());
  QTest::mouseClick(Get<QRadioButton>(dialog, kPcscRadio), Qt::LeftButton);
  EXPECT_TRUE(Get<QRadioButton>(dialog, kPcscRadio)->isChecked());
  EXPECT_TRUE(readers->isEnabled());
  EXPECT_TRUE(Get<QPushButton>(dialog, kReloadButton)->isEnabled());
  EXPECT_EQ(card.Mode(), ReaderMode::Pcsc);

  // "..." runs the browse procedure, which asks the file dialog and checks the script.
  QTest::mouseClick(Get<QPushButton>(dialog, kBrowseButton), Qt::LeftButton);
  ASSERT_EQ(presenter.filters.size(), 1u);
  EXPECT_EQ(Get<QLineEdit>(dialog, kPathBox)->text(), QString::fromStdString(script));
  EXPECT_TRUE(presenter.messages.empty());

  QLineEdit* counter = Get<QLineEdit>(dialog, kCounterBox);
  counter->setText(QStringLiteral("1234"));

  // An impatient second click arrives while the download holds the window's thread.
  QPushButton* download = Get<QPushButton>(dialog, kDownloadButton);
  bool posted = false;
  pauser.on_sleep = [&] {
    if (!posted && dialog.ProcedureRunning()) {
      posted = true;
      PostClick(download);
    }
  };
  QTest::mouseClick(download, Qt::LeftButton);
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents();
  pauser.on_sleep = nullptr;
  EXPECT_TRUE(posted);

  QTextEdit* status = Get<QTextEdit>(dialog, kStatusBox);
  EXPECT_EQ(status->toPlainText(), QStringLiteral("\n\nDownload APP Successfull!"));
  EXPECT_EQ(status->document()->blockCount(), 3);
  QProgressBar* progress = Get<QProgressBar>(dialog, kProgressBar);
  EXPECT_EQ(progress->maximum(), 55);
  EXPECT_EQ(progress->value(), 55);
  EXPECT_TRUE(presenter.messages.empty());
  EXPECT_EQ(std::count(log.begin(), log.end(), "beep:900/100"), 1);

  auto state = sim.WaitForState(
      [](const sim::CardState& s) { return s.counter.has_value() && *s.counter == 1234; });
  ASSERT_TRUE(state.has_value()) << "the counter never reached the card";
  EXPECT_EQ(FormatCommands(*state), 1u);
  EXPECT_EQ(state->formats, 1u);
  for (const testing::ScriptData& d : data) {
    const auto app = d.app2 ? sim::TessivApp::kApp2 : sim::TessivApp::kApp1;
    const uint32_t offset = d.address - (d.app2 ? 0x00012000u : 0x00002000u);
    ASSERT_EQ(state->ByteAt(app, offset), d.bytes.front()) << std::hex << d.address;
    ASSERT_EQ(state->ByteAt(app, offset + 127), d.bytes.back()) << std::hex << d.address;
  }

  QTest::mouseClick(Get<QPushButton>(dialog, kCardInfoButton), Qt::LeftButton);
  EXPECT_EQ(status->toPlainText(),
            QStringLiteral("Tessiv Card Version: V2.00 \n\n"
                           "Norvane App1 Version:V1.07  Norvane App2 Version:V2.01  "
                           "counter:1234\n\n"
                           "Obtained upgrade card information for Norvane-IC Successfully!"));
  EXPECT_EQ(progress->value(), 0);
  EXPECT_EQ(std::count(log.begin(), log.end(), "beep:900/100"), 2);
  EXPECT_TRUE(presenter.messages.empty());

  // The same queued click once the window is idle does start a download: the drop above
  // is the window's doing, not a click that could never have worked.
  const size_t commands_before = sim.State().value_or(sim::CardState{}).commands.size();
  PostClick(download);
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents();
  state = sim.WaitForState([&](const sim::CardState& s) {
    return s.commands.size() > commands_before && FormatCommands(s) == 2 && s.counter.has_value();
  });
  ASSERT_TRUE(state.has_value());
  EXPECT_EQ(FormatCommands(*state), 2u);
  EXPECT_EQ(status->toPlainText(), QStringLiteral("\n\nDownload APP Successfull!"));
  EXPECT_EQ(sim.Stop(), 0);
}

}  // namespace
}  // namespace pelliton
