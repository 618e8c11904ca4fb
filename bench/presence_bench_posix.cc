// presence_bench_posix.cc: how many presence updates a plug-in instance stores per second,
// under a fixed-rate flood and at saturation, against a plain receive loop on the same socket
// setup that runs the same checks and keeps a comparable table.
//
//   presence_bench flood --count N --rate R --dir D [--group G] [--port P] [--first-source A]
//                        [--senders K] [--seconds S] [--prefix KEY]
//       sends up to N valid update datagrams (each from its own source address, counting up
//       from A, default 198.18.16.1) to the group through raw sockets, so that every datagram
//       is a new peer to the receiver. R datagrams per second in all; R = 0 sends as fast as
//       K sender threads can (default 1), for at most S seconds. Writes D/flood.start (the
//       monotonic time of the first send, ns) before and D/flood.done after the flood.
//   presence_bench plugin --expect N --dir D [--idle-ms MS] [--max-seconds S] ...
//       a plug-in instance (not announced, so it lists only the flood's peers); writes
//       D/receiver.ready once it hears presence, then watches GetEntryCount.
//   presence_bench plain --expect N --dir D --ifaddr A [--group G] [--port P] ...
//       the baseline: a UDP socket bound and joined as the plug-in's receiver does, read by a
//       blocking recvfrom loop that runs the entry command checks on every datagram and keeps
//       a copy of each passing command in a hash table keyed by the source address (an exit
//       removes it), as the plug-in's list does; it does not keep the group table.
// Both receivers stop at N, or when nothing new arrived for the idle time after the flood
// ended, and print "R KEY.<side>.stored N", ".seconds" and ".per_s" (KEY is --prefix, default
// "presence"), where the time runs from the flood's first send to the last datagram stored.
// With --window-ms FROM,TO (after the flood's start) .per_s is instead the rate at which the
// table grew between those two times: at saturation, the steady rate while the flood lasts,
// without the start or the drain of the socket's queue after it.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <memory>
#include <thread>
#include <unordered_map>

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

// The datagrams of a flood: a set of distinct commands, each sent from many sources. The source
// address is written into a copy just before it is sent.
struct FloodPlan {
  std::vector<std::vector<uint8_t>> datagrams;
  uint32_t first_source = 0;  // host order
  int64_t count = 0;
  int64_t rate = 0;  // all senders together; 0: as fast as they can
  int64_t end_ns = 0;
};

constexpr size_t kDistinctCommands = 1024;
constexpr unsigned kBatch = 32;

// Sends datagrams first, first + stride, ... below plan.count through its own raw socket, in
// batches of up to kBatch per system call; paced at rate / stride when the plan has a rate.
// Returns the number that failed to go out; *sent counts what was handed to the socket.
int64_t SendShare(const FloodPlan& plan, int64_t first, int64_t stride, int64_t start,
                  int64_t* sent) {
  const int fd = socket(AF_INET, SOCK_RAW, IPPROTO_RAW);
  if (fd < 0) {
    std::perror("presence_bench flood: raw socket");
    return 1;
  }
  sockaddr_in to{};
  to.sin_family = AF_INET;
  std::memcpy(&to.sin_addr.s_addr, &plan.datagrams[0][16], 4);
  const int64_t share = plan.count > first ? (plan.count - first + stride - 1) / stride : 0;
  std::vector<std::vector<uint8_t>> batch(kBatch);
  iovec parts[kBatch];
  mmsghdr messages[kBatch];
  int64_t done = 0, failed = 0;
  while (done < share) {
    const int64_t now = NowNs();
    if (now >= plan.end_ns) break;
    int64_t due = done + kBatch;
    if (plan.rate > 0) due = (now - start) * plan.rate / stride / 1000000000 + 1;
    const unsigned n = static_cast<unsigned>(std::min<int64_t>({due, share, done + kBatch}) - done);
    if (n == 0) {
      std::this_thread::sleep_for(std::chrono::microseconds(100));
      continue;
    }
    for (unsigned k = 0; k < n; ++k) {
      const int64_t index = first + (done + k) * stride;
      batch[k] = plan.datagrams[static_cast<size_t>(index) % plan.datagrams.size()];
      const uint32_t source = htonl(plan.first_source + static_cast<uint32_t>(index));
      std::memcpy(&batch[k][12], &source, 4);
      parts[k] = {batch[k].data(), batch[k].size()};
      messages[k] = {};
      messages[k].msg_hdr.msg_name = &to;
      messages[k].msg_hdr.msg_namelen = sizeof to;
      messages[k].msg_hdr.msg_iov = &parts[k];
      messages[k].msg_hdr.msg_iovlen = 1;
    }
    const int went = sendmmsg(fd, messages, n, 0);
    const unsigned taken = went > 0 ? static_cast<unsigned>(went) : 1;  // a failure skips one
    if (went <= 0) ++failed;
    done += taken;
  }
  close(fd);
  *sent = done - failed;
  return failed;
}

