// host_window_win32.cc: the Windows host's window, message loop and Winsock 1.1 start-up.
#include <io.h>
#include <stdio.h>
#include <windows.h>
#include <winsock.h>

#include <thread>

#include "host/host_window.h"

namespace pbhost {
namespace {

// Work posted from the command thread; lParam points to the caller's std::function, which
// stays alive because SendMessage waits until the window procedure has returned.
constexpr UINT kRunWorkMessage = WM_APP + 1;
// The command thread has finished: leave the message loop.
constexpr UINT kQuitMessage = WM_APP + 2;
constexpr char kClassName[] = "PeerbeaconHostWindow";

LRESULT CALLBACK HostWindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case kRunWorkMessage:
      (*reinterpret_cast<const std::function<void()>*>(lparam))();
      return 0;
    case kQuitMessage:
      PostQuitMessage(0);
      return 0;
    case WM_CLOSE:
      // Only the command thread ends the host, after it has stopped the plug-in.
      return 0;
    default:
      return DefWindowProcA(hwnd, message, wparam, lparam);
  }
}

class Win32Window final : public WindowThread {
 public:
  Win32Window(HWND hwnd, DWORD thread_id) : hwnd_(hwnd), thread_id_(thread_id) {}
  PB_HWND window() const override { return hwnd_; }
  void Run(const std::function<void()>& work) override {
    if (GetCurrentThreadId() == thread_id_) {
      work();
    } else {
      SendMessageA(hwnd_, kRunWorkMessage, 0, reinterpret_cast<LPARAM>(&work));
    }
  }

 private:
  HWND hwnd_;
  DWORD thread_id_;
};

std::string LastError(const char* what) {
  return std::string(what) + " failed with error " + std::to_string(GetLastError());
}

}  // namespace

int RunWithWindow(const std::function<int(WindowThread&)>& body, std::string* error) {
  // The plug-in never starts sockets itself: the host keeps Winsock 1.1 up from before
  // InitializeNetEx until after UnInitializeNetEx.
  WSADATA data;
  if (const int rc = WSAStartup(MAKEWORD(1, 1), &data); rc != 0) {
    *error = "WSAStartup(1.1) failed with error " + std::to_string(rc);
    return -1;
  }
  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA window_class = {};
  window_class.lpfnWndProc = HostWindowProc;
  window_class.hInstance = instance;
  window_class.lpszClassName = kClassName;
  if (RegisterClassA(&window_class) == 0) {
    *error = LastError("RegisterClass");
    WSACleanup();
    return -1;
  }
  // A real top-level window that stays hidden: it owns the plug-in's notification window and
  // the modal dialogs.
  HWND hwnd = CreateWindowExA(0, kClassName, "peerbeacon-host", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                              CW_USEDEFAULT, 320, 200, nullptr, nullptr, instance, nullptr);
  if (hwnd == nullptr) {
    *error = LastError("CreateWindowEx");
    UnregisterClassA(kClassName, instance);
    WSACleanup();
    return -1;
  }

  Win32Window window(hwnd, GetCurrentThreadId());
  int result = 0;
  std::thread commands([&] {
    result = body(window);
    PostMessageA(hwnd, kQuitMessage, 0, 0);
  });
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  commands.join();
  DestroyWindow(hwnd);
  UnregisterClassA(kClassName, instance);
  WSACleanup();
  return result;
}

bool StdinIsTerminal() { return _isatty(_fileno(stdin)) != 0; }

}  // namespace pbhost
