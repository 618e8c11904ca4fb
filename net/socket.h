// socket.h: the thin IPv4 socket wrapper every network subsystem uses, with Winsock semantics.
#ifndef PEERBEACON_NET_SOCKET_H_
#define PEERBEACON_NET_SOCKET_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pb {

// A socket as the core sees it: a 32-bit handle (a SOCKET on Windows, a file descriptor on
// Linux). kInvalidSocket is INVALID_SOCKET on both.
using SocketHandle = uint32_t;
inline constexpr SocketHandle kInvalidSocket = 0xFFFFFFFFu;

// Socket kinds and protocols by their Winsock numbers (the same on Linux).
inline constexpr int32_t kSockStream = 1;
inline constexpr int32_t kSockDgram = 2;
inline constexpr int32_t kIpProtoDefault = 0;
inline constexpr int32_t kIpProtoTcp = 6;
inline constexpr int32_t kIpProtoUdp = 17;

// Winsock error numbers that the callers test or log. Both targets report these values.
inline constexpr int32_t kWsaEIntr = 10004;
inline constexpr int32_t kWsaEAcces = 10013;
inline constexpr int32_t kWsaEFault = 10014;
inline constexpr int32_t kWsaEInval = 10022;
inline constexpr int32_t kWsaEMFile = 10024;
inline constexpr int32_t kWsaEWouldBlock = 10035;
inline constexpr int32_t kWsaEInProgress = 10036;
inline constexpr int32_t kWsaEAlready = 10037;
inline constexpr int32_t kWsaENotSock = 10038;
inline constexpr int32_t kWsaEDestAddrReq = 10039;
inline constexpr int32_t kWsaEMsgSize = 10040;
inline constexpr int32_t kWsaEProtoType = 10041;
inline constexpr int32_t kWsaENoProtoOpt = 10042;
inline constexpr int32_t kWsaEProtoNoSupport = 10043;
inline constexpr int32_t kWsaEOpNotSupp = 10045;
inline constexpr int32_t kWsaEAfNoSupport = 10047;
inline constexpr int32_t kWsaEAddrInUse = 10048;
inline constexpr int32_t kWsaEAddrNotAvail = 10049;
inline constexpr int32_t kWsaENetDown = 10050;
inline constexpr int32_t kWsaENetUnreach = 10051;
inline constexpr int32_t kWsaENetReset = 10052;
inline constexpr int32_t kWsaEConnAborted = 10053;
inline constexpr int32_t kWsaEConnReset = 10054;
inline constexpr int32_t kWsaENoBufs = 10055;
inline constexpr int32_t kWsaEIsConn = 10056;
inline constexpr int32_t kWsaENotConn = 10057;
inline constexpr int32_t kWsaEShutdown = 10058;
inline constexpr int32_t kWsaETimedOut = 10060;
inline constexpr int32_t kWsaEConnRefused = 10061;
inline constexpr int32_t kWsaEHostDown = 10064;
inline constexpr int32_t kWsaEHostUnreach = 10065;
inline constexpr int32_t kWsaSysCallFailure = 10107;
inline constexpr int32_t kWsaHostNotFound = 11001;

// The last socket error of the calling thread as a Winsock number (WSAGetLastError). A
// successful call leaves it unchanged, as on Windows.
int32_t LastSocketError();

// The Linux build's one translation of an errno value into a Winsock number (defined only
// there). connecting: the errno comes from connect, where EINPROGRESS means "would block".
int32_t WinsockErrorFromErrno(int errno_value, bool connecting);

// An IPv4 socket address. port and address hold the values exactly as sockaddr_in keeps them
// (network byte order in memory), which is how the rest of the system passes them around.
struct SocketAddress {
  static constexpr size_t kSize = 16;  // the Winsock layout
  static constexpr uint16_t kFamilyInet = 2;

  uint16_t family = kFamilyInet;
  uint16_t port = 0;     // network order
  uint32_t address = 0;  // network order

  // From values in network order, as the settings and received addresses hold them.
  static SocketAddress FromNetwork(uint32_t address_net, uint16_t port_net) {
    return SocketAddress{kFamilyInet, port_net, address_net};
  }
  // From host-order values: FromHost(0x7F000001, 7129) is 127.0.0.1:7129.
  static SocketAddress FromHost(uint32_t address_host, uint16_t port_host);
  uint16_t HostPort() const;
  uint32_t HostAddress() const;

