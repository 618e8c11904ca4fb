// bench_common.h: what every bench driver shares: the clock, order statistics, the memo
// payload layout and the "R key value" result lines that bench/run.sh collects.
#ifndef PEERBEACON_BENCH_BENCH_COMMON_H_
#define PEERBEACON_BENCH_BENCH_COMMON_H_

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace pbbench {

// Nanoseconds of the monotonic clock. On Linux steady_clock is CLOCK_MONOTONIC, which every
// process on the machine shares (network namespaces do not change it), so timestamps written
// by drivers in different namespaces can be compared.
inline int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

inline void SleepMs(int64_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// The q-quantile (0..1) by the nearest-rank rule; 0 for an empty sample.
inline double Quantile(std::vector<double> values, double q) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  size_t rank = static_cast<size_t>(q * static_cast<double>(values.size()) + 0.999999);
  rank = std::clamp<size_t>(rank, 1, values.size());
  return values[rank - 1];
}

// The median; for an even count the mean of the two middle values.
inline double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// One result line; bench/report.py turns every such line into a field of results.json.
inline void Result(const std::string& key, double value) {
  std::printf("R %s %.9g\n", key.c_str(), value);
  std::fflush(stdout);
}

// A memo payload as the memo benches send it: bytes 0-7 hold the checksum of bytes 8 to the
// end, bytes 8-11 the phase the memo belongs to; the rest is a pseudo-random fill. A receiver
// verifies the checksum, so a memo that arrives cut short or changed is counted as bad.
inline constexpr size_t kPayloadHeader = 12;

inline uint64_t Checksum(const uint8_t* data, size_t size) {
  // Fletcher-style sums over 64-bit words in four independent lanes: any changed, lost or moved
  // word changes it, and it runs at memory speed, so that the receiver's work inside the timed
  // exchange stays small next to moving the bytes (the same work is done on both sides, and a
  // slow one would only pull every ratio towards 1).
  uint64_t a[4] = {1, 2, 3, 4}, b[4] = {0, 0, 0, 0};
  size_t i = 0;
  for (; i + 32 <= size; i += 32) {
    for (int k = 0; k < 4; ++k) {
      uint64_t word;
      std::memcpy(&word, data + i + 8 * k, 8);
      a[k] += word;
      b[k] += a[k];
    }
  }
  for (; i < size; ++i) {
    a[0] += data[i];
    b[0] += a[0];
  }
  uint64_t sum = size;
  for (int k = 0; k < 4; ++k)
    sum = (sum ^ a[k]) * 0x100000001B3ull ^ (b[k] * 0x9E3779B97F4A7C15ull);
  return sum;
}

inline std::vector<uint8_t> MakePayload(size_t size, uint32_t phase, uint64_t seed) {
  std::vector<uint8_t> payload(std::max(size, kPayloadHeader));
  uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
  for (size_t i = kPayloadHeader; i < payload.size(); ++i) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    payload[i] = static_cast<uint8_t>(x);
  }
  std::memcpy(payload.data() + 8, &phase, 4);
  const uint64_t sum = Checksum(payload.data() + 8, payload.size() - 8);
  std::memcpy(payload.data(), &sum, 8);
  return payload;
}

// Checks a received payload; on success *phase is its phase.
inline bool VerifyPayload(const uint8_t* data, size_t size, uint32_t* phase) {
  if (size < kPayloadHeader) return false;
  uint64_t sum;
  std::memcpy(&sum, data, 8);
  std::memcpy(phase, data + 8, 4);
  return Checksum(data + 8, size - 8) == sum;
}

// A phase that tells the memo receiver the run is over.
inline constexpr uint32_t kQuitPhase = 0xFFFFFFFFu;

// Value of a "Name:   value kB" line of /proc/self/status, or -1.
inline int64_t ProcStatusValue(const char* name) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const size_t n = std::strlen(name);
  while (std::getline(in, line)) {
    if (line.compare(0, n, name) == 0 && line.size() > n && line[n] == ':') {
      return std::strtoll(line.c_str() + n + 1, nullptr, 10);
    }
  }
  return -1;
}

// The plug-in's presence group when no settings name another.
inline constexpr char kDefaultGroup[] = "239.191.38.82";

// Whether this network namespace has joined the IPv4 group "a.b.c.d" on some interface, from
// /proc/net/igmp, which prints each group as its network-order bytes read as a little-endian
// word in hex. A plug-in's start may return before its receiver has joined (under load the
// join can come seconds later); a driver that needs the receiver to hear waits for this.
inline bool GroupJoined(const std::string& group) {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (std::sscanf(group.c_str(), "%u.%u.%u.%u", &a, &b, &c, &d) != 4) return false;
  char hex[16];
  std::snprintf(hex, sizeof hex, "%02X%02X%02X%02X", d & 255, c & 255, b & 255, a & 255);
  std::ifstream in("/proc/net/igmp");
  std::string word;
  while (in >> word) {
    if (word == hex) return true;
  }
  return false;
}

// Asks done() every pause_ms until it is true, at most timeout_ms; false on time-out.
template <typename Done>
bool WaitFor(Done done, int64_t timeout_ms, int64_t pause_ms) {
  const int64_t deadline = NowNs() + timeout_ms * 1000000;
  while (!done()) {
    if (NowNs() > deadline) return false;
    SleepMs(pause_ms);
  }
  return true;
}

// Waits until GroupJoined(group), at most timeout_ms; false on time-out.
inline bool WaitForGroup(const std::string& group, int64_t timeout_ms) {
  return WaitFor([&] { return GroupJoined(group); }, timeout_ms, 2);
}

// Seconds of processor time this process has used, all threads.
inline double ProcessCpuSeconds() {
  return static_cast<double>(std::clock()) / static_cast<double>(CLOCKS_PER_SEC);
}

// Comma-separated integers ("1,16,64").
inline std::vector<int64_t> ParseList(const std::string& text) {
  std::vector<int64_t> values;
  std::stringstream in(text);
  std::string item;
  while (std::getline(in, item, ',')) {
    if (!item.empty()) values.push_back(std::strtoll(item.c_str(), nullptr, 10));
  }
  return values;
}

// "--name value" options: the value of name, or fallback.
inline std::string Option(int argc, char** argv, const char* name, const std::string& fallback) {
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], name) == 0) return argv[i + 1];
  }
  return fallback;
}

inline int64_t IntOption(int argc, char** argv, const char* name, int64_t fallback) {
  const std::string value = Option(argc, argv, name, "");
  return value.empty() ? fallback : std::strtoll(value.c_str(), nullptr, 10);
}

inline bool WriteTextFile(const std::string& path, const std::string& text) {
  std::ofstream out(path + ".tmp", std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  return out.good() && std::rename((path + ".tmp").c_str(), path.c_str()) == 0;
}

inline bool FileExists(const std::string& path) { return std::ifstream(path).good(); }

// Waits until path exists, at most timeout_ms; false on time-out.
inline bool WaitForFile(const std::string& path, int64_t timeout_ms) {
  return WaitFor([&] { return FileExists(path); }, timeout_ms, 1);
}

inline int64_t ReadInt64File(const std::string& path) {
  std::ifstream in(path);
  long long value = -1;
  in >> value;
  return value;
}

}  // namespace pbbench

#endif  // PEERBEACON_BENCH_BENCH_COMMON_H_
