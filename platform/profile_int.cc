// profile_int.cc: how a profile value reads as an integer, the same for every reader.
#include "platform/platform.h"

namespace pb::platform {

int32_t ParseProfileInteger(const char* text) {
  const char* p = text;
  while (*p == ' ' || *p == '\t') ++p;
  bool negative = false;
  if (*p == '-' || *p == '+') negative = *p++ == '-';
  uint32_t value = 0;
  while (*p >= '0' && *p <= '9') value = value * 10u + static_cast<uint32_t>(*p++ - '0');
  if (negative) value = 0u - value;
  return static_cast<int32_t>(value);
}

}  // namespace pb::platform
