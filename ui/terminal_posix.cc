// terminal_posix.cc: line input and output on the terminal, and its text as Shift-JIS.
#include "ui/terminal_posix.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/text_encoding.h"

namespace pb::ui {
namespace {

constexpr size_t kMaxLine = 4096;

}  // namespace

Terminal::~Terminal() {
  if (fd_ >= 0) close(fd_);
}

bool Terminal::Open() {
  const char* device = getenv("PEERBEACON_TTY");
  if (device == nullptr || device[0] == '\0') device = "/dev/tty";
  fd_ = open(device, O_RDWR | O_NOCTTY | O_CLOEXEC);
  return fd_ >= 0;
}

void Terminal::Write(const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd_, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

bool Terminal::ReadLine(std::string* line) {
  line->clear();
  bool any = false;
  for (;;) {
    char c;
    const ssize_t n = read(fd_, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return any;  // a last line without its line end still counts
    any = true;
    if (c == '\n') break;
    if (line->size() < kMaxLine) line->push_back(c);
  }
  if (!line->empty() && line->back() == '\r') line->pop_back();
  return true;
}

std::string Cp932ForTerminal(const std::string& text) {
  return platform::Cp932ToTerminal(text, platform::TerminalEncoding());
}

bool TypedToCp932(const std::string& typed, std::string* cp932, std::string* why) {
  std::string bad;
  const std::string encoding = platform::TerminalEncoding();
  switch (platform::TerminalToCp932(typed, encoding, cp932, &bad)) {
    case platform::TypedTextFault::kNone:
      return true;
    case platform::TypedTextFault::kNotInCp932:
      *why = "\"" + Printable(bad) + "\" has no code in the Windows Japanese code page (CP932)";
      return false;
    case platform::TypedTextFault::kInvalid:
      break;
  }
  *why = "the text is not valid " + encoding;
  return false;
}

std::string Printable(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) c = '?';
  }
  return out;
}

}  // namespace pb::ui
