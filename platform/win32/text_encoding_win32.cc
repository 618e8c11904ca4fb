// text_encoding_win32.cc: on Windows the system's 8-bit strings are what the console and the
// dialogs show, so code page 932 text passes to and from them unchanged.
#include "platform/text_encoding.h"

namespace pb::platform {

std::string TerminalEncoding() { return std::string(); }

bool CanConvertText(const std::string& encoding) { return encoding.empty(); }

std::string Cp932ToTerminal(std::string_view text, const std::string& /*encoding*/) {
  return std::string(text);
}

TypedTextFault TerminalToCp932(std::string_view text, const std::string& encoding, std::string* out,
                               std::string* bad) {
  bad->clear();
  out->assign(text);
  return encoding.empty() ? TypedTextFault::kNone : TypedTextFault::kInvalid;
}

}  // namespace pb::platform
