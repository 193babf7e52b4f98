// The plant database's schema as migrations: version N's SQL takes a plant at version
// N - 1 to N.
#pragma once

#include <string>
#include <vector>

namespace pelliton::plant {

struct Migration {
  int version;
  const char* what;  // one line for plant init's output
  std::string sql;
};

// In order of version, from 1.
std::vector<Migration> Migrations();

}  // namespace pelliton::plant
