// memo_bench_posix.cc: memo throughput, latency and concurrency of the plug-in against a plain
// blocking TCP client and server that run the same exchange over the same path.
//
//   memo_bench serve [--plain-port P] [--max-seconds S]
//       a plug-in instance whose callback verifies and counts memos, and a plain server on
//       port P; both stop when a memo of the quit phase arrives (or after S seconds) and print
//       "R recv.phase<id>.memos N" and ".bad N" for every phase seen.
//   memo_bench send --target A.B.C.D [--plain-port P] [--runs R] [--sizes 1,16,64]
//                   [--latency-count N] [--threads 8,32] [--concurrent-total N]
//                   [--concurrent-runs R]
//       a plug-in instance that sends the memos (SendMemoData) and the plain client; prints
//       the figures and ends with the quit memo.
//   memo_bench serve-peers --first-peer A.B.C.D --peers N [--max-seconds S]
//       N plain memo receivers, one on each of the addresses A, A+1, ... (the machine must have
//       them) at the plug-in's memo port; each verifies and counts memos as the servers above,
//       and all stop at a memo of the quit phase (or after S seconds).
//   memo_bench fanout --first-peer A.B.C.D --peers N [--runs R] [--threads 8]
//       one 1 KiB memo to each of the N peers, sequentially and from the given number of
//       threads, by the plug-in (SendMemoData with each peer's record) and by the plain client,
//       which connect to the same receivers; prints the time of each whole round (median over
//       R runs) and ends with the quit memo.
//
// The plain side runs the same four steps as the plug-in: connect, read the 9-byte greeting,
// send one frame (length = payload + 8, payload, 4 trailing bytes), read the 4-byte result,
// close. It uses blocking sockets with the system's defaults, as the plug-in's sockets do.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <mutex>
#include <thread>

#include "bench/bench_common.h"
#include "peerbeacon.h"
#include "tests/test_host.h"

