// instance_bench.cc: one plug-in instance for the discovery and resource figures.
//
//   instance_bench converge --peers N --dir D --id I [--max-seconds S]
//       starts the plug-in, writes D/ready.I, waits for D/go, announces (StartEntry) and
//       watches until it lists N instances itself included. Writes "START_NS SEEN_NS LISTED"
//       to D/seen.I (SEEN_NS 0 when it never got there; LISTED the count it last saw).
//   instance_bench idle [--seconds S]
//       starts and announces, settles for a second, then prints its threads, its resident
//       memory and the processor time it used over S idle seconds.
// Run each in a network namespace of its own.
#include <cstdio>
#include <string>

#include "bench/bench_common.h"
#include "peerbeacon.h"
#include "tests/test_host.h"

namespace {

using pbbench::NowNs;
using pbbench::Result;

int32_t Listed() {
  if (LockEntryList() != 1) return 0;
  const int32_t n = GetEntryCount();
  UnlockEntryList();
  return n;
}

int Converge(int argc, char** argv) {
  const int64_t peers = pbbench::IntOption(argc, argv, "--peers", 4);
  const std::string dir = pbbench::Option(argc, argv, "--dir", "");
  const std::string id = pbbench::Option(argc, argv, "--id", "");
  const int64_t max_ns = pbbench::IntOption(argc, argv, "--max-seconds", 20) * 1000000000;
  if (dir.empty() || id.empty()) return 2;
  if (pb::testing_host::Initialize("discovery bench", nullptr) != 1) return 1;
  // Announcing before the receiver has joined would lose replies; wait until it hears. The
  // start returns after a second even when the receiver is not there yet, which is common
  // when dozens of instances start at once, so the membership itself is looked for.
  if (!pbbench::WaitForGroup(pbbench::kDefaultGroup, max_ns / 1000000)) {
    std::fprintf(stderr, "instance_bench converge: the receiver did not join the group\n");
  }
  pbbench::WriteTextFile(dir + "/ready." + id, "1\n");
  int64_t start = 0, seen = 0, listed = 0;
  if (pbbench::WaitForFile(dir + "/go", 30000)) {
    StartEntry();
    start = NowNs();
    while (NowNs() - start < max_ns) {
      listed = Listed();
      if (listed >= peers) {
        seen = NowNs();
        break;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
  }
  pbbench::WriteTextFile(dir + "/seen." + id, std::to_string(start) + " " + std::to_string(seen) +
                                                  " " + std::to_string(listed) + "\n");
  // Stay until every instance is done, so that no one misses a reply from a leaver; bounded.
  const int64_t linger_until = NowNs() + max_ns;
  while (!pbbench::FileExists(dir + "/all-seen") && NowNs() < linger_until) pbbench::SleepMs(5);
  pb::testing_host::UnInitialize();
  return seen > 0 ? 0 : 1;
}

int Idle(int argc, char** argv) {
  const int64_t seconds = pbbench::IntOption(argc, argv, "--seconds", 30);
  if (pb::testing_host::Initialize("idle bench", nullptr) != 1) return 1;
  StartEntry();
  pbbench::SleepMs(1000);
  Result("resources.idle_announced.threads",
         static_cast<double>(pbbench::ProcStatusValue("Threads")));
  Result("resources.idle_announced.rss_kb", static_cast<double>(pbbench::ProcStatusValue("VmRSS")));
  const double cpu0 = pbbench::ProcessCpuSeconds();
  const int64_t t0 = NowNs();
  pbbench::SleepMs(seconds * 1000);
  const double cpu = pbbench::ProcessCpuSeconds() - cpu0;
  const double wall = static_cast<double>(NowNs() - t0) / 1e9;
  Result("resources.idle_cpu.seconds_observed", wall);
  Result("resources.idle_cpu.cpu_ms", cpu * 1e3);
  Result("resources.idle_cpu.cpu_percent", wall > 0 ? cpu / wall * 100 : 0);
  ExitEntry();
  pb::testing_host::UnInitialize();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "converge") return Converge(argc, argv);
  if (mode == "idle") return Idle(argc, argv);
  std::fprintf(stderr,
               "usage: instance_bench converge|idle [options] (see the source's head comment)\n");
  return 2;
}
