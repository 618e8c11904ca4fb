// host_window.h: the host's window, its message loop and the socket library, per platform.
#ifndef PEERBEACON_HOST_HOST_WINDOW_H_
#define PEERBEACON_HOST_HOST_WINDOW_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "peerbeacon.h"

namespace pbhost {

// The thread that owns the host window. The plug-in's hidden notification window is created
// by InitializeNetEx on the calling thread and is served by that thread's message loop, so
// InitializeNetEx, UnInitializeNetEx and the modal dialogs go through Run.
class WindowThread {
 public:
  virtual ~WindowThread() = default;
  // The handle given to InitializeNetEx and the dialogs; never null.
  virtual PB_HWND window() const = 0;
  // Runs `work` on the window thread and returns once it has run.
  virtual void Run(const std::function<void()>& work) = 0;
};

// Starts the socket library (Winsock 1.1 on Windows), makes the host window and calls `body`
// on the command thread while the window thread dispatches messages; stops the socket library
// after `body` returns, so `body` must have called UnInitializeNetEx by then. Returns body's
// result, or -1 with *error set when the window or the socket library cannot be set up.
int RunWithWindow(const std::function<int(WindowThread&)>& body, std::string* error);

// Copies the record in a global memory block that InputEntry handed over, then frees the
// block (GlobalFree on Windows, free() on Linux). False when the block cannot be read.
bool TakeGlobalRecord(PB_HGLOBAL block, std::vector<uint8_t>* record);

// True when standard input is an interactive terminal (the host then shows a prompt).
bool StdinIsTerminal();

}  // namespace pbhost

#endif  // PEERBEACON_HOST_HOST_WINDOW_H_
