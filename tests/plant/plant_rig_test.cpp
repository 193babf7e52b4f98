// pelliton-cli with a plant, through the pcscd rig: cards run whether the plant is there
// or not, and their records reach it once, in the background or by journal push.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/cli/cli_process.h"
#include "tests/rig/sim_process.h"
#include "tests/support/pg_server.h"

namespace pelliton::cli {
namespace {

class PlantRig : public testing::Test {
 protected:
  void SetUp() override {
    if (rig::VpcdPort() == 0)
      GTEST_SKIP() << "not inside the pcscd rig";
    ASSERT_TRUE(server_.Start()) << server_.Why();
    CliProcess init(dir_);
    ASSERT_TRUE(init.Start({"plant", "init", server_.Url()}));
    ASSERT_EQ(init.Wait(), 0) << init.Err();
  }

  // Three cards programmed in turn on reader 0; the process's exit status.
  int ProgramThreeCards(CliProcess& cli, const std::vector<std::string>& more) {
    rig::SimProcess sim;
    EXPECT_TRUE(sim.StartAndWait(0, {"--cards", "3"}));
    std::vector<std::string> args = {
        "download", PELLITON_EXAMPLE_SCRIPT, "--each-card", "--cards", "3", "--journal", journal_,
        "-v"};
    args.insert(args.end(), more.begin(), more.end());
    EXPECT_TRUE(cli.Start(args));
    for (size_t card = 1; card <= 3; ++card) {
      EXPECT_TRUE(cli.WaitForOutput("Download APP Successfull!", card)) << cli.Err();
      if (card < 3) {
        EXPECT_TRUE(sim.RemoveCard());
      }
    }
    return cli.Wait();
  }

  std::string Run(const std::vector<std::string>& args, int* status) {
    ScratchDir dir;
    CliProcess cli(dir);
    EXPECT_TRUE(cli.Start(args));
    *status = cli.Wait();
    return cli.Out() + cli.Err();
  }

  int64_t PlantRows() {
    std::string count;
    EXPECT_TRUE(server_.Sql("SELECT count(*) FROM pelliton.card_runs", &count)) << server_.Why();
    return std::atoll(count.c_str());
  }

  PgServer server_;
  ScratchDir dir_;
  std::string journal_ = dir_.PathOf("journal.sqlite");
};

TEST_F(PlantRig, RecordsGoInTheBackgroundWhileThePlantIsUp) {
  CliProcess cli(dir_);
  EXPECT_EQ(ProgramThreeCards(cli, {"--plant", server_.Url()}), 0) << cli.Err();
  EXPECT_EQ(cli.Err().find("plant"), std::string::npos) << cli.Err();
  EXPECT_EQ(PlantRows(), 3);
  int status = 0;
  const std::string pending = Run({"journal", "--pending", "--journal", journal_}, &status);
  EXPECT_TRUE(pending.ends_with("\n0 records\n")) << pending;
}

TEST_F(PlantRig, CardsRunWhileThePlantIsDownAndTheirRecordsGoLater) {
  ASSERT_TRUE(server_.Stop());
  CliProcess cli(dir_);
  // From the environment, as a station's service sets it.
  setenv("PELLITON_PLANT", server_.Url().c_str(), 1);
  EXPECT_EQ(ProgramThreeCards(cli, {}), 0) << cli.Err();
  unsetenv("PELLITON_PLANT");
  const std::string err = cli.Err();
  EXPECT_EQ(CountOf(err, "pelliton-cli: plant: cannot reach the plant: "), 1u) << err;
  EXPECT_EQ(CountOf(err, "; the records wait in the journal\n"), 1u) << err;
  EXPECT_GE(CountOf(err, " (plant backlog: "), 2u) << err;

  int status = 0;
  const std::string pending =
      Run({"journal", "--pending", "--journal", journal_, "--format", "csv"}, &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(CountOf(pending, ",success,"), 3u) << pending;
  EXPECT_NE(Run({"journal", "push", "--journal", journal_, "--plant", server_.Url()}, &status)
                .find("3 records wait in the journal"),
            std::string::npos);
  EXPECT_EQ(status, 5);
  EXPECT_NE(Run({"report", "--plant", server_.Url()}, &status)
                .find("pelliton-cli: report: cannot reach the plant: "),
            std::string::npos);
  EXPECT_EQ(status, 5);

  ASSERT_TRUE(server_.Start()) << server_.Why();
  EXPECT_EQ(Run({"journal", "push", "--journal", journal_, "--plant", server_.Url()}, &status),
            "journal push: delivered 3 records; none left\n");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Run({"journal", "push", "--journal", journal_, "--plant", server_.Url()}, &status),
            "journal push: delivered 0 records; none left\n");
  EXPECT_EQ(PlantRows(), 3);
  EXPECT_EQ(Run({"plant", "check", server_.Url()}, &status), "plant: no gaps, nothing flagged\n");
  EXPECT_EQ(status, 0);

  // The same numbers from the plant as from the station's own journal.
  for (const char* by : {"station", "script", "day"}) {
    const std::string from_plant =
        Run({"report", "--plant", server_.Url(), "--by", by, "--format", "csv"}, &status);
    EXPECT_EQ(status, 0) << from_plant;
    EXPECT_EQ(from_plant,
              Run({"report", "--journal", journal_, "--by", by, "--format", "csv"}, &status));
    EXPECT_NE(from_plant.find(",3,3,0,0,"), std::string::npos) << from_plant;
  }
}

}  // namespace
}  // namespace pelliton::cli
