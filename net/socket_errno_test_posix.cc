// socket_errno_test_posix.cc: the Linux build's errno mapping, name lookup and listen queue.
#include <errno.h>
#include <gtest/gtest.h>

#include <vector>

#include "net/socket.h"
#include "platform/platform.h"

namespace pb {
namespace {

TEST(WinsockErrorFromErrnoTest, MapsEachErrnoOnce) {
  const struct {
    int errno_value;
    int32_t winsock;
  } kTable[] = {
      {EWOULDBLOCK, 10035},   {EAGAIN, 10035},       {EINPROGRESS, 10036},  {EALREADY, 10037},
      {EBADF, 10038},         {ENOTSOCK, 10038},     {EMSGSIZE, 10040},     {EADDRINUSE, 10048},
      {EADDRNOTAVAIL, 10049}, {ENETUNREACH, 10051},  {ECONNRESET, 10054},   {EPIPE, 10054},
      {ENOTCONN, 10057},      {ETIMEDOUT, 10060},    {ECONNREFUSED, 10061}, {EHOSTUNREACH, 10065},
      {EINVAL, 10022},        {EACCES, 10013},       {EINTR, 10004},        {ENOBUFS, 10055},
      {EISCONN, 10056},       {ECONNABORTED, 10053}, {EMFILE, 10024},       {EFAULT, 10014},
      {ENODEV, 10049},        {ENETDOWN, 10050},     {ENONET, 10050},       {EHOSTDOWN, 10064},
  };
  for (const auto& entry : kTable) {
    EXPECT_EQ(WinsockErrorFromErrno(entry.errno_value, false), entry.winsock)
        << "errno " << entry.errno_value;
  }
  // A non-blocking connect that is under way is "would block" on Winsock.
  EXPECT_EQ(WinsockErrorFromErrno(EINPROGRESS, true), kWsaEWouldBlock);
  EXPECT_EQ(WinsockErrorFromErrno(ECONNREFUSED, true), kWsaEConnRefused);
  // Anything unknown is a failed system call, never a number that means something else.
  EXPECT_EQ(WinsockErrorFromErrno(ENOENT, false), kWsaSysCallFailure);
  EXPECT_EQ(WinsockErrorFromErrno(0, false), kWsaSysCallFailure);
}

TEST(ResolveHostIpv4Test, SkipsLoopbackResults) {
  std::vector<uint32_t> addresses{0x12345678};
  EXPECT_FALSE(ResolveHostIpv4("127.0.0.1", &addresses));
  EXPECT_TRUE(addresses.empty());
  EXPECT_EQ(LastSocketError(), kWsaHostNotFound);
}

// A burst of callers larger than the backlog the memo listener asks for must all reach the
// accept queue: a caller that is dropped there would wait for a greeting that never comes.
TEST(SocketTest, BurstOfCallersBeyondTheBacklogIsQueued) {
  Socket listener = Socket::Create(kSockStream, kIpProtoTcp);
  ASSERT_TRUE(listener.Bind(SocketAddress::FromHost(0x7F000001, 0)));  // 127.0.0.1
  SocketAddress address;
  ASSERT_TRUE(listener.LocalName(&address));
  ASSERT_TRUE(listener.Listen(4));
  ASSERT_TRUE(listener.SetNonBlocking(true));

  constexpr int kCallers = 32;
  std::vector<Socket> callers;
  for (int i = 0; i < kCallers; ++i) {
    callers.push_back(Socket::Create(kSockStream, kIpProtoTcp));
    ASSERT_TRUE(callers.back().SetNonBlocking(true));
    if (!callers.back().Connect(address)) {
      ASSERT_EQ(LastSocketError(), kWsaEWouldBlock);
    }
  }
  platform::SleepMs(200);  // nobody accepts while the burst arrives
  int accepted = 0;
  const uint64_t deadline = platform::MonotonicMs() + 2000;
  while (accepted < kCallers && platform::MonotonicMs() < deadline) {
    Socket server = listener.Accept();
    if (server.valid()) {
      ++accepted;
    } else {
      ASSERT_EQ(LastSocketError(), kWsaEWouldBlock);
      platform::SleepMs(10);
    }
  }
  EXPECT_EQ(accepted, kCallers);
}

}  // namespace
}  // namespace pb
