// socket_test.cc: the socket wrapper's address layout, Winsock error numbers and basic calls.
#include "net/socket.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

#include "tests/wait_until.h"

namespace pb {
namespace {

constexpr uint32_t kLoopback = 0x7F000001;

TEST(SocketAddressTest, WritesAndReadsTheWinsockLayout) {
  const SocketAddress a = SocketAddress::FromHost(0xC612C801, 7129);  // 198.18.200.1:7129
  EXPECT_EQ(a.HostPort(), 7129);
  EXPECT_EQ(a.HostAddress(), 0xC612C801u);
  uint8_t bytes[SocketAddress::kSize];
  std::memset(bytes, 0xEE, sizeof bytes);
  a.Write(bytes);
  const uint8_t expected[SocketAddress::kSize] = {2, 0, 0x1B, 0xD9, 198, 18, 200, 1,
                                                  0, 0, 0,    0,    0,   0,  0,   0};
  EXPECT_EQ(std::memcmp(bytes, expected, sizeof bytes), 0);

  // The values keep sockaddr_in's in-memory order: the port's first byte is its high byte.
  uint8_t port_memory[2];
  std::memcpy(port_memory, &a.port, 2);
  EXPECT_EQ(port_memory[0], 0x1B);
  EXPECT_EQ(port_memory[1], 0xD9);
  EXPECT_EQ(SocketAddress::FromNetwork(a.address, a.port), a);

  SocketAddress back;
  ASSERT_TRUE(SocketAddress::Read(bytes, sizeof bytes, &back));
  EXPECT_EQ(back, a);
  const uint8_t other_family[SocketAddress::kSize] = {0x34, 0x12, 0, 80, 10, 0, 0, 7};
  ASSERT_TRUE(SocketAddress::Read(other_family, sizeof other_family, &back));
  EXPECT_EQ(back.family, 0x1234);
  EXPECT_EQ(back.HostPort(), 80);
  EXPECT_EQ(back.HostAddress(), 0x0A000007u);

  // Short input is refused and leaves the output alone.
  EXPECT_FALSE(SocketAddress::Read(bytes, SocketAddress::kSize - 1, &back));
  EXPECT_EQ(back.HostPort(), 80);
  EXPECT_FALSE(SocketAddress::Read(nullptr, SocketAddress::kSize, &back));
}

TEST(SocketTest, OwnershipMovesAndClosesOnce) {
  Socket a = Socket::Create(kSockDgram, kIpProtoUdp);
  ASSERT_TRUE(a.valid()) << LastSocketError();
  const SocketHandle handle = a.get();
  Socket b(std::move(a));
  EXPECT_FALSE(a.valid());
  EXPECT_EQ(b.get(), handle);
  Socket c;
  c = std::move(b);
  EXPECT_EQ(c.get(), handle);
  EXPECT_FALSE(b.valid());
  const SocketHandle released = c.release();
  EXPECT_FALSE(c.valid());
  Socket d(released);
  d.Close();
  EXPECT_FALSE(d.valid());
  // The handle is really closed: using it now fails as an invalid socket.
  Socket stale(released);
  SocketAddress name;
  const bool name_ok = stale.LocalName(&name);
  const int32_t name_error = LastSocketError();
  EXPECT_FALSE(name_ok);
  EXPECT_EQ(name_error, kWsaENotSock);
  stale.release();
}

TEST(SocketTest, DatagramsCarrySourceAndTruncationIsReported) {
  Socket receiver = Socket::Create(kSockDgram, kIpProtoUdp);
  ASSERT_TRUE(receiver.Bind(SocketAddress::FromHost(kLoopback, 0)));
  SocketAddress to;
  ASSERT_TRUE(receiver.LocalName(&to));
  EXPECT_EQ(to.family, SocketAddress::kFamilyInet);
  EXPECT_NE(to.HostPort(), 0);
  Socket sender = Socket::Create(kSockDgram, kIpProtoUdp);
  ASSERT_TRUE(sender.Bind(SocketAddress::FromHost(kLoopback, 0)));
  SocketAddress sender_address;
  ASSERT_TRUE(sender.LocalName(&sender_address));

  const char kLong[] = "0123456789abcdef";
  ASSERT_EQ(sender.SendTo(kLong, 16, to), 16);
  ASSERT_EQ(sender.SendTo("tail", 4, to), 4);
  uint32_t queued = 0;
  bool readable = true;
  test_support::WaitUntil([&] {
    readable = receiver.BytesAvailable(&queued);
    return !readable || queued > 0;
  });
  ASSERT_TRUE(readable);
  EXPECT_GE(queued, 16u);

  // The error is read at once: on Windows any later system call may overwrite it.
  char buffer[8] = {};
  SocketAddress from;
  const int32_t truncated = receiver.ReceiveFrom(buffer, sizeof buffer, &from);
  const int32_t truncated_error = LastSocketError();
  EXPECT_EQ(truncated, -1);
  EXPECT_EQ(truncated_error, kWsaEMsgSize);
  EXPECT_EQ(std::memcmp(buffer, kLong, sizeof buffer), 0);
  EXPECT_EQ(from, sender_address);
  // The rest of the truncated datagram is gone; the next one is whole.
  char next[16] = {};
  EXPECT_EQ(receiver.ReceiveFrom(next, sizeof next, &from), 4);
  EXPECT_EQ(std::memcmp(next, "tail", 4), 0);

  ASSERT_TRUE(receiver.SetNonBlocking(true));
  const int32_t empty = receiver.Receive(next, sizeof next);
  const int32_t empty_error = LastSocketError();
  EXPECT_EQ(empty, -1);
  EXPECT_EQ(empty_error, kWsaEWouldBlock);
}

TEST(SocketTest, StreamErrorsAreWinsockNumbers) {
  Socket listener = Socket::Create(kSockStream, kIpProtoTcp);
  ASSERT_TRUE(listener.Bind(SocketAddress::FromHost(kLoopback, 0)));
  SocketAddress address;
  ASSERT_TRUE(listener.LocalName(&address));
  ASSERT_TRUE(listener.Listen(4));

  Socket second = Socket::Create(kSockStream, kIpProtoTcp);
  const bool bind_ok = second.Bind(address);
  const int32_t bind_error = LastSocketError();
  EXPECT_FALSE(bind_ok);
  EXPECT_EQ(bind_error, kWsaEAddrInUse);

  Socket unconnected = Socket::Create(kSockStream, kIpProtoTcp);
  SocketAddress peer;
  const bool peer_ok = unconnected.PeerName(&peer);
  const int32_t peer_error = LastSocketError();
  EXPECT_FALSE(peer_ok);
  EXPECT_EQ(peer_error, kWsaENotConn);

  Socket client = Socket::Create(kSockStream, kIpProtoTcp);
  ASSERT_TRUE(client.Connect(address)) << LastSocketError();
  SocketAddress client_address;
  ASSERT_TRUE(client.LocalName(&client_address));
  SocketAddress accepted_peer;
  Socket server = listener.Accept(&accepted_peer);
  ASSERT_TRUE(server.valid());
  EXPECT_EQ(accepted_peer, client_address);
  ASSERT_TRUE(server.PeerName(&peer));
  EXPECT_EQ(peer, client_address);

  ASSERT_EQ(client.Send("abc", 3), 3);
  char buffer[8] = {};
  ASSERT_EQ(server.Receive(buffer, sizeof buffer), 3);
  EXPECT_EQ(std::memcmp(buffer, "abc", 3), 0);
  client.Close();
  // An orderly close reads as 0 bytes.
  EXPECT_EQ(server.Receive(buffer, sizeof buffer), 0);

  // Nothing listens on the port once the listener is closed.
  listener.Close();
  Socket refused = Socket::Create(kSockStream, kIpProtoTcp);
  const bool connect_ok = refused.Connect(address);
  const int32_t connect_error = LastSocketError();
  EXPECT_FALSE(connect_ok);
  EXPECT_EQ(connect_error, kWsaEConnRefused);
}

TEST(SocketTest, MulticastOptionsDeliverToTheOwnGroupOnLoopback) {
  const uint32_t group = HostToNetwork32(0xEFBF2652);  // 239.191.38.82
  const uint32_t loopback = HostToNetwork32(kLoopback);
  Socket receiver = Socket::Create(kSockDgram, kIpProtoDefault);
  ASSERT_TRUE(receiver.Bind(SocketAddress::FromHost(0, 0)));
  SocketAddress bound;
  ASSERT_TRUE(receiver.LocalName(&bound));
  ASSERT_TRUE(receiver.JoinGroup(group, loopback)) << LastSocketError();

  Socket sender = Socket::Create(kSockDgram, kIpProtoDefault);
  ASSERT_TRUE(sender.SetMulticastTtl(1)) << LastSocketError();
  ASSERT_TRUE(sender.SetMulticastInterface(loopback)) << LastSocketError();
  const SocketAddress to = SocketAddress::FromNetwork(group, bound.port);
  ASSERT_EQ(sender.SendTo("WrenMct", 7, to), 7) << LastSocketError();
  char buffer[16] = {};
  ASSERT_EQ(receiver.ReceiveFrom(buffer, sizeof buffer, nullptr), 7) << LastSocketError();
  EXPECT_EQ(std::memcmp(buffer, "WrenMct", 7), 0);

  ASSERT_TRUE(receiver.LeaveGroup(group, loopback)) << LastSocketError();
  EXPECT_FALSE(receiver.LeaveGroup(group, loopback));
}

TEST(SocketTest, HostNameAndNumericLookup) {
  std::string name;
  ASSERT_TRUE(LocalHostName(&name));
  EXPECT_FALSE(name.empty());
  std::vector<uint32_t> addresses;
  ASSERT_TRUE(ResolveHostIpv4("198.18.200.1", &addresses));
  ASSERT_EQ(addresses.size(), 1u);
  EXPECT_EQ(NetworkToHost32(addresses[0]), 0xC612C801u);
}

}  // namespace
}  // namespace pb