int Flood(int argc, char** argv) {
  const std::string dir = Option(argc, argv, "--dir", "");
  const std::string prefix = Option(argc, argv, "--prefix", "presence");
  const uint32_t group = ParseAddress(Option(argc, argv, "--group", pbbench::kDefaultGroup));
  const uint16_t port = static_cast<uint16_t>(IntOption(argc, argv, "--port", 7129));
  const int64_t senders = IntOption(argc, argv, "--senders", 1);
  FloodPlan plan;
  plan.count = IntOption(argc, argv, "--count", 10000);
  plan.rate = IntOption(argc, argv, "--rate", 20000);
  plan.first_source = ntohl(ParseAddress(Option(argc, argv, "--first-source", "198.18.16.1")));
  if (dir.empty() || plan.count <= 0 || plan.rate < 0 || group == 0 || plan.first_source == 0 ||
      senders < 1 || senders > 64) {
    std::fprintf(stderr, "presence_bench flood: bad options\n");
    return 2;
  }
  // Every command is written before the clock starts, so the send loops only copy and send.
  for (size_t i = 0; i < kDistinctCommands; ++i) {
    const std::string nickname = "flood" + std::to_string(i);
    const std::string groups = "Bench>Flood" + std::to_string(i % 16) + "&All";
    pb::EntryCommandBuffer command =
        pb::BuildEntryCommand(pb::kEntryUpdate, static_cast<int32_t>(i % 2), nickname.c_str(),
                              groups.c_str(), "bench", "FLOODPC", 0);
    plan.datagrams.push_back(MakeDatagram(0, group, port, command));
  }
  const int64_t start = NowNs();
  plan.end_ns = start + IntOption(argc, argv, "--seconds", 3600) * 1000000000;
  pbbench::WriteTextFile(dir + "/flood.start", std::to_string(start) + "\n");
  std::vector<int64_t> sent(static_cast<size_t>(senders)), failed(sent.size());
  std::vector<std::thread> threads;
  for (int64_t t = 0; t < senders; ++t) {
    threads.emplace_back([&, t] {
      failed[static_cast<size_t>(t)] =
          SendShare(plan, t, senders, start, &sent[static_cast<size_t>(t)]);
    });
  }
  for (std::thread& t : threads) t.join();
  const int64_t end = NowNs();
  pbbench::WriteTextFile(dir + "/flood.done", std::to_string(end) + "\n");
  int64_t total = 0, failures = 0;
  for (size_t t = 0; t < sent.size(); ++t) {
    total += sent[t];
    failures += failed[t];
  }
  Result(prefix + ".flood.sent", static_cast<double>(total));
  Result(prefix + ".flood.seconds", static_cast<double>(end - start) / 1e9);
  Result(prefix + ".flood.offered_per_s",
         static_cast<double>(total) * 1e9 / static_cast<double>(end - start));
  return failures == 0 ? 0 : 1;
}

// What a receiver watches for and how it reports, from its options.
struct WatchPlan {
  std::string dir, prefix;
  int64_t expect = 0, idle_ms = 0, deadline = 0;
  int64_t window_from_ns = -1, window_to_ns = -1;  // after the flood's start; -1: no window
};

WatchPlan ParseWatchPlan(int argc, char** argv) {
  WatchPlan w;
  w.dir = Option(argc, argv, "--dir", "");
  w.prefix = Option(argc, argv, "--prefix", "presence");
  w.expect = IntOption(argc, argv, "--expect", 10000);
  w.idle_ms = IntOption(argc, argv, "--idle-ms", 1000);
  w.deadline = NowNs() + IntOption(argc, argv, "--max-seconds", 60) * 1000000000;
  const std::vector<int64_t> window = pbbench::ParseList(Option(argc, argv, "--window-ms", ""));
  if (window.size() == 2 && window[0] < window[1]) {
    w.window_from_ns = window[0] * 1000000;
    w.window_to_ns = window[1] * 1000000;
  }
  return w;
}

struct WatchResult {
  int64_t stored = 0;
  int64_t last_change = 0;  // the time of the last change, 0 when none
  // The first samples at or after the window's two ends: time and value.
  int64_t window_t[2] = {0, 0}, window_v[2] = {0, 0};
};

// Watches a counter until it reaches expect, or stays unchanged for idle_ms after the flood
// ended, or the deadline passes.
template <typename Sample>
WatchResult Watch(const WatchPlan& plan, Sample sample) {
  WatchResult r;
  const int64_t start = pbbench::ReadInt64File(plan.dir + "/flood.start");
  const int64_t window_at[2] = {start + plan.window_from_ns, start + plan.window_to_ns};
  int64_t done = 0, next_look = 0;
  for (;;) {
    const int64_t now = NowNs();
    const int64_t v = sample();
    if (v != r.stored) {
      r.stored = v;
      r.last_change = now;
    }
    for (int k = 0; k < 2; ++k) {
      if (plan.window_from_ns >= 0 && r.window_t[k] == 0 && now >= window_at[k]) {
        r.window_t[k] = now;
        r.window_v[k] = v;
      }
    }
    if (r.stored >= plan.expect || now > plan.deadline) break;
    // The end of the flood is looked for every 10 ms, not on every sample.
    if (done == 0 && now >= next_look) {
      next_look = now + 10000000;
      if (pbbench::FileExists(plan.dir + "/flood.done"))
        done = pbbench::ReadInt64File(plan.dir + "/flood.done");
    }
    if (done > 0 && now - std::max(done, r.last_change) > plan.idle_ms * 1000000) break;
  }
  return r;
}

