// text_escape.cc: escaping of plug-in texts for machine and human output.
#include "host/text_escape.h"

#include <cstdio>

#include "host/terminal_text.h"

namespace pbhost {
namespace {

void AppendHex(unsigned char c, std::string* out) {
  char hex[5];
  std::snprintf(hex, sizeof hex, "\\x%02X", c);
  *out += hex;
}

}  // namespace

std::string EscapeMachine(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += ch;
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c >= 0x7F) {
      AppendHex(c, &out);
    } else {
      out += ch;
    }
  }
  return out;
}

std::string EscapeHuman(std::string_view text) { return EscapeControls(ShowCp932(text)); }

std::string EscapeControls(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7F) {
      AppendHex(c, &out);
    } else {
      out += ch;
    }
  }
  return out;
}

}  // namespace pbhost
