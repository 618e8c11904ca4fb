// memo_receiver_test.cc: the memo listener and connection threads, driven by a raw TCP caller.
#include "services/memo_receiver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "core/error_log.h"
#include "core/plugin_state.h"
#include "core/workers.h"
#include "net/socket.h"
#include "net/socket_events.h"
#include "peerbeacon.h"
#include "platform/platform.h"
#include "tests/test_host.h"
#include "tests/wait_until.h"
#include "wire/byte_order.h"

namespace pb {
namespace {

constexpr uint16_t kPort = 7410;

struct Delivery {
  std::vector<uint8_t> record;
  int32_t record_size = 0;
  bool had_record = false;
  int32_t length = 0;
  std::vector<uint8_t> data;  // what the host may read: length bytes from the data pointer
};

std::mutex g_mutex;
std::vector<Delivery> g_deliveries;
std::atomic<int32_t> g_accept{1};

int32_t PB_CALL Record(const void* record, int32_t record_size, const void* data, int32_t length) {
  Delivery d;
  d.had_record = record != nullptr;
  d.record_size = record_size;
  if (record != nullptr && record_size > 0) {
    const auto* r = static_cast<const uint8_t*>(record);
    d.record.assign(r, r + record_size);
  }
  d.length = length;
  if (length > 0) {
    const auto* p = static_cast<const uint8_t*>(data);
    d.data.assign(p, p + length);
  }
  std::lock_guard<std::mutex> lock(g_mutex);
  g_deliveries.push_back(std::move(d));
  return g_accept.load();
}

size_t DeliveryCount() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_deliveries.size();
}

// A caller speaking the memo protocol with blocking calls.
class Caller {
 public:
  explicit Caller(uint32_t local_address = 0) {
    socket_ = Socket::Create(kSockStream, kIpProtoTcp);
    if (local_address != 0) socket_.Bind(SocketAddress::FromNetwork(local_address, 0));
  }
  bool Connect(uint32_t address) {
    return socket_.Connect(SocketAddress::FromNetwork(address, HostToNetwork16(kPort)));
  }
  // Reads exactly n bytes; fewer when the connection ends first.
  std::vector<uint8_t> Read(size_t n) {
    std::vector<uint8_t> out;
    uint8_t buffer[4096];
    while (out.size() < n) {
      const int32_t got =
          socket_.Receive(buffer, static_cast<int32_t>(std::min(n - out.size(), sizeof buffer)));
      if (got <= 0) break;
      out.insert(out.end(), buffer, buffer + got);
    }
    return out;
  }
  bool Greeted() {
    const std::vector<uint8_t> g = Read(9);
    return g.size() == 9 && memcmp(g.data(), "Hi,Wren!", 9) == 0;
  }
  void Send(const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      const int32_t n =
          socket_.Send(bytes.data() + done, static_cast<int32_t>(bytes.size() - done));
      if (n <= 0) return;
      done += static_cast<size_t>(n);
    }
  }
  // The 4-byte result, or nullopt-like -999 when the connection ended without one.
  int32_t Result() {
    const std::vector<uint8_t> r = Read(4);
    return r.size() == 4 ? ReadLe32Signed(r.data()) : -999;
  }
  Socket& socket() { return socket_; }

 private:
  Socket socket_;
};

std::vector<uint8_t> MakeFrame(const std::string& payload) {
  std::vector<uint8_t> frame(payload.size() + 8, 0);
  WriteLe32(frame.data(), static_cast<uint32_t>(frame.size()));
  memcpy(frame.data() + 4, payload.data(), payload.size());
  return frame;
}

uint32_t Loopback() { return HostToNetwork32(0x7F000001); }

