// address.cc: the dotted IPv4 address parser with the rules of inet_addr, the same on both targets.
#include <cctype>
#include <cstdint>

#include "platform/platform.h"

namespace pb::platform {
namespace {

// One part of a dotted address: decimal, octal with a leading 0, or hexadecimal with 0x.
bool ParsePart(const char*& p, uint64_t* value) {
  uint64_t base = 10;
  if (*p == '0') {
    base = 8;
    ++p;
    if (*p == 'x' || *p == 'X') {
      base = 16;
      ++p;
      if (!isxdigit(static_cast<unsigned char>(*p))) return false;
    } else {
      *value = 0;  // a lone 0 is a valid part
    }
  } else if (!isdigit(static_cast<unsigned char>(*p))) {
    return false;
  }
  uint64_t v = 0;
  for (;;) {
    const unsigned char c = static_cast<unsigned char>(*p);
    uint64_t digit;
    if (isdigit(c)) {
      digit = c - '0';
      if (digit >= base) return false;
    } else if (base == 16 && isxdigit(c)) {
      digit = static_cast<uint64_t>(tolower(c) - 'a' + 10);
    } else {
      break;
    }
    v = v * base + digit;
    if (v > 0xFFFFFFFFull) return false;
    ++p;
  }
  *value = v;
  return true;
}

}  // namespace

uint32_t ParseDottedAddress(const char* text) {
  constexpr uint32_t kNone = 0xFFFFFFFFu;
  if (text == nullptr) return kNone;
  const char* p = text;
  uint64_t parts[4] = {};
  int n = 0;
  for (;;) {
    if (n == 4) return kNone;
    if (!ParsePart(p, &parts[n])) return kNone;
    ++n;
    if (*p == '.') {
      ++p;
      continue;
    }
    break;
  }
  // Trailing white space ends the address; anything else makes it invalid.
  if (*p != '\0' && !isspace(static_cast<unsigned char>(*p))) return kNone;
  uint64_t host = 0;
  switch (n) {
    case 1:
      host = parts[0];
      break;
    case 2:
      if (parts[0] > 0xFF || parts[1] > 0xFFFFFF) return kNone;
      host = (parts[0] << 24) | parts[1];
      break;
    case 3:
      if (parts[0] > 0xFF || parts[1] > 0xFF || parts[2] > 0xFFFF) return kNone;
      host = (parts[0] << 24) | (parts[1] << 16) | parts[2];
      break;
    default:
      if (parts[0] > 0xFF || parts[1] > 0xFF || parts[2] > 0xFF || parts[3] > 0xFF) return kNone;
      host = (parts[0] << 24) | (parts[1] << 16) | (parts[2] << 8) | parts[3];
      break;
  }
  const uint32_t h = static_cast<uint32_t>(host);
  // Network order: the first byte in memory is the most significant part.
  uint32_t net = 0;
  unsigned char* bytes = reinterpret_cast<unsigned char*>(&net);
  bytes[0] = static_cast<unsigned char>(h >> 24);
  bytes[1] = static_cast<unsigned char>(h >> 16);
  bytes[2] = static_cast<unsigned char>(h >> 8);
  bytes[3] = static_cast<unsigned char>(h);
  return net;
}

}  // namespace pb::platform
