// access_list.cc: reading "allow.lst" byte by byte and matching tokens against an address.
#include "files/access_list.h"

#include <cstring>

#include "platform/platform.h"

namespace pb {
namespace {

constexpr size_t kMaxToken = 64;

// Masks by prefix length, stored as host-order values; entry 0 is all ones so that a bare
// address or "/0" admits exactly that one address.
constexpr uint32_t PrefixMask(int n) {
  return n == 0 ? 0xFFFFFFFFu : (n == 32 ? 0xFFFFFFFFu : ~(0xFFFFFFFFu >> n));
}

// The mask for prefix n in network order: its bytes in memory are the mask's bytes from the
// most significant down, whatever the host's byte order.
uint32_t NetworkMask(int n) {
  const uint32_t host = PrefixMask(n);
  const unsigned char bytes[4] = {
      static_cast<unsigned char>(host >> 24), static_cast<unsigned char>(host >> 16),
      static_cast<unsigned char>(host >> 8), static_cast<unsigned char>(host)};
  uint32_t net;
  memcpy(&net, bytes, sizeof net);
  return net;
}

// The prefix length as atoi reads it; a token holds no blanks or signs, so its leading digits.
// Saturates instead of overflowing; the caller clamps to 0..32.
int ReadPrefix(const char* text) {
  const uint64_t held =
      platform::ReadLeadingNumber(text, platform::LeadingBlanks::kNone, false).held;
  return held < 1000 ? static_cast<int>(held) : 1000;
}

}  // namespace

bool AccessTokenAdmits(const char* token, uint32_t address_network_order) {
  char address_text[kMaxToken + 1];
  const char* slash = strchr(token, '/');
  size_t address_length = slash != nullptr ? static_cast<size_t>(slash - token) : strlen(token);
  if (address_length > kMaxToken) address_length = kMaxToken;
  memcpy(address_text, token, address_length);
  address_text[address_length] = '\0';

  int prefix = slash != nullptr ? ReadPrefix(slash + 1) : 0;
  if (prefix > 32) prefix = 32;

  const uint32_t mask = NetworkMask(prefix);
  const uint32_t token_address = platform::ParseDottedAddress(address_text);
  return (address_network_order & mask) == (token_address & mask);
}

int32_t AccessListAdmits(const unsigned char* text, size_t size, uint32_t address_network_order) {
  char token[kMaxToken + 1];
  size_t length = 0;
  // Tests the token collected so far (when any) and starts a new one.
  auto end_token = [&]() {
    if (length == 0) return false;
    token[length] = '\0';
    length = 0;
    return AccessTokenAdmits(token, address_network_order);
  };

  size_t i = 0;
  while (i < size) {
    const unsigned char c = text[i++];
    if ((c >= '0' && c <= '9') || c == '.' || c == '/') {
      token[length++] = static_cast<char>(c);
      if (length == kMaxToken && end_token()) return 1;
    } else if (c == '\n') {
      if (end_token()) return 1;
    } else if (c == '#') {
      if (end_token()) return 1;
      while (i < size && text[i] != '\n') ++i;
      if (i < size) ++i;  // the comment's own line end
    }
  }
  return end_token() ? 1 : 0;
}

std::string AccessListPath(const std::string& module_path, const char* file_name) {
  if (file_name == nullptr) return std::string();
  const char separator = platform::PathSeparator();
  const size_t last = module_path.rfind(separator);
  // On Windows a leading backslash alone names no directory of the module ("\x.nxl" is
  // relative to the current drive); on Linux "/" is the root directory and is kept.
  if (last == std::string::npos || (last == 0 && separator == '\\')) return std::string();
  std::string path = module_path.substr(0, last + 1);
  path += file_name;
  if (path.size() > platform::kMaxPath - 1) return std::string();
  return path;
}

int32_t IsAddressAllowed(uint32_t address_network_order, const char* file_name) {
  // Called on the receiving threads: a failed allocation of the path refuses the peer
  // instead of ending the thread.
  try {
    const std::string path = AccessListPath(platform::ModulePath(), file_name);
    if (path.empty()) return 0;
    // Read as a whole: the administrator may rewrite the file in place while it is checked.
    platform::ReadOnlyFileView file;
    if (!file.Open(path)) return 0;
    return AccessListAdmits(file.data(), file.size(), address_network_order);
  } catch (...) {
    return 0;
  }
}

}  // namespace pb
