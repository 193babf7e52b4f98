#include "cli/render/output.h"

#include "cli/exit_status.h"

#include <atomic>
#include <cerrno>
#include <cstring>

namespace pelliton::cli {

namespace {

// errno of the first failed write; 0 until one fails.
std::atomic<int> first_failure{0};

void Remember(int error) {
  int none = 0;
  first_failure.compare_exchange_strong(none, error != 0 ? error : EIO);
}

}  // namespace

void Emit(std::FILE* out, std::string_view text) {
  if (out == nullptr)
    return;
  errno = 0;
  const bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
  if (!written || std::fflush(out) != 0)
    Remember(errno);
}

bool OutputFailed(std::FILE* out) {
  if (out == nullptr)
    return false;
  errno = 0;
  if (std::fflush(out) != 0)
    Remember(errno);
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
