// Download of a 2,000-line script (about 200 KB of data) against a baseline that sends
// the very same commands with the same pauses and nothing else, over two transports:
//   - PC/SC: pcscd + vpcd + tessiv-sim (run inside the rig:
//       tests/rig/pcsc-rig build/bench/download/download_bench [--reps N]);
//   - the Orvo reader: the reader code over the simulated reader, in-process.
// Runs alternate download and baseline (ABBA order) and the medians are compared. A
// further run of each, not counted, shows where the time goes.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <winscard.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "cardaccess/card_access.h"
#include "cardaccess/forwarding.h"
#include "cardaccess/reader_controls.h"
#include "engine/bytes.h"
#include "engine/download.h"
#include "engine/load_plan.h"
#include "engine/pauser.h"
#include "engine/script.h"
#include "reader/reader_api.h"
#include "sim/card/tessiv_card.h"
#include "sim/reader/simulated_orvo_reader.h"
#include "tests/rig/sim_process.h"
#include "tests/support/recording_panel.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/script_builder.h"

extern char** environ;

namespace pelliton::bench {
namespace {

using Clock = std::chrono::steady_clock;
namespace sb = pelliton::testing;

constexpr uint32_t kApp1 = 0x00002000, kApp1End = 0x00011FFF;
constexpr uint32_t kApp2 = 0x00012000, kApp2End = 0x00021FFF;
constexpr uint32_t kCounter = 1234;

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// 2,000 lines: 1,560 DataLines of 128 bytes (780 per application, the blocks of each
// application written more than once, as its area holds 512), 20 pass-through lines,
// the address lines and comments. 199,680 data bytes.
std::vector<std::string> BenchScript() {
  std::vector<std::string> lines = {"; benchmark image", sb::AddressLine(kApp1, kApp1End),
                                    sb::AddressLine(kApp2, kApp2End)};
  int comments = 415;
  for (int app = 0; app < 2; ++app) {
    const uint32_t start = app == 0 ? kApp1 : kApp2;
    lines.push_back(app == 0 ? sb::AddressCheckLine(kApp1, kApp1End)
                             : sb::AddressCheckLine(kApp2, kApp2End));
    for (uint32_t i = 0; i < 780; ++i) {
      const uint32_t address = start + 128u * (i % 512);
      lines.push_back(sb::DataLine(address, sb::PatternBytes(address + i, 128)));
      if (i % 4 == 3 && comments > 0) {
        lines.push_back("; block " + std::to_string(i));
        --comments;
      }
      if (i % 78 == 0)
        lines.push_back(sb::PassThroughLine(sb::PatternBytes(i, 44)));
    }
  }
  while (comments-- > 0)
    lines.push_back("; end");
  return lines;
}

// What the download does after each line, planned once: pause 1 ms or not, then send
// this command or nothing.
struct Step {
  bool pause = false;
  std::vector<uint8_t> command;
};

std::vector<Step> PlanSteps(const std::vector<std::string>& lines) {
  LoadPlanner planner(DecodeAddressLines(sb::JoinLines(lines)));
  std::vector<Step> steps;
  uint8_t command[LoadPlanner::kCommandCapacity];
  for (const std::string& line : lines) {
    size_t length = 0;
    const LineVerdict verdict = planner.Plan(line, command, &length);
    if (verdict == LineVerdict::kPassedOver)
      continue;
    Step step;
    step.pause = true;
    if (verdict == LineVerdict::kSendData || verdict == LineVerdict::kSendPassThrough)
      step.command.assign(command, command + length);
    steps.push_back(std::move(step));
  }
  return steps;
}

// Where the time of one run went.
struct Breakdown {
  Clock::duration pauses{}, exchanges{}, resets{};
  size_t exchange_count = 0;
};

// Pauses that also add up how long they took.
class TimedPauser final : public Pauser {
 public:
  explicit TimedPauser(Breakdown* b) : b_(b) {}
  void Sleep(uint32_t ms) override {
    const auto t = Clock::now();
    real_.Sleep(ms);
    if (b_)
      b_->pauses += Clock::now() - t;
  }

