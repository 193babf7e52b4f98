#include "tests/rig/sim_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <winscard.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace pelliton::rig {
namespace {

using Clock = std::chrono::steady_clock;

void SleepMs(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Context for one helper call, released on scope exit.
class Context {
 public:
  Context() {
    if (SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context_) != SCARD_S_SUCCESS) {
      context_ = 0;
    }
  }
  ~Context() {
    if (context_ != 0) {
      SCardReleaseContext(context_);
    }
  }
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;
  SCARDCONTEXT get() const { return context_; }

 private:
  SCARDCONTEXT context_ = 0;
};

}  // namespace

uint16_t VpcdPort() {
  const char* text = std::getenv("PELLITON_VPCD_PORT");
  uint16_t port = 0;
  if (text == nullptr) {
    return 0;
  }
  const char* end = text + std::strlen(text);
  const auto result = std::from_chars(text, end, port);
  return result.ec == std::errc{} && result.ptr == end ? port : 0;
}

pid_t RigPcscdPid() {
  const char* text = std::getenv("PELLITON_RIG_PCSCD");
  pid_t pid = 0;
  if (text == nullptr) {
    return 0;
  }
  const char* end = text + std::strlen(text);
  const auto result = std::from_chars(text, end, pid);
  return result.ec == std::errc{} && result.ptr == end && pid > 0 ? pid : 0;
}

std::optional<double> ProcessCpuSeconds(pid_t pid) {
  if (pid <= 0) {
    return std::nullopt;
  }
  std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
  std::string text;
  if (!std::getline(file, text)) {
    return std::nullopt;
  }
  // The command name (field 2) is in parentheses and may hold spaces and parentheses
  // itself, so the fields are counted from the last closing one: state is field 3,
  // utime and stime are fields 14 and 15.
  const size_t name_end = text.rfind(')');
  if (name_end == std::string::npos) {
    return std::nullopt;
  }
  std::istringstream fields(text.substr(name_end + 1));
  std::string skipped;
  for (int field = 3; field <= 13; ++field) {
    fields >> skipped;
  }
  unsigned long long user = 0;
  unsigned long long system = 0;
  if (!(fields >> user >> system)) {
    return std::nullopt;
  }
  return static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

std::string TessivSimPath() {
  const char* path = std::getenv("PELLITON_TESSIV_SIM");
  return path != nullptr && *path != '\0' ? path : PELLITON_TESSIV_SIM_PATH;
}

std::vector<std::string> ListReaders() {
  Context context;
  std::vector<std::string> names;
  if (context.get() == 0) {
    return names;
  }
  DWORD length = 0;
  if (SCardListReaders(context.get(), nullptr, nullptr, &length) != SCARD_S_SUCCESS ||
      length == 0) {
    return names;
  }
  std::vector<char> buffer(length + 1, '\0');
  if (SCardListReaders(context.get(), nullptr, buffer.data(), &length) != SCARD_S_SUCCESS) {
    return names;
  }
  for (const char* name = buffer.data(); *name != '\0' && name < buffer.data() + length;
       name += std::strlen(name) + 1) {
    names.emplace_back(name);
  }
  return names;
}

std::string RigReaderName(int reader) {
  // vpcd names its readers after the configured friendly name with the slot number last;
  // the rig names each port pair's after its number ("Virtual PCD 1" for the second).
  // pcscd lists them in whatever order it read its configuration, so the name is made
  // here and then looked for.
  if (reader < 0 || reader >= kMaxRigReaders) {
    return {};
  }
  const int pair = reader / 2;
  const std::string name = "Virtual PCD" +
                           (pair == 0 ? std::string() : " " + std::to_string(pair)) + " 00 0" +
                           std::to_string(reader % 2);
  const auto names = ListReaders();
  return std::find(names.begin(), names.end(), name) != names.end() ? name : std::string();
}

bool WaitForCard(const std::string& reader, bool present, int timeout_ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  Context context;
  if (context.get() == 0 || reader.empty()) {
    return false;
  }
  SCARD_READERSTATE state = {};
  state.szReader = reader.c_str();
  state.dwCurrentState = SCARD_STATE_UNAWARE;
  while (true) {
    const LONG rv = SCardGetStatusChange(context.get(), 100, &state, 1);
    if (rv == SCARD_S_SUCCESS || rv == SCARD_E_TIMEOUT) {
      const DWORD now = state.dwEventState;
      const bool has_card = (now & SCARD_STATE_PRESENT) != 0 && (now & SCARD_STATE_MUTE) == 0;
      const bool empty = (now & SCARD_STATE_EMPTY) != 0;
      if (present ? has_card : empty) {
        return true;
      }
      state.dwCurrentState = now & ~static_cast<DWORD>(SCARD_STATE_CHANGED);
    } else {
      SleepMs(50);
    }
    if (Clock::now() >= deadline) {
      return false;
    }
  }
}

namespace {

std::optional<ReaderEvents> ReadReaderEvents(const Context& context, const std::string& reader) {
  if (context.get() == 0 || reader.empty()) {
    return std::nullopt;
  }
  SCARD_READERSTATE state = {};
  state.szReader = reader.c_str();
  state.dwCurrentState = SCARD_STATE_UNAWARE;
  const LONG rv = SCardGetStatusChange(context.get(), 0, &state, 1);
  if (rv != SCARD_S_SUCCESS && rv != SCARD_E_TIMEOUT) {
    return std::nullopt;
  }
  const DWORD now = state.dwEventState;
  ReaderEvents events;
  events.count = static_cast<uint16_t>(now >> 16);
  events.present = (now & SCARD_STATE_PRESENT) != 0 && (now & SCARD_STATE_MUTE) == 0;
  events.empty = (now & SCARD_STATE_EMPTY) != 0;
  events.mute = (now & SCARD_STATE_MUTE) != 0;
  events.in_use = (now & (SCARD_STATE_INUSE | SCARD_STATE_EXCLUSIVE)) != 0;
  return events;
}

// pcscd counts from 0 with the reader empty and adds one for every insertion and every
// removal its polling notices, so an even count means its polling last saw the reader
// empty. A reader shown empty with an odd count was marked empty outside that polling
// (the card left in the middle of a command) and the removal is still to be counted.
// A reader shown mute with an even count is one whose card left while pcscd cleaned up
// after a killed client: its polling counted the card out, then the cleanup's reset
// failed and marked the reader "present, mute", which nothing but the next card's
// insertion changes. The polling knows the card is gone, so that reader is ready too.
bool CountedOut(const ReaderEvents& events) {
  return !events.present && (events.empty || events.mute) && events.count % 2 == 0;
}
bool CountedIn(const ReaderEvents& events) {
  return events.present && events.count % 2 == 1;
}

// Polls `reader` every 20 ms until `done` holds; the last reading, or nullopt on timeout
// (then `last` keeps the last reading, for the note that says so).
std::optional<ReaderEvents> PollReader(const std::string& reader,
                                       const std::function<bool(const ReaderEvents&)>& done,
                                       int timeout_ms,
                                       std::optional<ReaderEvents>* last = nullptr) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  Context context;
  while (true) {
    const auto events = ReadReaderEvents(context, reader);
    if (events && done(*events)) {
      return events;
    }
    if (Clock::now() >= deadline) {
      if (last != nullptr) {
        *last = events;
      }
      return std::nullopt;
    }
    SleepMs(20);
  }
}

// A wait that ran out, with what pcscd showed last, so that a failure can be told apart
// from a slow machine.
void Note(const std::string& reader, const char* what, const std::optional<ReaderEvents>& last) {
  std::string shown = "no answer from pcscd";
  if (last) {
    shown = "count " + std::to_string(last->count) + (last->present ? ", present" : "") +
            (last->empty ? ", empty" : "") + (last->mute ? ", mute" : "");
  }
  std::fprintf(stderr, "rig: %s: %s (last shown: %s)\n", reader.c_str(), what, shown.c_str());
}

}  // namespace

