// fuzz_input.h: helpers shared by the fuzz targets: taking typed values off the fuzzer's bytes,
// a scratch directory of the process's own, and the check that aborts on a broken invariant.
#ifndef PEERBEACON_FUZZ_FUZZ_INPUT_H_
#define PEERBEACON_FUZZ_FUZZ_INPUT_H_

#include <stdlib.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

namespace pb::fuzz {

// A broken invariant is a finding: it must stop the run with a message and a crash report, not
// pass silently, so it aborts in every build type.
[[noreturn]] inline void Fail(const char* what, const char* file, int line) {
  std::fprintf(stderr, "invariant broken at %s:%d: %s\n", file, line, what);
  std::abort();
}

#define PB_FUZZ_CHECK(cond)                                   \
  do {                                                        \
    if (!(cond)) ::pb::fuzz::Fail(#cond, __FILE__, __LINE__); \
  } while (0)

// Reads typed values from the front of the input; past its end every value is zero or empty,
// so a target never needs to count bytes itself.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  size_t remaining() const { return size_ - pos_; }
  bool empty() const { return pos_ >= size_; }

  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint16_t U16() {
    const uint16_t lo = Byte();
    return static_cast<uint16_t>(lo | (Byte() << 8));
  }
  uint32_t U32() {
    const uint32_t lo = U16();
    return lo | (static_cast<uint32_t>(U16()) << 16);
  }
  // Up to max bytes: the count is taken from one length byte.
  std::string ShortString(size_t max = 255) {
    const size_t n = Byte();
    return Bytes(n < max ? n : max);
  }
  // Bytes up to (not including) the next terminator byte, or to the end.
  std::string Until(uint8_t terminator) {
    std::string out;
    while (pos_ < size_) {
      const uint8_t c = data_[pos_++];
      if (c == terminator) break;
      out.push_back(static_cast<char>(c));
    }
    return out;
  }
  std::string Bytes(size_t n) {
    if (n > remaining()) n = remaining();
    std::string out(reinterpret_cast<const char*>(data_ + pos_), n);
    pos_ += n;
    return out;
  }
  std::string Rest() { return Bytes(remaining()); }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// A C string as a fuzzer gives it: cut at its first NUL.
inline std::string CString(const std::string& bytes) { return std::string(bytes.c_str()); }

// putenv keeps the string it is given, so each variable's text is kept here until replaced.
inline void SetEnv(const char* name, const std::string& value) {
  static std::vector<std::unique_ptr<std::string>>* texts =
      new std::vector<std::unique_ptr<std::string>>();
  auto text = std::make_unique<std::string>(std::string(name) + "=" + value);
  putenv(text->data());
  texts->push_back(std::move(text));
  if (texts->size() > 64) texts->erase(texts->begin());  // long replaced by now
}

// A directory of this process's own under the temporary directory, removed at exit (libFuzzer
// ends with exit(), so the targets' long-lived instances are removed by an exit handler). Each
// NextDir() is a fresh, empty subdirectory (the previous one is removed first), so a file
// written there always has a path of its own: no cache keyed by path and file identity can
// confuse one input's file with the last one's.
class ScratchDir {
 public:
  ScratchDir() {
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    root_ = std::filesystem::temp_directory_path() / ("pb_fuzz_" + std::to_string(stamp));
    std::filesystem::create_directories(root_);
    Roots().push_back(root_);
    static const bool registered = std::atexit(RemoveRoots) == 0;
    (void)registered;
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  std::string NextDir() {
    std::error_code ignored;
    if (!current_.empty()) std::filesystem::remove_all(current_, ignored);
    current_ = root_ / std::to_string(serial_++);
    std::filesystem::create_directories(current_);
    return current_.string();
  }
  const std::filesystem::path& root() const { return root_; }

 private:
  static std::vector<std::filesystem::path>& Roots() {
    static auto* roots = new std::vector<std::filesystem::path>();
    return *roots;
  }
  static void RemoveRoots() {
    std::error_code ignored;
    for (const auto& root : Roots()) std::filesystem::remove_all(root, ignored);
  }
  std::filesystem::path root_;
  std::filesystem::path current_;
  uint64_t serial_ = 0;
};

inline void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  PB_FUZZ_CHECK(out.good());
}

// A heap block of exactly size bytes followed by a canary region, so that a writer given size
// bytes is caught both by AddressSanitizer (reads) and by the canary (writes past size that
// stay inside the allocation).
class CanaryBuffer {
 public:
  static constexpr size_t kCanary = 32;
  static constexpr uint8_t kFill = 0xA5;
  explicit CanaryBuffer(size_t size) : size_(size), bytes_(size + kCanary, kFill) {}
  uint8_t* data() { return bytes_.data(); }
  size_t size() const { return size_; }
  bool CanaryIntact() const {
    for (size_t i = size_; i < bytes_.size(); ++i) {
      if (bytes_[i] != kFill) return false;
    }
    return true;
  }
  bool Untouched() const {
    for (uint8_t b : bytes_) {
      if (b != kFill) return false;
    }
    return true;
  }

 private:
  size_t size_;
  std::vector<uint8_t> bytes_;
};

}  // namespace pb::fuzz

#endif  // PEERBEACON_FUZZ_FUZZ_INPUT_H_
