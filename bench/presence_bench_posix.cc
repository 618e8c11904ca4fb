// presence_bench_posix.cc: how many presence updates a plug-in instance stores per second
// under a fixed-rate flood, against a plain recvfrom loop on the same socket setup.
//
//   presence_bench flood --count N --rate R --dir D [--group G] [--port P] [--first-source A]
//       sends N valid update datagrams (each from its own source address, counting up from A,
//       default 198.18.16.1) to the group at R datagrams per second through a raw socket, so
//       that every datagram is a new peer to the receiver. Writes D/flood.start (the monotonic
//       time of the first send, ns) before and D/flood.done after the flood.
//   presence_bench plugin --expect N --dir D [--idle-ms MS] [--max-seconds S]
//       a plug-in instance (not announced, so it lists only the flood's peers); writes
//       D/receiver.ready once it hears presence, then watches GetEntryCount.
//   presence_bench plain --expect N --dir D --ifaddr A [--group G] [--port P] ...
//       the baseline: a UDP socket bound and joined as the plug-in's receiver does, read by a
//       blocking recvfrom loop that counts the datagrams that pass the entry command checks.
// Both receivers stop at N, or when nothing new arrived for the idle time after the flood
// ended, and print "R presence.<side>.stored N", ".seconds" and ".per_s", where the time runs
// from the flood's first send to the last datagram stored (or counted).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

#include "bench/bench_common.h"
#include "peerbeacon.h"
#include "tests/test_host.h"
#include "wire/entry_command.h"

namespace {

using pbbench::IntOption;
using pbbench::NowNs;
using pbbench::Option;
using pbbench::Result;

constexpr uint16_t kSourcePort = 40000;

uint32_t ParseAddress(const std::string& text) {
  in_addr a{};
  return inet_pton(AF_INET, text.c_str(), &a) == 1 ? a.s_addr : 0;
}

void PutBe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}

// IPv4 + UDP headers and the entry command. The kernel fills in the IP checksum and id; the
// UDP checksum 0 means "none", which IPv4 allows.
std::vector<uint8_t> MakeDatagram(uint32_t source, uint32_t group, uint16_t port,
                                  const pb::EntryCommandBuffer& command) {
  std::vector<uint8_t> d(28 + command.size());
  d[0] = 0x45;
  PutBe16(&d[2], static_cast<uint16_t>(d.size()));
  d[8] = 1;   // TTL: the LAN only
  d[9] = 17;  // UDP
  std::memcpy(&d[12], &source, 4);
  std::memcpy(&d[16], &group, 4);
  PutBe16(&d[20], kSourcePort);
  PutBe16(&d[22], port);
  PutBe16(&d[24], static_cast<uint16_t>(8 + command.size()));
  std::memcpy(&d[28], command.data(), command.size());
  return d;
}

