// socket_events_waiter_test_posix.cc: a thread that waits on a socket's event polls the socket
// itself; what other threads change meanwhile must still reach it.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "net/socket.h"
#include "net/socket_events.h"
#include "net/socket_events_test_host.h"
#include "platform/platform.h"
#include "platform/wait_source_posix.h"
#include "tests/wait_until.h"

namespace pb {
namespace {

constexpr uint32_t kLoopback = 0x7F000001;
constexpr uint32_t kWake = test_support::ScaledMs(3000);

// The waiter prepared its poll while FD_READ was held back; a receive on another thread
// re-enables it with a datagram still queued, and the waiter must be woken for it.
TEST(SocketEventsWaiterTest, ReceiveOnAnotherThreadDuringAWaitWakesTheWaiter) {
  test_host::OpenOnHost();
  Socket receiver = Socket::Create(kSockDgram, kIpProtoDefault);
  ASSERT_TRUE(receiver.Bind(SocketAddress::FromHost(kLoopback, 0)));
  SocketAddress address;
  ASSERT_TRUE(receiver.LocalName(&address));
  platform::UniqueHandle event(platform::CreateEventObject(false, false));
  platform::Handle h = event.get();
  ASSERT_EQ(SelectSocketEvent(receiver.get(), h, kFdRead | kFdClose), 1);
  Socket sender = Socket::Create(kSockDgram, kIpProtoDefault);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(sender.SendTo("x", 1, address), 1);
  ASSERT_EQ(WaitSocketEvents(1, &h, false, kWake, false), 0u);

  for (int round = 0; round < 2; ++round) {
    std::atomic<uint32_t> woke{platform::kWaitFailed};
    std::thread waiter([&] { woke = WaitSocketEvents(1, &h, false, kWake, false); });
    ASSERT_TRUE(test_support::WaitUntil([&] { return platform::EventHasWaiter(h); }));
    char byte = 0;
    EXPECT_EQ(receiver.Receive(&byte, 1), 1) << round;
    waiter.join();
    EXPECT_EQ(woke.load(), 0u) << round;
    SocketEventRecord record{};
    ASSERT_EQ(GetSocketEvent(receiver.get(), nullptr, &record), 1);
    EXPECT_EQ(record.event, kFdRead);
  }
  EXPECT_EQ(SelectSocketEvent(receiver.get(), nullptr, 0), 1);
}

}  // namespace
}  // namespace pb
