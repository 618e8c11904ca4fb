// socket_events_win32.cc: the Windows notification source, a hidden window fed by WSAAsyncSelect.
#include <windows.h>
#include <winsock.h>

#include "net/socket_events.h"
#include "net/socket_events_backend.h"

namespace pb {

LRESULT CALLBACK SocketEventWndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

namespace socket_events {
namespace {

constexpr char kClassName[] = "MulticastCheckWnd";
constexpr char kWindowTitle[] = "forOrgSelect";

// The notification message, registered once when the module is loaded and kept for the life
// of the process.
const UINT g_notification_message = RegisterWindowMessageA("forOrgEventSelect");

HINSTANCE ModuleInstance() { return static_cast<HINSTANCE>(platform::ModuleInstance()); }

}  // namespace

void* BackendOpen(void* window) {
  if (g_notification_message == 0) return nullptr;
  const HINSTANCE instance = ModuleInstance();
  WNDCLASSA window_class{};
  window_class.style = 0;
  window_class.lpfnWndProc = SocketEventWndProc;
  window_class.hInstance = instance;
  window_class.lpszClassName = kClassName;
  if (RegisterClassA(&window_class) == 0) return nullptr;
  HWND hidden = CreateWindowExA(0, kClassName, kWindowTitle, WS_CHILD, 0, 0, 0, 0,
                                static_cast<HWND>(window), nullptr, instance, nullptr);
  // Without a window the class would stay registered and make every later open fail.
  if (hidden == nullptr) UnregisterClassA(kClassName, instance);
  return hidden;
}

void BackendClose(void* target) {
  // The default handling of WM_CLOSE destroys the window on its own thread.
  SendMessageA(static_cast<HWND>(target), WM_CLOSE, 0, 0);
  UnregisterClassA(kClassName, ModuleInstance());
}

void BackendResetLocked() {}

void BackendSetEventLocked(platform::Handle event) { platform::SetEventObject(event); }

void BackendSelectLocked(void* target, uint32_t /*slot*/, SocketHandle socket, uint32_t mask,
                         bool /*new_slot*/) {
  const SOCKET s = static_cast<SOCKET>(socket);
  if (target != nullptr) {
    // The result is ignored: a failure leaves the socket without notifications, as a full
    // table does.
    WSAAsyncSelect(s, static_cast<HWND>(target), g_notification_message, mask);
  } else if (mask != 0) {
    // While closed there is no window to post to; the socket still becomes non-blocking, as
    // its owner relies on.
    u_long non_blocking = 1;
    ioctlsocket(s, FIONBIO, &non_blocking);
  }
}

}  // namespace socket_events

uint32_t DatagramsPerReadNotification() { return 1; }

// wparam is the socket; lparam carries the event code in its low and the error in its high
// 16 bits.
LRESULT CALLBACK SocketEventWndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message != 0 && message == socket_events::g_notification_message) {
    DeliverSocketNotification(static_cast<SocketHandle>(wparam), WSAGETSELECTEVENT(lparam),
                              WSAGETSELECTERROR(lparam));
    return 0;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

}  // namespace pb
