// Which file a path names now, so that a journal can tell that the file it has open is
// still the one at its path: a journal moved, replaced or deleted while a station writes
// would otherwise take its records into a file nobody will ever read.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace pelliton::journal {

struct FileIdentity {
  uint64_t device = 0;  // POSIX: st_dev; Windows: the volume's serial number
  uint64_t file = 0;    // POSIX: st_ino; Windows: the file index
  bool operator==(const FileIdentity&) const = default;
};

// nullopt when the path names no file (gone, or its folder is).
std::optional<FileIdentity> IdentityOf(const std::string& path);

}  // namespace pelliton::journal
