// terminal_posix.h: the terminal that the Linux build's dialogs run on, and the conversion of
// the dialogs' Shift-JIS texts for display there.
#ifndef PEERBEACON_UI_TERMINAL_POSIX_H_
#define PEERBEACON_UI_TERMINAL_POSIX_H_

#include <string>

namespace pb::ui {

// The controlling terminal, or the device that PEERBEACON_TTY names.
class Terminal {
 public:
  Terminal() = default;
  ~Terminal();
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  // False when there is no terminal to talk to.
  bool Open();
  void Write(const std::string& text);
  // One line without its line end; false at end of input or on a read error. Lines longer
  // than a bound are cut, the rest of the line is dropped.
  bool ReadLine(std::string* line);

 private:
  int fd_ = -1;
};

// Shift-JIS (code page 932) bytes in the terminal's encoding, which the locale names; bytes
// that are no valid character, and characters the terminal lacks, show as \xHH.
std::string Cp932ForTerminal(const std::string& text);
// A line typed on the terminal as code page 932 in *cp932; false with the user's message in
// *why when it holds a character code page 932 lacks or is not valid in the terminal's
// encoding.
bool TypedToCp932(const std::string& typed, std::string* cp932, std::string* why);
// A field's bytes made safe to print: control characters become '?'.
std::string Printable(const std::string& text);

}  // namespace pb::ui

#endif  // PEERBEACON_UI_TERMINAL_POSIX_H_
