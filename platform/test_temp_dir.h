// test_temp_dir.h: a fresh scratch directory per test, removed again with everything in it.
#ifndef PEERBEACON_PLATFORM_TEST_TEMP_DIR_H_
#define PEERBEACON_PLATFORM_TEST_TEMP_DIR_H_

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

#include "platform/platform.h"

namespace pb::platform::testing {

class TempDir {
 public:
  TempDir() {
    static std::atomic<int> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ = std::filesystem::temp_directory_path() /
            ("pb_platform_" + std::to_string(stamp) + "_" + std::to_string(counter++));
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The full path of name inside the directory, in the platform's own spelling.
  std::string File(const std::string& name) const {
    std::string dir = path_.string();
    if (!dir.empty() && dir.back() != PathSeparator()) dir += PathSeparator();
    return dir + name;
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace pb::platform::testing

#endif  // PEERBEACON_PLATFORM_TEST_TEMP_DIR_H_