namespace {

using pbbench::NowNs;
using pbbench::Result;

constexpr char kGreeting[] = "Hi,Wren!";  // sent with its NUL
constexpr size_t kGreetingSize = sizeof kGreeting;
constexpr uint16_t kPluginPort = 7129;
constexpr size_t kMiB = 1024 * 1024;
constexpr size_t kSmallMemo = 1024;

uint32_t ThroughputPhase(bool plugin, int64_t mib) {
  return static_cast<uint32_t>((plugin ? 100 : 200) + mib);
}
constexpr uint32_t kLatencyPluginPhase = 300;
constexpr uint32_t kLatencyPlainPhase = 301;
uint32_t ConcurrentPhase(int64_t threads) { return static_cast<uint32_t>(400 + threads); }
uint32_t FanoutPhase(bool plugin, int64_t threads) {
  return static_cast<uint32_t>((plugin ? 500 : 600) + threads);
}

// ---- receiving side ----

struct Tally {
  int64_t memos = 0;
  int64_t bytes = 0;
  int64_t bad = 0;
};

std::mutex g_tally_mutex;
std::map<uint32_t, Tally> g_tally;
std::atomic<bool> g_quit{false};

// Verifies one payload and counts it under its phase; false when it was damaged.
bool Count(const uint8_t* data, size_t size) {
  uint32_t phase = 0;
  const bool good = pbbench::VerifyPayload(data, size, &phase);
  if (good && phase == pbbench::kQuitPhase) {
    g_quit.store(true);
    return true;
  }
  std::lock_guard<std::mutex> lock(g_tally_mutex);
  Tally& t = g_tally[good ? phase : 0];
  ++t.memos;
  t.bytes += static_cast<int64_t>(size);
  if (!good) ++t.bad;
  return good;
}

int32_t PB_CALL OnMemo(const void*, int32_t, const void* data, int32_t length) {
  if (length < 8) return 0;
  return Count(static_cast<const uint8_t*>(data), static_cast<size_t>(length) - 8) ? 1 : 0;
}

bool ReadFully(int fd, void* out, size_t size) {
  auto* p = static_cast<uint8_t*>(out);
  size_t got = 0;
  while (got < size) {
    const ssize_t n = recv(fd, p + got, size - got, 0);
    if (n <= 0) return false;
    got += static_cast<size_t>(n);
  }
  return true;
}

bool WriteFully(int fd, const void* data, size_t size) {
  const auto* p = static_cast<const uint8_t*>(data);
  size_t sent = 0;
  while (sent < size) {
    const ssize_t n = send(fd, p + sent, size - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

// One exchange of the plain server: greeting, frame, result, and the caller's close. The frame
// goes into a buffer kept from memo to memo, so after the first memo of a size the plain side
// writes into memory that is already mapped: the best case the plug-in is compared with.
void ServePlain(int fd, std::vector<uint8_t>* frame) {
  if (!WriteFully(fd, kGreeting, kGreetingSize)) return;
  int32_t length = 0;
  if (!ReadFully(fd, &length, 4) || length < 8) return;
  if (frame->size() < static_cast<size_t>(length) - 4)
    frame->resize(static_cast<size_t>(length) - 4);
  if (!ReadFully(fd, frame->data(), static_cast<size_t>(length) - 4)) return;
  const int32_t result = Count(frame->data(), static_cast<size_t>(length) - 8) ? 0 : 3;
  if (!WriteFully(fd, &result, 4)) return;
  uint8_t rest;
  while (recv(fd, &rest, 1, 0) > 0) {
  }
}

void PlainServer(int listener, int64_t deadline) {
  std::vector<uint8_t> frame;
  while (!g_quit.load() && NowNs() < deadline) {
    pollfd p{listener, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    const int fd = accept(listener, nullptr, nullptr);
    if (fd < 0) continue;
    ServePlain(fd, &frame);
    close(fd);
  }
}

// The tally of every phase seen, as result lines.
void PrintTally() {
  std::lock_guard<std::mutex> lock(g_tally_mutex);
  for (const auto& [phase, t] : g_tally) {
    Result("recv.phase" + std::to_string(phase) + ".memos", static_cast<double>(t.memos));
    Result("recv.phase" + std::to_string(phase) + ".bad", static_cast<double>(t.bad));
  }
}

// A listening TCP socket on address:port (network order address), or -1.
int ListenOn(uint32_t address, uint16_t port) {
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  if (listener < 0) return -1;
  const int on = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(port);
  local.sin_addr.s_addr = address;
  if (bind(listener, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
      listen(listener, 64) != 0) {
    close(listener);
    return -1;
  }
  return listener;
}

int Serve(int argc, char** argv) {
  const uint16_t plain_port =
      static_cast<uint16_t>(pbbench::IntOption(argc, argv, "--plain-port", 7130));
  const int64_t deadline =
      NowNs() + pbbench::IntOption(argc, argv, "--max-seconds", 300) * 1000000000;
  const int listener = ListenOn(INADDR_ANY, plain_port);
  if (listener < 0) {
    std::fprintf(stderr, "memo_bench serve: cannot listen on port %u\n", plain_port);
    return 1;
  }
  if (pb::testing_host::Initialize("memo bench receiver", &OnMemo) != 1 ||
      (GetNxlStatus() & PB_STATUS_LISTENING) == 0) {
    std::fprintf(stderr, "memo_bench serve: the plug-in did not start (status %d)\n",
                 GetNxlStatus());
    return 1;
  }
  std::printf("READY\n");
  std::fflush(stdout);
  std::thread plain(PlainServer, listener, deadline);
  while (!g_quit.load() && NowNs() < deadline) pbbench::SleepMs(20);
  g_quit.store(true);
  plain.join();
  close(listener);
  pb::testing_host::UnInitialize();
  PrintTally();
  return 0;
}

// The address count after first (network order) as an address in network order.
uint32_t NthAddress(uint32_t first, int64_t n) {
  return htonl(ntohl(first) + static_cast<uint32_t>(n));
}

int ServePeers(int argc, char** argv) {
  uint32_t first = 0;
  const int64_t peers = pbbench::IntOption(argc, argv, "--peers", 100);
  const int64_t deadline =
      NowNs() + pbbench::IntOption(argc, argv, "--max-seconds", 300) * 1000000000;
  if (inet_pton(AF_INET, pbbench::Option(argc, argv, "--first-peer", "").c_str(), &first) != 1 ||
      peers < 1) {
    std::fprintf(stderr, "memo_bench serve-peers: --first-peer A.B.C.D and --peers N needed\n");
    return 2;
  }
  std::vector<int> listeners;
  for (int64_t i = 0; i < peers; ++i) {
    const int listener = ListenOn(NthAddress(first, i), kPluginPort);
    if (listener < 0) {
      std::perror("memo_bench serve-peers: listen");
      return 1;
    }
    listeners.push_back(listener);
  }
  std::vector<std::thread> servers;
  for (const int listener : listeners) servers.emplace_back(PlainServer, listener, deadline);
  std::printf("READY\n");
  std::fflush(stdout);
  for (std::thread& server : servers) server.join();
  for (const int listener : listeners) close(listener);
  PrintTally();
  return 0;
}

// ---- sending side ----

struct Target {
  uint32_t address = 0;  // network order
  uint16_t plain_port = 0;
  EntryDataRecord record{};
};

// An entry data record naming the receiver, as GetEntryData would give it; the senders read
// only its address.
EntryDataRecord MakeRecord(uint32_t address) {
  EntryDataRecord r{};
  r.size = PB_ENTRY_FIXED_SIZE;
  r.version = PB_RECORD_VERSION;
  r.kind = PB_ENTRY_KIND;
  r.status = 1;
  r.group_ids_offset = -1;
  r.name_offset = PB_ENTRY_FIXED_SIZE;
  r.address.family = AF_INET;
  r.address.port = htons(kPluginPort);
  r.address.address = address;
  return r;
}

int32_t PluginExchange(const Target& t, const std::vector<uint8_t>& payload) {
  return SendMemoData(&t.record, payload.data(), static_cast<int32_t>(payload.size()), nullptr);
}

// The plain client's exchange with the server on port: its result, or -1 when it failed.
// marks, when given, receives the times (NowNs) at which the connection was made and the
// greeting was in.
int32_t PlainExchangeTo(const Target& t, uint16_t port, const std::vector<uint8_t>& payload,
                        int64_t* marks) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = t.address;
  int32_t result = -1;
  char greeting[kGreetingSize];
  const bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  if (marks != nullptr) marks[0] = NowNs();
  if (connected && ReadFully(fd, greeting, kGreetingSize) &&
      std::memcmp(greeting, kGreeting, kGreetingSize) == 0) {
    if (marks != nullptr) marks[1] = NowNs();
    int32_t length = static_cast<int32_t>(payload.size() + 8);
    uint32_t trailer = 0;
    iovec parts[3] = {
        {&length, 4}, {const_cast<uint8_t*>(payload.data()), payload.size()}, {&trailer, 4}};
    size_t left = payload.size() + 8;
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = 3;
    bool sent = true;
    while (left > 0) {
      const ssize_t n = sendmsg(fd, &message, MSG_NOSIGNAL);
      if (n <= 0) {
        sent = false;
        break;
      }
      left -= static_cast<size_t>(n);
      // Step over what went out.
      size_t skip = static_cast<size_t>(n);
      while (skip > 0 && message.msg_iovlen > 0) {
        if (skip >= message.msg_iov[0].iov_len) {
          skip -= message.msg_iov[0].iov_len;
          ++message.msg_iov;
          --message.msg_iovlen;
        } else {
          message.msg_iov[0].iov_base = static_cast<uint8_t*>(message.msg_iov[0].iov_base) + skip;
          message.msg_iov[0].iov_len -= skip;
          skip = 0;
        }
      }
    }
    int32_t reply = 0;
    if (sent && ReadFully(fd, &reply, 4)) result = reply;
  }
  close(fd);
  return result;
}

int32_t PlainExchange(const Target& t, const std::vector<uint8_t>& payload) {
  return PlainExchangeTo(t, t.plain_port, payload, nullptr);
}

double SecondsOf(int64_t ns) { return static_cast<double>(ns) / 1e9; }

// Memo throughput: one memo of each size, the plug-in and the plain pair alternating run by
// run (which goes first alternates as well) so that a noisy moment hits both alike.
int64_t Throughput(const Target& t, const std::vector<int64_t>& sizes, int runs) {
  int64_t failures = 0;
  for (const int64_t mib : sizes) {
    const std::vector<uint8_t> plugin_payload =
        pbbench::MakePayload(static_cast<size_t>(mib) * kMiB, ThroughputPhase(true, mib), mib);
    const std::vector<uint8_t> plain_payload =
        pbbench::MakePayload(static_cast<size_t>(mib) * kMiB, ThroughputPhase(false, mib), mib);
    std::vector<double> plugin_s, plain_s;
    // The ratio of each run's own pair, whose quartiles show how far one run's ratio strays.
    std::vector<double> pair_ratios;
    int64_t sent_plugin = 0, sent_plain = 0;
    for (int run = -1; run < runs; ++run) {  // run -1 warms both paths up and is not counted
      double pair[2] = {0, 0};               // plug-in, plain seconds of this run
      for (int k = 0; k < 2; ++k) {
        const bool plugin = (k == 0) == (run % 2 == 0);
        const int64_t start = NowNs();
        const int32_t r =
            plugin ? PluginExchange(t, plugin_payload) : PlainExchange(t, plain_payload);
        const double s = SecondsOf(NowNs() - start);
        (plugin ? sent_plugin : sent_plain)++;
        if (r != 0) {
          ++failures;
          std::fprintf(stderr, "memo_bench: %s %lld MiB memo gave %d\n",
                       plugin ? "plug-in" : "plain", static_cast<long long>(mib), r);
          continue;
        }
        if (run >= 0) (plugin ? plugin_s : plain_s).push_back(s);
        pair[plugin ? 0 : 1] = s;
      }
      if (run >= 0 && pair[0] > 0 && pair[1] > 0) pair_ratios.push_back(pair[1] / pair[0]);
    }
    const std::string key = "memo.throughput." + std::to_string(mib) + "MiB.";
    const double p = pbbench::Median(plugin_s), b = pbbench::Median(plain_s);
    const double bytes = static_cast<double>(plugin_payload.size());
    Result(key + "plugin_s", p);
    Result(key + "plain_s", b);
    Result(key + "plugin_MBps", p > 0 ? bytes / p / 1e6 : 0);
    Result(key + "plain_MBps", b > 0 ? bytes / b / 1e6 : 0);
    Result(key + "ratio", p > 0 ? b / p : 0);
    Result(key + "runs", static_cast<double>(plugin_s.size()));
    if (!pair_ratios.empty()) {
      Result(key + "pair_ratio_q25", pbbench::Quantile(pair_ratios, 0.25));
      Result(key + "pair_ratio_median", pbbench::Median(pair_ratios));
      Result(key + "pair_ratio_q75", pbbench::Quantile(pair_ratios, 0.75));
    }
    Result("sent.phase" + std::to_string(ThroughputPhase(true, mib)),
           static_cast<double>(sent_plugin));
    Result("sent.phase" + std::to_string(ThroughputPhase(false, mib)),
           static_cast<double>(sent_plain));
  }
  return failures;
}

// Memo latency: count sequential 1 KiB memos each way, interleaved one by one.
int64_t Latency(const Target& t, int64_t count) {
  const std::vector<uint8_t> plugin_payload =
      pbbench::MakePayload(kSmallMemo, kLatencyPluginPhase, 7);
  const std::vector<uint8_t> plain_payload =
      pbbench::MakePayload(kSmallMemo, kLatencyPlainPhase, 7);
  std::vector<double> plugin_us, plain_us;
  int64_t failures = 0;
  for (int64_t i = 0; i < count; ++i) {
    for (int k = 0; k < 2; ++k) {
      const bool plugin = (k == 0) == (i % 2 == 0);
      const int64_t start = NowNs();
      const int32_t r =
          plugin ? PluginExchange(t, plugin_payload) : PlainExchange(t, plain_payload);
      const double us = static_cast<double>(NowNs() - start) / 1e3;
      if (r != 0) {
        ++failures;
        continue;
      }
      (plugin ? plugin_us : plain_us).push_back(us);
    }
  }
  const double p50 = pbbench::Quantile(plugin_us, 0.5), b50 = pbbench::Quantile(plain_us, 0.5);
  Result("memo.latency.plugin_p50_us", p50);
  Result("memo.latency.plugin_p99_us", pbbench::Quantile(plugin_us, 0.99));
  Result("memo.latency.plain_p50_us", b50);
  Result("memo.latency.plain_p99_us", pbbench::Quantile(plain_us, 0.99));
  Result("memo.latency.p50_ratio", b50 > 0 ? p50 / b50 : 0);
  Result("memo.latency.p99_ratio",
         pbbench::Quantile(plain_us, 0.99) > 0
             ? pbbench::Quantile(plugin_us, 0.99) / pbbench::Quantile(plain_us, 0.99)
             : 0);
  Result("memo.latency.count", static_cast<double>(count));
  Result("sent.phase" + std::to_string(kLatencyPluginPhase), static_cast<double>(count));
  Result("sent.phase" + std::to_string(kLatencyPlainPhase), static_cast<double>(count));
  return failures;
}

// Where a memo's latency goes: the plain client against the plug-in's receiver and the plug-in's
// sender against the plain server, each beside the plain pair, interleaved one by one. The
// receiving side's time is split at the client: connect to greeting (the listener's wake, the
// accept, the connection thread's start, the greeting) and greeting to result (the frame, the
// host's callback, the result). Also the plug-in pair in the same loop, and the start of a
// thread alone, as each connection pays it.
int64_t LatencyBreakdown(const Target& t, int64_t count) {
  constexpr uint32_t kToPluginPhase = 302, kToPlainPhase = 303, kPlainPhase = 304, kBothPhase = 305;
  const std::vector<uint8_t> to_plugin = pbbench::MakePayload(kSmallMemo, kToPluginPhase, 7);
  const std::vector<uint8_t> to_plain = pbbench::MakePayload(kSmallMemo, kToPlainPhase, 7);
  const std::vector<uint8_t> plain = pbbench::MakePayload(kSmallMemo, kPlainPhase, 7);
  const std::vector<uint8_t> both = pbbench::MakePayload(kSmallMemo, kBothPhase, 7);
  Target to_plain_server = t;
  to_plain_server.record.address.port = htons(t.plain_port);
  std::vector<double> recv_greeting, recv_result, plain_greeting, plain_result, send_total,
      plain_total, both_total, thread_start;
  int64_t failures = 0;
  for (int64_t i = 0; i < count; ++i) {
    int64_t marks[2] = {};
    if (PlainExchangeTo(t, kPluginPort, to_plugin, marks) == 0) {
      recv_greeting.push_back(static_cast<double>(marks[1] - marks[0]) / 1e3);
      recv_result.push_back(static_cast<double>(NowNs() - marks[1]) / 1e3);
    } else {
      ++failures;
    }
    int64_t start = NowNs();
    if (PlainExchangeTo(t, t.plain_port, plain, marks) == 0) {
      const int64_t end = NowNs();
      plain_greeting.push_back(static_cast<double>(marks[1] - marks[0]) / 1e3);
      plain_result.push_back(static_cast<double>(end - marks[1]) / 1e3);
      plain_total.push_back(static_cast<double>(end - start) / 1e3);
    } else {
      ++failures;
    }
    start = NowNs();
    if (PluginExchange(to_plain_server, to_plain) == 0) {
      send_total.push_back(static_cast<double>(NowNs() - start) / 1e3);
    } else {
      ++failures;
    }
    start = NowNs();
    if (PluginExchange(t, both) == 0) {
      both_total.push_back(static_cast<double>(NowNs() - start) / 1e3);
    } else {
      ++failures;
    }
    std::atomic<int64_t> running{0};
    start = NowNs();
    std::thread probe([&running] { running.store(NowNs()); });
    probe.join();
    thread_start.push_back(static_cast<double>(running.load() - start) / 1e3);
  }
  const auto p50 = [](const std::vector<double>& v) { return pbbench::Quantile(v, 0.5); };
  Result("memo.breakdown.recv_greeting_p50_us", p50(recv_greeting));
  Result("memo.breakdown.plain_greeting_p50_us", p50(plain_greeting));
  Result("memo.breakdown.recv_result_p50_us", p50(recv_result));
  Result("memo.breakdown.plain_result_p50_us", p50(plain_result));
  Result("memo.breakdown.send_to_plain_p50_us", p50(send_total));
  Result("memo.breakdown.plain_total_p50_us", p50(plain_total));
  Result("memo.breakdown.plugin_total_p50_us", p50(both_total));
  Result("memo.breakdown.thread_start_p50_us", p50(thread_start));
  Result("sent.phase" + std::to_string(kToPluginPhase), static_cast<double>(count));
  Result("sent.phase" + std::to_string(kToPlainPhase), static_cast<double>(count));
  Result("sent.phase" + std::to_string(kPlainPhase), static_cast<double>(count));
  Result("sent.phase" + std::to_string(kBothPhase), static_cast<double>(count));
  return failures;
}

// Concurrent memos: threads senders share total exchanges; memos per second over the wall
// time of the whole batch, median over runs.
int64_t Concurrent(const Target& t, const std::vector<int64_t>& thread_counts, int64_t total,
                   int runs) {
  int64_t failures = 0;
  for (const int64_t threads : thread_counts) {
    const std::vector<uint8_t> payload =
        pbbench::MakePayload(kSmallMemo, ConcurrentPhase(threads), 9);
    const int64_t per_thread = std::max<int64_t>(1, total / threads);
    std::vector<double> rates;
    int64_t ok_all = 0;
    for (int run = 0; run < runs; ++run) {
      std::atomic<int64_t> ok{0};
      std::vector<std::thread> senders;
      const int64_t start = NowNs();
      for (int64_t i = 0; i < threads; ++i) {
        senders.emplace_back([&] {
          for (int64_t j = 0; j < per_thread; ++j) {
            const int64_t begun = NowNs();
            const int32_t r = PluginExchange(t, payload);
            if (r == 0) {
              ok.fetch_add(1);
            } else {
              std::fprintf(stderr, "memo_bench: concurrent memo gave %d after %.3f s\n", r,
                           SecondsOf(NowNs() - begun));
            }
          }
        });
      }
      for (std::thread& s : senders) s.join();
      const double seconds = SecondsOf(NowNs() - start);
      failures += threads * per_thread - ok.load();
      ok_all += ok.load();
      rates.push_back(static_cast<double>(ok.load()) / seconds);
    }
    const std::string key = "memo.concurrent." + std::to_string(threads) + "threads.";
    Result(key + "memos_per_s", pbbench::Median(rates));
    Result(key + "exchanges", static_cast<double>(threads * per_thread * runs));
    Result(key + "accepted", static_cast<double>(ok_all));
    Result("sent.phase" + std::to_string(ConcurrentPhase(threads)),
           static_cast<double>(threads * per_thread * runs));
  }
  return failures;
}

// One round of a memo to every peer: from one thread in the peers' order, or from threads
// that each take the next peer not yet served. Returns the round's seconds; *failures counts
// exchanges that did not end in success.
double FanoutRound(const std::vector<Target>& peers, bool plugin, int64_t threads,
                   const std::vector<uint8_t>& payload, int64_t* failures) {
  std::atomic<size_t> next{0};
  std::atomic<int64_t> failed{0};
  auto serve = [&] {
    for (size_t i = next.fetch_add(1); i < peers.size(); i = next.fetch_add(1)) {
      const int32_t r =
          plugin ? PluginExchange(peers[i], payload) : PlainExchange(peers[i], payload);
      if (r != 0) failed.fetch_add(1);
    }
  };
  const int64_t start = NowNs();
  if (threads <= 1) {
    serve();
  } else {
    std::vector<std::thread> senders;
    for (int64_t i = 0; i < threads; ++i) senders.emplace_back(serve);
    for (std::thread& s : senders) s.join();
  }
  const double seconds = SecondsOf(NowNs() - start);
  *failures += failed.load();
  return seconds;
}

// A memo to every peer, sequentially and from threads, the plug-in and the plain client
// alternating run by run as the throughput runs do.
int64_t Fanout(const std::vector<Target>& peers, const std::vector<int64_t>& thread_counts,
               int runs) {
  int64_t failures = 0;
  for (const int64_t threads : thread_counts) {
    const std::vector<uint8_t> plugin_payload =
        pbbench::MakePayload(kSmallMemo, FanoutPhase(true, threads), 11);
    const std::vector<uint8_t> plain_payload =
        pbbench::MakePayload(kSmallMemo, FanoutPhase(false, threads), 11);
    std::vector<double> plugin_ms, plain_ms;
    for (int run = -1; run < runs; ++run) {  // run -1 warms both paths up and is not counted
      for (int k = 0; k < 2; ++k) {
        const bool plugin = (k == 0) == (run % 2 == 0);
        int64_t failed = 0;
        const double s =
            FanoutRound(peers, plugin, threads, plugin ? plugin_payload : plain_payload, &failed);
        failures += failed;
        if (run >= 0 && failed == 0) (plugin ? plugin_ms : plain_ms).push_back(s * 1e3);
      }
    }
    const std::string key = "memo.fanout." + std::to_string(threads) + "threads.";
    const double p = pbbench::Median(plugin_ms), b = pbbench::Median(plain_ms);
    Result(key + "plugin_ms", p);
    Result(key + "plain_ms", b);
    Result(key + "ratio", b > 0 ? p / b : 0);
    Result(key + "runs", static_cast<double>(std::min(plugin_ms.size(), plain_ms.size())));
    const double sent = static_cast<double>(peers.size()) * (runs + 1);
    Result("sent.phase" + std::to_string(FanoutPhase(true, threads)), sent);
    Result("sent.phase" + std::to_string(FanoutPhase(false, threads)), sent);
  }
  Result("memo.fanout.peers", static_cast<double>(peers.size()));
  return failures;
}

int SendFanout(int argc, char** argv) {
  uint32_t first = 0;
  const int64_t count = pbbench::IntOption(argc, argv, "--peers", 100);
  if (inet_pton(AF_INET, pbbench::Option(argc, argv, "--first-peer", "").c_str(), &first) != 1 ||
      count < 1) {
    std::fprintf(stderr, "memo_bench fanout: --first-peer A.B.C.D and --peers N needed\n");
    return 2;
  }
  std::vector<Target> peers(static_cast<size_t>(count));
  for (int64_t i = 0; i < count; ++i) {
    Target& t = peers[static_cast<size_t>(i)];
    t.address = NthAddress(first, i);
    t.plain_port = kPluginPort;
    t.record = MakeRecord(t.address);
  }
  const int runs = static_cast<int>(pbbench::IntOption(argc, argv, "--runs", 5));
  std::vector<int64_t> threads = {1};
  for (const int64_t n : pbbench::ParseList(pbbench::Option(argc, argv, "--threads", "8")))
    if (n > 1) threads.push_back(n);
  if (pb::testing_host::Initialize("memo bench fan-out", nullptr) != 1) {
    std::fprintf(stderr, "memo_bench fanout: the plug-in did not start\n");
    return 1;
  }
  const int64_t failures = Fanout(peers, threads, runs);
  Result("memo.fanout.failures", static_cast<double>(failures));
  const std::vector<uint8_t> quit = pbbench::MakePayload(kSmallMemo, pbbench::kQuitPhase, 1);
  PluginExchange(peers[0], quit);
  pb::testing_host::UnInitialize();
  return 0;
}

int Send(int argc, char** argv) {
  Target t;
  const std::string target = pbbench::Option(argc, argv, "--target", "");
  if (inet_pton(AF_INET, target.c_str(), &t.address) != 1) {
    std::fprintf(stderr, "memo_bench send: --target A.B.C.D is needed\n");
    return 2;
  }
  t.plain_port = static_cast<uint16_t>(pbbench::IntOption(argc, argv, "--plain-port", 7130));
  t.record = MakeRecord(t.address);
  const int runs = static_cast<int>(pbbench::IntOption(argc, argv, "--runs", 5));
  const std::vector<int64_t> sizes =
      pbbench::ParseList(pbbench::Option(argc, argv, "--sizes", "1,16,64"));
  const int64_t latency_count = pbbench::IntOption(argc, argv, "--latency-count", 1000);
  const std::vector<int64_t> threads =
      pbbench::ParseList(pbbench::Option(argc, argv, "--threads", "8,32"));
  const int64_t concurrent_total = pbbench::IntOption(argc, argv, "--concurrent-total", 2000);
  const int concurrent_runs =
      static_cast<int>(pbbench::IntOption(argc, argv, "--concurrent-runs", 3));

  if (pb::testing_host::Initialize("memo bench sender", nullptr) != 1) {
    std::fprintf(stderr, "memo_bench send: the plug-in did not start\n");
    return 1;
  }
  int64_t failures = Throughput(t, sizes, runs);
  failures += Latency(t, latency_count);
  failures += LatencyBreakdown(t, std::max<int64_t>(1, latency_count / 2));
  failures += Concurrent(t, threads, concurrent_total, concurrent_runs);
  Result("memo.sender_failures", static_cast<double>(failures));
  const std::vector<uint8_t> quit = pbbench::MakePayload(kSmallMemo, pbbench::kQuitPhase, 1);
  PluginExchange(t, quit);
  pb::testing_host::UnInitialize();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "serve") return Serve(argc, argv);
  if (mode == "send") return Send(argc, argv);
  if (mode == "serve-peers") return ServePeers(argc, argv);
  if (mode == "fanout") return SendFanout(argc, argv);
  std::fprintf(stderr,
               "usage: memo_bench serve|send|serve-peers|fanout [options] (see the source's head "
               "comment)\n");
  return 2;
}
