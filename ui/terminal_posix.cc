// terminal_posix.cc: line input and output on the terminal, and Shift-JIS to UTF-8 conversion.
#include "ui/terminal_posix.h"

#include <errno.h>
#include <fcntl.h>
#include <iconv.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

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

std::string Cp932ToUtf8(const std::string& text) {
  iconv_t cd = iconv_open("UTF-8", "CP932");
  if (cd == reinterpret_cast<iconv_t>(-1)) return Printable(text);
  std::string out;
  char* in = const_cast<char*>(text.data());
  size_t in_left = text.size();
  while (in_left > 0) {
    char buffer[256];
    char* dest = buffer;
    size_t dest_left = sizeof buffer;
    const size_t r = iconv(cd, &in, &in_left, &dest, &dest_left);
    out.append(buffer, static_cast<size_t>(dest - buffer));
    if (r == static_cast<size_t>(-1) && errno != E2BIG) {
      // An invalid or cut-off sequence: show one '?' and go on behind its first byte.
      out.push_back('?');
      ++in;
      --in_left;
    }
  }
  iconv_close(cd);
  return out;
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
