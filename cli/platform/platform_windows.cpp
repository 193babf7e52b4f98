// The Windows side of cli/platform/platform.h: console control events in place of signals,
// hooks through cmd.exe in a job object that a timeout ends as a whole, settings under
// %APPDATA%.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h, which they need.
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <mutex>

#include "cli/defaults.h"
#include "cli/platform/platform.h"

namespace pelliton::cli {

namespace {

HANDLE HandleOf(std::FILE* stream) {
  return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
}

// The system's text for an error code, on one line.
std::string ErrorText(DWORD error) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message = length != 0 && text != nullptr ? std::string(text, length) : "";
  LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.'))
    message.pop_back();
  return message.empty() ? "error " + std::to_string(error) : message;
}

}  // namespace

void PrepareStandardStreams() {
  for (std::FILE* stream : {stdout, stderr}) {
    _setmode(_fileno(stream), _O_BINARY);
    const HANDLE handle = HandleOf(stream);
    DWORD mode = 0;
    if (GetConsoleMode(handle, &mode))
      SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
  }
}

bool IsTerminal(std::FILE* stream) {
  // _isatty would also call the NUL device a terminal.
  DWORD mode = 0;
  return GetConsoleMode(HandleOf(stream), &mode) &&
         (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

size_t TerminalColumns(std::FILE* stream) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (GetConsoleScreenBufferInfo(HandleOf(stream), &info) &&
      info.srWindow.Right > info.srWindow.Left)
    return static_cast<size_t>(info.srWindow.Right - info.srWindow.Left + 1);
  return 80;
}

void WriteStandardError(const std::string& text) {
  const HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
  size_t written = 0;
  while (written < text.size()) {
    DWORD n = 0;
    if (!WriteFile(handle, text.data() + written, static_cast<DWORD>(text.size() - written), &n,
                   nullptr) ||
        n == 0)
      break;
    written += n;
  }
}

namespace {

// What the console control handler shares with the StopRequests alive at the time. The
// system calls the handler on a thread it makes for each event.
struct ConsoleEvents {
  std::mutex mutex;
  std::condition_variable changed;
  std::function<void(int)> on_request;
  bool alive = false;
  int calling = 0;  // handlers inside on_request
};

// Never destroyed: an event may come while the process ends.
ConsoleEvents& Events() {
  static ConsoleEvents* const events = new ConsoleEvents;
  return *events;
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
  ConsoleEvents& events = Events();
  {
    const std::lock_guard lock(events.mutex);
    if (!events.alive)
      return FALSE;  // the default: end the process
    ++events.calling;
  }
  events.on_request(event == CTRL_C_EVENT ? SIGINT : SIGTERM);
  std::unique_lock lock(events.mutex);
  --events.calling;
  events.changed.notify_all();
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT)
    return TRUE;
  // Close, log-off, shutdown: the process ends when this returns, so it returns when the
  // run is over (or Windows ends the process when it stops waiting).
  events.changed.wait(lock, [&events] { return !events.alive; });
  return TRUE;
}

}  // namespace

struct StopRequests::State {};

StopRequests::StopRequests(std::function<void(int)> on_request)
    : state_(std::make_unique<State>()) {
  ConsoleEvents& events = Events();
  {
    const std::lock_guard lock(events.mutex);
    events.on_request = std::move(on_request);
    events.alive = true;
  }
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

StopRequests::~StopRequests() {
  SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
  ConsoleEvents& events = Events();
  std::unique_lock lock(events.mutex);
  events.alive = false;
  events.changed.notify_all();
  events.changed.wait(lock, [&events] { return events.calling == 0; });
  events.on_request = nullptr;
}

std::vector<std::string> ProcessEnvironment() {
  std::vector<std::string> entries;
  char* block = GetEnvironmentStringsA();
  if (block == nullptr)
    return entries;
  for (const char* entry = block; *entry != '\0'; entry += entries.back().size() + 1)
    entries.emplace_back(entry);
  FreeEnvironmentStringsA(block);
  return entries;
}

std::string RunShellCommand(const std::string& command, const std::vector<std::string>& environment,
                            std::chrono::milliseconds timeout) {
  const char* comspec = std::getenv("ComSpec");
  const std::string shell = comspec != nullptr && *comspec != '\0' ? comspec : "cmd.exe";
  // /s: cmd takes everything between the outer quotes as the command, unchanged.
  std::string line = "\"" + shell + "\" /d /s /c \"" + command + "\"";
  std::string block;
  for (const std::string& entry : environment)
    block += entry + '\0';
  block += '\0';

  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  const HANDLE nul = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 &inheritable, OPEN_EXISTING, 0, nullptr);
  HANDLE err = nullptr;
  DuplicateHandle(GetCurrentProcess(), GetStdHandle(STD_ERROR_HANDLE), GetCurrentProcess(), &err, 0,
                  TRUE, DUPLICATE_SAME_ACCESS);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nul;
  startup.hStdOutput = err;
  startup.hStdError = err;

  // Everything the hook starts stays in its job, and ends with it.
  const HANDLE job = CreateJobObjectA(nullptr, nullptr);
  if (job != nullptr) {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
  }
  PROCESS_INFORMATION process{};
  const BOOL started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE,
                                      CREATE_SUSPENDED | CREATE_NEW_PROCESS_GROUP, block.data(),
                                      nullptr, &startup, &process);
  const DWORD start_error = GetLastError();
  if (nul != INVALID_HANDLE_VALUE)
    CloseHandle(nul);
  if (err != nullptr)
    CloseHandle(err);
  if (!started) {
    if (job != nullptr)
      CloseHandle(job);
    return "could not be started: " + ErrorText(start_error);
  }
  const bool in_job = job != nullptr && AssignProcessToJobObject(job, process.hProcess);
  ResumeThread(process.hThread);
  CloseHandle(process.hThread);

  std::string end;
  const auto wait_ms = static_cast<DWORD>(
      std::min<long long>(timeout.count(), static_cast<long long>(INFINITE) - 1));
  if (WaitForSingleObject(process.hProcess, wait_ms) == WAIT_OBJECT_0) {
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    if (code != 0) {
      end = "exited with status " + std::to_string(code);
      if (code == 9009)  // cmd.exe's status for a name it cannot find
        end += " (command not found)";
    }
  } else {
    if (in_job)
      TerminateJobObject(job, 1);
    else
      TerminateProcess(process.hProcess, 1);
    WaitForSingleObject(process.hProcess, INFINITE);
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(timeout).count();
    end = "did not end within " + std::to_string(seconds) + " s; it was ended with " +
          (in_job ? "everything it started" : "its shell");
  }
  CloseHandle(process.hProcess);
  if (job != nullptr)
    CloseHandle(job);
  return end;
}

std::string ConfigPath(const std::function<const char*(const char*)>& getenv) {
  // An absolute path: a drive letter and a backslash, or a UNC path.
  const char* appdata = getenv("APPDATA");
  const std::string base = appdata != nullptr ? appdata : "";
  const bool absolute =
      (base.size() >= 3 && base[1] == ':' && (base[2] == '\\' || base[2] == '/')) ||
      base.starts_with("\\\\");
  if (!absolute)
    return {};
  return base + "\\pelliton\\cli.conf";
}

}  // namespace pelliton::cli
