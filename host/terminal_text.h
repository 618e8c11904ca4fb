// terminal_text.h: the host's edge between the terminal and the network: the plug-in's code
// page 932 texts shown in the terminal's encoding, and typed text sent as code page 932.
#ifndef PEERBEACON_HOST_TERMINAL_TEXT_H_
#define PEERBEACON_HOST_TERMINAL_TEXT_H_

#include <string>
#include <string_view>

namespace pbhost {

// The encoding that --encoding names: "raw" passes bytes unchanged (the empty name), "locale"
// or no value at all takes the terminal's from the locale, except that machine output keeps
// bytes raw unless told otherwise. False with a reason when this system cannot convert to it.
bool ResolveEncoding(const std::string& option, bool machine, std::string* encoding,
                     std::string* error);

// The encoding of the host's human lines and of typed memo text. Set once at start-up,
// before the plug-in can call back; empty: bytes unchanged.
void SetTerminalEncoding(const std::string& encoding);
const std::string& TerminalEncoding();

// Code page 932 text in the terminal's encoding; bytes that are no valid character, and
// characters the terminal lacks, show as \xHH.
std::string ShowCp932(std::string_view text);

// Typed text as code page 932 in *cp932; false with a message for the user in *why when a
// character has no code there or the text is not valid in the terminal's encoding.
bool TypedToCp932(std::string_view typed, std::string* cp932, std::string* why);

}  // namespace pbhost

#endif  // PEERBEACON_HOST_TERMINAL_TEXT_H_