class MemoReceiverTest : public testing::Test {
 protected:
  void SetUp() override {
    allow_ = platform::ReplaceFileName(platform::ModulePath(), "allow.lst");
    std::remove(allow_.c_str());
    WriteSettings("");
    g_accept.store(1);
    std::lock_guard<std::mutex> lock(g_mutex);
    g_deliveries.clear();
  }
  void TearDown() override {
    testing_host::UnInitialize();
    SetMemoConnectionWaitMs(60000);
    std::remove(settings_.c_str());
    std::remove(allow_.c_str());
  }
  void WriteSettings(const std::string& extra) {
    settings_ = testing_host::WriteSettings("McstPort=" + std::to_string(kPort) +
                                            "\r\nNickname=memo\r\n" + extra);
  }
  void Start() {
    ASSERT_EQ(testing_host::Initialize("memo test", &Record), 1);
    ASSERT_NE(GetNxlStatus() & PB_STATUS_LISTENING, 0);
  }
  Delivery Only() {
    std::lock_guard<std::mutex> lock(g_mutex);
    EXPECT_EQ(g_deliveries.size(), 1u);
    return g_deliveries.empty() ? Delivery{} : g_deliveries.front();
  }

  std::string settings_, allow_;
};

TEST_F(MemoReceiverTest, EmptyFrameFromAnUnlistedCaller) {
  Start();
  Caller c;
  ASSERT_TRUE(c.Connect(Loopback()));
  ASSERT_TRUE(c.Greeted());
  c.Send(MakeFrame(""));
  EXPECT_EQ(c.Result(), 0);
  const Delivery d = Only();
  EXPECT_FALSE(d.had_record);
  EXPECT_EQ(d.record_size, 0);
  EXPECT_EQ(d.length, 8);
  // The host may read length bytes: the 4 trailer bytes and 4 zero bytes behind the frame.
  EXPECT_EQ(d.data, std::vector<uint8_t>(8, 0));
}

TEST_F(MemoReceiverTest, FrameInSeveralSegmentsAndLargerThanTheFirstBuffer) {
  Start();
  std::string payload(592, 'x');
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>('a' + i % 26);
  const std::vector<uint8_t> frame = MakeFrame(payload);
  Caller c;
  ASSERT_TRUE(c.Connect(Loopback()));
  ASSERT_TRUE(c.Greeted());
  for (size_t at = 0; at < frame.size(); at += 150) {
    c.Send(
        std::vector<uint8_t>(frame.begin() + at, frame.begin() + std::min(at + 150, frame.size())));
    platform::SleepMs(20);
    if (at + 150 < frame.size()) {
      EXPECT_EQ(DeliveryCount(), 0u) << "complete too early";
    }
  }
  EXPECT_EQ(c.Result(), 0);
  const Delivery d = Only();
  EXPECT_EQ(d.length, 600);
  ASSERT_EQ(d.data.size(), 600u);
  EXPECT_EQ(std::string(d.data.begin(), d.data.begin() + 592), payload);
  EXPECT_EQ(std::vector<uint8_t>(d.data.begin() + 596, d.data.end()), std::vector<uint8_t>(4, 0));
}

TEST_F(MemoReceiverTest, ShortAndNegativeLengthsCompleteAtFourBytes) {
  Start();
  for (int32_t length : {-5, 2}) {
    Caller c;
    ASSERT_TRUE(c.Connect(Loopback()));
    ASSERT_TRUE(c.Greeted());
    std::vector<uint8_t> field(4);
    WriteLe32Signed(field.data(), length);
    c.Send(field);
    EXPECT_EQ(c.Result(), 0) << length;
  }
  std::lock_guard<std::mutex> lock(g_mutex);
  ASSERT_EQ(g_deliveries.size(), 2u);
  EXPECT_EQ(g_deliveries[0].length, -5);
  EXPECT_EQ(g_deliveries[1].length, 2);
}

