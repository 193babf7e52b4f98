#include "cli/print_version.h"

namespace pelliton::cli {

void PrintVersion(std::FILE* out) {
  std::fprintf(out, "pelliton-cli %s\n", PELLITON_VERSION);
}

}  // namespace pelliton::cli