 private:
  RealPauser real_;
  Breakdown* b_;
};

bool IsSuccess(const uint8_t* response, size_t length) {
  return length >= 2 && (response[length - 2] == 0x90 || response[length - 2] == 0x61);
}

// The challenge answer (4 bytes + SW) into the counter command.
std::vector<uint8_t> CounterCommand(const uint8_t* challenge) {
  uint8_t block[8];
  std::memcpy(block, challenge, 4);
  PutU32BE(kCounter, block + 4);
  std::vector<uint8_t> command = {0xF0, 0x80, 0x01, 0x00, 0x08, 0, 0, 0, 0, 0, 0, 0, 0};
  PutU32BE(kCounter, command.data() + 5);
  PutU32BE(Crc32(block, 8), command.data() + 9);
  return command;
}

// The card steps of a download, over some transport, with nothing in between: two
// resets 100 ms apart, format, the planned lines each after 1 ms, 5 ms, challenge,
// counter. False when the card did not take all of it.
template <typename Reset, typename Send>
bool BaselineRun(const std::vector<Step>& steps, Reset reset, Send send, Pauser& pauser,
                 Breakdown* b) {
  uint8_t response[600];
  size_t length = 0;
  auto exchange = [&](const uint8_t* command, size_t count) {
    const auto t = Clock::now();
    const bool ok = send(command, count, response, &length) && IsSuccess(response, length);
    if (b) {
      b->exchanges += Clock::now() - t;
      ++b->exchange_count;
    }
    return ok;
  };
  auto t = Clock::now();
  reset();
  pauser.Sleep(100);
  const bool reset_ok = reset();
  if (b)
    b->resets += Clock::now() - t - std::chrono::milliseconds(100);
  if (!reset_ok)
    return false;
  const uint8_t format[] = {0xF0, 0xDB, 0x00, 0x00, 0x00};
  if (!exchange(format, sizeof format))
    return false;
  for (const Step& step : steps) {
    if (step.pause)
      pauser.Sleep(1);
    if (!step.command.empty() && !exchange(step.command.data(), step.command.size()))
      return false;
  }
  pauser.Sleep(5);
  const uint8_t challenge[] = {0x00, 0x84, 0x00, 0x00, 0x04};
  if (!exchange(challenge, sizeof challenge) || length != 6)
    return false;
  const std::vector<uint8_t> counter = CounterCommand(response);
  return exchange(counter.data(), counter.size());
}

// --- the tool's side -------------------------------------------------------------------

// Runs one exchange and adds its time to the breakdown.
template <typename Exchange>
auto TimedExchange(Breakdown* b, Exchange exchange) {
  const auto t = Clock::now();
  const auto rv = exchange();
  if (b) {
    b->exchanges += Clock::now() - t;
    ++b->exchange_count;
  }
  return rv;
}

// pcsc-lite with the time of each exchange added up.
class TimedPcsc final : public ForwardingPcsc {
 public:
  explicit TimedPcsc(Breakdown* b) : ForwardingPcsc(real_), b_(b) {}
  LONG Transmit(SCARDHANDLE card, const SCARD_IO_REQUEST* header, const uint8_t* command,
                DWORD length, uint8_t* response, DWORD* response_length) override {
    return TimedExchange(b_, [&] {
      return real_.Transmit(card, header, command, length, response, response_length);
    });
  }

 private:
  SystemPcsc real_;
  Breakdown* b_;
};

class TimedOrvo final : public ForwardingOrvo {
 public:
  explicit TimedOrvo(Breakdown* b) : ForwardingOrvo(real_), b_(b) {}
  int32_t CardApdu(int32_t handle, int32_t slot, const uint8_t* command, int32_t length,
                   uint8_t* response, int32_t* response_length, uint32_t capacity) override {
    return TimedExchange(b_, [&] {
      return real_.CardApdu(handle, slot, command, length, response, response_length, capacity);
    });
  }