  // The 16-byte Winsock layout: family (16 bits, little-endian), port (big-endian), address
  // (big-endian), 8 zero bytes.
  void Write(uint8_t out[kSize]) const;
  // Reads the layout back; false (and *out unchanged) when fewer than 16 bytes are given.
  // The family and the 8 trailing bytes are taken as they are, without being checked.
  static bool Read(const uint8_t* bytes, size_t size, SocketAddress* out);

  bool operator==(const SocketAddress&) const = default;
};

// Byte-order conversion of the 16- and 32-bit values that sockaddr_in keeps in network order.
uint16_t HostToNetwork16(uint16_t value);
uint32_t HostToNetwork32(uint32_t value);
inline uint16_t NetworkToHost16(uint16_t value) { return HostToNetwork16(value); }
inline uint32_t NetworkToHost32(uint32_t value) { return HostToNetwork32(value); }

// A move-only owner of a socket. Every call returns the Winsock result convention: bools for
// success, byte counts or -1 (SOCKET_ERROR) for data calls; on failure LastSocketError() tells
// why. On Linux the receive, accept and send calls also re-enable the socket event
// dispatcher's notifications for the socket, as Winsock does.
class Socket {
 public:
  Socket() = default;
  explicit Socket(SocketHandle handle) : handle_(handle) {}
  ~Socket() { Close(); }
  Socket(Socket&& other) noexcept : handle_(other.release()) {}
  Socket& operator=(Socket&& other) noexcept {
    reset(other.release());
    return *this;
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  // socket(AF_INET, type, protocol); an invalid Socket on failure.
  static Socket Create(int32_t type, int32_t protocol);

  SocketHandle get() const { return handle_; }
  bool valid() const { return handle_ != kInvalidSocket; }
  explicit operator bool() const { return valid(); }
  SocketHandle release() {
    const SocketHandle h = handle_;
    handle_ = kInvalidSocket;
    return h;
  }
  void reset(SocketHandle handle = kInvalidSocket) {
    if (handle_ != handle) Close();
    handle_ = handle;
  }
  // closesocket; the Socket becomes invalid.
  void Close();

  bool Bind(const SocketAddress& address);
  // On a non-blocking socket a connection that cannot complete at once fails with
  // kWsaEWouldBlock and completes later (FD_CONNECT).
  bool Connect(const SocketAddress& address);
  bool Listen(int32_t backlog);
  // The accepted connection (invalid on failure); peer, when given, receives its address.
  Socket Accept(SocketAddress* peer = nullptr);

  int32_t Send(const void* data, int32_t size);
  int32_t SendTo(const void* data, int32_t size, const SocketAddress& to);
  // Bytes received, 0 when the peer closed the connection, -1 on failure. A datagram longer
  // than the buffer fills it and fails with kWsaEMsgSize; the rest is lost.
  int32_t Receive(void* buffer, int32_t size);
  int32_t ReceiveFrom(void* buffer, int32_t size, SocketAddress* from);

  // The IPv4 multicast options; addresses in network order.
  bool JoinGroup(uint32_t group, uint32_t interface_address);
  bool LeaveGroup(uint32_t group, uint32_t interface_address);
  bool SetMulticastTtl(int32_t ttl);
  bool SetMulticastInterface(uint32_t interface_address);
  // SO_LINGER with l_onoff and l_linger as given.
  bool SetLinger(bool on, uint16_t seconds);

  // ioctlsocket(FIONREAD): the bytes that a receive can take now.
  bool BytesAvailable(uint32_t* count);
  // ioctlsocket(FIONBIO).
  bool SetNonBlocking(bool non_blocking);

  bool PeerName(SocketAddress* address);
  bool LocalName(SocketAddress* address);

 private:
  SocketHandle handle_ = kInvalidSocket;
};

// gethostname with a buffer of 1024 bytes; false on failure.
bool LocalHostName(std::string* name);
// The IPv4 addresses (network order) that the name resolves to, in the look-up's order; false
// (and *addresses empty) when it resolves to none. On Linux loopback results are skipped, since
// the host name commonly maps to 127.0.x.x there, which would keep presence traffic on the
// loopback interface.
bool ResolveHostIpv4(const std::string& name, std::vector<uint32_t>* addresses);

}  // namespace pb

#endif  // PEERBEACON_NET_SOCKET_H_
