// test_window.h: the messenger's window for in-process tests: a window whose own thread runs a
// message loop (on Windows), so that socket notifications are dispatched as in a real host.
#ifndef PEERBEACON_TESTS_TEST_WINDOW_H_
#define PEERBEACON_TESTS_TEST_WINDOW_H_

#include <functional>

#include "peerbeacon.h"

namespace pb::testing_host {

// The host's window: on Windows a top-level window whose own thread runs a message loop
// (started on first use); on Linux an opaque non-null token.
PB_HWND Window();
// Runs work on the window's thread and waits for it (on Linux: on the calling thread).
void RunOnWindowThread(const std::function<void()>& work);

}  // namespace pb::testing_host

#endif  // PEERBEACON_TESTS_TEST_WINDOW_H_
