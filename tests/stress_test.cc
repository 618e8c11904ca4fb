// stress_test.cc: start/stop cycles under traffic, abusive memo connections beside real memos,
// shutdown while the host holds the list lock, and a log that cannot be written. Bounded in
// count and time; run under the sanitizers.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/error_log.h"
#include "core/plugin_state.h"
#include "core/workers.h"
#include "net/socket.h"
#include "peerbeacon.h"
#include "platform/platform.h"
#include "services/memo_receiver.h"
#include "services/memo_sender.h"
#include "store/instance.h"
#include "tests/test_host.h"
#include "tests/wait_until.h"
#include "wire/byte_order.h"
#include "wire/entry_command.h"

namespace pb {
namespace {

constexpr uint16_t kPort = 7450;

std::vector<uint8_t> Frame(const std::string& payload) {
  std::vector<uint8_t> f(payload.size() + 8, 0);
  WriteLe32(f.data(), static_cast<uint32_t>(f.size()));
  memcpy(f.data() + 4, payload.data(), payload.size());
  return f;
}

using testing_host::RecordFor;

SocketAddress Loopback() { return SocketAddress::FromHost(0x7F000001, kPort); }

std::mutex g_mutex;
std::map<std::string, int> g_real;  // real memos by payload
std::atomic<int> g_odd{0};          // frames of the abusive connections that reached the host

int32_t PB_CALL Receive(const void*, int32_t, const void* data, int32_t length) {
  if (length >= 8) {
    std::string payload(static_cast<const char*>(data), static_cast<size_t>(length - 8));
    if (payload.rfind("real:", 0) == 0) {
      std::lock_guard<std::mutex> lock(g_mutex);
      g_real[payload]++;
      return 1;
    }
  }
  g_odd.fetch_add(1);
  return 1;
}

class StressTest : public testing::Test {
 protected:
  void SetUp() override {
    settings_ = testing_host::WriteSettings("McstPort=" + std::to_string(kPort) +
                                            "\r\nNickname=stress\r\n");
    std::lock_guard<std::mutex> lock(g_mutex);
    g_real.clear();
    g_odd.store(0);
  }
  void TearDown() override {
    testing_host::UnInitialize();
    SetMemoConnectionWaitMs(60000);
    std::remove(settings_.c_str());
  }
  std::string settings_;
};

// Sends a real memo until it is delivered (a busy moment may refuse it); the tries it took.
int SendUntilDelivered(const std::string& payload, const std::vector<uint8_t>& record) {
  for (int tries = 1; tries <= 200; ++tries) {
    const int32_t r = SendMemoExchange(record.data(), payload.data(),
                                       static_cast<int32_t>(payload.size()), 5000, nullptr);
    if (r == 0) return tries;
    platform::SleepMs(20);
  }
  return -1;
}

TEST_F(StressTest, StartStopCyclesWhilePeersAnnounceAndSend) {
  std::atomic<bool> done{false};
  // A peer announcing by multicast all the time, and callers connecting all the time.
  std::thread announcer([&] {
    Socket s = Socket::Create(kSockDgram, kIpProtoUdp);
    const SocketAddress group = SocketAddress::FromNetwork(
        platform::ParseDottedAddress("239.191.38.82"), HostToNetwork16(kPort));
    int i = 0;
    while (!done.load()) {
      EntryCommandBuffer d = BuildEntryCommand(1 + i++ % 3, 0, "peer", "A>B&C", "u", "pc", 0);
      s.SendTo(d.data(), static_cast<int32_t>(d.size()), group);
      platform::SleepMs(1);
    }
  });
  std::thread caller([&] {
    while (!done.load()) {
      Socket c = Socket::Create(kSockStream, kIpProtoTcp);
      if (c.Connect(Loopback())) {
        const std::vector<uint8_t> f = Frame("during a cycle");
        c.Send(f.data(), static_cast<int32_t>(f.size()));
        uint8_t buffer[32];
        c.Receive(buffer, sizeof buffer);
      }
      platform::SleepMs(2);
    }
  });
  constexpr int kCycles = 1000;
  int started = 0;
  for (int i = 0; i < kCycles; ++i) {
    if (testing_host::Initialize("cycle", &Receive) == 1) ++started;
    if (i % 3 == 0) StartEntry();
    ASSERT_EQ(testing_host::UnInitialize(), 1) << "cycle " << i;
    ASSERT_EQ(Workers().Running(), 0) << "a worker outlived the shutdown in cycle " << i;
  }
  done.store(true);
  announcer.join();
  caller.join();
  EXPECT_EQ(started, kCycles);

  // And after all that the instance still works.
  ASSERT_EQ(testing_host::Initialize("after", &Receive), 1);
  EXPECT_EQ(GetNxlStatus(), 7);
  EXPECT_GT(SendUntilDelivered("real:after cycles", RecordFor(0x7F000001, kPort)), 0);
}

TEST_F(StressTest, AbusiveConnectionsBesideRealMemos) {
  SetMemoConnectionWaitMs(1000);
  ASSERT_EQ(testing_host::Initialize("abuse", &Receive), 1);
  constexpr int kAbusers = 10;
  constexpr int kEach = 50;  // 500 connections in all
  std::atomic<int> opened{0};
  std::vector<std::thread> abusers;
  for (int t = 0; t < kAbusers; ++t) {
    abusers.emplace_back([&, t] {
      std::vector<Socket> silent;
      for (int i = 0; i < kEach; ++i) {
        Socket c = Socket::Create(kSockStream, kIpProtoTcp);
        if (!c.Connect(Loopback())) continue;
        opened.fetch_add(1);
        uint8_t head[4];
        switch ((t + i) % 4) {
          case 0:  // silent: holds a connection until the plug-in gives up on it
            silent.push_back(std::move(c));
            break;
          case 1: {  // closes in the middle of a frame
            const std::vector<uint8_t> f = Frame("cut short");
            c.Send(f.data(), 7);
            break;
          }
          case 2:  // a huge length, then only a little data
            WriteLe32(head, 0x7FFFFFFF);
            c.Send(head, 4);
            c.Send("tiny", 4);
            break;
          default:  // a negative length completes at once
            WriteLe32Signed(head, -42);
            c.Send(head, 4);
            break;
        }
        platform::SleepMs(1);
      }
      // The silent ones stay until the server ends them: a receive returns 0 or fails.
      for (Socket& s : silent) {
        uint8_t buffer[16];
        while (s.Receive(buffer, sizeof buffer) > 0) {
        }
      }
    });
  }
  constexpr int kReal = 60;
  std::vector<int> tries(kReal, 0);
  std::thread real([&] {
    const std::vector<uint8_t> record = RecordFor(0x7F000001, kPort);
    for (int i = 0; i < kReal; ++i) {
      std::string payload = "real:" + std::to_string(i) + ":";
      payload.append(static_cast<size_t>(i) * 1000, static_cast<char>('a' + i % 26));
      tries[static_cast<size_t>(i)] = SendUntilDelivered(payload, record);
    }
  });
  for (std::thread& t : abusers) t.join();
  real.join();
  EXPECT_EQ(opened.load(), kAbusers * kEach);
  std::lock_guard<std::mutex> lock(g_mutex);
  for (int i = 0; i < kReal; ++i) {
    EXPECT_GT(tries[static_cast<size_t>(i)], 0) << "real memo " << i << " never delivered";
    std::string payload = "real:" + std::to_string(i) + ":";
    payload.append(static_cast<size_t>(i) * 1000, static_cast<char>('a' + i % 26));
    auto it = g_real.find(payload);
    ASSERT_NE(it, g_real.end()) << "real memo " << i << " missing or corrupted";
    EXPECT_EQ(it->second, 1) << "real memo " << i << " delivered more than once";
  }
  EXPECT_EQ(g_real.size(), static_cast<size_t>(kReal));
  // Only the negative-length frames are complete frames among the abusive ones.
  EXPECT_LE(g_odd.load(), kAbusers * kEach / 4 + 1);
}

TEST_F(StressTest, ShutdownWhileTheHostHoldsTheListLock) {
  ASSERT_EQ(testing_host::Initialize("lock", &Receive), 1);
  ASSERT_EQ(StartEntry(), 1);
  ASSERT_EQ(LockEntryList(), 1);
  // A memo whose sender record needs the lock, and announcements that need it too, wait.
  Socket c = Socket::Create(kSockStream, kIpProtoTcp);
  ASSERT_TRUE(c.Connect(Loopback()));
  const std::vector<uint8_t> f = Frame("waits for the lock");
  ASSERT_EQ(c.Send(f.data(), static_cast<int32_t>(f.size())), static_cast<int32_t>(f.size()));
  StartEntry();
  EXPECT_TRUE(test_support::WaitUntil([] { return Workers().Running() > 2; }))
      << "no connection thread took the memo";

  // Another thread stops the plug-in while the host still holds the lock.
  std::thread stopper([] { EXPECT_EQ(testing_host::UnInitialize(), 1); });
  stopper.join();
  EXPECT_EQ(Workers().Running(), 0) << "shutdown returned with a worker still running";
  EXPECT_EQ(GetNxlStatus(), 0);
  EXPECT_EQ(UnlockEntryList(), 0) << "the list is gone; unlocking is refused, not a crash";
  EXPECT_EQ(g_odd.load(), 0) << "the memo must not reach the host after the stop";
}

platform::Handle g_release_callback = nullptr;
std::atomic<int> g_in_callback{0};

int32_t PB_CALL SlowReceive(const void*, int32_t, const void*, int32_t) {
  g_in_callback.fetch_add(1);
  platform::WaitForObjects(1, &g_release_callback, 20000);
  return 1;
}

// One connection thread inside the host's callback and one waiting for its frame: shutdown
// ends within its bound, and the thread still in the callback finishes safely afterwards.
TEST_F(StressTest, ShutdownWithAConnectionInsideTheCallback) {
  platform::UniqueHandle release(platform::CreateEventObject(true, false));
  g_release_callback = release.get();
  g_in_callback.store(0);
  ASSERT_EQ(testing_host::Initialize("slow host", &SlowReceive), 1);
  Socket inside = Socket::Create(kSockStream, kIpProtoTcp);
  ASSERT_TRUE(inside.Connect(Loopback()));
  const std::vector<uint8_t> f = Frame("held by the host");
  ASSERT_EQ(inside.Send(f.data(), static_cast<int32_t>(f.size())), static_cast<int32_t>(f.size()));
  Socket waiting = Socket::Create(kSockStream, kIpProtoTcp);
  ASSERT_TRUE(waiting.Connect(Loopback()));
  test_support::WaitUntil([] { return g_in_callback.load() > 0; });
  ASSERT_EQ(g_in_callback.load(), 1);

  ASSERT_EQ(testing_host::UnInitialize(), 1);
  EXPECT_EQ(Workers().Running(), 1) << "only the thread inside the callback may outlive it";
  EXPECT_EQ(GetNxlStatus(), 0);
  // The plug-in can start again while that thread still runs.
  ASSERT_EQ(testing_host::Initialize("again", &Receive), 1);

  platform::SetEventObject(release.get());
  test_support::WaitUntil([] { return Workers().Running() <= 2; });
  uint8_t buffer[16];
  // The released thread answers into its connection (behind the greeting the caller never
  // read) and ends; the waiting one was closed after its greeting.
  int32_t got = 0;
  for (int32_t n; got < 13 && (n = inside.Receive(buffer + got, 16 - got)) > 0;) got += n;
  ASSERT_EQ(got, 13);
  EXPECT_EQ(memcmp(buffer, "Hi,Wren!", 9), 0);
  EXPECT_EQ(ReadLe32Signed(buffer + 9), 0) << "accepted, receiver present";
  EXPECT_LE(waiting.Receive(buffer, sizeof buffer), 9)
      << "the waiting caller got more than a greeting";
  ASSERT_EQ(testing_host::UnInitialize(), 1);
  EXPECT_EQ(Workers().Running(), 0);
}

// The state of a start stays alive while a thread of it is inside the host's callback, across
// the shutdown and the next start, and is freed when that thread ends; the new start is not
// touched by it (run under the sanitizers).
TEST_F(StressTest, ALateConnectionThreadKeepsItsOwnStartAlive) {
  platform::UniqueHandle release(platform::CreateEventObject(true, false));
  g_release_callback = release.get();
  g_in_callback.store(0);
  const int32_t before = Instance::LiveCount();
  ASSERT_EQ(testing_host::Initialize("first", &SlowReceive), 1);
  Socket inside = Socket::Create(kSockStream, kIpProtoTcp);
  ASSERT_TRUE(inside.Connect(Loopback()));
  const std::vector<uint8_t> f = Frame("held across a restart");
  ASSERT_EQ(inside.Send(f.data(), static_cast<int32_t>(f.size())), static_cast<int32_t>(f.size()));
  ASSERT_TRUE(test_support::WaitUntil([] { return g_in_callback.load() > 0; }));

  ASSERT_EQ(testing_host::UnInitialize(), 1);
  EXPECT_EQ(Instance::LiveCount(), before + 1) << "the thread in the callback holds its start";
  ASSERT_EQ(testing_host::Initialize("second", &Receive), 1);
  EXPECT_EQ(Instance::LiveCount(), before + 2);
  ASSERT_EQ(LockEntryList(), 1);  // the new start's list stays the host's meanwhile

  platform::SetEventObject(release.get());
  uint8_t buffer[16];
  int32_t got = 0;
  for (int32_t n; got < 13 && (n = inside.Receive(buffer + got, 16 - got)) > 0;) got += n;
  ASSERT_EQ(got, 13);
  EXPECT_EQ(ReadLe32Signed(buffer + 9), 0);
  inside.Close();
  EXPECT_TRUE(test_support::WaitUntil([&] { return Instance::LiveCount() == before + 1; }))
      << "the old start was not freed when its last thread ended";
  // The old start is freed inside its last thread, which leaves the worker set just after.
  EXPECT_TRUE(test_support::WaitUntil([] { return Workers().Running() == 2; }))
      << "only the new start's workers are left, not " << Workers().Running();
  EXPECT_EQ(UnlockEntryList(), 1);
  EXPECT_EQ(GetNxlStatus(), 7);
  ASSERT_EQ(testing_host::UnInitialize(), 1);
  EXPECT_EQ(Instance::LiveCount(), before);
}

TEST_F(StressTest, AReporterGoesOnWhenTheLogCannotBeWritten) {
  // A folder where the log file would be: every open of the log fails.
  const std::string log = ErrorLogPath();
  std::remove(log.c_str());
  ASSERT_TRUE(std::filesystem::create_directory(log));
  Socket blocker = Socket::Create(kSockStream, kIpProtoTcp);
  ASSERT_TRUE(blocker.Bind(Loopback()));
  ASSERT_TRUE(blocker.Listen(1));
  ASSERT_EQ(testing_host::Initialize("no log", &Receive), 1);
  EXPECT_EQ(GetNxlStatus(), 5) << "the listener failed and said so only in the lost log line";
  WriteErrorLog("a line that cannot be written", "StressTest");
  EXPECT_EQ(StartEntry(), 1);
  ASSERT_EQ(testing_host::UnInitialize(), 1);
  std::filesystem::remove(log);
}

}  // namespace
}  // namespace pb
