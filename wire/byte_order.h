// byte_order.h: little-endian reads and writes of wire integers, independent of the host's order.
#ifndef PEERBEACON_WIRE_BYTE_ORDER_H_
#define PEERBEACON_WIRE_BYTE_ORDER_H_

#include <cstdint>

namespace pb {

// The caller guarantees that the 2 or 4 bytes at p lie inside its buffer.
inline uint16_t ReadLe16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (static_cast<uint16_t>(p[1]) << 8));
}

inline uint32_t ReadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Two's complement: 0xFFFFFFFF reads as -1.
inline int32_t ReadLe32Signed(const uint8_t* p) { return static_cast<int32_t>(ReadLe32(p)); }

inline void WriteLe16(uint8_t* p, uint16_t value) {
  p[0] = static_cast<uint8_t>(value);
  p[1] = static_cast<uint8_t>(value >> 8);
}

inline void WriteLe32(uint8_t* p, uint32_t value) {
  p[0] = static_cast<uint8_t>(value);
  p[1] = static_cast<uint8_t>(value >> 8);
  p[2] = static_cast<uint8_t>(value >> 16);
  p[3] = static_cast<uint8_t>(value >> 24);
}

inline void WriteLe32Signed(uint8_t* p, int32_t value) {
  WriteLe32(p, static_cast<uint32_t>(value));
}

}  // namespace pb

#endif  // PEERBEACON_WIRE_BYTE_ORDER_H_
