// text_escape.h: renders the plug-in's 8-bit texts for the host's two output forms.
#ifndef PEERBEACON_HOST_TEXT_ESCAPE_H_
#define PEERBEACON_HOST_TEXT_ESCAPE_H_

#include <string>
#include <string_view>

namespace pbhost {

// For machine lines: printable ASCII stays, '"' and '\' are backslash-escaped, CR, LF and TAB
// become \r \n \t and every other byte \xHH, so a value never breaks a line or a quoted field.
std::string EscapeMachine(std::string_view text);

// For people: bytes pass through (the texts may be Shift-JIS) except control characters,
// which become \xHH so that a peer's name cannot drive the terminal.
std::string EscapeHuman(std::string_view text);

}  // namespace pbhost

#endif  // PEERBEACON_HOST_TEXT_ESCAPE_H_
