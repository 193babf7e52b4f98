// The rig at pcsc-lite's reader limit: run inside tests/rig/pcsc-rig with
// PELLITON_RIG_PORT_PAIRS=8, it checks that pcscd lists all sixteen vpcd readers, that a
// simulated card on every one of them is seen at once, and that the CPU time of the rig's
// processes can be read, as the station benchmark does.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/rig/sim_process.h"

namespace pelliton::rig {
namespace {

TEST(RigCapacity, ListsSixteenReaders) {
  ASSERT_NE(VpcdPort(), 0) << "run me through tests/rig/pcsc-rig";
  EXPECT_EQ(ListReaders().size(), 16u);
  for (int k = 0; k < kMaxRigReaders; ++k)
    EXPECT_FALSE(RigReaderName(k).empty()) << "reader " << k;
}

TEST(RigCapacity, CardOnEveryReaderAtOnce) {
  ASSERT_NE(VpcdPort(), 0) << "run me through tests/rig/pcsc-rig";
  std::vector<std::unique_ptr<SimProcess>> sims;
  // Started first and waited for after, so that pcscd sees all sixteen together.
  for (int k = 0; k < kMaxRigReaders; ++k) {
    sims.push_back(std::make_unique<SimProcess>());
    ASSERT_TRUE(sims.back()->Start(k)) << "reader " << k;
  }
  for (int k = 0; k < kMaxRigReaders; ++k)
    EXPECT_TRUE(sims[k]->WaitForInsertion()) << "reader " << k;
  for (int k = 0; k < kMaxRigReaders; ++k) {
    const auto cpu = ProcessCpuSeconds(sims[k]->pid());
    ASSERT_TRUE(cpu.has_value()) << "reader " << k;
    EXPECT_GE(*cpu, 0.0);
  }
  for (auto& sim : sims)
    EXPECT_EQ(sim->Stop(), 0);
}

TEST(RigCapacity, CpuTimeOfTheDaemonAndOfThisProcess) {
  ASSERT_NE(RigPcscdPid(), 0) << "run me through tests/rig/pcsc-rig";
  EXPECT_TRUE(ProcessCpuSeconds(RigPcscdPid()).has_value());
  const auto before = ProcessCpuSeconds(getpid());
  ASSERT_TRUE(before.has_value());
  // Busy until the count moves on, as it must within a few clock ticks of CPU time.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  std::optional<double> after = before;
  volatile unsigned spin = 0;
  while (after.has_value() && *after <= *before && std::chrono::steady_clock::now() < until) {
    for (int i = 0; i < 100000; ++i)
      spin = spin + 1;
    after = ProcessCpuSeconds(getpid());
  }
  ASSERT_TRUE(after.has_value());
  EXPECT_GT(*after, *before);
  EXPECT_FALSE(ProcessCpuSeconds(-1).has_value());
}

}  // namespace
}  // namespace pelliton::rig
