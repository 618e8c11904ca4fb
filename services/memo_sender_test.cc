// memo_sender_test.cc: the memo exchange against scripted peers, and memos carried intact
// between two threads of senders and the plug-in's own listener.
#include "services/memo_sender.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/socket.h"
#include "peerbeacon.h"
#include "platform/platform.h"
#include "tests/test_host.h"
#include "tests/wait_until.h"
#include "wire/byte_order.h"

namespace pb {
namespace {

constexpr uint16_t kOwnPort = 7420;
constexpr uint16_t kPeerPort = 7421;

std::vector<uint8_t> RecordFor(uint16_t port) { return testing_host::RecordFor(0x7F000001, port); }

// A peer that follows a script on one connection, on a thread of its own.
class ScriptedPeer {
 public:
  enum Greeting { kGreet, kWrongGreeting, kSilent };
  // close_after_reply: hang up right after the result instead of waiting for the caller.
  ScriptedPeer(Greeting greeting, int32_t reply, bool close_after_reply = false)
      : greeting_(greeting), reply_(reply), close_after_reply_(close_after_reply) {
    listener_ = Socket::Create(kSockStream, kIpProtoTcp);
    EXPECT_TRUE(listener_.Bind(SocketAddress::FromHost(0x7F000001, kPeerPort)));
    EXPECT_TRUE(listener_.Listen(1));
    thread_ = std::thread([this] { Serve(); });
  }
  ~ScriptedPeer() { thread_.join(); }
  // True once the caller's connection has been taken.
  bool Accepted() const { return accepted_.load(); }
  // Every byte the caller sent, once it closed.
  std::vector<uint8_t> Received() {
    thread_.join();
    thread_ = std::thread([] {});
    return received_;
  }

 private:
  void Serve() {
    Socket c = listener_.Accept();
    if (!c) return;
    accepted_.store(true);
    if (greeting_ == kGreet) c.Send("Hi,Wren!", 9);
    if (greeting_ == kWrongGreeting) c.Send("Hello!!", 8);
    uint8_t buffer[65536];
    bool replied = false;
    for (;;) {
      const int32_t n = c.Receive(buffer, sizeof buffer);
      if (n <= 0) break;
      received_.insert(received_.end(), buffer, buffer + n);
      if (!replied && received_.size() >= 4 && received_.size() >= ReadLe32(received_.data())) {
        uint8_t r[4];
        WriteLe32Signed(r, reply_);
        c.Send(r, 4);
        replied = true;
        if (close_after_reply_) break;
      }
    }
  }
  Greeting greeting_;
  int32_t reply_;
  bool close_after_reply_;
  Socket listener_;
  std::thread thread_;
  std::vector<uint8_t> received_;
  std::atomic<bool> accepted_{false};
};

class MemoSenderTest : public testing::Test {
 protected:
  void SetUp() override {
    settings_ = testing_host::WriteSettings("McstPort=" + std::to_string(kOwnPort) + "\r\n");
    ASSERT_EQ(testing_host::Initialize("sender test", &Receive), 1);
  }
  void TearDown() override {
    testing_host::UnInitialize();
    std::remove(settings_.c_str());
  }

  static int32_t PB_CALL Receive(const void*, int32_t, const void* data, int32_t length) {
    std::lock_guard<std::mutex> lock(received_mutex_);
    const auto* p = static_cast<const uint8_t*>(data);
    received_[std::string(reinterpret_cast<const char*>(p), length >= 8 ? length - 8 : 0)]++;
    return 1;
  }

