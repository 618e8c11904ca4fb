// text_escape.h: renders the plug-in's 8-bit texts for the host's two output forms.
#ifndef PEERBEACON_HOST_TEXT_ESCAPE_H_
#define PEERBEACON_HOST_TEXT_ESCAPE_H_

#include <string>
#include <string_view>

namespace pbhost {

// For machine lines: printable ASCII stays, '"' and '\' are backslash-escaped, CR, LF and TAB
// become \r \n \t and every other byte \xHH, so a value never breaks a line or a quoted field.
std::string EscapeMachine(std::string_view text);

// For people: the plug-in's code page 932 text in the terminal's encoding (ShowCp932 in
// terminal_text.h), with control characters as \xHH so that a peer's name cannot drive the
// terminal.
std::string EscapeHuman(std::string_view text);

// Text already in the terminal's encoding, with control characters as \xHH.
std::string EscapeControls(std::string_view text);

}  // namespace pbhost

#endif  // PEERBEACON_HOST_TEXT_ESCAPE_H_
