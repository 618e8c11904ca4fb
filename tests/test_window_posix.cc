// test_window_posix.cc: the Linux stand-in for the messenger's window: a token, no message loop.
#include "tests/test_window.h"

namespace pb::testing_host {

PB_HWND Window() {
  static int token;
  return &token;
}

void RunOnWindowThread(const std::function<void()>& work) { work(); }

}  // namespace pb::testing_host
