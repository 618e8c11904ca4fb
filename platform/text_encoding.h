// text_encoding.h: code page 932 text converted to and from the encoding of a terminal.
#ifndef PEERBEACON_PLATFORM_TEXT_ENCODING_H_
#define PEERBEACON_PLATFORM_TEXT_ENCODING_H_

#include <string>
#include <string_view>

namespace pb::platform {

// The encoding a terminal shows text in, as a name the converter knows ("UTF-8", "EUC-JP"):
// the codeset of the LC_CTYPE locale that the environment names (read without changing the
// process's own locale, so a module may ask). The plain C/POSIX locale says nothing about
// the terminal and gives UTF-8, which is what Linux terminals show today. Empty on Windows,
// where the system's 8-bit strings are already what its console and dialogs show.
std::string TerminalEncoding();

// Whether text can be converted between code page 932 and `encoding` here; an empty name
// (bytes pass unchanged) always can.
bool CanConvertText(const std::string& encoding);

// Code page 932 bytes in `encoding`, for display. Nothing is dropped: each byte that does not
// start a valid code page 932 character (a lead byte with a bad or missing trail byte, an
// unassigned code) and each character that `encoding` lacks comes out as "\xHH" for its bytes,
// and the text behind it still converts. An empty encoding returns the bytes unchanged.
std::string Cp932ToTerminal(std::string_view text, const std::string& encoding);

// Why typed text could not become code page 932.
enum class TypedTextFault {
  kNone,
  kNotInCp932,  // a valid character that code page 932 has no code for (an emoji, an accent)
  kInvalid,     // bytes that are no character of `encoding`, or a character cut off at the end
};

// Text typed in `encoding`, as code page 932 bytes in *out. On a fault, *bad holds the first
// character that could not be converted, as typed (at most 4 bytes), and *out is unspecified.
// An empty encoding copies the bytes.
TypedTextFault TerminalToCp932(std::string_view text, const std::string& encoding, std::string* out,
                               std::string* bad);

}  // namespace pb::platform

#endif  // PEERBEACON_PLATFORM_TEXT_ENCODING_H_
