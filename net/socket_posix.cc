// socket_posix.cc: the socket wrapper on BSD sockets, reporting Winsock error numbers.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "net/socket.h"
#include "net/socket_events.h"
#include "net/socket_events_backend.h"

namespace pb {
namespace {

// WSAGetLastError's thread-local value. Kept apart from errno so that the dispatcher's
// bookkeeping after a call cannot overwrite the reason it failed.
thread_local int32_t t_last_error = 0;

int AsFd(SocketHandle socket) {
  return socket > static_cast<SocketHandle>(INT_MAX) ? -1 : static_cast<int>(socket);
}

void SetErrorFromErrno(bool connecting = false) {
  t_last_error = WinsockErrorFromErrno(errno, connecting);
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

bool SetIpOption(int fd, int option, const void* value, socklen_t size) {
  if (setsockopt(fd, IPPROTO_IP, option, value, size) != 0) {
    SetErrorFromErrno();
    return false;
  }
  return true;
}

bool MembershipOption(int fd, int option, uint32_t group, uint32_t interface_address) {
  ip_mreq request{};
  request.imr_multiaddr.s_addr = group;
  request.imr_interface.s_addr = interface_address;
  return SetIpOption(fd, option, &request, sizeof request);
}

}  // namespace

// errno to Winsock, once for every call of the wrapper:
//   EWOULDBLOCK/EAGAIN 10035 (also EINPROGRESS from a non-blocking connect), EINPROGRESS
//   elsewhere 10036, EALREADY 10037, EBADF/ENOTSOCK 10038, EDESTADDRREQ 10039, EMSGSIZE 10040,
//   EPROTOTYPE 10041, ENOPROTOOPT 10042, EPROTONOSUPPORT 10043, EOPNOTSUPP 10045,
//   EAFNOSUPPORT 10047, EADDRINUSE 10048, EADDRNOTAVAIL and ENODEV 10049, ENETDOWN and ENONET
//   10050, ENETUNREACH 10051, ENETRESET 10052, ECONNABORTED 10053, ECONNRESET and EPIPE 10054,
//   ENOBUFS and ENOMEM 10055, EISCONN 10056, ENOTCONN 10057, ESHUTDOWN 10058, ETIMEDOUT 10060,
//   ECONNREFUSED 10061, EHOSTDOWN 10064, EHOSTUNREACH 10065, EINTR 10004, EACCES and EPERM
//   10013, EFAULT 10014, EINVAL 10022, EMFILE and ENFILE 10024; anything else
//   WSASYSCALLFAILURE (10107).
// EPIPE is a send on a connection the peer has reset, which Winsock reports as WSAECONNRESET.
// ENODEV is Linux's answer to a multicast option or route naming an interface (address) the
// machine does not have, which Winsock reports as WSAEADDRNOTAVAIL.
int32_t WinsockErrorFromErrno(int errno_value, bool connecting) {
  if (errno_value == EAGAIN || errno_value == EWOULDBLOCK) return kWsaEWouldBlock;
  switch (errno_value) {
    case EINPROGRESS:
      return connecting ? kWsaEWouldBlock : kWsaEInProgress;
    case EALREADY:
      return kWsaEAlready;
    case EBADF:
    case ENOTSOCK:
      return kWsaENotSock;
    case EDESTADDRREQ:
      return kWsaEDestAddrReq;
    case EMSGSIZE:
      return kWsaEMsgSize;
    case EPROTOTYPE:
      return kWsaEProtoType;
    case ENOPROTOOPT:
      return kWsaENoProtoOpt;
    case EPROTONOSUPPORT:
      return kWsaEProtoNoSupport;
    case EOPNOTSUPP:
      return kWsaEOpNotSupp;
    case EAFNOSUPPORT:
      return kWsaEAfNoSupport;
    case EADDRINUSE:
      return kWsaEAddrInUse;
    case EADDRNOTAVAIL:
    case ENODEV:
      return kWsaEAddrNotAvail;
    case ENETDOWN:
    case ENONET:
      return kWsaENetDown;
    case ENETUNREACH:
      return kWsaENetUnreach;
    case ENETRESET:
      return kWsaENetReset;
    case ECONNABORTED:
      return kWsaEConnAborted;
    case ECONNRESET:
    case EPIPE:
      return kWsaEConnReset;
    case ENOBUFS:
    case ENOMEM:
      return kWsaENoBufs;
    case EISCONN:
      return kWsaEIsConn;
    case ENOTCONN:
      return kWsaENotConn;
    case ESHUTDOWN:
      return kWsaEShutdown;
    case ETIMEDOUT:
      return kWsaETimedOut;
    case ECONNREFUSED:
      return kWsaEConnRefused;
    case EHOSTDOWN:
      return kWsaEHostDown;
    case EHOSTUNREACH:
      return kWsaEHostUnreach;
    case EINTR:
      return kWsaEIntr;
    case EACCES:
    case EPERM:
      return kWsaEAcces;
    case EFAULT:
      return kWsaEFault;
    case EINVAL:
      return kWsaEInval;
    case EMFILE:
    case ENFILE:
      return kWsaEMFile;
    default:
      return kWsaSysCallFailure;
  }
}

int32_t LastSocketError() { return t_last_error; }

Socket Socket::Create(int32_t type, int32_t protocol) {
  const int fd = socket(AF_INET, type | SOCK_CLOEXEC, protocol);
  if (fd < 0) {
    SetErrorFromErrno();
    return Socket();
  }
  return Socket(static_cast<SocketHandle>(fd));
}

void Socket::Close() {
  if (handle_ == kInvalidSocket) return;
  socket_events::SocketClosing(handle_);
  close(AsFd(handle_));
  handle_ = kInvalidSocket;
}

bool Socket::Bind(const SocketAddress& address) {
  const sockaddr_in in = ToSockaddr(address);
  // Winsock lets a stream socket bind a port whose earlier connections linger in TIME_WAIT;
  // Linux does only with SO_REUSEADDR, which still refuses a port another socket listens on.
  // Datagram sockets keep the strict rule: a second presence receiver must fail to bind.
  int type = 0;
  socklen_t type_size = sizeof type;
  if (getsockopt(AsFd(handle_), SOL_SOCKET, SO_TYPE, &type, &type_size) == 0 &&
      type == SOCK_STREAM) {
    const int on = 1;
    setsockopt(AsFd(handle_), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  }
  if (bind(AsFd(handle_), reinterpret_cast<const sockaddr*>(&in), sizeof in) != 0) {
    SetErrorFromErrno();
    return false;
  }
  return true;
}

bool Socket::Connect(const SocketAddress& address) {
  const sockaddr_in in = ToSockaddr(address);
  const int rc = connect(AsFd(handle_), reinterpret_cast<const sockaddr*>(&in), sizeof in);
  const int saved = errno;
  if (rc == 0 || saved == EINPROGRESS) socket_events::ConnectStarted(handle_);
  if (rc != 0) {
    t_last_error = WinsockErrorFromErrno(saved, true);
    return false;
  }
  return true;
}

bool Socket::Listen(int32_t backlog) {
  // Linux answers connection requests beyond a small backlog with SYN cookies, and a cookie
  // handshake that completes while the accept queue is full is dropped without a word: the
  // caller counts the connection as made and waits for a greeting that never comes (a memo
  // sender until its time-out). Winsock refuses such callers instead. Queueing up to the
  // system's limit keeps a burst of callers from being lost.
  backlog = std::max(backlog, static_cast<int32_t>(SOMAXCONN));
  if (listen(AsFd(handle_), backlog) != 0) {
    SetErrorFromErrno();
    return false;
  }
  socket_events::ListenStarted(handle_);
  return true;
}

Socket Socket::Accept(SocketAddress* peer) {
  sockaddr_in in{};
  socklen_t len = sizeof in;
  // The accepted socket inherits the listener's blocking mode, as on Winsock.
  const int listener_flags = fcntl(AsFd(handle_), F_GETFL);
  const int extra = listener_flags >= 0 && (listener_flags & O_NONBLOCK) != 0 ? SOCK_NONBLOCK : 0;
  const int fd =
      accept4(AsFd(handle_), reinterpret_cast<sockaddr*>(&in), &len, SOCK_CLOEXEC | extra);
  if (fd < 0) SetErrorFromErrno();
  socket_events::ReenableNotifications(handle_, kFdAccept);
  if (fd < 0) return Socket();
  if (peer != nullptr) *peer = FromSockaddr(in);
  return Socket(static_cast<SocketHandle>(fd));
}

int32_t Socket::Send(const void* data, int32_t size) {
  if (size < 0) {
    t_last_error = kWsaEInval;
    return -1;
  }
  const ssize_t n = send(AsFd(handle_), data, static_cast<size_t>(size), MSG_NOSIGNAL);
  if (n < 0) {
    SetErrorFromErrno();
    if (t_last_error == kWsaEWouldBlock) socket_events::ReenableNotifications(handle_, kFdWrite);
    return -1;
  }
  return static_cast<int32_t>(n);
}

int32_t Socket::SendTo(const void* data, int32_t size, const SocketAddress& to) {
  if (size < 0) {
    t_last_error = kWsaEInval;
    return -1;
  }
  const sockaddr_in in = ToSockaddr(to);
  const ssize_t n = sendto(AsFd(handle_), data, static_cast<size_t>(size), MSG_NOSIGNAL,
                           reinterpret_cast<const sockaddr*>(&in), sizeof in);
  if (n < 0) {
    SetErrorFromErrno();
    if (t_last_error == kWsaEWouldBlock) socket_events::ReenableNotifications(handle_, kFdWrite);
    return -1;
  }
  return static_cast<int32_t>(n);
}

int32_t Socket::Receive(void* buffer, int32_t size) { return ReceiveFrom(buffer, size, nullptr); }

int32_t Socket::ReceiveFrom(void* buffer, int32_t size, SocketAddress* from) {
  if (size < 0) {
    t_last_error = kWsaEInval;
    return -1;
  }
  sockaddr_in in{};
  iovec io{buffer, static_cast<size_t>(size)};
  msghdr message{};
  message.msg_name = &in;
  message.msg_namelen = sizeof in;
  message.msg_iov = &io;
  message.msg_iovlen = 1;
  const ssize_t n = recvmsg(AsFd(handle_), &message, 0);
  int32_t result = static_cast<int32_t>(n);
  if (n < 0) {
    SetErrorFromErrno();
  } else if ((message.msg_flags & MSG_TRUNC) != 0) {
    // Winsock fills the buffer and fails the call; the rest of the datagram is lost.
    t_last_error = kWsaEMsgSize;
    result = -1;
  }
  if (from != nullptr && n >= 0 && message.msg_namelen >= sizeof in) *from = FromSockaddr(in);
  // Like Winsock, any receive call, even a failed one, re-enables FD_READ.
  socket_events::ReenableNotifications(handle_, kFdRead);
  return result;
}

bool Socket::JoinGroup(uint32_t group, uint32_t interface_address) {
  return MembershipOption(AsFd(handle_), IP_ADD_MEMBERSHIP, group, interface_address);
}

bool Socket::LeaveGroup(uint32_t group, uint32_t interface_address) {
  return MembershipOption(AsFd(handle_), IP_DROP_MEMBERSHIP, group, interface_address);
}

bool Socket::SetMulticastTtl(int32_t ttl) {
  const int value = ttl;
  return SetIpOption(AsFd(handle_), IP_MULTICAST_TTL, &value, sizeof value);
}

bool Socket::SetMulticastInterface(uint32_t interface_address) {
  in_addr address{};
  address.s_addr = interface_address;
  return SetIpOption(AsFd(handle_), IP_MULTICAST_IF, &address, sizeof address);
}

bool Socket::SetLinger(bool on, uint16_t seconds) {
  linger value{};
  value.l_onoff = on ? 1 : 0;
  value.l_linger = seconds;
  if (setsockopt(AsFd(handle_), SOL_SOCKET, SO_LINGER, &value, sizeof value) != 0) {
    SetErrorFromErrno();
    return false;
  }
  return true;
}

bool Socket::BytesAvailable(uint32_t* count) {
  int value = 0;
  if (ioctl(AsFd(handle_), FIONREAD, &value) != 0) {
    SetErrorFromErrno();
    return false;
  }
  if (count != nullptr) *count = value < 0 ? 0 : static_cast<uint32_t>(value);
  return true;
}

bool Socket::SetNonBlocking(bool non_blocking) {
  int value = non_blocking ? 1 : 0;
  if (ioctl(AsFd(handle_), FIONBIO, &value) != 0) {
    SetErrorFromErrno();
    return false;
  }
  return true;
}

bool Socket::PeerName(SocketAddress* address) {
  sockaddr_in in{};
  socklen_t len = sizeof in;
  if (getpeername(AsFd(handle_), reinterpret_cast<sockaddr*>(&in), &len) != 0) {
    SetErrorFromErrno();
    return false;
  }
  if (address != nullptr) *address = FromSockaddr(in);
  return true;
}

bool Socket::LocalName(SocketAddress* address) {
  sockaddr_in in{};
  socklen_t len = sizeof in;
  if (getsockname(AsFd(handle_), reinterpret_cast<sockaddr*>(&in), &len) != 0) {
    SetErrorFromErrno();
    return false;
  }
  if (address != nullptr) *address = FromSockaddr(in);
  return true;
}

bool LocalHostName(std::string* name) {
  char buffer[1024];
  if (gethostname(buffer, sizeof buffer) != 0) {
    SetErrorFromErrno();
    return false;
  }
  buffer[sizeof buffer - 1] = '\0';
  if (name != nullptr) *name = buffer;
  return true;
}

bool ResolveHostIpv4(const std::string& name, std::vector<uint32_t>* addresses) {
  addresses->clear();
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;  // one result per address, not one per socket type
  addrinfo* result = nullptr;
  if (getaddrinfo(name.c_str(), nullptr, &hints, &result) != 0 || result == nullptr) {
    t_last_error = kWsaHostNotFound;
    return false;
  }
  for (const addrinfo* ai = result; ai != nullptr; ai = ai->ai_next) {
    if (ai->ai_family != AF_INET || ai->ai_addrlen < sizeof(sockaddr_in)) continue;
    sockaddr_in in{};
    std::memcpy(&in, ai->ai_addr, sizeof in);
    // 127.0.0.0/8 (first byte 127 in network order).
    if ((ntohl(in.sin_addr.s_addr) >> 24) == 127) continue;
    addresses->push_back(in.sin_addr.s_addr);
  }
  freeaddrinfo(result);
  if (addresses->empty()) t_last_error = kWsaHostNotFound;
  return !addresses->empty();
}

}  // namespace pb
