#include "cli/render/output.h"

#include "cli/exit_status.h"

#include <atomic>
#include <cerrno>
#include <cstring>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

namespace pelliton::cli {

namespace {

// errno of the first failed write; 0 until one fails.
std::atomic<int> first_failure{0};

void Remember(int error) {
  int none = 0;
  first_failure.compare_exchange_strong(none, error != 0 ? error : EIO);
}

void ClearError() {
  errno = 0;
#ifdef _WIN32
  SetLastError(0);
#endif
}

// errno of the write that just failed. On Windows the C runtime says EINVAL for a pipe
// whose reader went away; the system's own code tells it.
int WriteError() {
#ifdef _WIN32
  const DWORD last = GetLastError();
  if (last == ERROR_NO_DATA || last == ERROR_BROKEN_PIPE || last == ERROR_PIPE_NOT_CONNECTED)
    return EPIPE;
#endif
  return errno;
}

}  // namespace

void Emit(std::FILE* out, std::string_view text) {
  if (out == nullptr)
    return;
  ClearError();
  const bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
  if (!written || std::fflush(out) != 0)
    Remember(WriteError());
}

bool OutputFailed(std::FILE* out) {
  if (out == nullptr)
    return false;
  ClearError();
  if (std::fflush(out) != 0)
    Remember(WriteError());
  if (std::ferror(out) == 0)
    return false;
  Remember(EIO);
  return true;
}

std::string OutputFailureMessage() {
  const int error = first_failure.load();
  return std::string("pelliton-cli: could not write the output: ") +
         std::strerror(error != 0 ? error : EIO) + "\n";
}

int CheckedExit(int status, const Streams& streams) {
  if (!OutputFailed(streams.out))
    return status;
  Emit(streams.err, OutputFailureMessage());
  return kExitOutput;
}

}  // namespace pelliton::cli
