// profile_int.cc: how a text's leading decimal number reads, the same for every reader.
#include "platform/platform.h"

namespace pb::platform {

LeadingNumber ReadLeadingNumber(std::string_view text, LeadingBlanks blanks, bool sign_allowed) {
  auto is_blank = [blanks](char c) {
    switch (blanks) {
      case LeadingBlanks::kNone:
        return false;
      case LeadingBlanks::kSpaceAndTab:
        return c == ' ' || c == '\t';
      case LeadingBlanks::kAnyCSpace:
        return c == ' ' || (c >= '\t' && c <= '\r');
    }
    return false;
  };
  constexpr uint64_t kHeldAt = uint64_t{1} << 32;
  LeadingNumber number;
  size_t i = 0;
  while (i < text.size() && is_blank(text[i])) ++i;
  if (sign_allowed && i < text.size() && (text[i] == '+' || text[i] == '-')) {
    number.negative = text[i++] == '-';
  }
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const unsigned digit = static_cast<unsigned>(text[i] - '0');
    number.wrapped = number.wrapped * 10u + digit;
    number.held = number.held * 10 + digit;
    if (number.held > kHeldAt) number.held = kHeldAt;
  }
  return number;
}

int32_t ParseProfileInteger(const char* text) {
  const LeadingNumber n = ReadLeadingNumber(text, LeadingBlanks::kSpaceAndTab, true);
  return static_cast<int32_t>(n.negative ? 0u - n.wrapped : n.wrapped);
}

}  // namespace pb::platform