TEST_F(MemoReceiverTest, RefusalAndAbsenceCapturedAtAccept) {
  Start();
  g_accept.store(0);
  {
    Caller c;
    ASSERT_TRUE(c.Connect(Loopback()));
    ASSERT_TRUE(c.Greeted());
    c.Send(MakeFrame("no"));
    EXPECT_EQ(c.Result(), 3);
  }
  g_accept.store(1);
  ASSERT_EQ(AbsenceEntry(5), 1);
  Caller c;
  ASSERT_TRUE(c.Connect(Loopback()));
  ASSERT_TRUE(c.Greeted());  // accepted while absence was 5
  ASSERT_EQ(AbsenceEntry(0), 1);
  c.Send(MakeFrame("yes"));
  EXPECT_EQ(c.Result(), 1);
}

TEST_F(MemoReceiverTest, CallerThatLeavesEarlyGetsNoCallback) {
  Start();
  {
    Caller c;
    ASSERT_TRUE(c.Connect(Loopback()));
    ASSERT_TRUE(c.Greeted());
    std::vector<uint8_t> partial = MakeFrame("half a memo");
    partial.resize(6);
    c.Send(partial);
  }
  {
    Caller c;
    ASSERT_TRUE(c.Connect(Loopback()));
    ASSERT_TRUE(c.Greeted());
  }
  // A real memo afterwards still arrives: the two early leavers changed nothing.
  Caller c;
  ASSERT_TRUE(c.Connect(Loopback()));
  ASSERT_TRUE(c.Greeted());
  c.Send(MakeFrame("after"));
  EXPECT_EQ(c.Result(), 0);
  const Delivery d = Only();
  EXPECT_EQ(d.length, 13);
}

// A caller that resets the connection in the middle of its frame: the connection thread ends
// by itself (long before its 60 s bound) without calling the host.
TEST_F(MemoReceiverTest, CallerResetInTheMiddleOfAFrame) {
  Start();
  const int32_t idle = Workers().Running();
  {
    Caller c;
    ASSERT_TRUE(c.Connect(Loopback()));
    ASSERT_TRUE(c.Greeted());
    std::vector<uint8_t> partial = MakeFrame("cut short by a reset");
    partial.resize(10);
    c.Send(partial);
    ASSERT_TRUE(c.socket().SetLinger(true, 0));
  }
  for (int i = 0; i < 2000 && Workers().Running() > idle; ++i) platform::SleepMs(10);
  EXPECT_EQ(Workers().Running(), idle) << "the connection thread did not end";
  EXPECT_EQ(DeliveryCount(), 0u);
}

TEST_F(MemoReceiverTest, SilentCallerIsDroppedAfterTheConnectionTimeOut) {
  SetMemoConnectionWaitMs(300);
  Start();
  Caller c;
  ASSERT_TRUE(c.Connect(Loopback()));
  ASSERT_TRUE(c.Greeted());
  EXPECT_EQ(c.Result(), -999) << "the connection ends without a reply";
  EXPECT_EQ(DeliveryCount(), 0u);
}

TEST_F(MemoReceiverTest, StopWhileWaitingForTheFrameEndsWithoutReply) {
  Start();
  Caller c;
  ASSERT_TRUE(c.Connect(Loopback()));
  ASSERT_TRUE(c.Greeted());
  ASSERT_EQ(testing_host::UnInitialize(), 1);
  EXPECT_EQ(c.Result(), -999);
  EXPECT_EQ(DeliveryCount(), 0u);
}

TEST_F(MemoReceiverTest, AccessListWithoutItsFileClosesBeforeTheGreeting) {
  WriteSettings("CheckFrom=1\r\n");
  Start();
  Caller c;
  ASSERT_TRUE(c.Connect(Loopback()));
  EXPECT_TRUE(c.Read(9).empty());

  std::ofstream(allow_, std::ios::binary) << "127.0.0.0/8\n";
  Caller admitted;
  ASSERT_TRUE(admitted.Connect(Loopback()));
  EXPECT_TRUE(admitted.Greeted());
}

