// cp932.cc: where the characters of code page 932 text begin and end, and how names compare.
#include "platform/platform.h"

namespace pb::platform {
namespace {

unsigned char FoldAsciiLetter(unsigned char byte) {
  return byte >= 'A' && byte <= 'Z' ? static_cast<unsigned char>(byte - 'A' + 'a') : byte;
}

}  // namespace

bool IsCp932LeadByte(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

size_t Cp932FittingLength(std::string_view text, size_t max_bytes) {
  const size_t limit = text.size() < max_bytes ? text.size() : max_bytes;
  size_t at = 0;
  while (at < limit) {
    const size_t next = IsCp932LeadByte(static_cast<unsigned char>(text[at])) ? at + 2 : at + 1;
    if (next > limit) break;
    at = next;
  }
  return at;
}

bool SameProfileName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const unsigned char x = static_cast<unsigned char>(a[i]);
    const unsigned char y = static_cast<unsigned char>(b[i]);
    if (IsCp932LeadByte(x)) {
      // Lead bytes are no letters: both names have the same one here, so both read the next
      // byte as its trail, which only matches itself.
      if (x != y) return false;
      if (++i < a.size() && a[i] != b[i]) return false;
      continue;
    }
    if (FoldAsciiLetter(x) != FoldAsciiLetter(y)) return false;
  }
  return true;
}

}  // namespace pb::platform
