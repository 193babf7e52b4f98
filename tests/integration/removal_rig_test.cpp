// The card pulled out of the reader at a random point of a download, many times over:
// every run ends with a failure message and one tone, none hangs, and a fresh card in
// the other reader takes the next download. PELLITON_REMOVAL_SEED repeats a run.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/download.h"
#include "tests/integration/rig_session.h"
#include "tests/support/scratch_dir.h"

namespace pelliton::integration {
namespace {

using rig::SimProcess;
using sim::CardState;

constexpr int kRuns = 50;
constexpr char kSuccess[] = "\r\n\r\nDownload APP Successfull!";

uint32_t Seed() {
  if (const char* text = std::getenv("PELLITON_REMOVAL_SEED"))
    return static_cast<uint32_t>(std::strtoul(text, nullptr, 10));
  return std::random_device{}();
}

// What the operator reads when the card leaves at command k (1 = the format).
std::string MessageForRemovalAt(size_t k, const RigScript& script) {
  const std::vector<uint32_t> sent = script.SentLines();
  if (k == 1)
    return "APP Data Aera Format commumation Error!";
  if (k - 2 < sent.size())
    return "App1 Chip communication error! at line " + std::to_string(sent[k - 2]) + "!";
  return "Write APP CFG Data commumation Error!";
}

// What pcscd reports of a reader, for a card that did not show up.
std::string ReaderState(int reader, SimProcess& sim) {
  SCARDCONTEXT context = 0;
  SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context);
  const std::string name = rig::RigReaderName(reader);
  SCARD_READERSTATE state = {};
  state.szReader = name.c_str();
  state.dwCurrentState = SCARD_STATE_UNAWARE;
  const LONG rv = SCardGetStatusChange(context, 0, &state, 1);
  SCardReleaseContext(context);
  char text[160];
  std::snprintf(text, sizeof text, "reader %d: rv 0x%lX, event state 0x%lX, simulator %s", reader,
                static_cast<unsigned long>(rv), static_cast<unsigned long>(state.dwEventState),
                sim.Running() ? "running" : "gone");
  return text;
}

using RemovalRig = RigSession;

TEST_F(RemovalRig, CardPulledAtARandomCommandFailsCleanlyAndTheNextCardLoads) {
  const uint32_t seed = Seed();
  std::printf("removal seed %u (PELLITON_REMOVAL_SEED=%u repeats it)\n", seed, seed);
  std::fflush(stdout);
  std::mt19937 random(seed);

  ScratchDir dir;
  const RigScript script = RealisticScript(2);
  panel.Controls().path_box = dir.Write("app.bin", script.Text());
  std::uniform_int_distribution<size_t> pick(1, script.CommandCount());

  const auto started = std::chrono::steady_clock::now();
  for (int run = 0; run < kRuns; ++run) {
    const size_t k = pick(random);
    SCOPED_TRACE("run " + std::to_string(run) + ", card removed at command " + std::to_string(k));
    // Both cards go in together, so pcscd notices them in the same polling round.
    SimProcess pulled, fresh;
    ASSERT_TRUE(pulled.Start(0, {"--remove-at", std::to_string(k)}));
    ASSERT_TRUE(fresh.Start(1));
    ASSERT_TRUE(pulled.WaitForInsertion()) << ReaderState(0, pulled);
    ASSERT_TRUE(fresh.WaitForInsertion()) << ReaderState(1, fresh);

    SelectReader(0);
    panel.ClearLog();
    RunBounded("download with the card pulled", [&] { OnDownload(panel, access, pauser); });
    EXPECT_EQ(panel.Controls().status_box, MessageForRemovalAt(k, script));
    EXPECT_EQ(ErrorBeeps(), 1u);
    EXPECT_EQ(OkBeeps(), 0u);
    EXPECT_EQ(panel.Count("appbox") + panel.Count("winbox"), 0u);
    ASSERT_TRUE(pulled.WaitForRemoval()) << ReaderState(0, pulled);

    SelectReader(1);
    panel.ClearLog();
    RunBounded("download to the fresh card", [&] { OnDownload(panel, access, pauser); });
    EXPECT_EQ(panel.Controls().status_box, kSuccess);
    EXPECT_EQ(panel.LogOf({"beep"}), std::vector<std::string>{kOkBeep});
    const auto state = fresh.WaitForState([](const CardState& s) { return s.counter.has_value(); });
    ASSERT_TRUE(state.has_value());
    EXPECT_EQ(*state->counter, 500u);
    if (HasFailure())
      break;
  }
  const auto seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf("%d removals in %.1f s\n", kRuns, seconds);
}

}  // namespace
}  // namespace pelliton::integration