TEST_F(MemoReceiverTest, WithoutACallbackEveryMemoIsRefused) {
  ASSERT_EQ(testing_host::Initialize("no callback", nullptr), 1);
  Caller c;
  ASSERT_TRUE(c.Connect(Loopback()));
  ASSERT_TRUE(c.Greeted());
  c.Send(MakeFrame("nobody takes this"));
  EXPECT_EQ(c.Result(), 3);
}

TEST_F(MemoReceiverTest, ListedCallerIsDescribedByItsEntryRecord) {
  Start();
  ASSERT_EQ(StartEntry(), 1);
  // The instance hears its own announcement and lists itself.
  uint32_t own = 0;
  test_support::WaitUntil([&] {
    if (LockEntryList() == 1) {
      if (GetEntryCount() > 0) own = g_stOrgData.interfaceAddress.load();
      UnlockEntryList();
    }
    return own != 0;
  });
  ASSERT_NE(own, 0u) << "the instance did not list itself";
  Caller c(own);
  ASSERT_TRUE(c.Connect(own));
  ASSERT_TRUE(c.Greeted());
  c.Send(MakeFrame("hello"));
  EXPECT_EQ(c.Result(), 0);
  const Delivery d = Only();
  ASSERT_TRUE(d.had_record);
  const auto* a = reinterpret_cast<const uint8_t*>(&own);
  char name[64];
  snprintf(name, sizeof name, "memo (%u.%u.%u.%u)", a[0], a[1], a[2], a[3]);
  const int32_t bound = 4 + 18;  // "memo" + 18
  ASSERT_EQ(d.record_size, 45 + bound);
  ASSERT_EQ(d.record.size(), static_cast<size_t>(45 + bound));
  const uint8_t* r = d.record.data();
  EXPECT_EQ(ReadLe32Signed(r + 0), 45 + bound);
  EXPECT_EQ(ReadLe32Signed(r + 4), 256);
  EXPECT_EQ(ReadLe32Signed(r + 8), 2);
  EXPECT_EQ(ReadLe32Signed(r + 12), 1);
  EXPECT_EQ(ReadLe32Signed(r + 16), 0);
  EXPECT_EQ(ReadLe32Signed(r + 20), -1);
  EXPECT_EQ(ReadLe32Signed(r + 24), 44);
  EXPECT_EQ(ReadLe16(r + 28), 2);
  EXPECT_EQ(memcmp(r + 30, "\x1c\xf2", 2), 0) << "port 7410 in network order";
  EXPECT_EQ(memcmp(r + 32, &own, 4), 0);
  EXPECT_STREQ(reinterpret_cast<const char*>(r + 44), name);
}

// With every dispatcher slot taken the listener could never be woken for a caller: it logs
// that and does not report itself ready.
TEST_F(MemoReceiverTest, ListenerWithoutADispatcherSlotIsNotReady) {
  testing_host::RunOnWindowThread([] { OpenSocketEvents(testing_host::Window()); });
  platform::UniqueHandle event(platform::CreateEventObject(false, false));
  std::vector<Socket> taken;
  for (;;) {
    Socket s = Socket::Create(kSockDgram, kIpProtoDefault);
    ASSERT_TRUE(s.valid());
    if (SelectSocketEvent(s.get(), event.get(), kFdRead) != 1) break;
    taken.push_back(std::move(s));
  }
  const std::string log = ErrorLogPath();
  std::remove(log.c_str());
  ASSERT_EQ(testing_host::Initialize("no slot", &Record), 1);
  EXPECT_EQ(GetNxlStatus() & PB_STATUS_LISTENING, 0);
  std::ifstream in(log, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("] - Err[SelectSocketEvent]:10055 : ListenThread\r\n"), std::string::npos)
      << text;
  // The presence receiver cannot hear anything either, and says so the same way.
  EXPECT_NE(text.find("] - Err[SelectSocketEvent]:10055 : EntryControlThread\r\n"),
            std::string::npos)
      << text;
  in.close();
  std::remove(log.c_str());
  for (Socket& s : taken) SelectSocketEvent(s.get(), nullptr, 0);
}

}  // namespace
}  // namespace pb
