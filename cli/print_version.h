// pelliton-cli --version: the program's name and version.
#pragma once

#include <cstdio>

namespace pelliton::cli {

// Writes "pelliton-cli VERSION\n" on out.
void PrintVersion(std::FILE* out);

}  // namespace pelliton::cli