int Flood(int argc, char** argv) {
  const int64_t count = IntOption(argc, argv, "--count", 10000);
  const int64_t rate = IntOption(argc, argv, "--rate", 20000);
  const std::string dir = Option(argc, argv, "--dir", "");
  const uint32_t group = ParseAddress(Option(argc, argv, "--group", "239.191.38.82"));
  const uint16_t port = static_cast<uint16_t>(IntOption(argc, argv, "--port", 7129));
  const uint32_t first = ntohl(ParseAddress(Option(argc, argv, "--first-source", "198.18.16.1")));
  if (dir.empty() || count <= 0 || rate <= 0 || group == 0 || first == 0) {
    std::fprintf(stderr, "presence_bench flood: bad options\n");
    return 2;
  }
  // Every datagram is written before the clock starts, so the pacing loop only sends.
  std::vector<std::vector<uint8_t>> datagrams;
  datagrams.reserve(static_cast<size_t>(count));
  for (int64_t i = 0; i < count; ++i) {
    const std::string nickname = "flood" + std::to_string(i);
    const std::string groups = "Bench>Flood" + std::to_string(i % 16) + "&All";
    pb::EntryCommandBuffer command =
        pb::BuildEntryCommand(pb::kEntryUpdate, static_cast<int32_t>(i % 2), nickname.c_str(),
                              groups.c_str(), "bench", "FLOODPC", 0);
    datagrams.push_back(
        MakeDatagram(htonl(first + static_cast<uint32_t>(i)), group, port, command));
  }
  const int fd = socket(AF_INET, SOCK_RAW, IPPROTO_RAW);
  if (fd < 0) {
    std::perror("presence_bench flood: raw socket");
    return 1;
  }
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = group;
  const int64_t start = NowNs();
  pbbench::WriteTextFile(dir + "/flood.start", std::to_string(start) + "\n");
  int64_t sent = 0, failed = 0;
  while (sent < count) {
    const int64_t due = std::min<int64_t>(count, (NowNs() - start) * rate / 1000000000 + 1);
    for (; sent < due; ++sent) {
      const std::vector<uint8_t>& d = datagrams[static_cast<size_t>(sent)];
      if (sendto(fd, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) < 0) {
        ++failed;
      }
    }
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
  const int64_t end = NowNs();
  pbbench::WriteTextFile(dir + "/flood.done", std::to_string(end) + "\n");
  close(fd);
  Result("presence.flood.sent", static_cast<double>(count - failed));
  Result("presence.flood.seconds", static_cast<double>(end - start) / 1e9);
  Result("presence.flood.offered_per_s",
         static_cast<double>(count) * 1e9 / static_cast<double>(end - start));
  return failed == 0 ? 0 : 1;
}

// Watches a counter until it reaches expect, or stays unchanged for idle_ms after the flood
// ended, or the deadline passes. Returns the time of the last change (0 when none).
template <typename Sample>
int64_t Watch(const std::string& dir, int64_t expect, int64_t idle_ms, int64_t deadline,
              Sample sample, int64_t* value) {
  int64_t last_change = 0, done = 0, next_look = 0;
  *value = 0;
  for (;;) {
    const int64_t now = NowNs();
    const int64_t v = sample();
    if (v != *value) {
      *value = v;
      last_change = now;
    }
    if (*value >= expect || now > deadline) break;
    // The end of the flood is looked for every 10 ms, not on every sample.
    if (done == 0 && now >= next_look) {
      next_look = now + 10000000;
      if (pbbench::FileExists(dir + "/flood.done"))
        done = pbbench::ReadInt64File(dir + "/flood.done");
    }
    if (done > 0 && now - std::max(done, last_change) > idle_ms * 1000000) break;
  }
  return last_change;
}

void Report(const std::string& side, const std::string& dir, int64_t stored, int64_t last_change) {
  const int64_t start = pbbench::ReadInt64File(dir + "/flood.start");
  const double seconds = last_change > start ? static_cast<double>(last_change - start) / 1e9 : 0;
  Result("presence." + side + ".stored", static_cast<double>(stored));
  Result("presence." + side + ".seconds", seconds);
  Result("presence." + side + ".per_s", seconds > 0 ? static_cast<double>(stored) / seconds : 0);
}

int PluginReceiver(int argc, char** argv) {
  const int64_t expect = IntOption(argc, argv, "--expect", 10000);
  const std::string dir = Option(argc, argv, "--dir", "");
  const int64_t idle_ms = IntOption(argc, argv, "--idle-ms", 1000);
  const int64_t deadline = NowNs() + IntOption(argc, argv, "--max-seconds", 60) * 1000000000;
  if (pb::testing_host::Initialize("presence bench", nullptr) != 1) return 1;
  const int64_t ready_by = NowNs() + 3000000000;
  while ((GetNxlStatus() & PB_STATUS_PRESENCE) == 0 && NowNs() < ready_by) pbbench::SleepMs(5);
  if ((GetNxlStatus() & PB_STATUS_PRESENCE) == 0) {
    std::fprintf(stderr, "presence_bench plugin: the presence receiver did not start\n");
    return 1;
  }
  const int64_t threads_idle = pbbench::ProcStatusValue("Threads");
  const int64_t rss_idle = pbbench::ProcStatusValue("VmRSS");
  pbbench::WriteTextFile(dir + "/receiver.ready", "1\n");
  if (!pbbench::WaitForFile(dir + "/flood.start", 30000)) return 1;
  int64_t stored = 0;
  // The host's view: lock, count, unlock, about a thousand times a second.
  const int64_t last = Watch(
      dir, expect, idle_ms, deadline,
      [] {
        LockEntryList();
        const int32_t n = GetEntryCount();
        UnlockEntryList();
        std::this_thread::sleep_for(std::chrono::microseconds(1000));
        return static_cast<int64_t>(n);
      },
      &stored);
  Report("plugin", dir, stored, last);
  Result("resources.idle.threads", static_cast<double>(threads_idle));
  Result("resources.idle.rss_kb", static_cast<double>(rss_idle));
  Result("resources.loaded.peers", static_cast<double>(stored));
  Result("resources.loaded.threads", static_cast<double>(pbbench::ProcStatusValue("Threads")));
  Result("resources.loaded.rss_kb", static_cast<double>(pbbench::ProcStatusValue("VmRSS")));
  pb::testing_host::UnInitialize();
  return 0;
}

int PlainReceiver(int argc, char** argv) {
  const int64_t expect = IntOption(argc, argv, "--expect", 10000);
  const std::string dir = Option(argc, argv, "--dir", "");
  const int64_t idle_ms = IntOption(argc, argv, "--idle-ms", 1000);
  const int64_t deadline = NowNs() + IntOption(argc, argv, "--max-seconds", 60) * 1000000000;
  const uint32_t group = ParseAddress(Option(argc, argv, "--group", "239.191.38.82"));
  const uint16_t port = static_cast<uint16_t>(IntOption(argc, argv, "--port", 7129));
  const uint32_t interface_address = ParseAddress(Option(argc, argv, "--ifaddr", ""));
  // As the plug-in's receiver: bound to any address and the port without address reuse, and
  // joined to the group on the interface's address.
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(port);
  ip_mreq membership{};
  membership.imr_multiaddr.s_addr = group;
  membership.imr_interface.s_addr = interface_address;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
      setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) != 0) {
    std::perror("presence_bench plain: socket set-up");
    return 1;
  }
  timeval poll_interval{0, 1000};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &poll_interval, sizeof poll_interval);
  pbbench::WriteTextFile(dir + "/receiver.ready", "1\n");
  if (!pbbench::WaitForFile(dir + "/flood.start", 30000)) return 1;
  int64_t counted = 0, stored = 0;
  std::vector<uint8_t> buffer(65536);
  const int64_t last = Watch(
      dir, expect, idle_ms, deadline,
      [&] {
        sockaddr_in from{};
        socklen_t from_size = sizeof from;
        const ssize_t n = recvfrom(fd, buffer.data(), buffer.size(), 0,
                                   reinterpret_cast<sockaddr*>(&from), &from_size);
        if (n > 0 && pb::ClassifyEntryCommand(buffer.data(), static_cast<size_t>(n), 0) != 0)
          ++counted;
        return counted;
      },
      &stored);
  close(fd);
  Report("plain", dir, stored, last);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "flood") return Flood(argc, argv);
  if (mode == "plugin") return PluginReceiver(argc, argv);
  if (mode == "plain") return PlainReceiver(argc, argv);
  std::fprintf(
      stderr,
      "usage: presence_bench flood|plugin|plain [options] (see the source's head comment)\n");
  return 2;
}