std::optional<ReaderEvents> ReadReaderEvents(const std::string& reader) {
  Context context;
  return ReadReaderEvents(context, reader);
}

bool SimProcess::Start(int reader, const std::vector<std::string>& options) {
  Stop();
  const uint16_t port = VpcdPort();
  if (port == 0 || reader < 0 || reader >= kMaxRigReaders) {
    return false;
  }
  // Under TMPDIR, which the rig points into a folder it removes however the test ends.
  const char* tmp = std::getenv("TMPDIR");
  std::string dir_template =
      std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/tessiv-sim.XXXXXX";
  if (mkdtemp(dir_template.data()) == nullptr) {
    return false;
  }
  dir_ = dir_template;
  reader_ = reader;
  reader_name_ = RigReaderName(reader);
  inserted_count_.reset();
  // A card started before pcscd has counted the last one out may never be seen.
  std::optional<ReaderEvents> last;
  if (!reader_name_.empty() && !PollReader(reader_name_, CountedOut, 5000, &last)) {
    Note(reader_name_, "the last card was not counted out within 5 s; no new card started", last);
    return false;
  }
  state_path_ = dir_ + "/state";
  std::vector<std::string> args = {TessivSimPath(), "--port", std::to_string(port + reader),
                                   "--state", state_path_};
  args.insert(args.end(), options.begin(), options.end());
  std::vector<char*> argv;
  for (auto& arg : args) {
    argv.push_back(arg.data());
  }
  argv.push_back(nullptr);
  // Same process group as the test, so the rig's group kill reaches it.
  if (posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
    pid_ = -1;
    return false;
  }
  return true;
}

bool SimProcess::StartAndWait(int reader, const std::vector<std::string>& options, int timeout_ms) {
  return Start(reader, options) && WaitForInsertion(timeout_ms);
}

