// socket_win32.cc: the socket wrapper on Winsock 1.1 (winsock.h, wsock32).
#include <winsock.h>

#include <climits>
#include <cstring>

#include "net/socket.h"

namespace pb {
namespace {

SOCKET AsSocket(SocketHandle handle) {
  return handle == kInvalidSocket ? INVALID_SOCKET : static_cast<SOCKET>(handle);
}

sockaddr_in ToSockaddr(const SocketAddress& address) {
  sockaddr_in in{};
  in.sin_family = AF_INET;
  in.sin_port = address.port;
  in.sin_addr.s_addr = address.address;
  return in;
}

SocketAddress FromSockaddr(const sockaddr_in& in) {
  return SocketAddress::FromNetwork(in.sin_addr.s_addr, in.sin_port);
}

bool Ok(int rc) { return rc != SOCKET_ERROR; }

// winsock.h's ip_mreq and its option numbers (IP_ADD_MEMBERSHIP 5, IP_DROP_MEMBERSHIP 6):
// Winsock 2's values differ and would be misread by wsock32.
bool MembershipOption(SocketHandle handle, int option, uint32_t group, uint32_t interface_address) {
  ip_mreq request{};
  request.imr_multiaddr.s_addr = group;
  request.imr_interface.s_addr = interface_address;
  return Ok(setsockopt(AsSocket(handle), IPPROTO_IP, option,
                       reinterpret_cast<const char*>(&request), sizeof request));
}

static_assert(IP_MULTICAST_IF == 2 && IP_MULTICAST_TTL == 3 && IP_ADD_MEMBERSHIP == 5 &&
                  IP_DROP_MEMBERSHIP == 6,
              "the Winsock 1.1 multicast option numbers");

}  // namespace

int32_t LastSocketError() { return WSAGetLastError(); }

Socket Socket::Create(int32_t type, int32_t protocol) {
  const SOCKET s = socket(AF_INET, type, protocol);
  if (s == INVALID_SOCKET) return Socket();
  return Socket(static_cast<SocketHandle>(s));
}

void Socket::Close() {
  if (handle_ == kInvalidSocket) return;
  closesocket(AsSocket(handle_));
  handle_ = kInvalidSocket;
}

bool Socket::Bind(const SocketAddress& address) {
  const sockaddr_in in = ToSockaddr(address);
  return Ok(bind(AsSocket(handle_), reinterpret_cast<const sockaddr*>(&in), sizeof in));
}

bool Socket::Connect(const SocketAddress& address) {
  const sockaddr_in in = ToSockaddr(address);
  return Ok(connect(AsSocket(handle_), reinterpret_cast<const sockaddr*>(&in), sizeof in));
}

bool Socket::Listen(int32_t backlog) { return Ok(listen(AsSocket(handle_), backlog)); }

Socket Socket::Accept(SocketAddress* peer) {
  sockaddr_in in{};
  int len = sizeof in;
  const SOCKET s = accept(AsSocket(handle_), reinterpret_cast<sockaddr*>(&in), &len);
  if (s == INVALID_SOCKET) return Socket();
  if (peer != nullptr) *peer = FromSockaddr(in);
  return Socket(static_cast<SocketHandle>(s));
}

int32_t Socket::Send(const void* data, int32_t size) {
  return send(AsSocket(handle_), static_cast<const char*>(data), size, 0);
}

int32_t Socket::SendTo(const void* data, int32_t size, const SocketAddress& to) {
  const sockaddr_in in = ToSockaddr(to);
  return sendto(AsSocket(handle_), static_cast<const char*>(data), size, 0,
                reinterpret_cast<const sockaddr*>(&in), sizeof in);
}

int32_t Socket::Receive(void* buffer, int32_t size) {
  return recv(AsSocket(handle_), static_cast<char*>(buffer), size, 0);
}

int32_t Socket::ReceiveFrom(void* buffer, int32_t size, SocketAddress* from) {
  sockaddr_in in{};
  int len = sizeof in;
  const int n = recvfrom(AsSocket(handle_), static_cast<char*>(buffer), size, 0,
                         reinterpret_cast<sockaddr*>(&in), &len);
  // A truncated datagram (WSAEMSGSIZE) still names its sender.
  if (from != nullptr && (n >= 0 || WSAGetLastError() == WSAEMSGSIZE) &&
      len >= static_cast<int>(sizeof in)) {
    *from = FromSockaddr(in);
  }
  return n;
}

bool Socket::JoinGroup(uint32_t group, uint32_t interface_address) {
  return MembershipOption(handle_, IP_ADD_MEMBERSHIP, group, interface_address);
}

bool Socket::LeaveGroup(uint32_t group, uint32_t interface_address) {
  return MembershipOption(handle_, IP_DROP_MEMBERSHIP, group, interface_address);
}

bool Socket::SetMulticastTtl(int32_t ttl) {
  const int value = ttl;
  return Ok(setsockopt(AsSocket(handle_), IPPROTO_IP, IP_MULTICAST_TTL,
                       reinterpret_cast<const char*>(&value), sizeof value));
}

bool Socket::SetMulticastInterface(uint32_t interface_address) {
  in_addr address{};
  address.s_addr = interface_address;
  return Ok(setsockopt(AsSocket(handle_), IPPROTO_IP, IP_MULTICAST_IF,
                       reinterpret_cast<const char*>(&address), sizeof address));
}

bool Socket::SetLinger(bool on, uint16_t seconds) {
  linger value{};
  value.l_onoff = on ? 1 : 0;
  value.l_linger = seconds;
  return Ok(setsockopt(AsSocket(handle_), SOL_SOCKET, SO_LINGER,
                       reinterpret_cast<const char*>(&value), sizeof value));
}

bool Socket::BytesAvailable(uint32_t* count) {
  u_long value = 0;
  if (!Ok(ioctlsocket(AsSocket(handle_), FIONREAD, &value))) return false;
  if (count != nullptr) *count = static_cast<uint32_t>(value);
  return true;
}

bool Socket::SetNonBlocking(bool non_blocking) {
  u_long value = non_blocking ? 1 : 0;
  return Ok(ioctlsocket(AsSocket(handle_), FIONBIO, &value));
}

bool Socket::PeerName(SocketAddress* address) {
  sockaddr_in in{};
  int len = sizeof in;
  if (!Ok(getpeername(AsSocket(handle_), reinterpret_cast<sockaddr*>(&in), &len))) return false;
  if (address != nullptr) *address = FromSockaddr(in);
  return true;
}

bool Socket::LocalName(SocketAddress* address) {
  sockaddr_in in{};
  int len = sizeof in;
  if (!Ok(getsockname(AsSocket(handle_), reinterpret_cast<sockaddr*>(&in), &len))) return false;
  if (address != nullptr) *address = FromSockaddr(in);
  return true;
}

bool LocalHostName(std::string* name) {
  char buffer[1024];
  if (!Ok(gethostname(buffer, sizeof buffer))) return false;
  buffer[sizeof buffer - 1] = '\0';
  if (name != nullptr) *name = buffer;
  return true;
}

bool ResolveHostIpv4(const std::string& name, std::vector<uint32_t>* addresses) {
  addresses->clear();
  // gethostbyname's result lives in Winsock's per-thread storage and is copied out at once.
  const hostent* host = gethostbyname(name.c_str());
  if (host == nullptr || host->h_addrtype != AF_INET || host->h_length != 4 ||
      host->h_addr_list == nullptr || host->h_addr_list[0] == nullptr) {
    if (host != nullptr) WSASetLastError(WSAHOST_NOT_FOUND);
    return false;
  }
  for (char** entry = host->h_addr_list; *entry != nullptr; ++entry) {
    uint32_t address = 0;
    std::memcpy(&address, *entry, sizeof address);
    addresses->push_back(address);
  }
  return true;
}

}  // namespace pb
