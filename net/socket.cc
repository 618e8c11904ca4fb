// socket.cc: the platform-neutral part of the socket wrapper (the IPv4 address layout).
#include "net/socket.h"

#include <bit>

namespace pb {

uint16_t HostToNetwork16(uint16_t value) {
  if constexpr (std::endian::native == std::endian::big) return value;
  return static_cast<uint16_t>((value >> 8) | (value << 8));
}

uint32_t HostToNetwork32(uint32_t value) {
  if constexpr (std::endian::native == std::endian::big) return value;
  return (value >> 24) | ((value >> 8) & 0x0000FF00u) | ((value << 8) & 0x00FF0000u) |
         (value << 24);
}

SocketAddress SocketAddress::FromHost(uint32_t address_host, uint16_t port_host) {
  return SocketAddress{kFamilyInet, HostToNetwork16(port_host), HostToNetwork32(address_host)};
}

uint16_t SocketAddress::HostPort() const { return NetworkToHost16(port); }

uint32_t SocketAddress::HostAddress() const { return NetworkToHost32(address); }

void SocketAddress::Write(uint8_t out[kSize]) const {
  const uint16_t host_port = HostPort();
  const uint32_t host_address = HostAddress();
  out[0] = static_cast<uint8_t>(family);
  out[1] = static_cast<uint8_t>(family >> 8);
  out[2] = static_cast<uint8_t>(host_port >> 8);
  out[3] = static_cast<uint8_t>(host_port);
  out[4] = static_cast<uint8_t>(host_address >> 24);
  out[5] = static_cast<uint8_t>(host_address >> 16);
  out[6] = static_cast<uint8_t>(host_address >> 8);
  out[7] = static_cast<uint8_t>(host_address);
  for (size_t i = 8; i < kSize; ++i) out[i] = 0;
}

bool SocketAddress::Read(const uint8_t* bytes, size_t size, SocketAddress* out) {
  if (bytes == nullptr || size < kSize || out == nullptr) return false;
  const uint16_t family = static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
  const uint16_t host_port = static_cast<uint16_t>((bytes[2] << 8) | bytes[3]);
  const uint32_t host_address = (static_cast<uint32_t>(bytes[4]) << 24) |
                                (static_cast<uint32_t>(bytes[5]) << 16) |
                                (static_cast<uint32_t>(bytes[6]) << 8) | bytes[7];
  *out = FromHost(host_address, host_port);
  out->family = family;
  return true;
}

}  // namespace pb