bool SimProcess::WaitForInsertion(int timeout_ms) {
  if (reader_name_.empty()) {
    return false;
  }
  const auto events = PollReader(reader_name_, CountedIn, timeout_ms);
  if (!events) {
    return false;
  }
  inserted_count_ = events->count;
  return true;
}

bool SimProcess::WaitForRemoval(int timeout_ms) {
  if (reader_name_.empty()) {
    return false;
  }
  const auto inserted = inserted_count_;
  return PollReader(
             reader_name_,
             [&](const ReaderEvents& e) { return CountedOut(e) && e.count != inserted; },
             timeout_ms)
      .has_value();
}

bool SimProcess::WaitUntilUnused(int timeout_ms) {
  return !reader_name_.empty() &&
         PollReader(
             reader_name_, [](const ReaderEvents& e) { return !e.in_use; }, timeout_ms)
             .has_value();
}

bool SimProcess::Running() {
  if (pid_ <= 0) {
    return false;
  }
  int status = 0;
  return waitpid(pid_, &status, WNOHANG) == 0;
}

int SimProcess::Stop() {
  int result = -1;
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    int status = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(2);
    pid_t done = 0;
    while ((done = waitpid(pid_, &status, WNOHANG)) == 0 && Clock::now() < deadline) {
      SleepMs(10);
    }
    if (done == 0) {
      kill(pid_, SIGKILL);
      done = waitpid(pid_, &status, 0);
    }
    if (done == pid_ && WIFEXITED(status)) {
      result = WEXITSTATUS(status);
    }
    pid_ = -1;
    if (!WaitForRemoval(5000)) {
      Note(reader_name_, "the stopped card was not counted out within 5 s",
           ReadReaderEvents(reader_name_));
    }
  }
  if (!dir_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
    dir_.clear();
  }
  return result;
}

bool SimProcess::RemoveCard() {
  const auto before = ReadReaderEvents(reader_name_);
  if (pid_ <= 0 || !before || kill(pid_, SIGUSR1) != 0) {
    return false;
  }
  // Counted out; or, with --cards N, the next card may already be counted in.
  const auto after = PollReader(
      reader_name_,
      [&](const ReaderEvents& e) {
        return e.count != before->count && (CountedOut(e) || CountedIn(e));
      },
      5000);
  if (!after) {
    return false;
  }
  if (CountedIn(*after)) {
    inserted_count_ = after->count;
  }
  return true;
}

std::optional<sim::CardState> SimProcess::State() const {
  std::ifstream file(state_path_, std::ios::binary);
  if (!file) {
    return std::nullopt;
  }
  std::ostringstream text;
  text << file.rdbuf();
  return sim::ParseCardState(text.str());
}

std::optional<sim::CardState> SimProcess::WaitForState(
    const std::function<bool(const sim::CardState&)>& done, int timeout_ms) const {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (true) {
    auto state = State();
    if (state && done(*state)) {
      return state;
    }
    if (Clock::now() >= deadline) {
      return std::nullopt;
    }
    SleepMs(10);
  }
}

long CardHolder::Hold(const std::string& reader, bool exclusive) {
  Release();
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0) {
    return -1;
  }
  if (pipe2(out, O_CLOEXEC) != 0) {
    close(in[0]);
    close(in[1]);
    return -1;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  std::string path = PELLITON_PCSC_HOLD_PATH;
  std::string name = reader;
  std::string mode = exclusive ? "exclusive" : "shared";
  char* argv[] = {path.data(), name.data(), mode.data(), nullptr};
  const int spawned = posix_spawn(&pid_, argv[0], &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  to_child_ = in[1];
  if (spawned != 0) {
    pid_ = -1;
    close(out[0]);
    Release();
    return -1;
  }
  // One line: "held" or "fail 0xCODE".
  std::string line;
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  while (line.find('\n') == std::string::npos && Clock::now() < deadline) {
    pollfd p = {out[0], POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) {
      continue;
    }
    char buffer[64];
    const ssize_t n = read(out[0], buffer, sizeof buffer);
    if (n <= 0) {
      break;
    }
    line.append(buffer, static_cast<size_t>(n));
  }
  close(out[0]);
  if (line.rfind("held", 0) == 0) {
    return SCARD_S_SUCCESS;
  }
  unsigned long code = 0;
  if (line.rfind("fail 0x", 0) == 0 && std::sscanf(line.c_str() + 7, "%lx", &code) == 1) {
    Release();
    return static_cast<long>(code);
  }
  Release();
  return -1;
}

void CardHolder::Release() {
  if (to_child_ >= 0) {
    close(to_child_);
    to_child_ = -1;
  }
  if (pid_ > 0) {
    int status = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(2);
    pid_t done = 0;
    while ((done = waitpid(pid_, &status, WNOHANG)) == 0 && Clock::now() < deadline) {
      SleepMs(10);
    }
    if (done == 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
    }
    pid_ = -1;
  }
}

}  // namespace pelliton::rig
