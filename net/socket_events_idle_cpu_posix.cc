// socket_events_idle_cpu_posix.cc: prints the poll thread's processor time while armed sockets
// idle.
//
// Arms a quiet UDP socket, a listener, a connected stream socket whose FD_WRITE was already
// taken, and a UDP socket whose FD_READ was posted but never received (the case a busy poll
// would spin on), then reads the poll thread's utime + stime from /proc over an idle period.
// Run it inside a network namespace.
#include <dirent.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "net/socket.h"
#include "net/socket_events.h"
#include "platform/platform.h"

namespace {

// The thread id of the thread named name, or -1.
long FindThread(const char* name) {
  DIR* dir = opendir("/proc/self/task");
  if (dir == nullptr) return -1;
  long tid = -1;
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    const std::string base = std::string("/proc/self/task/") + entry->d_name;
    char comm[64] = {};
    FILE* f = std::fopen((base + "/comm").c_str(), "r");
    if (f == nullptr) continue;
    const bool read = std::fgets(comm, sizeof comm, f) != nullptr;
    std::fclose(f);
    if (read && std::strncmp(comm, name, std::strlen(name)) == 0) tid = std::atol(entry->d_name);
  }
  closedir(dir);
  return tid;
}

// The thread's CPU time in nanoseconds through its per-thread CPU clock
// ((~tid << 3) | CPUCLOCK_PERTHREAD | CPUCLOCK_SCHED), or -1.
long long ThreadCpuNs(long tid) {
  const clockid_t clock = static_cast<clockid_t>((~static_cast<unsigned long>(tid) << 3) | 6);
  timespec ts{};
  if (clock_gettime(clock, &ts) != 0) return -1;
  return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

// utime + stime in clock ticks of thread tid, or -1.
long long ThreadCpuTicks(long tid) {
  long long ticks = -1;
  {
    const std::string base = "/proc/self/task/" + std::to_string(tid);
    FILE* f = std::fopen((base + "/stat").c_str(), "r");
    if (f == nullptr) return -1;
    char line[1024] = {};
    const bool got = std::fgets(line, sizeof line, f) != nullptr;
    std::fclose(f);
    // Fields after the parenthesised name: state is field 3, utime 14, stime 15.
    const char* p = got ? std::strrchr(line, ')') : nullptr;
    unsigned long long utime = 0, stime = 0;
    if (p != nullptr && std::sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu",
                                    &utime, &stime) == 2) {
      ticks = static_cast<long long>(utime + stime);
    }
  }
  return ticks;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace pb;
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
  static int token = 0;
  OpenSocketEvents(&token);
  const uint32_t loopback = 0x7F000001;
  platform::UniqueHandle event(platform::CreateEventObject(false, false));

  Socket quiet = Socket::Create(kSockDgram, kIpProtoDefault);
  quiet.Bind(SocketAddress::FromHost(loopback, 0));
  SelectSocketEvent(quiet.get(), event.get(), kFdRead | kFdClose);

  Socket unread = Socket::Create(kSockDgram, kIpProtoDefault);
  unread.Bind(SocketAddress::FromHost(loopback, 0));
  SocketAddress unread_address;
  unread.LocalName(&unread_address);
  SelectSocketEvent(unread.get(), event.get(), kFdRead | kFdClose);
  Socket sender = Socket::Create(kSockDgram, kIpProtoDefault);
  sender.SendTo("stays queued", 12, unread_address);

  Socket listener = Socket::Create(kSockStream, kIpProtoTcp);
  listener.Bind(SocketAddress::FromHost(loopback, 0));
  listener.Listen(4);
  SocketAddress listen_address;
  listener.LocalName(&listen_address);
  Socket client = Socket::Create(kSockStream, kIpProtoTcp);
  client.Connect(listen_address);
  Socket server = listener.Accept();
  SelectSocketEvent(listener.get(), event.get(), kFdAccept);
  SelectSocketEvent(server.get(), event.get(), kFdWrite | kFdClose);

  // Let the initial notifications (FD_READ of the unread datagram, FD_WRITE) be posted.
  platform::SleepMs(500);
  const long tid = FindThread("pb-sockpoll");
  if (tid < 0) {
    std::printf("poll thread not found\n");
    return 1;
  }
  const long long ns_before = ThreadCpuNs(tid);
  const long long ticks_before = ThreadCpuTicks(tid);
  const uint64_t start = platform::MonotonicMs();
  platform::SleepMs(static_cast<uint32_t>(seconds) * 1000u);
  const uint64_t elapsed = platform::MonotonicMs() - start;
  const long long ns_after = ThreadCpuNs(tid);
  const long long ticks_after = ThreadCpuTicks(tid);
  std::printf(
      "poll thread CPU over %.1f s idle, 4 sockets armed: %.1f us (thread clock), "
      "%lld ticks of 1/%ld s (/proc stat); %.1f us in total since it started\n",
      elapsed / 1000.0, (ns_after - ns_before) / 1000.0, ticks_after - ticks_before,
      sysconf(_SC_CLK_TCK), ns_after / 1000.0);
  // The event was set by the notifications posted before the idle period.
  platform::Handle h = event.get();
  std::printf("notifications before the idle period: %s\n",
              platform::WaitForObjects(1, &h, 0) == 0 ? "posted" : "none");
  for (SocketHandle s : {quiet.get(), unread.get(), listener.get(), server.get()}) {
    SelectSocketEvent(s, nullptr, 0);
  }
  CloseSocketEvents();
  return 0;
}