void Report(const std::string& side, const WatchPlan& plan, const WatchResult& r) {
  const int64_t start = pbbench::ReadInt64File(plan.dir + "/flood.start");
  const double seconds =
      r.last_change > start ? static_cast<double>(r.last_change - start) / 1e9 : 0;
  double per_s = seconds > 0 ? static_cast<double>(r.stored) / seconds : 0;
  if (plan.window_from_ns >= 0) {
    // A window the watch did not reach in full gives no rate rather than a wrong one.
    const int64_t span = r.window_t[1] - r.window_t[0];
    per_s =
        r.window_t[0] > 0 && r.window_t[1] > 0 && span > 0
            ? static_cast<double>(r.window_v[1] - r.window_v[0]) * 1e9 / static_cast<double>(span)
            : 0;
  }
  const std::string key = plan.prefix + "." + side;
  Result(key + ".stored", static_cast<double>(r.stored));
  Result(key + ".seconds", seconds);
  Result(key + ".per_s", per_s);
}

int PluginReceiver(int argc, char** argv) {
  const WatchPlan plan = ParseWatchPlan(argc, argv);
  if (pb::testing_host::Initialize("presence bench", nullptr) != 1) return 1;
  // The start may return before the receiver has joined the group; the flood waits for it.
  if ((GetNxlStatus() & PB_STATUS_PRESENCE) == 0 ||
      !pbbench::WaitForGroup(Option(argc, argv, "--group", pbbench::kDefaultGroup), 10000)) {
    std::fprintf(stderr, "presence_bench plugin: the presence receiver did not start\n");
    return 1;
  }
  const int64_t threads_idle = pbbench::ProcStatusValue("Threads");
  const int64_t rss_idle = pbbench::ProcStatusValue("VmRSS");
  pbbench::WriteTextFile(plan.dir + "/receiver.ready", "1\n");
  if (!pbbench::WaitForFile(plan.dir + "/flood.start", 30000)) return 1;
  // The host's view: lock, count, unlock, about a thousand times a second.
  const WatchResult r = Watch(plan, [] {
    LockEntryList();
    const int32_t n = GetEntryCount();
    UnlockEntryList();
    std::this_thread::sleep_for(std::chrono::microseconds(1000));
    return static_cast<int64_t>(n);
  });
  Report("plugin", plan, r);
  Result("resources.idle.threads", static_cast<double>(threads_idle));
  Result("resources.idle.rss_kb", static_cast<double>(rss_idle));
  Result("resources.loaded.peers", static_cast<double>(r.stored));
  Result("resources.loaded.threads", static_cast<double>(pbbench::ProcStatusValue("Threads")));
  Result("resources.loaded.rss_kb", static_cast<double>(pbbench::ProcStatusValue("VmRSS")));
  pb::testing_host::UnInitialize();
  return 0;
}

// The plain receiver's table: a copy of every peer's last command, keyed by its IPv4 address.
class PlainTable {
 public:
  // Applies one received datagram after the same checks the plug-in's receiver runs.
  void Apply(uint32_t source, const uint8_t* data, size_t size) {
    const int32_t command = pb::ClassifyEntryCommand(data, size, 0);
    if (command == pb::kEntryExit) {
      peers_.erase(source);
    } else if (command != 0) {
      peers_[source].assign(data, data + pb::EntryCommandSize(data));
    }
  }
  int64_t size() const { return static_cast<int64_t>(peers_.size()); }

 private:
  std::unordered_map<uint32_t, std::vector<uint8_t>> peers_;
};

int PlainReceiver(int argc, char** argv) {
  const WatchPlan plan = ParseWatchPlan(argc, argv);
  const uint32_t group = ParseAddress(Option(argc, argv, "--group", pbbench::kDefaultGroup));
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
  pbbench::WriteTextFile(plan.dir + "/receiver.ready", "1\n");
  if (!pbbench::WaitForFile(plan.dir + "/flood.start", 30000)) return 1;
  PlainTable table;
  std::vector<uint8_t> buffer(65536);
  const WatchResult r = Watch(plan, [&] {
    sockaddr_in from{};
    socklen_t from_size = sizeof from;
    const ssize_t n = recvfrom(fd, buffer.data(), buffer.size(), 0,
                               reinterpret_cast<sockaddr*>(&from), &from_size);
    if (n > 0) table.Apply(from.sin_addr.s_addr, buffer.data(), static_cast<size_t>(n));
    return table.size();
  });
  close(fd);
  Report("plain", plan, r);
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