 private:
  SystemOrvo real_;
  Breakdown* b_;
};

// One download as the window runs it, from a tool just started (reader list loaded, no
// card connected). Returns the time of OnDownload alone; 0 on failure.
Clock::duration ToolRun(bool pcsc_mode, const std::string& script_path, Breakdown* b) {
  TimedPcsc pcsc(b);
  TimedOrvo orvo(b);
  RecordingPanel panel;
  CardAccess access(pcsc, orvo);
  TimedPauser pauser(b);
  ReloadReaderList(access, panel);
  if (pcsc_mode)
    OnReaderModeClicked(access, panel, kPcscRadio);
  panel.Controls().path_box = script_path;
  panel.Controls().counter_box = std::to_string(kCounter);

  const auto t = Clock::now();
  const DownloadOutcome outcome = OnDownload(panel, access, pauser);
  const auto elapsed = Clock::now() - t;

  CardConnection& c = access.Connection();
  if (c.handle_kind == HandleKind::Pcsc) {
    pcsc.EndTransaction(static_cast<SCARDHANDLE>(c.card_handle), SCARD_LEAVE_CARD);
    pcsc.Disconnect(static_cast<SCARDHANDLE>(c.card_handle), SCARD_UNPOWER_CARD);
  } else if (c.handle_kind == HandleKind::Orvo) {
    orvo.CloseReader(static_cast<int32_t>(c.card_handle));
  }
  if (c.context != 0)
    pcsc.ReleaseContext(c.context);
  if (!outcome.Succeeded()) {
    std::fprintf(stderr, "download failed: %s\n", outcome.message.c_str());
    return {};
  }
  return elapsed;
}

// --- baselines ------------------------------------------------------------------------

Clock::duration PcscBaselineRun(const std::string& reader, const std::vector<Step>& steps,
                                Breakdown* b) {
  SCARDCONTEXT context = 0;
  if (SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context) != SCARD_S_SUCCESS)
    return {};
  SCARDHANDLE card = 0;
  SCARD_IO_REQUEST header = {};
  uint8_t atr[100];
  DWORD atr_length = 0;  // as a tool just started: the first status asks for the length
  auto reset = [&] {
    if (card != 0) {
      SCardEndTransaction(card, SCARD_LEAVE_CARD);
      SCardDisconnect(card, SCARD_UNPOWER_CARD);
      card = 0;
    }
    DWORD protocol = 0;
    if (SCardConnect(context, reader.c_str(), SCARD_SHARE_SHARED,
                     SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &card, &protocol) != SCARD_S_SUCCESS)
      return false;
    header = {protocol, sizeof(SCARD_IO_REQUEST)};
    DWORD name_length = 200, state = 0, active = 0;
    const LONG status = SCardStatus(card, nullptr, &name_length, &state, &active, atr, &atr_length);
    SCardBeginTransaction(card);
    return status == SCARD_S_SUCCESS;
  };
  auto send = [&](const uint8_t* command, size_t count, uint8_t* response, size_t* length) {
    DWORD received = 300;
    const LONG rv = SCardTransmit(card, &header, command, static_cast<DWORD>(count), nullptr,
                                  response, &received);
    *length = received;
    return rv == SCARD_S_SUCCESS;
  };
  TimedPauser pauser(b);
  const auto t = Clock::now();
  const bool ok = BaselineRun(steps, reset, send, pauser, b);
  const auto elapsed = Clock::now() - t;
  if (card != 0) {
    SCardEndTransaction(card, SCARD_LEAVE_CARD);
    SCardDisconnect(card, SCARD_UNPOWER_CARD);
  }
  SCardReleaseContext(context);
  return ok ? elapsed : Clock::duration{};
}

Clock::duration OrvoBaselineRun(const std::vector<Step>& steps, Breakdown* b) {
  int32_t handle = 0;
  auto reset = [&] {
    if (handle > 0)
      DllCloseReader(handle);
    handle = DllOpenReader();
    if (handle == -2)
      return false;
    uint8_t atr[100];
    int32_t atr_length = 0;
    return DllReset7816Card(handle, 0, atr, &atr_length) == 0;
  };
  auto send = [&](const uint8_t* command, size_t count, uint8_t* response, size_t* length) {
    int32_t received = 0;
    const int32_t rv =
        Dll7816CardAPDU(handle, 0, command, static_cast<int32_t>(count), response, &received);
    *length = rv == 0 ? static_cast<size_t>(received) : 0;
    return rv == 0;
  };
  TimedPauser pauser(b);
  const auto t = Clock::now();
  const bool ok = BaselineRun(steps, reset, send, pauser, b);
  const auto elapsed = Clock::now() - t;
  if (handle > 0)
    DllCloseReader(handle);
  return ok ? elapsed : Clock::duration{};
}

// --- measuring ------------------------------------------------------------------------

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void PrintBreakdown(const char* what, Clock::duration total, const Breakdown& b) {
  const double other = Ms(total) - Ms(b.pauses) - Ms(b.exchanges);
  std::printf(
      "  %-9s total %8.1f ms = pauses %8.1f + %zu exchanges %8.1f (%.3f ms each)"
      " + rest %6.1f (resets %.1f)\n",
      what, Ms(total), Ms(b.pauses), b.exchange_count, Ms(b.exchanges),
      b.exchange_count ? Ms(b.exchanges) / static_cast<double>(b.exchange_count) : 0.0, other,
      Ms(b.resets));
}

// Alternates the two in ABBA order; prints every time, the medians and their ratio.
// False when a run failed.
bool Compare(const char* transport, int reps, const std::function<Clock::duration()>& download,
             const std::function<Clock::duration()>& baseline) {
  std::vector<double> d, b;
  for (int i = 0; i < reps; ++i) {
    for (int half = 0; half < 2; ++half) {
      const bool download_now = (i % 2 == 0) == (half == 0);
      const double ms = Ms(download_now ? download() : baseline());
      if (ms <= 0) {
        std::fprintf(stderr, "%s: a %s run failed\n", transport,
                     download_now ? "download" : "baseline");
        return false;
      }
      (download_now ? d : b).push_back(ms);
    }
  }
  std::printf("%s: download", transport);
  for (double v : d)
    std::printf(" %.1f", v);
  std::printf(" ms\n%s: baseline", transport);
  for (double v : b)
    std::printf(" %.1f", v);
  const double md = Median(d), mb = Median(b);
  std::printf(" ms\n%s: median download %.1f ms, median baseline %.1f ms, ratio %.4f\n", transport,
              md, mb, md / mb);
  return true;
}

// tessiv-sim on the rig's first reader, without a state file: the state text grows with
// every command and writing it would weigh on whichever run it fell into.
class BenchCard {
 public:
  bool Start() {
    const std::string path = rig::TessivSimPath();
    const std::string port = std::to_string(rig::VpcdPort());
    std::vector<std::string> args = {path, "--port", port};
    std::vector<char*> argv;
    for (auto& a : args)
      argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
      pid_ = -1;
      return false;
    }
    return rig::WaitForCard(rig::RigReaderName(0), true, 10000);
  }
  ~BenchCard() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status = 0;
      waitpid(pid_, &status, 0);
    }
  }

 private:
  pid_t pid_ = -1;
};

