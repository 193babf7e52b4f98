#include "journal/file_identity.h"

#ifdef _WIN32
#include <windows.h>

#include <vector>
#else
#include <sys/stat.h>
#endif

namespace pelliton::journal {

#ifdef _WIN32

std::optional<FileIdentity> IdentityOf(const std::string& path) {
  // Attributes only, sharing everything: SQLite's own handle is never disturbed.
  // Paths are UTF-8 in this program.
  const int length = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
  if (length <= 0)
    return std::nullopt;
  std::vector<wchar_t> wide(static_cast<size_t>(length));
  MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide.data(), length);
  HANDLE file = CreateFileW(wide.data(), FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return std::nullopt;
  BY_HANDLE_FILE_INFORMATION info{};
  const BOOL ok = GetFileInformationByHandle(file, &info);
  CloseHandle(file);
  if (!ok)
    return std::nullopt;
  return FileIdentity{info.dwVolumeSerialNumber,
                      (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

#else

std::optional<FileIdentity> IdentityOf(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0)
    return std::nullopt;
  return FileIdentity{static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino)};
}

#endif

}  // namespace pelliton::journal