  std::string settings_;
  static std::mutex received_mutex_;
  static std::map<std::string, int> received_;
};
std::mutex MemoSenderTest::received_mutex_;
std::map<std::string, int> MemoSenderTest::received_;

TEST_F(MemoSenderTest, FramesAndResultsOfThePeer) {
  const std::vector<uint8_t> record = RecordFor(kPeerPort);
  struct Case {
    std::string payload;
    int32_t reply;
  };
  for (const Case& c : {Case{"", 0}, Case{"refused", 3}, Case{"away", 1}, Case{"odd", 77}}) {
    ScriptedPeer peer(ScriptedPeer::kGreet, c.reply);
    EXPECT_EQ(SendMemoData(record.data(), c.payload.data(), static_cast<int32_t>(c.payload.size()),
                           nullptr),
              c.reply);
    const std::vector<uint8_t> frame = peer.Received();
    ASSERT_EQ(frame.size(), c.payload.size() + 8);
    EXPECT_EQ(ReadLe32(frame.data()), c.payload.size() + 8);
    EXPECT_EQ(std::string(frame.begin() + 4, frame.end() - 4), c.payload);
  }
}

// A receiver may answer and hang up at once; its result is queued ahead of the close, and the
// memo it took must not be reported as failed.
TEST_F(MemoSenderTest, PeerThatClosesRightAfterItsResult) {
  const std::vector<uint8_t> record = RecordFor(kPeerPort);
  for (int i = 0; i < 40; ++i) {
    const int32_t reply = i % 2;
    ScriptedPeer peer(ScriptedPeer::kGreet, reply, /*close_after_reply=*/true);
    ASSERT_EQ(SendMemoData(record.data(), "memo", 4, nullptr), reply) << "exchange " << i;
    EXPECT_EQ(peer.Received().size(), 12u);
  }
}

TEST_F(MemoSenderTest, WrongGreetingSendsNoFrame) {
  ScriptedPeer peer(ScriptedPeer::kWrongGreeting, 0);
  const std::vector<uint8_t> record = RecordFor(kPeerPort);
  EXPECT_EQ(SendMemoData(record.data(), "secret", 6, nullptr), 3);
  EXPECT_TRUE(peer.Received().empty());
}

TEST_F(MemoSenderTest, SilencePastTheTimeOutGivesFour) {
  ScriptedPeer peer(ScriptedPeer::kSilent, 0);
  const std::vector<uint8_t> record = RecordFor(kPeerPort);
  EXPECT_EQ(SendMemoExchange(record.data(), "x", 1, 300, nullptr), 4);
  EXPECT_TRUE(peer.Received().empty());
}

TEST_F(MemoSenderTest, CancelDuringTheGreetingGivesFive) {
  ScriptedPeer peer(ScriptedPeer::kSilent, 0);
  const std::vector<uint8_t> record = RecordFor(kPeerPort);
  PB_HANDLE cancel = testing_host::MakeCancelHandle();
  ASSERT_NE(cancel, nullptr);
  std::thread canceller([cancel, &peer] {
    test_support::WaitUntil([&] { return peer.Accepted(); });
    testing_host::SignalCancelHandle(cancel);
  });
  EXPECT_EQ(SendResultData(record.data(), "x", 1, cancel), 5);
  canceller.join();
  EXPECT_TRUE(peer.Received().empty()) << "the connection is closed without a frame";
  testing_host::CloseCancelHandle(cancel);
}

TEST_F(MemoSenderTest, StopDuringAnExchangeGivesTwo) {
  ScriptedPeer peer(ScriptedPeer::kSilent, 0);
  const std::vector<uint8_t> record = RecordFor(kPeerPort);
  std::thread stopper([&peer] {
    test_support::WaitUntil([&] { return peer.Accepted(); });
    testing_host::UnInitialize();
  });
  EXPECT_EQ(SendResultData(record.data(), "x", 1, nullptr), 2);
  stopper.join();
  peer.Received();
}

TEST_F(MemoSenderTest, RefusedConnectEndsAtOnceWithThree) {
  // Nobody listens on the peer port: without the connect error this would wait 30 s for a
  // greeting and end with 4.
  const std::vector<uint8_t> record = RecordFor(kPeerPort);
  EXPECT_EQ(SendMemoExchange(record.data(), "x", 1, 30000, nullptr), 3);
}

// A cancel handle that names no open object fails every wait. The peer accepts the connection
// but never greets, so only the failed waits can end these exchanges.
TEST_F(MemoSenderTest, UnusableCancelHandleEndsWithThree) {
  Socket silent = Socket::Create(kSockStream, kIpProtoTcp);
  ASSERT_TRUE(silent.Bind(SocketAddress::FromHost(0x7F000001, kPeerPort)));
  ASSERT_TRUE(silent.Listen(8));
  const std::vector<uint8_t> record = RecordFor(kPeerPort);
  const PB_HANDLE closed = testing_host::ClosedCancelHandle();
  ASSERT_NE(closed, nullptr);
  for (PB_HANDLE cancel : {testing_host::UnopenedCancelHandle(), closed}) {
    EXPECT_EQ(SendMemoData(record.data(), "x", 1, cancel), 3);
    EXPECT_EQ(SendResultData(record.data(), "x", 1, cancel), 3);
  }
}

TEST(GetErrorMsgTest, RefusalTextInShiftJis) {
  const unsigned char text[] = {0x8E, 0xF3, 0x90, 0x4D, 0x91, 0xA4, 0x82, 0xC5,
                                0x8B, 0x91, 0x94, 0xDB, 0x82, 0xB3, 0x82, 0xEA,
                                0x82, 0xDC, 0x82, 0xB5, 0x82, 0xBD, 0x81, 0x42};
  EXPECT_EQ(GetErrorMsg(101, nullptr, 0), 24);
  char buffer[100];
  memset(buffer, 'z', sizeof buffer);
  EXPECT_EQ(GetErrorMsg(101, buffer, 11), 10);
  EXPECT_EQ(memcmp(buffer, text, 10), 0);
  EXPECT_EQ(buffer[10], '\0');
  EXPECT_EQ(buffer[11], 'z');
  EXPECT_EQ(GetErrorMsg(101, buffer, 100), 24);
  EXPECT_EQ(memcmp(buffer, text, 24), 0);
  memset(buffer, 'z', sizeof buffer);
  EXPECT_EQ(GetErrorMsg(3, buffer, 100), -1);
  EXPECT_EQ(buffer[0], 'z');
}

// 200 memos from 8 threads, sizes from 0 bytes to 16 MiB, each arrives exactly once intact.
TEST_F(MemoSenderTest, ConcurrentMemosArriveIntactExactlyOnce) {
  {
    std::lock_guard<std::mutex> lock(received_mutex_);
    received_.clear();
  }
  const std::vector<uint8_t> record = RecordFor(kOwnPort);
  const size_t sizes[] = {0, 1, 7, 511, 512, 600, 4096, 65536, 300000, 1 << 20};
  constexpr int kThreads = 8;
  constexpr int kPerThread = 25;
  std::atomic<int> ok{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) {
        // One 16 MiB memo in the whole run; the others cycle through the sizes.
        const size_t size = (t == 0 && i == 0) ? (16u << 20) : sizes[(t * 7 + i) % 10];
        std::string payload(size, '\0');
        char tag[32];
        const int n = snprintf(tag, sizeof tag, "%d/%d;", t, i);
        for (size_t k = 0; k < size; ++k)
          payload[k] = static_cast<char>((k * 31 + t * 7 + i) & 0xFF);
        memcpy(payload.data(), tag, std::min(size, static_cast<size_t>(n)));
        if (SendMemoData(record.data(), payload.data(), static_cast<int32_t>(size), nullptr) == 0) {
          ok.fetch_add(1);
        }
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(ok.load(), kThreads * kPerThread);
  std::lock_guard<std::mutex> lock(received_mutex_);
  int total = 0;
  for (const auto& [payload, count] : received_) total += count;
  EXPECT_EQ(total, kThreads * kPerThread);
  // Every distinct memo arrived once: the payloads differ in their tags, except the empty
  // ones and those shorter than their tag, which repeat.
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kPerThread; ++i) {
      const size_t size = (t == 0 && i == 0) ? (16u << 20) : sizes[(t * 7 + i) % 10];
      if (size < 8) continue;
      std::string payload(size, '\0');
      char tag[32];
      const int n = snprintf(tag, sizeof tag, "%d/%d;", t, i);
      for (size_t k = 0; k < size; ++k) payload[k] = static_cast<char>((k * 31 + t * 7 + i) & 0xFF);
      memcpy(payload.data(), tag, std::min(size, static_cast<size_t>(n)));
      auto it = received_.find(payload);
      ASSERT_NE(it, received_.end()) << "memo " << t << "/" << i << " of " << size << " bytes";
      EXPECT_EQ(it->second, 1);
    }
  }
}

}  // namespace
}  // namespace pb
