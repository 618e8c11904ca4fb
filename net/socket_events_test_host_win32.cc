// socket_events_test_host_win32.cc: a host window with its own message loop for dispatcher tests.
#include <windows.h>

#include <mutex>

#include "net/socket_events.h"
#include "net/socket_events_test_host.h"

namespace pb::test_host {
namespace {

constexpr UINT kOpenMessage = WM_APP + 1;
constexpr UINT kCloseMessage = WM_APP + 2;
constexpr char kHostClass[] = "PeerbeaconTestHost";

HWND g_host = nullptr;
bool g_ever_opened = false;

// The dispatcher is opened and closed on the thread that owns the host window, as the plug-in
// does it on the host's thread; its hidden window's messages are then handled by this loop.
LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == kOpenMessage) {
    OpenSocketEvents(window);
    return 1;
  }
  if (message == kCloseMessage) {
    CloseSocketEvents();
    return 1;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

DWORD WINAPI HostThread(LPVOID ready) {
  WNDCLASSA window_class{};
  window_class.lpfnWndProc = HostWindowProc;
  window_class.hInstance = GetModuleHandleA(nullptr);
  window_class.lpszClassName = kHostClass;
  RegisterClassA(&window_class);
  // A top-level window like a messenger's main window. Wine needs a display for any window
  // (run under Xvfb).
  g_host = CreateWindowExA(0, kHostClass, "Peerbeacon test host", WS_OVERLAPPEDWINDOW, 0, 0, 100,
                           100, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  SetEvent(static_cast<HANDLE>(ready));
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 0;
}

}  // namespace

void* HostWindow() {
  static std::once_flag once;
  std::call_once(once, [] {
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, HostThread, ready, 0, nullptr);
    if (thread != nullptr) {
      WaitForSingleObject(ready, 30000);
      CloseHandle(thread);
    }
    CloseHandle(ready);
  });
  return g_host;
}

void OpenOnHost() {
  g_ever_opened = true;
  SendMessageA(static_cast<HWND>(HostWindow()), kOpenMessage, 0, 0);
}

void CloseOnHost() { SendMessageA(static_cast<HWND>(HostWindow()), kCloseMessage, 0, 0); }

bool EverOpened() { return g_ever_opened; }

bool NotifyThroughPlatform(SocketHandle socket, uint32_t event_code, int32_t error) {
  HWND host = static_cast<HWND>(HostWindow());
  HWND hidden = FindWindowExA(host, nullptr, "MulticastCheckWnd", "forOrgSelect");
  if (hidden == nullptr || GetParent(hidden) != host) return false;
  const LONG style = GetWindowLongA(hidden, GWL_STYLE);
  if ((style & WS_CHILD) == 0 || (style & WS_VISIBLE) != 0) return false;
  const UINT message = RegisterWindowMessageA("forOrgEventSelect");
  SendMessageA(hidden, message, static_cast<WPARAM>(socket),
               MAKELPARAM(static_cast<WORD>(event_code), static_cast<WORD>(error)));
  return true;
}

}  // namespace pb::test_host