int Main(int argc, char** argv) {
  int reps = 5;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--reps") == 0 && i + 1 < argc) {
      reps = std::max(1, std::atoi(argv[++i]));
    } else {
      std::fprintf(stderr, "usage: %s [--reps N]\n", argv[0]);
      return 2;
    }
  }
  const std::vector<std::string> lines = BenchScript();
  const std::vector<Step> steps = PlanSteps(lines);
  size_t sent = 0, data_bytes = 0;
  for (const Step& s : steps) {
    if (!s.command.empty()) {
      ++sent;
      if (s.command[1] == 0xDC)
        data_bytes += s.command.size() - 5;
    }
  }
  ScratchDir dir;
  const std::string path = dir.Write("bench.bin", sb::JoinLines(lines, "\r\n"));
  std::printf("script: %zu lines, %zu commands, %zu data bytes, %zu pauses of 1 ms; %d runs each\n",
              lines.size(), sent, data_bytes, steps.size(), reps);
  bool ok = true;

  if (rig::VpcdPort() == 0) {
    std::printf("PC/SC: skipped (run inside tests/rig/pcsc-rig)\n");
  } else {
    BenchCard card;
    const std::string reader = rig::RigReaderName(0);
    if (!card.Start()) {
      std::fprintf(stderr, "PC/SC: tessiv-sim did not come up\n");
      return 1;
    }
    ok = Compare(
             "PC/SC", reps, [&] { return ToolRun(true, path, nullptr); },
             [&] { return PcscBaselineRun(reader, steps, nullptr); }) &&
         ok;
    Breakdown bd, bb;
    const auto td = ToolRun(true, path, &bd);
    const auto tb = PcscBaselineRun(reader, steps, &bb);
    PrintBreakdown("download", td, bd);
    PrintBreakdown("baseline", tb, bb);
  }

  {
    sim::TessivCard card;
    sim::SimulatedOrvoReader reader(&card);
    reader.Install();
    auto clear = [&] { reader.ClearRecords(); };
    ok = Compare(
             "Orvo", reps,
             [&] {
               clear();
               return ToolRun(false, path, nullptr);
             },
             [&] {
               clear();
               return OrvoBaselineRun(steps, nullptr);
             }) &&
         ok;
    Breakdown bd, bb;
    clear();
    const auto td = ToolRun(false, path, &bd);
    clear();
    const auto tb = OrvoBaselineRun(steps, &bb);
    PrintBreakdown("download", td, bd);
    PrintBreakdown("baseline", tb, bb);
    if (card.Counter() != kCounter) {
      std::fprintf(stderr, "Orvo: the card holds no counter\n");
      ok = false;
    }
  }
  return ok ? 0 : 1;
}

}  // namespace
}  // namespace pelliton::bench

int main(int argc, char** argv) {
  return pelliton::bench::Main(argc, argv);
}
