// address_test.cc: the inet_addr rules of the dotted-address parser (checked against the
// system's inet_addr in the Windows build).
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#if defined(_WIN32)
#include <winsock.h>
#endif

#include "platform/platform.h"

namespace pb::platform {
namespace {

constexpr uint32_t kNone = 0xFFFFFFFFu;

// The address as it lies in memory (network order), for readable expectations.
uint32_t Net(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  uint32_t value = 0;
  auto* bytes = reinterpret_cast<uint8_t*>(&value);
  bytes[0] = a;
  bytes[1] = b;
  bytes[2] = c;
  bytes[3] = d;
  return value;
}

struct AddressCase {
  const char* text;
  uint32_t expected;
};

const AddressCase kAddressCases[] = {
    {"1.2.3.4", Net(1, 2, 3, 4)},
    {"239.191.38.82", Net(239, 191, 38, 82)},
    {"0.0.0.0", 0},
    // Short forms: the last part fills the remaining low bytes.
    {"10.1", Net(10, 0, 0, 1)},
    {"10.0.1", Net(10, 0, 0, 1)},
    {"10.1.258", Net(10, 1, 1, 2)},
    {"10.65537", Net(10, 1, 0, 1)},
    {"167772161", Net(10, 0, 0, 1)},
    // Octal with a leading 0, hexadecimal with 0x.
    {"010.0.0.1", Net(8, 0, 0, 1)},
    {"0x0A.0X0b.0xff.1", Net(10, 11, 255, 1)},
    {"0.0.0.00", 0},
    {"1.2.3.4 ", Net(1, 2, 3, 4)},
    // The broadcast address cannot be told apart from the failure value.
    {"255.255.255.255", kNone},
    // Failures.
    {"", kNone},
    {"1.2.3.4x", kNone},
    {"1.2.3.", kNone},
    {"1..2.3", kNone},
    {".1.2.3", kNone},
    {"1.2.3.4.5", kNone},
    {"256.1.1.1", kNone},
    {"1.2.3.256", kNone},
    {"1.2.65536", kNone},
    {"1.16777216", kNone},
    {"4294967296", kNone},
    {"08.1.1.1", kNone},
    {"0x.1.1.1", kNone},
    {"-1.2.3.4", kNone},
    {"a.b.c.d", kNone},
};

TEST(ParseDottedAddressTest, FollowsTheInetAddrRules) {
  for (const AddressCase& c : kAddressCases) {
    EXPECT_EQ(ParseDottedAddress(c.text), c.expected) << '"' << c.text << '"';
#if defined(_WIN32)
    EXPECT_EQ(inet_addr(c.text), c.expected) << "system: \"" << c.text << '"';
#endif
  }
  EXPECT_EQ(ParseDottedAddress(nullptr), kNone);
}

}  // namespace
}  // namespace pb::platform
