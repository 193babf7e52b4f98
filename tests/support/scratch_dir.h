// A private scratch folder per test, removed with everything in it afterwards.
#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>

namespace pelliton {

// A file's whole content; empty when it cannot be read.
inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class ScratchDir {
 public:
  ScratchDir() {
    std::random_device random;
    root_ = std::filesystem::temp_directory_path() /
            ("pelliton-test-" + std::to_string(random()) + "-" + std::to_string(random()));
    std::filesystem::create_directories(root_);
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  std::string PathOf(std::string_view name) const { return (root_ / name).string(); }

  // Writes bytes exactly as given (binary) and returns the file's path.
  std::string Write(std::string_view name, std::string_view bytes) const {
    const std::string path = PathOf(name);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
  }

 private:
  std::filesystem::path root_;
};

}  // namespace pelliton
