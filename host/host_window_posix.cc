// host_window_posix.cc: the Linux host has no window system: the window is an opaque token.
#include <signal.h>
#include <unistd.h>

#include "host/host_window.h"

namespace pbhost {
namespace {

// The Linux plug-in only tells a null window (no socket notifications) from a non-null one,
// and its own poll thread delivers the notifications, so commands run on the main thread.
class TokenWindow final : public WindowThread {
 public:
  PB_HWND window() const override { return const_cast<char*>(&token_); }
  void Run(const std::function<void()>& work) override { work(); }

 private:
  char token_ = 0;
};

}  // namespace

int RunWithWindow(const std::function<int(WindowThread&)>& body, std::string* /*error*/) {
  // A peer that closes early must not end the host through SIGPIPE; neither must a reader
  // of our output that goes away during shutdown.
  signal(SIGPIPE, SIG_IGN);
  TokenWindow window;
  return body(window);
}

bool StdinIsTerminal() { return isatty(STDIN_FILENO) == 1; }

}  // namespace pbhost
