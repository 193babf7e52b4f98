// The window's procedures and the journal: each card run is recorded, and a journal that
// stops taking records is said once, after which the window goes on without it.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <memory>
#include <string>

#include "app/engine_procedures.h"
#include "cardaccess/card_access.h"
#include "tests/support/fake_orvo.h"
#include "tests/support/fake_pcsc.h"
#include "tests/support/recording_panel.h"
#include "tests/support/scratch_dir.h"

namespace pelliton {
namespace {

class NoPause final : public Pauser {
 public:
  void Sleep(uint32_t) override {}
};

TEST(EngineProceduresTest, AJournalThatFailsIsSaidOnceAndLeftAlone) {
  ScratchDir dir;
  const std::string path = dir.PathOf("journal.sqlite");
  std::string error;
  const auto journal =
      journal::Journal::Open(path, "pelliton", journal::Journal::Access::kAppend, &error);
  ASSERT_NE(journal, nullptr) << error;
  testing::FakePcsc pcsc;
  testing::FakeOrvo orvo;
  CardAccess card(pcsc, orvo);
  NoPause pauser;
  EngineProcedures procedures(card, pauser, journal.get());
  RecordingPanel panel;
  const auto journal_boxes = [&panel] {
    int boxes = 0;
    for (const std::string& entry : panel.LogOf({"appbox"}))
      boxes += entry.find("could not be recorded in the journal") != std::string::npos;
    return boxes;
  };

  procedures.GetCardInfo(panel);  // no reader: a refused run, recorded
  EXPECT_EQ(journal_boxes(), 0);

  // Another program takes the journal's table away: the next record fails.
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(other, "DROP TABLE card_runs", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(other);
  procedures.GetCardInfo(panel);
  EXPECT_EQ(journal_boxes(), 1);
  // Its record comes before the card: the card was never reached.
  EXPECT_NE(panel.LogOf({"appbox"}).back().find("The card was not touched"), std::string::npos);
  procedures.OnDownload(panel);
  procedures.GetCardInfo(panel);
  EXPECT_EQ(journal_boxes(), 1);
}

}  // namespace
}  // namespace pelliton
